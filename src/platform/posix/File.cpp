#include "platform/File.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/ErrorCodes.h"

namespace platform {

namespace {

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// The previous holder's content (held and locked as previous) moves to "<path>.1" and a fresh,
// locked file takes its name in one rename, so that a second opener finds a locked file at the
// name at every moment and never moves or empties anything. The fresh descriptor, or -1 with
// errno set.
int KeepPreviousContent(const std::string& path, int previous, unsigned permissions) {
    const std::string fresh = path + ".new";
    const int fd = ::open(fresh.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, permissions);
    if (fd < 0) {
        return -1;
    }
    ::flock(fd, LOCK_EX | LOCK_NB);  // nobody else knows this file yet
    const std::string kept = path + ".1";
    ::unlink(kept.c_str());
    const bool keptOk = ::link(path.c_str(), kept.c_str()) == 0 || ::rename(path.c_str(), kept.c_str()) == 0;
    if (!keptOk || ::rename(fresh.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(fresh.c_str());
        ::close(fd);
        errno = error;
        return -1;
    }
    ::close(previous);
    return fd;
}

// An exclusive file: an flock held while open keeps every other opener out. A holder that
// moves its file aside between our open and our lock leaves the name to a newer file, which is
// looked at again.
int OpenExclusive(const std::string& path, unsigned permissions, std::uint32_t& error) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, permissions);
        if (fd < 0) {
            error = WinErrorFromErrno(errno, /*missingIsPath=*/true);
            return -1;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            error = errno == EWOULDBLOCK ? kErrorSharingViolation : WinErrorFromErrno(errno);
            ::close(fd);
            return -1;
        }
        struct stat held {};
        struct stat named {};
        if (::fstat(fd, &held) != 0 || ::stat(path.c_str(), &named) != 0 || !SameFile(held, named)) {
            ::close(fd);
            continue;
        }
        if (held.st_size == 0) {
            return fd;
        }
        const int fresh = KeepPreviousContent(path, fd, permissions);
        if (fresh < 0) {
            error = WinErrorFromErrno(errno);
            ::close(fd);
        }
        return fresh;
    }
    error = kErrorSharingViolation;
    return -1;
}

}  // namespace

File::File(const std::string& path, Mode mode, unsigned permissions) {
    if (path.empty()) {
        m_error = kErrorPathNotFound;
        return;
    }
    if (mode == Mode::Exclusive) {
        m_handle = OpenExclusive(path, permissions, m_error);
        return;
    }
    int flags = O_CLOEXEC;
    switch (mode) {
        case Mode::Read: flags |= O_RDONLY; break;
        case Mode::Truncate: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
        case Mode::Append: flags |= O_WRONLY | O_CREAT | O_APPEND; break;
        case Mode::Exclusive: break;
    }
    const int fd = ::open(path.c_str(), flags, permissions);
    if (fd < 0) {
        m_error = WinErrorFromErrno(errno, /*missingIsPath=*/mode != Mode::Read);
        return;
    }
    m_handle = fd;
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
