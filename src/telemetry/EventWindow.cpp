#include "telemetry/EventWindow.h"

namespace inner {

// Shared by the window, the tasks it posts and the threads that notify it.
struct CEventWindowCore {
    CEventWindowCore(EventLoop& l, CEventWindow::Handler& h) : loop(l), handler(h) {}

    // Posts work for the loop thread unless the window is destroyed. Under the mutex, so that a
    // thread that notifies while the window is destroyed either posts before or not at all,
    // and never touches a loop that may be gone.
    void Post(std::function<void(CEventWindowCore&)> work, const std::shared_ptr<CEventWindowCore>& self) {
        std::lock_guard lock(mutex);
        if (!open) {
            return;
        }
        loop.Post([self, work = std::move(work)] {
            if (self->IsOpen()) {
                work(*self);
            }
        });
    }

    bool IsOpen() {
        std::lock_guard lock(mutex);
        return open;
    }

    void SetTimerHere(const std::shared_ptr<CEventWindowCore>& self, unsigned timerId,
                      std::chrono::milliseconds period) {
        KillTimerHere(timerId);
        std::weak_ptr<CEventWindowCore> weak = self;
        timers[timerId] = loop.StartTimer(period, [weak, timerId] {
            if (auto core = weak.lock(); core && core->IsOpen()) {
                core->handler.OnTimer(timerId);
            }
        });
    }

    void KillTimerHere(unsigned timerId) {
        const auto it = timers.find(timerId);
        if (it != timers.end()) {
            loop.StopTimer(it->second);
            timers.erase(it);
        }
    }

    EventLoop& loop;
    CEventWindow::Handler& handler;
    std::mutex mutex;  // guards open
    bool open = true;
    std::map<unsigned, EventLoop::TimerId> timers;  // loop thread only
};

void CEventWindow::Notifier::Send(int requestId, int code) const {
    m_core->Post([requestId, code](CEventWindowCore& core) { core.handler.OnHttpEvent(requestId, code); }, m_core);
}

CEventWindow::CEventWindow(EventLoop& loop, Handler& handler)
    : m_core(std::make_shared<CEventWindowCore>(loop, handler)) {}

CEventWindow::~CEventWindow() { Destroy(); }

void CEventWindow::Destroy() {
    {
        std::lock_guard lock(m_core->mutex);
        if (!m_core->open) {
            return;
        }
        m_core->open = false;
    }
    for (const auto& [id, timer] : m_core->timers) {
        m_core->loop.StopTimer(timer);
    }
    m_core->timers.clear();
}

void CEventWindow::SetTimer(unsigned timerId, std::chrono::milliseconds period) {
    if (m_core->loop.IsLoopThread()) {
        if (m_core->IsOpen()) {
            m_core->SetTimerHere(m_core, timerId, period);
        }
        return;
    }
    std::weak_ptr<CEventWindowCore> weak = m_core;
    m_core->Post(
        [weak, timerId, period](CEventWindowCore& core) {
            if (auto self = weak.lock()) {
                core.SetTimerHere(self, timerId, period);
            }
        },
        m_core);
}

void CEventWindow::KillTimer(unsigned timerId) {
    if (m_core->loop.IsLoopThread()) {
        m_core->KillTimerHere(timerId);
        return;
    }
    m_core->Post([timerId](CEventWindowCore& core) { core.KillTimerHere(timerId); }, m_core);
}

bool CEventWindow::HasTimer(unsigned timerId) const { return m_core->timers.count(timerId) != 0; }

EventLoop& CEventWindow::Loop() const { return m_core->loop; }

}  // namespace inner
