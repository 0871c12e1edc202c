#include "telemetry/ReportingSession.h"

#include "core/Reports.h"
#include "telemetry/WebLogger.h"

ReportingSession::ReportingSession() : m_ownThread(std::make_unique<EventLoopThread>()) { Start(m_ownThread->Loop()); }

ReportingSession::ReportingSession(EventLoop& windowLoop) { Start(windowLoop); }

void ReportingSession::Start(EventLoop& loop) {
    WebLogger::UseEventLoop(loop);
    // The first use collects the machine profile, before the first report needs it.
    SetReportSink(&WebLogger::GetInstance());
}

ReportingSession::~ReportingSession() {
    SetReportSink(nullptr);
    if (m_ownThread) {
        m_ownThread->Invoke([] { WebLogger::GetInstance().ShutDown(); });
        m_ownThread.reset();
    } else {
        WebLogger::GetInstance().ShutDown();
    }
}
