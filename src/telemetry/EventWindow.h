#pragma once
// The request manager's event window: a target for notifications that any thread may send
// without waiting, and for timers, all handled on the event loop's thread. Once destroyed it
// drops whatever arrives later, and request threads that outlive it never reach the loop again.

#include <chrono>
#include <map>
#include <memory>
#include <mutex>

#include "telemetry/EventLoop.h"

namespace inner {

struct CEventWindowCore;

class CEventWindow {
public:
    class Handler {
    public:
        virtual void OnHttpEvent(int requestId, int code) = 0;
        virtual void OnTimer(unsigned timerId) = 0;

    protected:
        ~Handler() = default;
    };

    // What request threads hold to notify the window; it stays valid after the window is gone.
    class Notifier {
    public:
        explicit Notifier(std::shared_ptr<CEventWindowCore> core) : m_core(std::move(core)) {}
        // The SendNotifyMessage of this engine: queues (id, code) and returns at once.
        void Send(int requestId, int code) const;

    private:
        std::shared_ptr<CEventWindowCore> m_core;
    };

    CEventWindow(EventLoop& loop, Handler& handler);
    ~CEventWindow();
    CEventWindow(const CEventWindow&) = delete;
    CEventWindow& operator=(const CEventWindow&) = delete;

    // Loop thread (or no loop running): timers stop, later notifications and ticks are lost.
    void Destroy();

    // Any thread; from another thread the change takes effect on the loop's thread. Setting a
    // timer that exists restarts it with the new period, as SetTimer does.
    void SetTimer(unsigned timerId, std::chrono::milliseconds period);
    void KillTimer(unsigned timerId);
    // Loop thread.
    bool HasTimer(unsigned timerId) const;

    Notifier GetNotifier() const { return Notifier(m_core); }
    EventLoop& Loop() const;

private:
    std::shared_ptr<CEventWindowCore> m_core;
};

}  // namespace inner
