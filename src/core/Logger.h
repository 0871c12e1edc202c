#pragma once
// The diagnostic log: one plain text file beside the started executable, named after the
// application, emptied at every start. Support staff read it to see what the last run did.

#include <ctime>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/File.h"

class Logger {
public:
    using LocalTimeSource = std::tm (*)();

    // The process-wide log "<exe folder>/<application name>.log", opened on first use.
    static Logger& GetInstance();

    // Sends every later GetInstance() to replacement (not owned) until it is called again with
    // nullptr. Lets a test read the exact lines a module writes from a file of its own.
    static void Redirect(Logger* replacement);

    // Opens path for writing and empties it. When another running launcher holds the same file,
    // or it cannot be opened, this logger drops every line and the other run's log stays intact.
    explicit Logger(const std::string& path, LocalTimeSource clock = &SystemLocalTime);
    ~Logger();
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    // Appends "[time][level][function::line] message\n" in one write. Safe from any thread.
    void Write(std::string_view message, std::string_view function, int line, std::string_view level);

    // Closes the file; later writes are dropped.
    void Close();
    bool IsOpen() const;

    // "Mon Dec 08 09:05:03 2025": English names whatever the locale, day always two digits.
    static std::string FormatTime(const std::tm& time);
    static std::string FormatLine(const std::tm& time, std::string_view level, std::string_view function,
                                  int line, std::string_view message);
    static std::tm SystemLocalTime();

private:
    mutable std::mutex m_mutex;  // guards m_file: a line is never split and Close never races a write
    platform::File m_file;
    LocalTimeSource m_clock;
};

#define LOG_INFO(function, message) ::Logger::GetInstance().Write((message), (function), __LINE__, "INFO")
#define LOG_ERROR(function, message) ::Logger::GetInstance().Write((message), (function), __LINE__, "ERROR")
