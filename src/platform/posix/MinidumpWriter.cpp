#include "platform/posix/MinidumpWriter.h"

#include <cstring>
#include <iterator>

#include "platform/posix/Minidump.h"

namespace minidump {
namespace {

namespace safe = platform::signal_safe;

constexpr std::size_t kMaxThreads = 512;
constexpr std::size_t kMaxModules = 2048;
constexpr std::uint64_t kMaxStackBytes = 512 * 1024;
constexpr std::uint64_t kRedZone = 128;  // leaf functions may use this much below the stack pointer

constexpr std::size_t kStreamCount = 6;

// ---- working memory, static so that a handler needs no allocation -----------------------------

struct ThreadRecord {
    safe::ThreadState state;
    std::uint64_t stackStart = 0;
    std::uint64_t stackEnd = 0;
    std::uint64_t guardEnd = 0;  // the stack pointer lies in an unreadable mapping ending here
    LocationDescriptor context;
    LocationDescriptor stackMemory;
};

struct ModuleRecord {
    std::uint64_t base;
    std::uint32_t size;
    std::uint32_t nameRva;
};

ThreadRecord g_threads[kMaxThreads];
safe::ThreadState g_otherThreads[kMaxThreads];
ModuleRecord g_modules[kMaxModules];
ModuleCollector g_collector;
ContextAmd64 g_context;
const ContextAmd64 kEmptyContext{};
char g_mapsBuffer[16 * 1024];
std::uint16_t g_text[ModuleCollector::kMaxPath + 1];
unsigned char g_writeBuffer[64 * 1024];
const unsigned char g_zeros[4096] = {};  // one page of the smallest size

// Prepared at installation.
SystemInfo g_systemInfo;
std::uint16_t g_osDescription[256];
std::uint32_t g_osDescriptionUnits = 0;

// ---- the file: appended through a buffer, RVAs handed out as records are placed ---------------

class DumpFile {
public:
    explicit DumpFile(int fd) : m_fd(fd) {}

    std::uint32_t Offset() const { return static_cast<std::uint32_t>(m_offset); }
    bool ok() const { return m_ok; }

    std::uint32_t Append(const void* data, std::size_t size) {
        const std::uint32_t rva = Offset();
        const auto* bytes = static_cast<const unsigned char*>(data);
        while (size > 0) {
            if (m_used == sizeof(g_writeBuffer)) {
                Flush();
            }
            const std::size_t room = sizeof(g_writeBuffer) - m_used;
            const std::size_t chunk = size < room ? size : room;
            std::memcpy(g_writeBuffer + m_used, bytes, chunk);
            m_used += chunk;
            m_offset += chunk;
            bytes += chunk;
            size -= chunk;
        }
        return rva;
    }

    void Align(std::size_t to) {
        const std::size_t pad = (to - m_offset % to) % to;
        Append(g_zeros, pad);
    }

    // Process memory straight from where it lies; pages that cannot be read are written as zeros.
    std::uint32_t AppendMemory(std::uint64_t address, std::size_t size) {
        Flush();
        const std::uint32_t rva = Offset();
        std::size_t done = 0;
        while (done < size && m_ok) {
            done += safe::WriteFromMemory(m_fd, reinterpret_cast<const void*>(address + done), size - done);
            if (done < size) {
                const std::uint64_t pageRest = sizeof(g_zeros) - (address + done) % sizeof(g_zeros);
                const std::size_t zeros = size - done < pageRest ? size - done : static_cast<std::size_t>(pageRest);
                if (safe::WriteFromMemory(m_fd, g_zeros, zeros) != zeros) {
                    m_ok = false;
                }
                done += zeros;
            }
        }
        m_offset += size;
        return rva;
    }

    void Flush() {
        if (m_used > 0 && safe::WriteFromMemory(m_fd, g_writeBuffer, m_used) != m_used) {
            m_ok = false;
        }
        m_used = 0;
    }

    void Patch(std::uint32_t rva, const void* data, std::size_t size) {
        if (!safe::WriteAt(m_fd, rva, data, size)) {
            m_ok = false;
        }
    }

private:
    int m_fd;
    std::uint64_t m_offset = 0;
    std::size_t m_used = 0;
    bool m_ok = true;
};

// A MINIDUMP_STRING: its length in bytes, the UTF-16 text, a terminating zero unit.
std::uint32_t AppendString(DumpFile& file, const std::uint16_t* units, std::size_t count) {
    file.Align(4);
    const auto bytes = static_cast<std::uint32_t>(count * 2);
    const std::uint32_t rva = file.Append(&bytes, sizeof(bytes));
    file.Append(units, count * 2);
    const std::uint16_t terminator = 0;
    file.Append(&terminator, sizeof(terminator));
    return rva;
}

LocationDescriptor AppendContext(DumpFile& file, const ThreadRecord& thread, const platform::CpuContext* full) {
    g_context = kEmptyContext;
    if (full != nullptr) {
        g_context.contextFlags = kContextControl | kContextInteger | kContextSegments;
        std::memcpy(g_context.integer, full->integer, sizeof(g_context.integer));
        g_context.rip = full->rip;
        g_context.eFlags = full->eflags;
        g_context.segCs = full->cs;
        g_context.segFs = full->fs;
        g_context.segGs = full->gs;
        g_context.segSs = full->ss;
        if (full->hasFloatingPoint) {
            g_context.contextFlags |= kContextFloatingPoint;
            g_context.mxCsr = full->mxcsr;
            std::memcpy(g_context.fltSave, full->fxsave, sizeof(g_context.fltSave));
        }
    } else if (thread.state.registersKnown) {
        // Only where the thread stopped is known: enough to walk its stack.
        g_context.contextFlags = kContextControl;
        g_context.integer[4] = thread.state.stackPointer;
        g_context.rip = thread.state.instructionPointer;
    } else {
        g_context.contextFlags = kContextAmd64;
    }
    file.Align(16);
    return {static_cast<std::uint32_t>(sizeof(g_context)), file.Append(&g_context, sizeof(g_context))};
}

// Called for each maps line in order. The stack is the mapping that holds the stack pointer, from
// just below the pointer up. A pointer that ran into the unreadable guard below a stack (an
// overflow) takes the mapping right above the guard; the guard's part is dumped as zeros.
void FindStack(ThreadRecord& thread, const MapsEntry& entry) {
    const std::uint64_t sp = thread.state.stackPointer;
    if (!thread.state.registersKnown || thread.stackEnd != 0) {
        return;
    }
    if (thread.guardEnd != 0) {
        if (entry.start == thread.guardEnd && entry.readable) {
            thread.stackEnd = entry.end - sp > kMaxStackBytes ? sp + kMaxStackBytes : entry.end;
        } else {
            thread.stackStart = 0;
        }
        thread.guardEnd = 0;
        return;
    }
    if (sp < entry.start || sp >= entry.end) {
        return;
    }
    thread.stackStart = sp - entry.start > kRedZone ? sp - kRedZone : entry.start;
    if (entry.readable) {
        thread.stackEnd = entry.end - sp > kMaxStackBytes ? sp + kMaxStackBytes : entry.end;
    } else {
        thread.guardEnd = entry.end;
    }
}

bool IsModulePath(const char* path, std::size_t length) {
    return (length > 0 && path[0] == '/') || (length == 6 && std::memcmp(path, "[vdso]", 6) == 0);
}

}  // namespace

// ---- pieces ------------------------------------------------------------------------------------

bool ParseMapsLine(const char* line, std::size_t length, MapsEntry& entry) {
    const char* p = line;
    const char* const end = line + length;
    auto hex = [&](std::uint64_t& value, char stop) {
        const char* const start = p;
        value = 0;
        for (; p < end && *p != stop; ++p) {
            const char c = *p;
            const int digit = c >= '0' && c <= '9' ? c - '0' : (c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1);
            if (digit < 0) {
                return false;
            }
            value = value << 4 | static_cast<std::uint64_t>(digit);
        }
        if (p == start || p == end) {
            return false;
        }
        ++p;  // the stop character
        return true;
    };
    auto skipField = [&] {
        const char* const start = p;
        while (p < end && *p != ' ') {
            ++p;
        }
        return p > start;
    };
    auto skipBlanks = [&] {
        while (p < end && *p == ' ') {
            ++p;
        }
    };

    if (!hex(entry.start, '-') || !hex(entry.end, ' ') || end - p < 5 || p[4] != ' ') {
        return false;
    }
    entry.readable = p[0] == 'r';
    entry.executable = p[2] == 'x';
    p += 5;
    if (!hex(entry.offset, ' ') || !skipField()) {  // offset, then the device
        return false;
    }
    skipBlanks();
    if (!skipField()) {  // the inode
        return false;
    }
    skipBlanks();
    std::size_t pathLength = static_cast<std::size_t>(end - p);
    while (pathLength > 0 && p[pathLength - 1] == '\n') {
        --pathLength;
    }
    entry.path = p;
    entry.pathLength = pathLength;
    return entry.end > entry.start;
}

bool ModuleCollector::Add(const MapsEntry& entry, Module& finished) {
    if (m_open && entry.pathLength == m_pathLength && std::memcmp(entry.path, m_path, m_pathLength) == 0) {
        m_end = entry.end;
        m_executable = m_executable || entry.executable;
        return false;
    }
    const bool closed = Close(finished);
    if (IsModulePath(entry.path, entry.pathLength)) {
        m_pathLength = entry.pathLength < kMaxPath ? entry.pathLength : kMaxPath;
        std::memcpy(m_path, entry.path, m_pathLength);
        m_open = true;
        m_base = entry.start;
        m_end = entry.end;
        m_executable = entry.executable;
    }
    return closed;
}

bool ModuleCollector::Finish(Module& finished) { return Close(finished); }

bool ModuleCollector::Close(Module& finished) {
    if (!m_open) {
        return false;
    }
    m_open = false;
    if (!m_executable) {
        return false;
    }
    std::memcpy(m_finishedPath, m_path, m_pathLength);
    finished.base = m_base;
    finished.size = m_end - m_base;
    finished.path = m_finishedPath;
    finished.pathLength = m_pathLength;
    return true;
}

bool LineReader::Next(const char*& line, std::size_t& length) {
    for (;;) {
        const void* found = std::memchr(m_buffer + m_begin, '\n', m_end - m_begin);
        if (found != nullptr) {
            const auto newline = static_cast<std::size_t>(static_cast<const char*>(found) - m_buffer);
            const bool skipped = m_skipping;
            line = m_buffer + m_begin;
            length = newline - m_begin;
            m_begin = newline + 1;
            m_skipping = false;
            if (!skipped) {
                return true;
            }
            continue;  // the tail of a line already delivered cut
        }
        if (m_begin > 0) {
            std::memmove(m_buffer, m_buffer + m_begin, m_end - m_begin);
            m_end -= m_begin;
            m_begin = 0;
        }
        if (m_end == m_size) {  // a line longer than the buffer: deliver what fits, skip the rest
            const bool skipped = m_skipping;
            line = m_buffer;
            length = m_size;
            m_begin = m_end = 0;
            m_skipping = true;
            if (!skipped) {
                return true;
            }
            continue;
        }
        if (m_atEnd) {
            if (m_end == 0 || m_skipping) {
                return false;
            }
            line = m_buffer;
            length = m_end;
            m_begin = m_end = 0;
            return true;
        }
        const long n = safe::Read(m_fd, m_buffer + m_end, m_size - m_end);
        if (n <= 0) {
            m_atEnd = true;
        } else {
            m_end += static_cast<std::size_t>(n);
        }
    }
}

std::size_t Utf8ToUtf16(const char* text, std::size_t length, std::uint16_t* out, std::size_t capacity) {
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    std::size_t i = 0;
    std::size_t n = 0;
    while (i < length) {
        std::uint32_t code = 0xFFFD;
        std::size_t used = 1;
        const unsigned char lead = s[i];
        auto continuation = [&](std::size_t k) { return i + k < length && (s[i + k] & 0xC0) == 0x80; };
        if (lead < 0x80) {
            code = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF && continuation(1)) {
            code = (lead & 0x1Fu) << 6 | (s[i + 1] & 0x3Fu);
            used = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF && continuation(1) && continuation(2)) {
            const std::uint32_t c = (lead & 0x0Fu) << 12 | (s[i + 1] & 0x3Fu) << 6 | (s[i + 2] & 0x3Fu);
            if (c >= 0x800 && (c < 0xD800 || c > 0xDFFF)) {  // neither overlong nor a surrogate
                code = c;
                used = 3;
            }
        } else if (lead >= 0xF0 && lead <= 0xF4 && continuation(1) && continuation(2) && continuation(3)) {
            const std::uint32_t c =
                (lead & 0x07u) << 18 | (s[i + 1] & 0x3Fu) << 12 | (s[i + 2] & 0x3Fu) << 6 | (s[i + 3] & 0x3Fu);
            if (c >= 0x10000 && c <= 0x10FFFF) {
                code = c;
                used = 4;
            }
        }
        if (code >= 0x10000) {
            if (capacity - n < 2) {
                break;
            }
            code -= 0x10000;
            out[n++] = static_cast<std::uint16_t>(0xD800 + (code >> 10));
            out[n++] = static_cast<std::uint16_t>(0xDC00 + (code & 0x3FF));
        } else {
            if (capacity - n < 1) {
                break;
            }
            out[n++] = static_cast<std::uint16_t>(code);
        }
        i += used;
    }
    return n;
}

// ---- the dump ----------------------------------------------------------------------------------

void PrepareWriter() {
    const platform::CrashSystemFacts facts = platform::CollectCrashSystemFacts();
    g_systemInfo = SystemInfo{};
    g_systemInfo.processorArchitecture = kProcessorArchitectureAmd64;
    g_systemInfo.processorLevel = facts.processorLevel;
    g_systemInfo.processorRevision = facts.processorRevision;
    g_systemInfo.numberOfProcessors = facts.processorCount;
    g_systemInfo.majorVersion = facts.osMajor;
    g_systemInfo.minorVersion = facts.osMinor;
    g_systemInfo.buildNumber = facts.osBuild;
    g_systemInfo.platformId = kPlatformIdLinux;
    std::memcpy(g_systemInfo.vendorId, facts.cpuVendor, sizeof(g_systemInfo.vendorId));
    g_systemInfo.versionInformation = facts.cpuVersion;
    g_systemInfo.featureInformation = facts.cpuFeatures;
    g_systemInfo.amdExtendedCpuFeatures = facts.cpuExtendedFeatures;
    g_osDescriptionUnits = static_cast<std::uint32_t>(Utf8ToUtf16(
        facts.osDescription, std::strlen(facts.osDescription), g_osDescription, std::size(g_osDescription)));
}

namespace {

struct StreamDirectory {
    Directory entries[kStreamCount];
    std::size_t count = 0;

    void Add(std::uint32_t type, std::uint32_t rva, std::size_t size) {
        entries[count].streamType = type;
        entries[count].location = {static_cast<std::uint32_t>(size), rva};
        ++count;
    }
};

void WriteSystemInfo(DumpFile& file, StreamDirectory& directory) {
    SystemInfo systemInfo = g_systemInfo;
    systemInfo.csdVersionRva = AppendString(file, g_osDescription, g_osDescriptionUnits);
    file.Align(8);
    directory.Add(kSystemInfoStream, file.Append(&systemInfo, sizeof(systemInfo)), sizeof(systemInfo));

    MiscInfo misc;
    misc.flags1 = kMiscInfoProcessId;
    misc.processId = safe::ProcessId();
    directory.Add(kMiscInfoStream, file.Append(&misc, sizeof(misc)), sizeof(misc));
}

// The crashing thread first, then the others as the kernel lists them. The number of threads.
std::size_t CollectThreads(const platform::CrashEvent& crash) {
    g_threads[0] = ThreadRecord{};
    g_threads[0].state.threadId = crash.threadId;
    if (const auto* context = static_cast<const platform::CpuContext*>(crash.systemState)) {
        g_threads[0].state.registersKnown = true;
        g_threads[0].state.stackPointer = context->StackPointer();
        g_threads[0].state.instructionPointer = context->rip;
    }
    const std::size_t others = safe::OtherThreads(crash.threadId, g_otherThreads, kMaxThreads - 1);
    for (std::size_t i = 0; i < others; ++i) {
        g_threads[i + 1] = ThreadRecord{};
        g_threads[i + 1].state = g_otherThreads[i];
    }
    return others + 1;
}

// One pass over the memory map: the modules (their names written as each closes) and the
// mapping that holds each thread's stack pointer. The map is read live while other threads run,
// so a second pass could not be trusted to agree with the first. The number of modules.
std::size_t ScanMemoryMap(DumpFile& file, std::size_t threadCount) {
    std::size_t moduleCount = 0;
    auto keep = [&](const ModuleCollector::Module& module) {
        if (moduleCount == kMaxModules) {
            return;
        }
        const std::size_t units = Utf8ToUtf16(module.path, module.pathLength, g_text, std::size(g_text));
        g_modules[moduleCount++] = {module.base, static_cast<std::uint32_t>(module.size),
                                    AppendString(file, g_text, units)};
    };
    const int maps = safe::OpenForReading("/proc/self/maps");
    if (maps < 0) {
        return 0;
    }
    g_collector.Reset();
    LineReader lines(maps, g_mapsBuffer, sizeof(g_mapsBuffer));
    const char* line = nullptr;
    std::size_t length = 0;
    ModuleCollector::Module module;
    while (lines.Next(line, length)) {
        MapsEntry entry;
        if (!ParseMapsLine(line, length, entry)) {
            continue;
        }
        for (std::size_t i = 0; i < threadCount; ++i) {
            FindStack(g_threads[i], entry);
        }
        if (g_collector.Add(entry, module)) {
            keep(module);
        }
    }
    if (g_collector.Finish(module)) {
        keep(module);
    }
    safe::Close(maps);
    return moduleCount;
}

void WriteThreadList(DumpFile& file, std::size_t threadCount, const platform::CpuContext* crashContext,
                     StreamDirectory& directory) {
    for (std::size_t i = 0; i < threadCount; ++i) {
        ThreadRecord& thread = g_threads[i];
        thread.context = AppendContext(file, thread, i == 0 ? crashContext : nullptr);
        if (thread.stackEnd > thread.stackStart) {
            const auto size = static_cast<std::size_t>(thread.stackEnd - thread.stackStart);
            thread.stackMemory = {static_cast<std::uint32_t>(size), file.AppendMemory(thread.stackStart, size)};
        }
    }
    file.Align(8);
    const auto count = static_cast<std::uint32_t>(threadCount);
    const std::uint32_t rva = file.Append(&count, sizeof(count));
    for (std::size_t i = 0; i < threadCount; ++i) {
        Thread entry;
        entry.threadId = g_threads[i].state.threadId;
        entry.stack.startOfMemoryRange = g_threads[i].stackStart;
        entry.stack.memory = g_threads[i].stackMemory;
        entry.threadContext = g_threads[i].context;
        file.Append(&entry, sizeof(entry));
    }
    directory.Add(kThreadListStream, rva, sizeof(count) + threadCount * sizeof(Thread));
}

void WriteException(DumpFile& file, const platform::CrashEvent& crash, StreamDirectory& directory) {
    ExceptionStream exception;
    exception.threadId = crash.threadId;
    exception.exceptionRecord.exceptionCode = static_cast<std::uint32_t>(crash.signal);
    exception.exceptionRecord.exceptionFlags = static_cast<std::uint32_t>(crash.code);
    exception.exceptionRecord.exceptionAddress = crash.address;
    exception.threadContext = g_threads[0].context;
    file.Align(8);
    directory.Add(kExceptionStream, file.Append(&exception, sizeof(exception)), sizeof(exception));
}

void WriteModuleList(DumpFile& file, std::size_t moduleCount, StreamDirectory& directory) {
    file.Align(8);
    const auto count = static_cast<std::uint32_t>(moduleCount);
    const std::uint32_t rva = file.Append(&count, sizeof(count));
    for (std::size_t i = 0; i < moduleCount; ++i) {
        Module entry;
        entry.baseOfImage = g_modules[i].base;
        entry.sizeOfImage = g_modules[i].size;
        entry.moduleNameRva = g_modules[i].nameRva;
        file.Append(&entry, sizeof(entry));
    }
    directory.Add(kModuleListStream, rva, sizeof(count) + moduleCount * sizeof(Module));
}

}  // namespace

bool WriteDump(int fd, const platform::CrashEvent& crash, std::int64_t timeStamp) {
    DumpFile file(fd);
    StreamDirectory directory;
    file.Append(g_zeros, sizeof(Header) + sizeof(directory.entries));  // written last, in place

    WriteSystemInfo(file, directory);
    const std::size_t threadCount = CollectThreads(crash);
    const std::size_t moduleCount = ScanMemoryMap(file, threadCount);
    WriteThreadList(file, threadCount, static_cast<const platform::CpuContext*>(crash.systemState), directory);
    WriteException(file, crash, directory);
    WriteModuleList(file, moduleCount, directory);
    directory.Add(kLauncherUserStream, 0, 0);

    file.Flush();
    Header header;
    header.numberOfStreams = static_cast<std::uint32_t>(directory.count);
    header.streamDirectoryRva = sizeof(Header);
    header.timeDateStamp = static_cast<std::uint32_t>(timeStamp);
    file.Patch(0, &header, sizeof(header));
    file.Patch(sizeof(Header), directory.entries, directory.count * sizeof(Directory));
    return file.ok();
}

}  // namespace minidump
