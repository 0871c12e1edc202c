#include "platform/FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/ErrorCodes.h"

namespace platform {

bool PathExists(const std::string& path) { return !path.empty() && ::access(path.c_str(), F_OK) == 0; }

std::uint32_t CreateDirectoryOneLevel(const std::string& path) {
    if (path.empty()) {
        return kErrorPathNotFound;
    }
    if (::mkdir(path.c_str(), 0755) == 0) {
        return kErrorSuccess;
    }
    return WinErrorFromErrno(errno, /*missingIsPath=*/true);
}

std::optional<std::string> ReadFileStart(const std::string& path, std::size_t maxBytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    std::string text(maxBytes, '\0');
    std::size_t got = 0;
    while (got < maxBytes) {
        const ssize_t n = ::read(fd, text.data() + got, maxBytes - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            ::close(fd);
            return std::nullopt;  // EISDIR for a folder, EIO, ...
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    text.resize(got);
    return text;
}

}  // namespace platform
