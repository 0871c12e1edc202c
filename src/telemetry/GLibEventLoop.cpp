#include "telemetry/GLibEventLoop.h"

#include <algorithm>

namespace {

constexpr auto kRecheck = std::chrono::milliseconds(50);

gboolean Tick(gpointer data) {
    (*static_cast<EventLoop::Task*>(data))();
    return G_SOURCE_CONTINUE;
}

void DeleteTask(gpointer data) { delete static_cast<EventLoop::Task*>(data); }

}  // namespace

GLibEventLoop::GLibEventLoop(GMainContext* context)
    : m_context(g_main_context_ref(context != nullptr ? context : g_main_context_default())),
      m_owner(std::this_thread::get_id()) {}

GLibEventLoop::~GLibEventLoop() {
    for (const auto& [id, source] : m_timers) {
        g_source_destroy(source);
        g_source_unref(source);
    }
    {
        std::lock_guard lock(m_mutex);
        if (m_drain != nullptr) {
            g_source_destroy(m_drain);
            g_source_unref(m_drain);
            m_drain = nullptr;
        }
        m_tasks.clear();
    }
    g_main_context_unref(m_context);
}

void GLibEventLoop::Post(Task task) {
    std::lock_guard lock(m_mutex);
    m_tasks.push_back(std::move(task));
    if (m_drain == nullptr) {
        m_drain = g_idle_source_new();
        // Default priority: notifications are handled like window messages, ahead of idle work.
        g_source_set_priority(m_drain, G_PRIORITY_DEFAULT);
        g_source_set_callback(m_drain, &GLibEventLoop::RunPosted, this, nullptr);
        g_source_attach(m_drain, m_context);
    }
}

gboolean GLibEventLoop::RunPosted(gpointer self) {
    auto* loop = static_cast<GLibEventLoop*>(self);
    std::deque<Task> tasks;
    {
        std::lock_guard lock(loop->m_mutex);
        tasks.swap(loop->m_tasks);
        g_source_unref(loop->m_drain);  // the context keeps its own reference until we return
        loop->m_drain = nullptr;
    }
    for (auto& task : tasks) {
        task();
    }
    return G_SOURCE_REMOVE;
}

EventLoop::TimerId GLibEventLoop::StartTimer(std::chrono::milliseconds period, Task tick) {
    GSource* source = g_timeout_source_new(static_cast<guint>(std::max<long long>(0, period.count())));
    g_source_set_callback(source, &Tick, new Task(std::move(tick)), &DeleteTask);
    g_source_attach(source, m_context);
    const TimerId id = m_nextTimerId++;
    m_timers.emplace(id, source);
    return id;
}

void GLibEventLoop::StopTimer(TimerId timer) {
    const auto it = m_timers.find(timer);
    if (it == m_timers.end()) {
        return;
    }
    g_source_destroy(it->second);  // safe from inside its own tick
    g_source_unref(it->second);
    m_timers.erase(it);
}

bool GLibEventLoop::IsLoopThread() const { return std::this_thread::get_id() == m_owner; }

bool GLibEventLoop::RunUntil(const std::function<bool()>& done, Clock::time_point deadline) {
    while (!(done && done())) {
        const auto now = Clock::now();
        if (now >= deadline) {
            // What is ready always runs; the deadline only ends the waiting.
            if (!g_main_context_iteration(m_context, FALSE)) {
                return done && done();
            }
            continue;
        }
        // A wake-up source bounds the blocking iteration by the deadline and the recheck period.
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(std::min(deadline - now, Clock::duration(kRecheck)));
        GSource* wake = g_timeout_source_new(static_cast<guint>(wait.count()));
        g_source_set_callback(wake, [](gpointer) -> gboolean { return G_SOURCE_REMOVE; }, nullptr, nullptr);
        g_source_attach(wake, m_context);
        g_main_context_iteration(m_context, TRUE);
        g_source_destroy(wake);
        g_source_unref(wake);
    }
    return true;
}
