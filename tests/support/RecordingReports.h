#pragma once
// A report sink that keeps what it was given, installed for the lifetime of the object.

#include <mutex>
#include <string>
#include <vector>

#include "core/Reports.h"

namespace testing_support {

class RecordingReports final : public ReportSink {
public:
    RecordingReports() { SetReportSink(this); }
    ~RecordingReports() override { SetReportSink(nullptr); }

    void LogEvent(int event) override { Add("event " + std::to_string(event)); }
    void Log(const std::string& message) override { Add(message); }

    // Events as "event <code>", messages as their text, in the order they came.
    std::vector<std::string> Entries() const {
        std::lock_guard lock(m_mutex);
        return m_entries;
    }

private:
    void Add(std::string entry) {
        std::lock_guard lock(m_mutex);
        m_entries.push_back(std::move(entry));
    }

    mutable std::mutex m_mutex;
    std::vector<std::string> m_entries;
};

}  // namespace testing_support
