#pragma once
// The operator's reports for the life of the executable. Construction makes the process's
// WebLogger the report sink (so start-up, the update pipeline and the uninstall reach the
// server); destruction takes it out again and gives the reports still in flight up to
// 3000 ms before the engine stops.
//
// Without a window loop (the launcher without a display, where the main thread only waits for
// a close signal) the engine gets an event thread of its own. With the window thread's GLib
// loop, construct and destroy the session on that thread, after its loop has ended.

#include <memory>

#include "telemetry/EventLoop.h"

class ReportingSession {
public:
    ReportingSession();
    explicit ReportingSession(EventLoop& windowLoop);
    ~ReportingSession();
    ReportingSession(const ReportingSession&) = delete;
    ReportingSession& operator=(const ReportingSession&) = delete;

private:
    void Start(EventLoop& loop);

    std::unique_ptr<EventLoopThread> m_ownThread;
};
