#include "platform/posix/TextFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace platform::posix {

std::optional<std::string> ReadTextFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    // /proc and /sys report a size of 0 (or 4096) whatever they hold, so read to the end.
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return text;
}

std::string WithoutFinalNewline(std::string text) {
    if (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

}  // namespace platform::posix
