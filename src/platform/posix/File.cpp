#include "platform/File.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/ErrorCodes.h"

namespace platform {

File::File(const std::string& path, Mode mode, unsigned permissions) {
    int flags = O_CLOEXEC;
    switch (mode) {
        case Mode::Read: flags |= O_RDONLY; break;
        case Mode::Truncate: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
        case Mode::Append: flags |= O_WRONLY | O_CREAT | O_APPEND; break;
        case Mode::Exclusive: flags |= O_RDWR | O_CREAT; break;
    }
    const int fd = path.empty() ? -1 : ::open(path.c_str(), flags, permissions);
    if (fd < 0) {
        m_error = path.empty() ? kErrorPathNotFound : WinErrorFromErrno(errno, /*missingIsPath=*/mode != Mode::Read);
        return;
    }
    m_handle = fd;
    // Another running launcher holds this file: leave its content alone.
    if (mode == Mode::Exclusive && (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ftruncate(fd, 0) != 0)) {
        m_error = errno == EWOULDBLOCK ? kErrorSharingViolation : WinErrorFromErrno(errno);
        ::close(fd);
        m_handle = -1;
        return;
    }
    // An existing file keeps its old permissions through O_TRUNC; the caller asked for these.
    if (mode == Mode::Truncate && ::fchmod(fd, permissions) != 0) {
        m_error = WinErrorFromErrno(errno);
    }
}

File::File(File&& other) noexcept
    : m_handle(std::exchange(other.m_handle, -1)), m_error(std::exchange(other.m_error, 0)) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        m_handle = std::exchange(other.m_handle, -1);
        m_error = std::exchange(other.m_error, 0);
    }
    return *this;
}

File::~File() { Close(); }

std::size_t File::Write(const void* data, std::size_t size) {
    const char* bytes = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < size && m_handle >= 0) {
        const ssize_t n = ::write(static_cast<int>(m_handle), bytes + done, size - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            m_error = WinErrorFromErrno(n == 0 ? ENOSPC : errno);  // a write of nothing means a full disk
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return done;
}

std::int64_t File::Read(void* buffer, std::size_t size) {
    for (;;) {
        const ssize_t n = m_handle >= 0 ? ::read(static_cast<int>(m_handle), buffer, size) : -1;
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            m_error = m_handle >= 0 ? WinErrorFromErrno(errno) : kErrorInvalidParameter;
        }
        return n;
    }
}

std::int64_t File::Size() {
    struct stat st {};
    if (m_handle < 0 || ::fstat(static_cast<int>(m_handle), &st) != 0) {
        return -1;
    }
    return st.st_size;
}

bool File::Flush() {
    if (m_handle < 0 || ::fdatasync(static_cast<int>(m_handle)) != 0) {
        m_error = m_handle < 0 ? kErrorInvalidParameter : WinErrorFromErrno(errno);
        return false;
    }
    return true;
}

bool File::Truncate(std::int64_t length) {
    if (m_handle < 0 || length < 0) {
        m_error = kErrorInvalidParameter;
        return false;
    }
    if (::ftruncate(static_cast<int>(m_handle), length) != 0) {
        m_error = WinErrorFromErrno(errno);
        return false;
    }
    return true;
}

bool File::Close() {
    if (m_handle < 0) {
        return true;
    }
    const int rc = ::close(static_cast<int>(std::exchange(m_handle, -1)));
    if (rc != 0 && errno != EINTR) {
        m_error = WinErrorFromErrno(errno);
        return false;
    }
    return true;
}

}  // namespace platform
