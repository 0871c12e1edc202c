#include "GameRecord.h"

#include <cstdlib>

#include "TempHome.h"

namespace testing_support {
namespace {

// The JSON string starting at the quote at i, unescaped as the game escaped it; i ends after it.
std::string StringAt(const std::string& json, size_t& i) {
    std::string text;
    for (++i; i < json.size() && json[i] != '"'; ++i) {
        if (json[i] != '\\' || i + 1 == json.size()) {
            text += json[i];
            continue;
        }
        switch (json[++i]) {
            case 'n': text += '\n'; break;
            case 'r': text += '\r'; break;
            case 't': text += '\t'; break;
            case 'u':
                text += static_cast<char>(std::strtol(json.substr(i + 1, 4).c_str(), nullptr, 16));
                i += 4;
                break;
            default: text += json[i];
        }
    }
    ++i;
    return text;
}

}  // namespace

SampleGameRecord ReadSampleGameRecord(const std::string& path) {
    const std::string json = ReadFile(path);
    // The game writes the record in one piece ending in a line feed; anything less is not read.
    if (json.empty() || json.back() != '\n') {
        return {};
    }
    SampleGameRecord record;
    size_t i = json.find("\"argv\":[");
    const size_t cwd = json.find("\"cwd\":");
    const size_t pid = json.find("\"pid\":");
    if (i == std::string::npos || cwd == std::string::npos || pid == std::string::npos) {
        return {};
    }
    for (i += 8; i < json.size() && json[i] != ']';) {
        if (json[i] == '"') {
            record.argv.push_back(StringAt(json, i));
        } else {
            ++i;
        }
    }
    i = json.find('"', cwd + 6);
    record.cwd = StringAt(json, i);
    record.pid = std::atoi(json.c_str() + pid + 6);
    return record;
}

}  // namespace testing_support
