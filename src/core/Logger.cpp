#include "core/Logger.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include <fmt/printf.h>

#include "core/DataPaths.h"
#include "platform/Executable.h"

namespace {

constexpr const char* kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

int OpenExclusively(const std::string& path) {
    if (path.empty()) {
        return -1;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return -1;
    }
    // A second launcher started beside a running one must not empty the first one's log.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return -1;
    }
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
    static Logger* instance = new Logger([] {
        const std::string exe = platform::ExecutablePath();
        return exe.empty() ? std::string()
                           : DataPaths::LogFile(platform::FolderOf(exe), platform::BaseNameWithoutExtension(exe));
    }());
    return *instance;
}

Logger::Logger(const std::string& path, LocalTimeSource clock) : m_fd(OpenExclusively(path)), m_clock(clock) {}

Logger::~Logger() { Close(); }

void Logger::Write(std::string_view message, std::string_view function, int line, std::string_view level) {
    std::lock_guard lock(m_mutex);
    if (m_fd < 0) {
        return;
    }
    // Written straight through, one write per line, so a crash loses nothing already logged.
    WriteAll(m_fd, FormatLine(m_clock(), level, function, line, message));
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
    return fmt::sprintf("[%s][%s][%s::%d] %s\n", FormatTime(time), level, function, line, message);
}

std::tm Logger::SystemLocalTime() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    return local;
}
