#include "core/Logger.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

#include <fmt/printf.h>

#include "core/DataPaths.h"
#include "platform/Clock.h"
#include "platform/Env.h"
#include "platform/ErrorCodes.h"
#include "platform/Executable.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"

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
    // A second launcher started beside a running one must not touch the first one's log; the
    // previous run's lines are kept as "<path>.1".
    m_file = platform::File(path, platform::File::Mode::Exclusive);
    if (m_file.IsOpen()) {
        return Opening::Opened;
    }
    switch (m_file.Error()) {
        case platform::kErrorSharingViolation: return Opening::InUse;
        case platform::kErrorAccessDenied:
        case platform::kErrorWriteProtect: return Opening::NotWritable;
        default: return Opening::Failed;
    }
}

void Logger::Write(std::string_view message, std::string_view function, int line, std::string_view level) {
    std::string text = FormatLine(m_clock(), level, function, line, message);
    std::lock_guard lock(m_mutex);
    if (!m_file.IsOpen() || m_full) {
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
    // Written straight through, one write per line, so a crash loses nothing already logged. A
    // failing write is ignored, as the caller cannot act on it.
    m_file.Write(text.data(), text.size());
    m_written += text.size();
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

namespace {

// The bytes of message's first count bytes in the file: every line feed as the line end.
std::size_t WrittenSize(std::string_view message, std::size_t count) {
    const std::size_t feeds = static_cast<std::size_t>(std::count(message.begin(), message.begin() + count, '\n'));
    return count + feeds * (platform::kTextLineEnd.size() - 1);
}

// How many bytes of message fit into budget bytes of the file, never half a character.
std::size_t FittingPrefix(std::string_view message, std::size_t budget) {
    std::size_t keep = 0;
    for (std::size_t used = 0; keep < message.size(); ++keep) {
        used += message[keep] == '\n' ? platform::kTextLineEnd.size() : 1;
        if (used > budget) {
            break;
        }
    }
    // Back off over at most three continuation bytes.
    for (int i = 0; i < 3 && keep > 0 && keep < message.size() &&
                    (static_cast<unsigned char>(message[keep]) & 0xC0) == 0x80;
         ++i) {
        --keep;
    }
    return keep;
}

void AppendAsWritten(std::string& text, std::string_view message) {
    for (const char c : message) {
        if (c == '\n') {
            text += platform::kTextLineEnd;
        } else {
            text += c;
        }
    }
}

}  // namespace

std::string Logger::FormatLine(const std::tm& time, std::string_view level, std::string_view function, int line,
                               std::string_view message) {
    // As the runtime's text mode writes a line: every line feed, the message's own included,
    // reaches the file as the system's line end (CR LF on Windows).
    const std::string_view lineEnd = platform::kTextLineEnd;
    std::string text = fmt::sprintf("[%s][%s][%s::%d] ", FormatTime(time), level, function, line);
    const std::size_t room = kMaxLineBytes - std::min(kMaxLineBytes, text.size() + lineEnd.size());
    if (WrittenSize(message, message.size()) <= room) {
        AppendAsWritten(text, message);
    } else {
        const std::string marker = fmt::sprintf("...[cut, %d bytes]", message.size());
        AppendAsWritten(text, message.substr(0, FittingPrefix(message, room - std::min(room, marker.size()))));
        text += marker;
    }
    return text.append(lineEnd);
}

std::tm Logger::SystemLocalTime() {
    return platform::LocalTime(std::time(nullptr));
}
