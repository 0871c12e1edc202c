#include "platform/Registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <fstream>
#include <iterator>

#include "platform/Env.h"
#include "platform/ErrorCodes.h"
#include "platform/FileSystem.h"
#include "platform/posix/Linux.h"
#include "platform/posix/RegistryFile.h"

namespace platform {
namespace {

using posix::FoldCase;
using posix::Hive;
using posix::SplitKeyPath;

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
        m_hive = posix::ParseHive(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
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
    std::uint32_t Save() { return ReplaceFileContent(m_file, posix::SerializeHive(m_hive), 0600); }
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
    const auto it = session.hive().find(FoldCase(key.path));
    if (it == session.hive().end()) {
        return kErrorKeyDeleted;
    }
    auto& stored = it->second.values[FoldCase(name)];
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
        auto& stored = session.hive()[FoldCase(path)];
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
    key = {hive, session.hive()[FoldCase(subKey)].path, true};
    return kErrorSuccess;
}

std::uint32_t RegOpenKeyEx(RegistryHive hive, const std::string& subKey, RegistryKey& key) {
    key = RegistryKey{};
    if (!SplitKeyPath(subKey)) {
        return kErrorInvalidParameter;
    }
    HiveSession session(hive, false);
    const auto it = session.hive().find(FoldCase(subKey));
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
    const auto it = session.hive().find(FoldCase(key.path));
    if (it == session.hive().end()) {
        return kErrorFileNotFound;
    }
    const auto stored = it->second.values.find(FoldCase(name));
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
    const auto it = session.hive().find(FoldCase(key.path));
    if (it == session.hive().end() || it->second.values.erase(FoldCase(name)) == 0) {
        return kErrorFileNotFound;
    }
    return session.Save();
}

std::uint32_t RegDeleteKey(RegistryHive hive, const std::string& subKey) {
    if (!SplitKeyPath(subKey)) {
        return kErrorInvalidParameter;
    }
    const std::string folded = FoldCase(subKey);
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
    if (posix::HasSubkeys(session.hive(), folded)) {
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
