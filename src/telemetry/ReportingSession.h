#pragma once
// The operator's reports for the life of the executable. Construction makes the process's
// WebLogger the report sink (so start-up, the update pipeline and the uninstall reach the
// server); destruction takes it out again and gives the reports still in flight up to
// 3000 ms before the engine stops.
//
// The engine runs on an event thread of its own: the window thread may be blocked for the
// game's whole life when the launch runs there, and the launcher without a display has no
// window loop at all.

#include <memory>

#include "telemetry/EventLoop.h"

class ReportingSession {
public:
    ReportingSession();
    ~ReportingSession();
    ReportingSession(const ReportingSession&) = delete;
    ReportingSession& operator=(const ReportingSession&) = delete;

private:
    std::unique_ptr<EventLoopThread> m_thread;
};
