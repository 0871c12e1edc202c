#include "platform/ProcessList.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <memory>

#include "platform/posix/Linux.h"

namespace platform {
namespace {

bool IsPid(const char* name) {
    if (*name == '\0') {
        return false;
    }
    for (; *name != '\0'; ++name) {
        if (!std::isdigit(static_cast<unsigned char>(*name))) {
            return false;
        }
    }
    return true;
}

std::optional<std::string> ReadComm(int procFd, const char* pid) {
    const std::string rel = std::string(pid) + "/comm";
    const int fd = ::openat(procFd, rel.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    char buffer[64];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    if (n <= 0) {
        return std::nullopt;
    }
    std::string name(buffer, static_cast<size_t>(n));
    if (name.back() == '\n') {
        name.pop_back();
    }
    return name;
}

}  // namespace

std::optional<std::vector<std::string>> RunningProcessNames(const std::string& procRoot) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(procRoot.c_str()), ::closedir);
    if (!dir) {
        return std::nullopt;
    }
    std::vector<std::string> names;
    const int procFd = ::dirfd(dir.get());
    while (const dirent* entry = ::readdir(dir.get())) {
        if (!IsPid(entry->d_name)) {
            continue;
        }
        if (auto name = ReadComm(procFd, entry->d_name)) {
            names.push_back(std::move(*name));
        }
    }
    return names;
}

std::optional<std::vector<std::string>> RunningProcessNames() { return RunningProcessNames("/proc"); }

}  // namespace platform
