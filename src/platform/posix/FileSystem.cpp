#include "platform/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>

#include "platform/ErrorCodes.h"

namespace platform {
namespace {

// Closes a descriptor on every path out of a function.
class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    int release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

std::uint32_t LastError(bool missingIsPath = false) { return WinErrorFromErrno(errno, missingIsPath); }

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = ENOSPC;
            }
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Copies the rest of in to out; the kernel moves the bytes where it can.
bool CopyContent(int in, int out, off_t size) {
    off_t left = size;
    while (left > 0) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, static_cast<size_t>(left), 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL)) {
            break;  // not across these file systems: copy through a buffer below
        }
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            return true;  // the source shrank meanwhile
        }
        left -= n;
    }
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            return true;
        }
        if (!WriteAll(out, buffer, static_cast<size_t>(n))) {
            return false;
        }
    }
}

}  // namespace

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

std::uint32_t CreateDirectoryTree(const std::string& path) {
    if (path.empty() || path[0] != '/') {
        return kErrorPathNotFound;
    }
    for (size_t next = path.find('/', 1);; next = path.find('/', next + 1)) {
        const std::string level = path.substr(0, next);
        if (::mkdir(level.c_str(), 0700) != 0 && errno != EEXIST) {
            return LastError(/*missingIsPath=*/true);
        }
        if (next == std::string::npos) {
            break;
        }
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return LastError(true);
    }
    return S_ISDIR(st.st_mode) ? kErrorSuccess : kErrorAlreadyExists;
}

std::uint32_t CopyFile(const std::string& from, const std::string& to) {
    Fd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) {
        return LastError();
    }
    struct stat source {};
    if (::fstat(in.get(), &source) != 0) {
        return LastError();
    }
    if (S_ISDIR(source.st_mode)) {
        return kErrorAccessDenied;
    }
    // Opening the target with O_TRUNC would empty the source when both are the same file.
    if (struct stat target {}; ::stat(to.c_str(), &target) == 0 && target.st_dev == source.st_dev &&
                               target.st_ino == source.st_ino) {
        return kErrorSharingViolation;
    }
    // A running executable refuses this open (ETXTBSY), which is the sharing violation Windows
    // reports when the launcher copies itself onto itself.
    Fd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, source.st_mode & 07777));
    if (out.get() < 0) {
        return LastError(true);
    }
    // The copy keeps the source's modification time, as CopyFileW does: it tells which build a
    // copy came from.
    const timespec times[2] = {{0, UTIME_OMIT}, source.st_mtim};
    if (!CopyContent(in.get(), out.get(), source.st_size) || ::fchmod(out.get(), source.st_mode & 07777) != 0 ||
        ::futimens(out.get(), times) != 0) {
        const std::uint32_t error = LastError();
        ::unlink(to.c_str());  // no half copy stays behind under the target's name
        return error;
    }
    if (::close(out.release()) != 0) {
        const std::uint32_t error = LastError();
        ::unlink(to.c_str());
        return error;
    }
    return kErrorSuccess;
}

std::uint32_t DeleteFile(const std::string& path) {
    if (path.empty()) {
        return kErrorPathNotFound;
    }
    if (::unlink(path.c_str()) == 0) {
        return kErrorSuccess;
    }
    return LastError();
}

bool IsSymbolicLink(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::optional<std::vector<FolderEntry>> ListFolder(const std::string& path) {
    if (path.empty()) {
        return std::nullopt;
    }
    // O_NOFOLLOW: a link put where a folder was is not listed, so nothing beyond it is reached.
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return std::nullopt;
    }
    std::vector<FolderEntry> entries;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        bool isFolder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {  // some file systems leave the type to a stat
            struct stat st {};
            isFolder = ::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
        }
        entries.push_back({std::string(name), isFolder});
    }
    ::closedir(dir);
    return entries;
}

std::uint32_t RemoveDirectory(const std::string& path) {
    if (path.empty()) {
        return kErrorPathNotFound;
    }
    if (::rmdir(path.c_str()) == 0) {
        return kErrorSuccess;
    }
    return LastError(/*missingIsPath=*/true);
}

std::uint32_t TouchFolder(const std::string& path) {
    if (path.empty()) {
        return kErrorPathNotFound;
    }
    return ::utimensat(AT_FDCWD, path.c_str(), nullptr, 0) == 0 ? kErrorSuccess : LastError(true);
}

std::optional<std::int64_t> FileModifiedTime(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
}

std::optional<std::int64_t> FileSize(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(st.st_size);
}

std::uint32_t ReplaceFileContent(const std::string& path, const std::string& content, unsigned mode) {
    const auto slash = path.rfind('/');
    if (path.empty() || slash == std::string::npos || slash + 1 == path.size()) {
        return kErrorPathNotFound;
    }
    std::string temp = path + ".XXXXXX";
    Fd fd(::mkstemp(temp.data()));
    if (fd.get() < 0) {
        return LastError(true);
    }
    if (!WriteAll(fd.get(), content.data(), content.size()) || ::fchmod(fd.get(), mode) != 0 ||
        ::fsync(fd.get()) != 0 || ::close(fd.release()) != 0 || ::rename(temp.c_str(), path.c_str()) != 0) {
        const std::uint32_t error = LastError(true);
        ::unlink(temp.c_str());
        return error;
    }
    return kErrorSuccess;
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool SameFileSystem(const std::string& a, const std::string& b) {
    struct stat first {};
    struct stat second {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev;
}

std::optional<DiskSpace> FreeDiskSpace(const std::string& path) {
    struct statvfs fs {};
    if (path.empty() || ::statvfs(path.c_str(), &fs) != 0) {
        LastError();
        return std::nullopt;
    }
    return DiskSpace{static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize, fs.f_frsize};
}

std::uint32_t MoveFile(const std::string& from, const std::string& to) {
    if (from.empty() || to.empty()) {
        return kErrorPathNotFound;
    }
    if (::rename(from.c_str(), to.c_str()) == 0) {
        return kErrorSuccess;
    }
    return LastError(/*missingIsPath=*/true);
}

bool IsWritableFolder(const std::string& path) {
    if (::faccessat(AT_FDCWD, path.c_str(), W_OK | X_OK, AT_EACCESS) == 0) {
        return true;
    }
    LastError();  // the cause stays for LastErrorText
    return false;
}

}  // namespace platform
