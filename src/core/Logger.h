#pragma once
// The diagnostic log: one plain text file named after the application, beside the started
// executable (or in the user's state folder when that folder cannot be written). Support staff
// read it to see what the last run did; the run before that is kept as "<name>.log.1".

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/File.h"

class Logger {
public:
    using LocalTimeSource = std::tm (*)();

    // A page or a server can make the launcher log without end: every line, and every run's
    // file, stops at these sizes.
    static constexpr std::size_t kMaxLineBytes = 4096;
    static constexpr std::uint64_t kMaxRunBytes = 32ull << 20;

    // The process-wide log, opened on first use: "<exe folder>/<application name>.log", or
    // "<state home>/valdrune/<application name>.log" (said on stderr) when the executable's
    // folder is not writable.
    static Logger& GetInstance();

    // Sends every later GetInstance() to replacement (not owned) until it is called again with
    // nullptr. Lets a test read the exact lines a module writes from a file of its own.
    static void Redirect(Logger* replacement);

    // Opens path for this run; the previous run's lines move to path + ".1". When another
    // running launcher holds the file, or it cannot be opened, this logger drops every line and
    // both files stay as they are.
    explicit Logger(const std::string& path, LocalTimeSource clock = &SystemLocalTime);
    ~Logger();
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    // Appends "[time][level][function::line] message\n" in one write, each line feed as the
    // system's line end (CR LF on Windows, as text mode writes it). Safe from any thread.
    void Write(std::string_view message, std::string_view function, int line, std::string_view level);

    // Closes the file; later writes are dropped.
    void Close();
    bool IsOpen() const;

    // "Mon Dec 08 09:05:03 2025": English names whatever the locale, day always two digits.
    static std::string FormatTime(const std::tm& time);
    // The bytes of one line as they reach the file, line ends included, at most kMaxLineBytes: a
    // longer message is cut on a UTF-8 character boundary and marked.
    static std::string FormatLine(const std::tm& time, std::string_view level, std::string_view function,
                                  int line, std::string_view message);
    static std::tm SystemLocalTime();

private:
    enum class Opening { Opened, InUse, NotWritable, Failed };
    explicit Logger(LocalTimeSource clock) : m_clock(clock) {}
    Opening Open(const std::string& path);

    mutable std::mutex m_mutex;  // guards the members below: a line is never split, Close never races a write
    platform::File m_file;
    std::uint64_t m_written = 0;  // bytes of this run
    bool m_full = false;          // the run's share is used up; the notice is written
    LocalTimeSource m_clock;
};

#define LOG_INFO(function, message) ::Logger::GetInstance().Write((message), (function), __LINE__, "INFO")
#define LOG_ERROR(function, message) ::Logger::GetInstance().Write((message), (function), __LINE__, "ERROR")
