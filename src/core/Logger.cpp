#include "core/Logger.h"

#include <atomic>

#include <fmt/printf.h>

#include "core/DataPaths.h"
#include "platform/Clock.h"
#include "platform/Executable.h"

namespace {

constexpr const char* kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

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

// A second launcher started beside a running one must not empty the first one's log.
Logger::Logger(const std::string& path, LocalTimeSource clock)
    : m_file(path, platform::File::Mode::Exclusive), m_clock(clock) {}

Logger::~Logger() { Close(); }

void Logger::Write(std::string_view message, std::string_view function, int line, std::string_view level) {
    std::lock_guard lock(m_mutex);
    if (!m_file.IsOpen()) {
        return;
    }
    // Written straight through, one write per line, so a crash loses nothing already logged. A
    // failing write is ignored, as the caller cannot act on it.
    const std::string text = FormatLine(m_clock(), level, function, line, message);
    m_file.Write(text.data(), text.size());
}

void Logger::Close() {
    std::lock_guard lock(m_mutex);
    m_file.Close();
}

bool Logger::IsOpen() const {
    std::lock_guard lock(m_mutex);
    return m_file.IsOpen();
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
    return platform::LocalTime(std::time(nullptr));
}
