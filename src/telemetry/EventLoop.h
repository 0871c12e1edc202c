#pragma once
// Delivery of work to one thread: tasks posted from any thread, and timers, all run on the
// loop's thread. The HTTP request engine receives its notifications and timer ticks through
// it, the way a hidden window receives messages and WM_TIMER.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

class EventLoop {
public:
    using Task = std::function<void()>;
    using TimerId = std::uint64_t;  // never 0
    using Clock = std::chrono::steady_clock;

    virtual ~EventLoop() = default;

    // Any thread; returns at once. Tasks run on the loop's thread in the order they were posted.
    virtual void Post(Task task) = 0;

    // Loop thread only: runs tick every period until StopTimer.
    virtual TimerId StartTimer(std::chrono::milliseconds period, Task tick) = 0;
    virtual void StopTimer(TimerId timer) = 0;

    virtual bool IsLoopThread() const = 0;

    // Loop thread only: handles tasks and timers until done() holds, or until nothing is ready
    // once the deadline has passed (a past deadline handles what is ready without waiting), and
    // answers done(). done() is checked after every task and tick and at least every 50 ms.
    // May be called from inside a task (a nested loop).
    virtual bool RunUntil(const std::function<bool()>& done, Clock::time_point deadline) = 0;
};

// A self-contained loop, run by the thread that created it: tests pump it with RunUntil, and
// EventLoopThread runs one for the launcher without a window.
class StandaloneEventLoop final : public EventLoop {
public:
    StandaloneEventLoop();
    ~StandaloneEventLoop() override;
    StandaloneEventLoop(const StandaloneEventLoop&) = delete;
    StandaloneEventLoop& operator=(const StandaloneEventLoop&) = delete;

    void Post(Task task) override;
    TimerId StartTimer(std::chrono::milliseconds period, Task tick) override;
    void StopTimer(TimerId timer) override;
    bool IsLoopThread() const override;
    bool RunUntil(const std::function<bool()>& done, Clock::time_point deadline) override;

    // Loop thread: runs until Quit, which any thread may call.
    void Run();
    void Quit();

private:
    struct Timer {
        Clock::time_point due;
        std::chrono::milliseconds period;
        Task tick;
    };

    bool FireDueTimers();
    Clock::time_point NextTimerDue() const;

    const std::thread::id m_owner;

    std::mutex m_mutex;  // guards m_tasks and m_quit, which other threads write
    std::condition_variable m_wake;
    std::deque<Task> m_tasks;
    bool m_quit = false;

    std::map<TimerId, Timer> m_timers;  // loop thread only
    TimerId m_nextTimerId = 1;
};

// A StandaloneEventLoop on a thread of its own: the engine's thread when no window thread runs
// a loop (the launcher without a display).
class EventLoopThread {
public:
    EventLoopThread();   // returns once the loop runs
    ~EventLoopThread();  // quits the loop and joins its thread; tasks still queued are dropped
    EventLoopThread(const EventLoopThread&) = delete;
    EventLoopThread& operator=(const EventLoopThread&) = delete;

    EventLoop& Loop() { return *m_loop; }

    // Runs task on the loop's thread and returns when it has run (at once when called there).
    void Invoke(const std::function<void()>& task);

private:
    std::unique_ptr<StandaloneEventLoop> m_loop;  // created on m_thread, which is its loop thread
    std::thread m_thread;
};
