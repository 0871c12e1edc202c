#include "telemetry/EventLoop.h"

#include <algorithm>
#include <future>
#include <vector>

namespace {

// The longest a loop sleeps before it looks at its done() condition again, for conditions that
// other threads change without posting.
constexpr auto kRecheck = std::chrono::milliseconds(50);

}  // namespace

StandaloneEventLoop::StandaloneEventLoop() : m_owner(std::this_thread::get_id()) {}

StandaloneEventLoop::~StandaloneEventLoop() = default;

void StandaloneEventLoop::Post(Task task) {
    {
        std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    m_wake.notify_one();
}

EventLoop::TimerId StandaloneEventLoop::StartTimer(std::chrono::milliseconds period, Task tick) {
    const TimerId id = m_nextTimerId++;
    m_timers.emplace(id, Timer{Clock::now() + period, period, std::move(tick)});
    return id;
}

void StandaloneEventLoop::StopTimer(TimerId timer) { m_timers.erase(timer); }

bool StandaloneEventLoop::IsLoopThread() const { return std::this_thread::get_id() == m_owner; }

bool StandaloneEventLoop::FireDueTimers() {
    const auto now = Clock::now();
    std::vector<TimerId> due;
    for (const auto& [id, timer] : m_timers) {
        if (timer.due <= now) {
            due.push_back(id);
        }
    }
    for (const TimerId id : due) {
        // A tick may stop or start timers, this one included.
        const auto it = m_timers.find(id);
        if (it == m_timers.end()) {
            continue;
        }
        it->second.due = now + it->second.period;
        const Task tick = it->second.tick;
        tick();
    }
    return !due.empty();
}

EventLoop::Clock::time_point StandaloneEventLoop::NextTimerDue() const {
    auto next = Clock::time_point::max();
    for (const auto& [id, timer] : m_timers) {
        next = std::min(next, timer.due);
    }
    return next;
}

bool StandaloneEventLoop::RunUntil(const std::function<bool()>& done, Clock::time_point deadline) {
    // Quit ends the outermost Run() only; a bounded run ends by its condition or its deadline.
    const bool endsOnQuit = !done;
    for (;;) {
        if (done && done()) {
            return true;
        }
        if (FireDueTimers()) {
            continue;
        }
        Task task;
        {
            std::unique_lock lock(m_mutex);
            const auto ready = [&] { return !m_tasks.empty() || (endsOnQuit && m_quit); };
            if (!ready()) {
                // What is ready always runs; the deadline only ends the waiting.
                const auto now = Clock::now();
                if (now >= deadline) {
                    return done && done();
                }
                m_wake.wait_until(lock, std::min({deadline, NextTimerDue(), now + kRecheck}), ready);
            }
            if (endsOnQuit && m_quit) {
                return false;
            }
            if (!m_tasks.empty()) {
                task = std::move(m_tasks.front());
                m_tasks.pop_front();
            }
        }
        if (task) {
            task();
        }
    }
}

void StandaloneEventLoop::Run() { RunUntil({}, Clock::time_point::max()); }

void StandaloneEventLoop::Quit() {
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_all();
}

EventLoopThread::EventLoopThread() {
    std::promise<StandaloneEventLoop*> started;
    auto ready = started.get_future();
    m_thread = std::thread([this, &started] {
        auto loop = std::make_unique<StandaloneEventLoop>();
        StandaloneEventLoop* raw = loop.get();
        m_loop = std::move(loop);
        started.set_value(raw);
        raw->Run();
    });
    ready.wait();
}

EventLoopThread::~EventLoopThread() {
    m_loop->Quit();
    m_thread.join();
    m_loop.reset();
}

void EventLoopThread::Invoke(const std::function<void()>& task) {
    if (m_loop->IsLoopThread()) {
        task();
        return;
    }
    std::promise<void> finished;
    m_loop->Post([&] {
        task();
        finished.set_value();
    });
    finished.get_future().wait();
}
