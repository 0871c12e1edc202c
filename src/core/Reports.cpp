#include "core/Reports.h"

#include <atomic>

namespace {

class NoReports final : public ReportSink {
public:
    void LogEvent(int) override {}
    void Log(const std::string&) override {}
};

NoReports g_noReports;
std::atomic<ReportSink*> g_sink{&g_noReports};  // read by the window and the update threads

}  // namespace

ReportSink& Reports() { return *g_sink.load(); }

void SetReportSink(ReportSink* sink) { g_sink.store(sink != nullptr ? sink : &g_noReports); }
