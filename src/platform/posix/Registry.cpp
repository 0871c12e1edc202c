#include "platform/Registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "platform/Env.h"
#include "platform/ErrorCodes.h"
#include "platform/FileSystem.h"
#include "platform/posix/Linux.h"

namespace platform {
namespace {

constexpr const char* kHeader = "valdrune-registry 1";

std::string Fold(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// "A\\B\\C" with no empty level; nullopt for anything else.
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

struct StoredValue {
    std::string name;
    RegistryValue value;
};

struct StoredKey {
    std::string path;                            // as created
    std::map<std::string, StoredValue> values;   // by folded name
};

using Hive = std::map<std::string, StoredKey>;  // by folded path

bool HasSubkeys(const Hive& hive, const std::string& folded) {
    const std::string prefix = folded + "\\";
    const auto next = hive.lower_bound(prefix);
    return next != hive.end() && next->first.compare(0, prefix.size(), prefix) == 0;
}

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

std::string Serialize(const Hive& hive) {
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

// Unreadable lines are skipped: a damaged store loses those entries, never the whole hive.
Hive Parse(std::istream& in) {
    Hive hive;
    StoredKey* current = nullptr;
    for (std::string line; std::getline(in, line);) {
        const auto tokens = Tokens(line);
        if (!tokens || tokens->empty()) {
            continue;
        }
        const auto& t = *tokens;
        if (t[0] == "key" && t.size() == 2 && SplitKeyPath(t[1])) {
            current = &hive[Fold(t[1])];
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
            current->values[Fold(t[1])] = std::move(stored);
        }
    }
    return hive;
}

const char* HiveName(RegistryHive hive) {
    return hive == RegistryHive::ClassesRoot ? "HKEY_CLASSES_ROOT" : "HKEY_CURRENT_USER";
}

// One locked look at (and possibly change of) a hive. The lock is an flock on a file beside
// the hive's, held until the session ends; it serialises threads and processes alike.
class HiveSession {
public:
    HiveSession(RegistryHive which, bool forWriting) {
        const auto file = RegistryHiveFile(which);
        if (!file) {
            m_error = kErrorPathNotFound;
            return;
        }
        m_file = *file;
        const std::string folder = m_file.substr(0, m_file.rfind('/'));
        if (!PathExists(folder)) {
            if (!forWriting) {
                return;  // nothing stored yet: an empty hive
            }
            if (const auto code = CreateDirectoryTree(folder)) {
                m_error = code;
                return;
            }
        }
        m_lockFd = ::open((m_file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (m_lockFd < 0) {
            m_error = WinErrorFromErrno(errno, true);
            return;
        }
        int rc;
        do {
            rc = ::flock(m_lockFd, forWriting ? LOCK_EX : LOCK_SH);
        } while (rc != 0 && errno == EINTR);
        std::ifstream in(m_file, std::ios::binary);
        std::string header;
        if (in && std::getline(in, header) && header == kHeader) {
            m_hive = Parse(in);
        }
    }
    ~HiveSession() {
        if (m_lockFd >= 0) {
            ::close(m_lockFd);  // releases the lock
        }
    }
    HiveSession(const HiveSession&) = delete;
    HiveSession& operator=(const HiveSession&) = delete;

    std::uint32_t error() const { return m_error; }
    Hive& hive() { return m_hive; }
    std::uint32_t Save() { return ReplaceFileContent(m_file, Serialize(m_hive), 0600); }
    // Removes the hive's file and its lock while the lock is held: a writer that waited for it
    // writes both anew, so no change is lost.
    void Remove() {
        ::unlink(m_file.c_str());
        ::unlink((m_file + ".lock").c_str());
    }

private:
    std::string m_file;
    int m_lockFd = -1;
    std::uint32_t m_error = 0;
    Hive m_hive;
};

std::uint32_t SetValue(const RegistryKey& key, const std::string& name, const RegistryValue& value) {
    if (!key.open) {
        return kErrorInvalidParameter;
    }
    HiveSession session(key.hive, true);
    if (session.error()) {
        return session.error();
    }
    const auto it = session.hive().find(Fold(key.path));
    if (it == session.hive().end()) {
        return kErrorKeyDeleted;
    }
    auto& stored = it->second.values[Fold(name)];
    if (stored.name.empty()) {
        stored.name = name;
    }
    stored.value = value;
    return session.Save();
}

}  // namespace

std::optional<std::string> RegistryHiveFile(RegistryHive hive) {
    const auto config = ConfigHome();
    if (!config) {
        return std::nullopt;
    }
    return *config + "/valdrune/registry/" + HiveName(hive) + ".txt";
}

std::uint32_t RegCreateKeyEx(RegistryHive hive, const std::string& subKey, RegistryKey& key, bool* created) {
    key = RegistryKey{};
    const auto levels = SplitKeyPath(subKey);
    if (!levels) {
        return kErrorInvalidParameter;
    }
    HiveSession session(hive, true);
    if (session.error()) {
        return session.error();
    }
    bool added = false;
    std::string path;
    for (const auto& level : *levels) {
        path += (path.empty() ? "" : "\\") + level;
        auto& stored = session.hive()[Fold(path)];
        if (stored.path.empty()) {
            stored.path = path;
            added = true;
        }
    }
    if (added) {
        if (const auto code = session.Save()) {
            return code;
        }
    }
    if (created != nullptr) {
        *created = added;
    }
    key = {hive, session.hive()[Fold(subKey)].path, true};
    return kErrorSuccess;
}

std::uint32_t RegOpenKeyEx(RegistryHive hive, const std::string& subKey, RegistryKey& key) {
    key = RegistryKey{};
    if (!SplitKeyPath(subKey)) {
        return kErrorInvalidParameter;
    }
    HiveSession session(hive, false);
    const auto it = session.hive().find(Fold(subKey));
    if (it == session.hive().end()) {
        return session.error() ? session.error() : kErrorFileNotFound;
    }
    key = {hive, it->second.path, true};
    return kErrorSuccess;
}

std::uint32_t RegSetStringValue(const RegistryKey& key, const std::string& name, const std::string& data) {
    return SetValue(key, name, {kRegSz, data, 0});
}

std::uint32_t RegSetDwordValue(const RegistryKey& key, const std::string& name, std::uint32_t data) {
    return SetValue(key, name, {kRegDword, {}, data});
}

std::uint32_t RegQueryValueEx(const RegistryKey& key, const std::string& name, RegistryValue& value) {
    if (!key.open) {
        return kErrorInvalidParameter;
    }
    HiveSession session(key.hive, false);
    const auto it = session.hive().find(Fold(key.path));
    if (it == session.hive().end()) {
        return kErrorFileNotFound;
    }
    const auto stored = it->second.values.find(Fold(name));
    if (stored == it->second.values.end()) {
        return kErrorFileNotFound;
    }
    value = stored->second.value;
    return kErrorSuccess;
}

std::uint32_t RegDeleteValue(const RegistryKey& key, const std::string& name) {
    if (!key.open) {
        return kErrorInvalidParameter;
    }
    HiveSession session(key.hive, true);
    if (session.error()) {
        return session.error();
    }
    const auto it = session.hive().find(Fold(key.path));
    if (it == session.hive().end() || it->second.values.erase(Fold(name)) == 0) {
        return kErrorFileNotFound;
    }
    return session.Save();
}

std::uint32_t RegDeleteKey(RegistryHive hive, const std::string& subKey) {
    if (!SplitKeyPath(subKey)) {
        return kErrorInvalidParameter;
    }
    const std::string folded = Fold(subKey);
    {
        // Most calls find nothing to delete; they need not create the store to say so.
        HiveSession look(hive, false);
        if (!look.hive().contains(folded)) {
            return look.error() ? look.error() : kErrorFileNotFound;
        }
    }
    HiveSession session(hive, true);
    if (session.error()) {
        return session.error();
    }
    if (!session.hive().contains(folded)) {
        return kErrorFileNotFound;
    }
    if (HasSubkeys(session.hive(), folded)) {
        return kErrorAccessDenied;
    }
    session.hive().erase(folded);
    return session.Save();
}

void RegCloseKey(RegistryKey& key) { key = RegistryKey{}; }

void RemoveRegistryStoreIfEmpty() {
    const auto user = RegistryHiveFile(RegistryHive::CurrentUser);
    if (!user) {
        return;
    }
    const std::string folder = user->substr(0, user->rfind('/'));
    if (!PathExists(folder)) {
        return;
    }
    for (const auto which : {RegistryHive::CurrentUser, RegistryHive::ClassesRoot}) {
        HiveSession session(which, true);
        const bool holdsValues = std::ranges::any_of(
            session.hive(), [](const auto& entry) { return !entry.second.values.empty(); });
        if (session.error() == 0 && !holdsValues) {
            session.Remove();
        }
    }
    RemoveDirectory(folder);
    RemoveDirectory(folder.substr(0, folder.rfind('/')));
}

}  // namespace platform
