#include "ui/WindowThread.h"

#include <glib.h>

// GLib hands a queued call to the window thread under its own lock. GLib is not built with the
// thread sanitizer, which therefore cannot see that hand-over; tell it.
#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#define HANDED_OVER(address) __tsan_release(address)
#define TAKEN_OVER(address) __tsan_acquire(address)
#else
#define HANDED_OVER(address) static_cast<void>(address)
#define TAKEN_OVER(address) static_cast<void>(address)
#endif

struct WindowThread::Call {
    std::shared_ptr<WindowThread> owner;
    std::function<void()> work;
    bool done = false;
    bool ran = false;
};

WindowThread::WindowThread() : m_thread(std::this_thread::get_id()) {}

std::shared_ptr<WindowThread> WindowThread::Create() {
    return std::shared_ptr<WindowThread>(new WindowThread());
}

bool WindowThread::IsClosed() const {
    std::lock_guard lock(m_mutex);
    return m_closed;
}

void WindowThread::Close() {
    std::lock_guard lock(m_mutex);
    m_closed = true;
    m_done.notify_all();
}

int WindowThread::Dispatch(void* data) {
    TAKEN_OVER(data);
    auto* call = static_cast<std::shared_ptr<Call>*>(data);
    WindowThread& self = *(*call)->owner;
    bool run = false;
    {
        std::lock_guard lock(self.m_mutex);
        run = !self.m_closed;
    }
    // The closed check and the work both run on the window thread, the only one that closes, so
    // the window cannot go away between them.
    if (run) {
        (*call)->work();
    }
    std::lock_guard lock(self.m_mutex);
    (*call)->done = true;
    (*call)->ran = run;
    self.m_done.notify_all();
    return G_SOURCE_REMOVE;
}

void WindowThread::Queue(std::shared_ptr<Call> call) {
    call->owner = shared_from_this();
    // Always through the queue: g_main_context_invoke would run the work on the calling thread
    // whenever the window thread is not iterating the context at that moment.
    auto* data = new std::shared_ptr<Call>(std::move(call));
    HANDED_OVER(data);
    GSource* source = g_idle_source_new();
    g_source_set_priority(source, G_PRIORITY_DEFAULT);
    g_source_set_callback(source, &WindowThread::Dispatch, data, [](void* d) {
        TAKEN_OVER(d);
        delete static_cast<std::shared_ptr<Call>*>(d);
    });
    g_source_attach(source, nullptr);
    g_source_unref(source);
}

bool WindowThread::Send(std::function<void()> work) {
    if (IsCurrent()) {
        if (IsClosed()) {
            return false;
        }
        work();
        return true;
    }
    auto call = std::make_shared<Call>();
    call->work = std::move(work);
    Queue(call);
    std::unique_lock lock(m_mutex);
    m_done.wait(lock, [&] { return call->done || m_closed; });
    return call->ran;
}

void WindowThread::Post(std::function<void()> work) {
    auto call = std::make_shared<Call>();
    call->work = std::move(work);
    Queue(std::move(call));
}
