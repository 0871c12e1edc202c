#include "core/Logger.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>

#include <fmt/printf.h>

#include "core/DataPaths.h"
#include "platform/Env.h"
#include "platform/Executable.h"
#include "platform/FileSystem.h"

namespace {

constexpr const char* kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool IsPermissionError(int error) { return error == EACCES || error == EPERM || error == EROFS; }

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// The previous run's file (held and locked as previous) moves to "<path>.1" and a fresh, locked
// file takes its name in one rename, so that a second launcher finds a locked file at the name
// at every moment and never moves or empties anything.
int KeepPreviousRun(const std::string& path, int previous, int& error) {
    const std::string fresh = path + ".new";
    const int fd = ::open(fresh.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    ::flock(fd, LOCK_EX | LOCK_NB);  // nobody else knows this file yet
    const std::string kept = path + ".1";
    ::unlink(kept.c_str());
    const bool keptOk = ::link(path.c_str(), kept.c_str()) == 0 || ::rename(path.c_str(), kept.c_str()) == 0;
    if (!keptOk || ::rename(fresh.c_str(), path.c_str()) != 0) {
        error = errno;
        ::unlink(fresh.c_str());
        ::close(fd);
        return -1;
    }
    ::close(previous);
    return fd;
}

void WriteAll(int fd, const std::string& text) {
    const char* data = text.data();
    size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, left);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;  // a failing log write is ignored, as the caller cannot act on it
        }
        data += n;
        left -= static_cast<size_t>(n);
    }
}

}  // namespace

namespace {
std::atomic<Logger*> g_redirect{nullptr};
}  // namespace

void Logger::Redirect(Logger* replacement) { g_redirect.store(replacement); }

Logger& Logger::GetInstance() {
    if (Logger* redirected = g_redirect.load()) {
        return *redirected;
    }
    // Never destroyed: the update worker may still be logging while the process exits, and
    // lines are written straight through, so there is nothing to flush at exit.
    static Logger* instance = [] {
        auto* log = new Logger(&SystemLocalTime);
        const std::string exe = platform::ExecutablePath();
        if (exe.empty()) {
            return log;
        }
        const std::string name = platform::BaseNameWithoutExtension(exe);
        if (log->Open(DataPaths::LogFile(platform::FolderOf(exe), name)) != Opening::NotWritable) {
            return log;
        }
        // Installed system-wide the program's folder is read-only; the player's state folder
        // takes the log then, and stderr tells support where to look.
        if (const auto state = platform::StateHome()) {
            const std::string folder = DataPaths::LogStateFolder(*state);
            const std::string path = DataPaths::LogFile(folder, name);
            if (platform::CreateDirectoryTree(folder) == 0 && log->Open(path) == Opening::Opened) {
                std::fprintf(stderr, "%s: the log is %s\n", name.c_str(), path.c_str());
            }
        }
        return log;
    }();
    return *instance;
}

Logger::Logger(const std::string& path, LocalTimeSource clock) : m_clock(clock) { Open(path); }

Logger::~Logger() { Close(); }

Logger::Opening Logger::Open(const std::string& path) {
    std::lock_guard lock(m_mutex);
    if (path.empty()) {
        return Opening::NotWritable;
    }
    // A previous holder may move its file aside between our open and our lock; then the name
    // belongs to a newer file and is looked at again.
    for (int attempt = 0; attempt < 16; ++attempt) {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0) {
            return IsPermissionError(errno) ? Opening::NotWritable : Opening::Failed;
        }
        // A second launcher started beside a running one must not touch the first one's log.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            return Opening::InUse;
        }
        struct stat held {};
        struct stat named {};
        if (::fstat(fd, &held) != 0 || ::stat(path.c_str(), &named) != 0 || !SameFile(held, named)) {
            ::close(fd);
            continue;
        }
        if (held.st_size == 0) {
            m_fd = fd;
            return Opening::Opened;
        }
        int error = 0;
        m_fd = KeepPreviousRun(path, fd, error);
        if (m_fd < 0) {
            ::close(fd);
            return IsPermissionError(error) ? Opening::NotWritable : Opening::Failed;
        }
        return Opening::Opened;
    }
    return Opening::Failed;
}

void Logger::Write(std::string_view message, std::string_view function, int line, std::string_view level) {
    std::string text = FormatLine(m_clock(), level, function, line, message);
    std::lock_guard lock(m_mutex);
    if (m_fd < 0 || m_full) {
        return;
    }
    // The notice that ends the run's share fits in what the share keeps back for it.
    constexpr std::uint64_t kNoticeRoom = 256;
    if (m_written + text.size() > kMaxRunBytes - kNoticeRoom) {
        m_full = true;
        text = FormatLine(m_clock(), "ERROR", "Logger::Write", __LINE__,
                          fmt::sprintf("the log is full (%d bytes in this run); later lines are dropped",
                                       m_written));
    }
    // Written straight through, one write per line, so a crash loses nothing already logged.
    WriteAll(m_fd, text);
    m_written += text.size();
}

void Logger::Close() {
    std::lock_guard lock(m_mutex);
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

bool Logger::IsOpen() const {
    std::lock_guard lock(m_mutex);
    return m_fd >= 0;
}

std::string Logger::FormatTime(const std::tm& time) {
    const int weekday = time.tm_wday >= 0 && time.tm_wday < 7 ? time.tm_wday : 0;
    const int month = time.tm_mon >= 0 && time.tm_mon < 12 ? time.tm_mon : 0;
    return fmt::sprintf("%s %s %02d %02d:%02d:%02d %d", kWeekdays[weekday], kMonths[month], time.tm_mday,
                        time.tm_hour, time.tm_min, time.tm_sec, time.tm_year + 1900);
}

std::string Logger::FormatLine(const std::tm& time, std::string_view level, std::string_view function, int line,
                               std::string_view message) {
    constexpr std::string_view kLineEnd = "\n";
    std::string text = fmt::sprintf("[%s][%s][%s::%d] ", FormatTime(time), level, function, line);
    const std::size_t room = kMaxLineBytes - std::min(kMaxLineBytes, text.size() + kLineEnd.size());
    if (message.size() <= room) {
        text += message;
    } else {
        const std::string marker = fmt::sprintf("...[cut, %d bytes]", message.size());
        std::size_t keep = room - std::min(room, marker.size());
        // Never half a character: back off over at most three continuation bytes.
        for (int i = 0; i < 3 && keep > 0 && (static_cast<unsigned char>(message[keep]) & 0xC0) == 0x80; ++i) {
            --keep;
        }
        text.append(message.substr(0, keep)).append(marker);
    }
    return text.append(kLineEnd);
}

std::tm Logger::SystemLocalTime() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    return local;
}
