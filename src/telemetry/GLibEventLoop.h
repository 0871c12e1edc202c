#pragma once
// The event loop of a GLib main context: with the default context, the GTK window thread. Tasks
// and timer ticks run wherever that context is iterated (gtk_main on the window thread).

#include <glib.h>

#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "telemetry/EventLoop.h"

class GLibEventLoop final : public EventLoop {
public:
    // context: nullptr for the process's default main context. The constructing thread is the
    // loop's thread; it must be the one that iterates the context.
    explicit GLibEventLoop(GMainContext* context = nullptr);
    ~GLibEventLoop() override;  // on the loop's thread; drops what has not run yet
    GLibEventLoop(const GLibEventLoop&) = delete;
    GLibEventLoop& operator=(const GLibEventLoop&) = delete;

    void Post(Task task) override;
    TimerId StartTimer(std::chrono::milliseconds period, Task tick) override;
    void StopTimer(TimerId timer) override;
    bool IsLoopThread() const override;
    bool RunUntil(const std::function<bool()>& done, Clock::time_point deadline) override;

private:
    static gboolean RunPosted(gpointer self);

    GMainContext* m_context;  // one reference held
    const std::thread::id m_owner;

    // Posted tasks wait here under a mutex of ours, so the hand-over between threads does not
    // depend on GLib's own locking; one idle source at a time drains them.
    std::mutex m_mutex;
    std::deque<Task> m_tasks;
    GSource* m_drain = nullptr;  // the pending drain source, guarded by m_mutex

    std::map<TimerId, GSource*> m_timers;  // loop thread only
    TimerId m_nextTimerId = 1;
};
