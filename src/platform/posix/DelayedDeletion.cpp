#include "platform/DelayedDeletion.h"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/Env.h"
#include "platform/ErrorCodes.h"
#include "platform/Process.h"
#include "platform/posix/Linux.h"


namespace platform {
namespace {

// The shell waits for the end of input on its stdin, the pipe whose write end is the trigger.
constexpr const char* kScript = "read -r _; exec /bin/rm -rf -- \"$1\"";

bool IsNormalAbsolute(const std::string& path) {
    if (path.size() < 2 || path[0] != '/' || path.back() == '/') {
        return false;
    }
    for (size_t start = 1; start <= path.size();) {
        const size_t end = std::min(path.find('/', start), path.size());
        const std::string_view level(path.data() + start, end - start);
        if (level.empty() || level == "." || level == "..") {
            return false;
        }
        start = end + 1;
    }
    return true;
}

// True when inner is folder or lies below it.
bool SameOrBelow(const std::string& inner, const std::string& folder) {
    return inner == folder || (inner.size() > folder.size() && inner.compare(0, folder.size(), folder) == 0 &&
                               inner[folder.size()] == '/');
}

std::optional<std::string> Resolved(const std::string& path) {
    char buffer[PATH_MAX];
    if (::realpath(path.c_str(), buffer) == nullptr) {
        return std::nullopt;
    }
    return std::string(buffer);
}

// The home folders to keep: $HOME and the one the user database gives.
std::vector<std::string> HomeFolders() {
    std::vector<std::string> homes;
    if (auto home = HomeDir()) {
        homes.push_back(*home);
    }
    passwd entry {};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && found->pw_dir[0] == '/') {
        std::string home(found->pw_dir);
        while (home.size() > 1 && home.back() == '/') {
            home.pop_back();
        }
        homes.push_back(home);
    }
    return homes;
}

}  // namespace

bool IsProtectedFolder(const std::string& path) {
    if (!IsNormalAbsolute(path)) {
        return true;
    }
    const auto resolved = Resolved(path);
    if (resolved && *resolved == "/") {
        return true;
    }
    for (const auto& home : HomeFolders()) {
        if (SameOrBelow(home, path)) {
            return true;
        }
        const auto resolvedHome = Resolved(home);
        if (resolved && resolvedHome && SameOrBelow(*resolvedHome, *resolved)) {
            return true;
        }
    }
    return false;
}

DelayedFolderDeletion DelayedFolderDeletion::Start(const std::string& folder) {
    DelayedFolderDeletion deletion;
    if (IsProtectedFolder(folder)) {
        deletion.m_error = kErrorInvalidParameter;
        return deletion;
    }
    // Close-on-exec: no other program this process starts may hold the trigger open.
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) {
        deletion.m_error = WinErrorFromErrno(errno);
        return deletion;
    }

    // Hidden and detached: input is the trigger, output goes nowhere, no descriptor of the
    // launcher is kept, the working folder is none that the removal takes, and a session of its
    // own outlives the launcher's terminal.
    const StartedProcess shell = StartProcess({.program = "/bin/sh",
                                               .argv = {"/bin/sh", "-c", kScript, "valdrune-uninstall", folder},
                                               .workingDir = "/",
                                               .silent = true},
                                              pipe[0]);
    ::close(pipe[0]);
    if (!shell) {
        ::close(pipe[1]);
        deletion.m_error = shell.error;
        return deletion;
    }
    const int pid = shell.pid;
    deletion.m_pid = pid;
    deletion.m_trigger = pipe[1];
    return deletion;
}

void DelayedFolderDeletion::Release() {
    if (m_trigger >= 0) {
        ::close(static_cast<int>(m_trigger));
        m_trigger = -1;
    }
}

void DelayedFolderDeletion::ReleaseAtExit() {
    m_trigger = -1;  // left open on purpose: the process's end closes it
}

std::uint32_t DeleteFolderAfterExit(const std::string& folder) {
    auto deletion = DelayedFolderDeletion::Start(folder);
    deletion.ReleaseAtExit();
    return deletion.error();
}

}  // namespace platform
