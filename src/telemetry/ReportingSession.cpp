#include "telemetry/ReportingSession.h"

#include "core/Reports.h"
#include "telemetry/WebLogger.h"

ReportingSession::ReportingSession() : m_thread(std::make_unique<EventLoopThread>()) {
    WebLogger::UseEventLoop(m_thread->Loop());
    // The first use collects the machine profile, before the first report needs it.
    SetReportSink(&WebLogger::GetInstance());
}

ReportingSession::~ReportingSession() {
    SetReportSink(nullptr);
    m_thread->Invoke([] { WebLogger::GetInstance().ShutDown(); });
    m_thread.reset();
}
