#include "LogEntries.h"

#include <regex>
#include <sstream>

namespace testing_support {

std::vector<std::string> LogEntries(const std::string& logText) {
    static const std::regex shape(R"(^\[[^\]]*\]\[(INFO|ERROR)\]\[(.*)::\d+\] (.*)$)");
    std::vector<std::string> entries;
    std::istringstream in(logText);
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        entries.push_back(std::regex_match(line, m, shape) ? "[" + m[1].str() + "][" + m[2].str() + "] " + m[3].str()
                                                           : "unreadable: " + line);
    }
    return entries;
}

}  // namespace testing_support
