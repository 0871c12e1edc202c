#include "platform/CpuInfo.h"

#include <sstream>

#include "platform/posix/Linux.h"
#include "platform/posix/TextFiles.h"

namespace platform {

std::optional<std::string> ProcessorName(const std::string& procRoot) {
    const auto text = posix::ReadTextFile(procRoot + "/cpuinfo");
    if (!text) {
        return std::nullopt;
    }
    std::istringstream lines(*text);
    for (std::string line; std::getline(lines, line);) {
        // "model name\t: Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz"
        const auto colon = line.find(':');
        if (colon == std::string::npos) {
            continue;
        }
        const auto keyEnd = line.find_last_not_of(" \t", colon == 0 ? 0 : colon - 1);
        if (keyEnd == std::string::npos || line.compare(0, keyEnd + 1, "model name") != 0) {
            continue;
        }
        const size_t valueStart = colon + 1 < line.size() && line[colon + 1] == ' ' ? colon + 2 : colon + 1;
        return line.substr(valueStart);
    }
    return std::nullopt;
}

std::optional<std::string> ProcessorName() { return ProcessorName("/proc"); }

}  // namespace platform
