// The loops that deliver the request engine's notifications and timers, and the event window
// on top of them.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "telemetry/EventLoop.h"
#include "telemetry/EventWindow.h"

using namespace std::chrono_literals;

namespace {

EventLoop::Clock::time_point In(std::chrono::milliseconds wait) { return EventLoop::Clock::now() + wait; }

// Posts from several threads at once; every task must run on the loop thread, each thread's
// tasks in the order that thread posted them.
void ExpectOrderedDeliveryFromManyThreads(EventLoop& loop) {
    constexpr int kThreads = 4;
    constexpr int kEach = 300;
    std::vector<int> lastSeen(kThreads, -1);
    int delivered = 0;
    bool inOrder = true;
    bool onLoopThread = true;
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                loop.Post([&, t, i] {
                    inOrder = inOrder && lastSeen[t] == i - 1;
                    onLoopThread = onLoopThread && loop.IsLoopThread();
                    lastSeen[t] = i;
                    ++delivered;
                });
            }
        });
    }
    EXPECT_TRUE(loop.RunUntil([&] { return delivered == kThreads * kEach; }, In(20s)));
    for (auto& poster : posters) {
        poster.join();
    }
    EXPECT_TRUE(inOrder);
    EXPECT_TRUE(onLoopThread);
}

}  // namespace

TEST(StandaloneLoop, TasksFromManyThreadsRunOnTheLoopThreadInPostingOrder) {
    StandaloneEventLoop loop;
    ExpectOrderedDeliveryFromManyThreads(loop);
}

TEST(StandaloneLoop, TimersRepeatUntilStoppedAndATickMayStopItsOwnTimer) {
    StandaloneEventLoop loop;
    int fast = 0;
    int slow = 0;
    EventLoop::TimerId fastTimer = 0;
    fastTimer = loop.StartTimer(5ms, [&] {
        if (++fast == 3) {
            loop.StopTimer(fastTimer);
        }
    });
    loop.StartTimer(20ms, [&] { ++slow; });
    EXPECT_TRUE(loop.RunUntil([&] { return slow == 4; }, In(10s)));  // well past three fast periods
    EXPECT_EQ(fast, 3);

    EXPECT_FALSE(loop.RunUntil([] { return false; }, In(30ms)));  // a deadline ends a run that never gets done
}

TEST(StandaloneLoop, ARunNestedInATaskKeepsDelivering) {
    StandaloneEventLoop loop;
    bool inner = false;
    bool outerDone = false;
    loop.Post([&] {
        loop.Post([&] { inner = true; });
        EXPECT_TRUE(loop.RunUntil([&] { return inner; }, In(10s)));
        outerDone = true;
    });
    EXPECT_TRUE(loop.RunUntil([&] { return outerDone; }, In(10s)));
}

TEST(StandaloneLoop, AThreadOfItsOwnRunsInvokedWorkThereAndStopsOnDestruction) {
    std::thread::id ranOn;
    std::atomic<int> posted{0};
    {
        EventLoopThread thread;
        thread.Invoke([&] { ranOn = std::this_thread::get_id(); });
        EXPECT_NE(ranOn, std::this_thread::get_id());
        thread.Loop().Post([&] { ++posted; });
        thread.Invoke([&] { EXPECT_TRUE(thread.Loop().IsLoopThread()); });
        EXPECT_EQ(posted.load(), 1);  // posted work ran before the work invoked after it
    }
}

namespace {

class RecordingHandler final : public inner::CEventWindow::Handler {
public:
    void OnHttpEvent(int requestId, int code) override { events.push_back(requestId * 10 + code); }
    void OnTimer(unsigned timerId) override { timers.push_back(timerId); }
    std::vector<int> events;
    std::vector<unsigned> timers;
};

}  // namespace

TEST(EventWindowTest, TimersSetFromAnotherThreadTakeEffectOnTheLoopThread) {
    StandaloneEventLoop loop;
    RecordingHandler handler;
    inner::CEventWindow window(loop, handler);
    std::thread([&] { window.SetTimer(30, 10ms); }).join();
    EXPECT_FALSE(window.HasTimer(30));  // not before the loop has taken it over
    EXPECT_TRUE(loop.RunUntil([&] { return handler.timers.size() >= 2; }, In(10s)));
    EXPECT_TRUE(window.HasTimer(30));

    std::thread([&] { window.KillTimer(30); }).join();
    EXPECT_TRUE(loop.RunUntil([&] { return !window.HasTimer(30); }, In(10s)));

    window.SetTimer(105, 10ms);
    window.SetTimer(105, 10min);  // setting it again restarts it with the new period
    handler.timers.clear();
    window.SetTimer(31, 10ms);
    EXPECT_TRUE(loop.RunUntil([&] { return handler.timers.size() >= 3; }, In(10s)));
    EXPECT_EQ(std::count(handler.timers.begin(), handler.timers.end(), 105u), 0);
}

TEST(EventWindowTest, NothingArrivesOnceTheWindowIsDestroyed) {
    RecordingHandler handler;
    auto loop = std::make_unique<StandaloneEventLoop>();
    auto window = std::make_unique<inner::CEventWindow>(*loop, handler);
    const auto notifier = window->GetNotifier();
    std::thread([&] { notifier.Send(100, 0); }).join();
    EXPECT_TRUE(loop->RunUntil([&] { return !handler.events.empty(); }, In(10s)));
    EXPECT_EQ(handler.events, std::vector<int>{1000});

    window->SetTimer(30, 1ms);
    notifier.Send(100, 1);  // queued, then the window goes before it is handled
    window.reset();
    EXPECT_FALSE(loop->RunUntil([&] { return handler.events.size() > 1 || !handler.timers.empty(); }, In(50ms)));

    // A request thread that outlives the window and its loop must not reach either.
    loop.reset();
    std::thread([&] { notifier.Send(101, 2); }).join();
    EXPECT_EQ(handler.events, std::vector<int>{1000});
}
