#include "LogEntries.h"

#include <regex>
#include <sstream>

namespace testing_support {

std::vector<std::string> LogEntries(const std::string& logText) {
    static const std::regex shape(R"(^\[[^\]]*\]\[(INFO|ERROR)\]\[(.*)::\d+\] (.*)$)");
    std::vector<std::string> entries;
    std::istringstream in(logText);
    for (std::string line; std::getline(in, line);) {
        if (line.ends_with('\r')) {
            line.pop_back();  // Windows ends its lines with CR LF
        }
        std::smatch m;
        if (std::regex_match(line, m, shape)) {
            entries.push_back("[" + m[1].str() + "][" + m[2].str() + "] " + m[3].str());
        } else if (!entries.empty()) {
            entries.back() += "\n" + line;  // a message that held a line feed
        } else {
            entries.push_back("unreadable: " + line);
        }
    }
    return entries;
}

bool ContainsInOrder(const std::string& text, const std::vector<std::string>& pieces) {
    std::size_t at = 0;
    for (const auto& piece : pieces) {
        at = text.find(piece, at);
        if (at == std::string::npos) {
            return false;
        }
        at += piece.size();
    }
    return true;
}

}  // namespace testing_support
