#include "platform/posix/RegistryFile.h"

#include <cctype>

namespace platform::posix {
namespace {

constexpr const char* kHeader = "valdrune-registry 1";

}  // namespace

std::string FoldCase(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

std::optional<std::vector<std::string>> SplitKeyPath(const std::string& path) {
    std::vector<std::string> levels;
    size_t start = 0;
    for (;;) {
        const size_t end = path.find('\\', start);
        std::string level = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (level.empty()) {
            return std::nullopt;
        }
        levels.push_back(std::move(level));
        if (end == std::string::npos) {
            return levels;
        }
        start = end + 1;
    }
}

bool HasSubkeys(const Hive& hive, const std::string& foldedPath) {
    const std::string prefix = foldedPath + "\\";
    const auto next = hive.lower_bound(prefix);
    return next != hive.end() && next->first.compare(0, prefix.size(), prefix) == 0;
}

namespace {

std::string Quote(const std::string& text) {
    std::string out = "\"";
    for (const unsigned char c : text) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '"': out += "\\\""; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || c == 0x7f) {
                    static constexpr char kHex[] = "0123456789abcdef";
                    out += "\\x";
                    out += kHex[c >> 4];
                    out += kHex[c & 0xf];
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

// Reads the words and quoted texts of one stored line; nullopt when the line is malformed.
std::optional<std::vector<std::string>> Tokens(const std::string& line) {
    std::vector<std::string> tokens;
    size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ') {
            ++i;
            continue;
        }
        std::string token;
        if (line[i] != '"') {
            while (i < line.size() && line[i] != ' ') {
                token += line[i++];
            }
            tokens.push_back(std::move(token));
            continue;
        }
        for (++i;; ++i) {
            if (i >= line.size()) {
                return std::nullopt;
            }
            const char c = line[i];
            if (c == '"') {
                ++i;
                break;
            }
            if (c != '\\') {
                token += c;
                continue;
            }
            if (++i >= line.size()) {
                return std::nullopt;
            }
            switch (line[i]) {
                case 'n': token += '\n'; break;
                case 'r': token += '\r'; break;
                case 't': token += '\t'; break;
                case 'x': {
                    if (i + 2 >= line.size() || !std::isxdigit(static_cast<unsigned char>(line[i + 1])) ||
                        !std::isxdigit(static_cast<unsigned char>(line[i + 2]))) {
                        return std::nullopt;
                    }
                    token += static_cast<char>(std::stoi(line.substr(i + 1, 2), nullptr, 16));
                    i += 2;
                    break;
                }
                default: token += line[i];
            }
        }
        tokens.push_back(std::move(token));
    }
    return tokens;
}

}  // namespace

std::string SerializeHive(const Hive& hive) {
    std::string out = std::string(kHeader) + "\n";
    for (const auto& [folded, key] : hive) {
        out += "key " + Quote(key.path) + "\n";
        for (const auto& [name, stored] : key.values) {
            if (stored.value.type == kRegDword) {
                out += "value " + Quote(stored.name) + " dword " + std::to_string(stored.value.number) + "\n";
            } else {
                out += "value " + Quote(stored.name) + " sz " + Quote(stored.value.text) + "\n";
            }
        }
    }
    return out;
}

Hive ParseHive(std::string_view content) {
    Hive hive;
    const size_t headerEnd = content.find('\n');
    if (content.substr(0, headerEnd) != kHeader) {
        return hive;
    }
    content = headerEnd == std::string_view::npos ? std::string_view() : content.substr(headerEnd + 1);
    StoredKey* current = nullptr;
    while (!content.empty()) {
        const size_t end = content.find('\n');
        const std::string line(content.substr(0, end));
        content = end == std::string_view::npos ? std::string_view() : content.substr(end + 1);
        const auto tokens = Tokens(line);
        if (!tokens || tokens->empty()) {
            continue;
        }
        const auto& t = *tokens;
        if (t[0] == "key" && t.size() == 2 && SplitKeyPath(t[1])) {
            current = &hive[FoldCase(t[1])];
            current->path = t[1];
        } else if (t[0] == "value" && t.size() == 4 && current != nullptr) {
            StoredValue stored{t[1], {}};
            if (t[2] == "sz") {
                stored.value = {kRegSz, t[3], 0};
            } else if (t[2] == "dword" && !t[3].empty() && t[3].size() <= 10 &&
                       t[3].find_first_not_of("0123456789") == std::string::npos &&
                       std::stoull(t[3]) <= 0xffffffffULL) {
                stored.value = {kRegDword, {}, static_cast<std::uint32_t>(std::stoull(t[3]))};
            } else {
                continue;
            }
            current->values[FoldCase(t[1])] = std::move(stored);
        }
    }
    return hive;
}

}  // namespace platform::posix
