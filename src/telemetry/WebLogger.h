#pragma once
// Reports to the operator's management server: an event report at fixed milestones of a run and
// a message report with a short text, each one GET whose whole content is its query. Fire and
// forget: a report is started and never waited for, its answer never read.

#include <string>

#include "core/Reports.h"
#include "telemetry/EventLoop.h"
#include "telemetry/HttpRequest.h"
#include "telemetry/MachineProfile.h"

class WebLogger final : public CHttpRequestManager, public ReportSink {
public:
    // The process's reporter, created by the first call on the loop given to UseEventLoop (else
    // on an event thread of its own). Never destroyed, so that a report
    // from the update worker during process exit stays safe; ShutDown ends its work instead.
    static WebLogger& GetInstance();
    // Before the first GetInstance: the loop whose thread runs the engine.
    static void UseEventLoop(EventLoop& loop);

    // A reporter of its own (tests): report addresses without a query, and the machine facts.
    WebLogger(EventLoop& loop, std::string infoUrl, std::string errorUrl, const MachineProfile& profile);
    ~WebLogger() override;

    // Any thread.
    void LogEvent(int event) override;
    void Log(const std::string& message) override;

    // The engine's thread: lets the reports in flight finish for up to kShutdownWaitMs, then
    // shuts the engine down. Later reports are logged but not sent.
    void ShutDown();

    // The two addresses, exactly as sent.
    std::string EventReportUrl(int event) const;
    std::string MessageReportUrl(const std::string& message) const;

private:
    std::string MachinePart() const;

    const std::string m_strInfoUrl;
    const std::string m_strErrorUrl;
    const MachineProfile& m_profile;
};
