#include "update/ResumeRecord.h"

#include <fmt/printf.h>

namespace {

constexpr size_t kLongestLine = 99;  // what the record's 100-byte line buffer holds

}  // namespace

std::string FormatResumeRecord(const LocalClientVersion& downloadVersion, std::int64_t offset,
                               std::int64_t totalSize) {
    return fmt::sprintf("downloadVersion=%s\noffset=%d\ntotalSize=%d\n", downloadVersion.ToString(), offset,
                        totalSize);
}

std::string FindResumeValue(std::string_view content, std::string_view key) {
    while (!content.empty()) {
        const size_t end = content.find('\n');
        std::string_view line = content.substr(0, end);
        content = end == std::string_view::npos ? std::string_view() : content.substr(end + 1);
        if (end != std::string_view::npos && !line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.size() > kLongestLine) {
            return {};
        }
        const size_t eq = line.find('=');
        if (line.substr(0, eq) == key) {
            return std::string(eq == std::string_view::npos ? line : line.substr(eq + 1));
        }
    }
    return {};
}
