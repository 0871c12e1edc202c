#pragma once
// The Linux counterpart of MiniDumpWriteDump: writes a normal minidump of this process from
// inside a crash signal handler: no allocation, no stdio, no locks. Everything it needs beyond the crash itself is prepared at installation, and
// its working memory is static (so one dump is written at a time; the crash signal plumbing
// makes sure of that).
//
// Contents: system information, the process id (misc information), the thread list (the crashing
// thread first with its full register context, then every other thread with the stack and
// instruction pointers it stopped at, each with its stack memory from just below the stack
// pointer up to the end of its stack, at most 512 KiB), the exception (the signal number as the
// code, si_code as the flags, the faulting address), the module list (every file mapped with
// execute permission in /proc/self/maps, plus the vDSO) and the empty user stream 0x10001.

#include <cstddef>
#include <cstdint>

#include "platform/CrashSignals.h"
#include "platform/posix/CrashContext.h"

namespace minidump {

// Gathers what does not change while the process runs (system information). Not signal-safe:
// call at installation.
void PrepareWriter();

// Writes the dump of crash into fd, a new empty file open for writing; timeStamp (seconds since
// 1970) goes into the header. False when the file could not be written completely.
bool WriteDump(int fd, const platform::CrashEvent& crash, std::int64_t timeStamp);

// ---- the pieces, for tests ---------------------------------------------------------------------

// One line of /proc/self/maps: "start-end perms offset dev inode [path]".
struct MapsEntry {
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    std::uint64_t offset = 0;
    bool readable = false;
    bool executable = false;
    const char* path = "";  // points into the line; may hold blanks, " (deleted)" or "[vdso]"
    std::size_t pathLength = 0;
};
bool ParseMapsLine(const char* line, std::size_t length, MapsEntry& entry);

// Gathers consecutive maps lines of one file into a module: from the start of its first mapping
// to the end of its last, kept when one of them is executable. Only files ("/...") and the vDSO
// count; anonymous memory, [heap], [stack] and data files mapped without execute permission do not.
class ModuleCollector {
public:
    static constexpr std::size_t kMaxPath = 4096;
    struct Module {
        std::uint64_t base = 0;
        std::uint64_t size = 0;
        const char* path = "";  // valid until the next call
        std::size_t pathLength = 0;
    };

    // Feeds the next line; true when it closed a module, which is then in finished.
    bool Add(const MapsEntry& entry, Module& finished);
    // Closes the last group; true when it was a module.
    bool Finish(Module& finished);
    void Reset() { m_open = false; }

private:
    bool Close(Module& finished);

    char m_path[kMaxPath] = {};
    char m_finishedPath[kMaxPath] = {};
    std::size_t m_pathLength = 0;
    bool m_open = false;
    bool m_executable = false;
    std::uint64_t m_base = 0;
    std::uint64_t m_end = 0;
};

// Splits what an fd delivers into lines with a caller's buffer; a line longer than the buffer is
// cut to its size and the rest of it skipped.
class LineReader {
public:
    LineReader(int fd, char* buffer, std::size_t size) : m_fd(fd), m_buffer(buffer), m_size(size) {}
    bool Next(const char*& line, std::size_t& length);

private:
    int m_fd;
    char* m_buffer;
    std::size_t m_size;
    std::size_t m_begin = 0;
    std::size_t m_end = 0;
    bool m_atEnd = false;
    bool m_skipping = false;
};

// UTF-8 to UTF-16 code units; each invalid byte becomes U+FFFD. Stops before a character that
// does not fit in capacity. The number of units written.
std::size_t Utf8ToUtf16(const char* text, std::size_t length, std::uint16_t* out, std::size_t capacity);

}  // namespace minidump
