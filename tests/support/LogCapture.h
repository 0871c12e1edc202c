#pragma once
// Sends the process log to a file of its own for the lifetime of the object and reads it back
// as entries, so a test can check the exact lines a module writes.

#include <string>
#include <vector>

#include "TempHome.h"
#include "core/Logger.h"
#include "platform/Paths.h"

namespace testing_support {

class LogCapture {
public:
    struct Entry {
        std::string level;
        std::string function;  // without the line number
        std::string message;
        bool operator==(const Entry&) const = default;
    };

    LogCapture() : m_logger(m_dir.path() + "/test.log") { Logger::Redirect(&m_logger); }
    ~LogCapture() { Logger::Redirect(nullptr); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Every entry so far. A message with line feeds in it stays one entry.
    std::vector<Entry> Entries() const {
        const std::string lineEnd(platform::kTextLineEnd);
        std::string text = ReadFile(m_dir.path() + "/test.log");
        if (text.ends_with(lineEnd)) {
            text.resize(text.size() - lineEnd.size());
        }
        std::vector<Entry> entries;
        std::size_t start = 0;
        while (start <= text.size() && !text.empty()) {
            const std::size_t end = std::min(text.find(lineEnd, start), text.size());
            const std::string line = text.substr(start, end - start);
            Entry entry;
            if (Parse(line, entry)) {
                entries.push_back(entry);
            } else if (!entries.empty()) {
                entries.back().message += "\n" + line;
            }
            start = end + lineEnd.size();
        }
        return entries;
    }

    // The messages logged under function, in order.
    std::vector<std::string> Messages(const std::string& function) const {
        std::vector<std::string> messages;
        for (const auto& entry : Entries()) {
            if (entry.function == function) {
                messages.push_back(entry.message);
            }
        }
        return messages;
    }

private:
    // "[time][LEVEL][function::line] message"
    static bool Parse(const std::string& line, Entry& entry) {
        const auto timeEnd = line.find("][");
        if (line.empty() || line[0] != '[' || timeEnd == std::string::npos) {
            return false;
        }
        const auto levelEnd = line.find("][", timeEnd + 2);
        const auto headerEnd = line.find("] ", levelEnd == std::string::npos ? 0 : levelEnd + 2);
        if (levelEnd == std::string::npos || headerEnd == std::string::npos) {
            return false;
        }
        entry.level = line.substr(timeEnd + 2, levelEnd - timeEnd - 2);
        if (entry.level != "INFO" && entry.level != "ERROR") {
            return false;
        }
        const std::string where = line.substr(levelEnd + 2, headerEnd - levelEnd - 2);
        entry.function = where.substr(0, where.rfind("::"));
        entry.message = line.substr(headerEnd + 2);
        return true;
    }

    TempDir m_dir;
    Logger m_logger;
};

}  // namespace testing_support
