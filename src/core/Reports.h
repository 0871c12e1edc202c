#pragma once
// Usage events and messages for the operator's server. Modules report through this seam; the
// executable plugs in the HTTP reporter, tests plug in recorders, and without either the
// reports go nowhere.

#include <string>

enum WebLogEvent : int {
    EventCreate = 1,
    EventDownloadStart = 2,
    EventUnzipStart = 3,
    EventUnzipFinish = 6,
    EventGameStart = 9,
};

class ReportSink {
public:
    virtual ~ReportSink() = default;
    virtual void LogEvent(int event) = 0;
    virtual void Log(const std::string& message) = 0;
};

// The process-wide sink; never null. Installing is not owning: the sink must outlive its use.
ReportSink& Reports();
void SetReportSink(ReportSink* sink);  // nullptr: reports go nowhere
