#include "platform/CrashSignals.h"

#include <cpuid.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>
#include <string>

#include "platform/posix/CrashContext.h"
#include "platform/posix/MinidumpWriter.h"

#if !defined(__x86_64__)
#error "The crash dump writer reads x86-64 registers; other processors need their own register access."
#endif

namespace platform {
namespace {

constexpr int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr int kSignalCount = static_cast<int>(sizeof(kCrashSignals) / sizeof(kCrashSignals[0]));

// ---- alternate signal stacks ----------------------------------------------------------------

std::size_t PageSize() {
    static const std::size_t size = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return size;
}

// Room for the filter and the kernel's signal frame (which grows with the processor's vector
// state, hence the system's own minimum counts four times).
std::size_t AlternateStackSize() {
    static const std::size_t size = [] {
        const long minimum = ::sysconf(_SC_SIGSTKSZ);
        std::size_t bytes = 64 * 1024;
        if (minimum > 0 && static_cast<std::size_t>(minimum) * 4 > bytes) {
            bytes = static_cast<std::size_t>(minimum) * 4;
        }
        return (bytes + PageSize() - 1) / PageSize() * PageSize();
    }();
    return size;
}

// A stack of ours is one mapping: a guard page (so an overflow inside the handler faults instead
// of writing over neighbouring memory), then the stack itself. The per-thread key holds the
// mapping's start; its destructor frees the stack when the thread ends.
void FreeAlternateStack(void* mapping) {
    char* const stackBottom = static_cast<char*>(mapping) + PageSize();
    stack_t current{};
    if (::sigaltstack(nullptr, &current) == 0 && current.ss_sp == stackBottom) {
        stack_t off{};
        off.ss_flags = SS_DISABLE;
        ::sigaltstack(&off, nullptr);
    }
    ::munmap(mapping, PageSize() + AlternateStackSize());
}

pthread_key_t StackKey() {
    static const pthread_key_t key = [] {
        pthread_key_t k{};
        ::pthread_key_create(&k, &FreeAlternateStack);
        return k;
    }();
    return key;
}

void UnblockFaultSignals() {
    sigset_t faults;
    sigemptyset(&faults);
    for (const int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE}) {
        sigaddset(&faults, sig);
    }
    ::pthread_sigmask(SIG_UNBLOCK, &faults, nullptr);
}

// ---- the pthread_create wrapper ---------------------------------------------------------------

using PthreadCreate = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

PthreadCreate RealPthreadCreate() {
    static const auto real = reinterpret_cast<PthreadCreate>(::dlsym(RTLD_NEXT, "pthread_create"));
    return real;
}

struct ThreadStart {
    void* (*routine)(void*);
    void* argument;
};

void* StartThreadWithAlternateStack(void* raw) {
    const ThreadStart start = *static_cast<ThreadStart*>(raw);
    delete static_cast<ThreadStart*>(raw);
    UnblockFaultSignals();
    EnsureAlternateSignalStack();
    return start.routine(start.argument);
}

// ---- the handler ------------------------------------------------------------------------------

std::atomic<CrashFilter> g_filter{nullptr};
std::atomic<std::uint32_t> g_crashingThread{0};

// Installation state; touched only by InstallCrashFilter and RestoreCrashFilter, never by the
// handler.
std::mutex g_installMutex;
bool g_installed = false;
struct sigaction g_previous[kSignalCount];

// The kernel's own sigaction layout (x86-64): used to reset an action without the C library,
// whose sigaction a sanitizer may intercept and emulate instead of telling the kernel.
struct KernelSigaction {
    void (*handler)(int);
    unsigned long flags;
    void (*restorer)();
    unsigned long mask;
};

[[noreturn]] void EndProcess(int sig, bool handled) {
    if (handled) {
        ::syscall(SYS_prctl, PR_SET_DUMPABLE, 0, 0, 0, 0);
    }
    KernelSigaction defaultAction{};
    defaultAction.handler = SIG_DFL;
    ::syscall(SYS_rt_sigaction, sig, &defaultAction, nullptr, sizeof(unsigned long));
    ::syscall(SYS_tgkill, ::syscall(SYS_getpid), ::syscall(SYS_gettid), sig);
    // The signal is blocked while its handler runs; unblocking delivers it with the default action.
    const unsigned long mask = 1UL << (sig - 1);
    ::syscall(SYS_rt_sigprocmask, SIG_UNBLOCK, &mask, nullptr, sizeof(mask));
    for (;;) {
        ::syscall(SYS_exit_group, 128 + sig);  // reached only when a tracer swallowed the signal
    }
}

void WaitForTheEnd() {
    timespec pause{0, 50 * 1000 * 1000};
    for (int i = 0; i < 600; ++i) {
        ::syscall(SYS_nanosleep, &pause, nullptr);
    }
}

void ReadContext(const ucontext_t& uc, CpuContext& out) {
    const greg_t* g = uc.uc_mcontext.gregs;
    const int order[16] = {REG_RAX, REG_RCX, REG_RDX, REG_RBX, REG_RSP, REG_RBP, REG_RSI, REG_RDI,
                           REG_R8,  REG_R9,  REG_R10, REG_R11, REG_R12, REG_R13, REG_R14, REG_R15};
    for (int i = 0; i < 16; ++i) {
        out.integer[i] = static_cast<std::uint64_t>(g[order[i]]);
    }
    out.rip = static_cast<std::uint64_t>(g[REG_RIP]);
    out.eflags = static_cast<std::uint32_t>(g[REG_EFL]);
    // cs, gs, fs and ss packed as four 16-bit fields, lowest first.
    const auto segments = static_cast<std::uint64_t>(g[REG_CSGSFS]);
    out.cs = static_cast<std::uint16_t>(segments);
    out.gs = static_cast<std::uint16_t>(segments >> 16);
    out.fs = static_cast<std::uint16_t>(segments >> 32);
    out.ss = static_cast<std::uint16_t>(segments >> 48);
    if (uc.uc_mcontext.fpregs != nullptr) {
        std::memcpy(out.fxsave, uc.uc_mcontext.fpregs, sizeof(out.fxsave));
        out.mxcsr = uc.uc_mcontext.fpregs->mxcsr;
        out.hasFloatingPoint = true;
    }
}

bool IsFault(int sig) { return sig == SIGSEGV || sig == SIGBUS || sig == SIGILL || sig == SIGFPE; }

void OnCrashSignal(int sig, siginfo_t* info, void* rawContext) {
    const std::uint32_t self = signal_safe::ThreadId();
    std::uint32_t expected = 0;
    if (!g_crashingThread.compare_exchange_strong(expected, self)) {
        if (expected != self) {
            WaitForTheEnd();
        }
        EndProcess(sig, false);
    }

    int verdict = kCrashContinueSearch;
    if (const CrashFilter filter = g_filter.load()) {
        CpuContext context;
        ReadContext(*static_cast<const ucontext_t*>(rawContext), context);
        CrashEvent crash;
        crash.signal = sig;
        crash.code = info->si_code;
        // si_code > 0: raised by the kernel for a fault, so si_addr is meaningful.
        if (IsFault(sig) && info->si_code > 0) {
            crash.address = reinterpret_cast<std::uintptr_t>(info->si_addr);
        }
        crash.threadId = self;
        crash.systemState = &context;
        verdict = filter(crash);
    }
    EndProcess(sig, verdict == kCrashExecuteHandler);
}

// ---- small parsing helpers for /proc (no allocation) -------------------------------------------

bool ParseHex(const char* begin, const char* end, std::uint64_t& value) {
    if (end - begin > 2 && begin[0] == '0' && (begin[1] == 'x' || begin[1] == 'X')) {
        begin += 2;
    }
    if (begin == end) {
        return false;
    }
    value = 0;
    for (const char* p = begin; p < end; ++p) {
        const char c = *p;
        int digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            return false;
        }
        value = value << 4 | static_cast<std::uint64_t>(digit);
    }
    return true;
}

// "nr arg1 .. arg6 sp pc" for a thread in a system call, "-1 sp pc" for one blocked outside of
// one, "running" for one on a processor: the last two fields are the pointers.
void ParseSyscallFile(const char* text, std::size_t length, signal_safe::ThreadState& state) {
    const char* fields[10][2];
    std::size_t count = 0;
    const char* p = text;
    const char* const end = text + length;
    while (p < end && count < 10) {
        while (p < end && (*p == ' ' || *p == '\n')) {
            ++p;
        }
        const char* const start = p;
        while (p < end && *p != ' ' && *p != '\n') {
            ++p;
        }
        if (p > start) {
            fields[count][0] = start;
            fields[count][1] = p;
            ++count;
        }
    }
    if (count >= 3 && ParseHex(fields[count - 2][0], fields[count - 2][1], state.stackPointer) &&
        ParseHex(fields[count - 1][0], fields[count - 1][1], state.instructionPointer)) {
        state.registersKnown = true;
    }
}

char* AppendText(char* out, char* const end, const char* text) {
    while (*text != '\0' && out < end) {
        *out++ = *text++;
    }
    return out;
}

}  // namespace

// ---- installation ------------------------------------------------------------------------------

bool EnsureAlternateSignalStack() {
    stack_t current{};
    if (::sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) == 0) {
        return true;
    }
    const pthread_key_t key = StackKey();
    const std::size_t guard = PageSize();
    void* const mapping =
        ::mmap(nullptr, guard + AlternateStackSize(), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED) {
        return false;
    }
    ::mprotect(mapping, guard, PROT_NONE);
    stack_t stack{};
    stack.ss_sp = static_cast<char*>(mapping) + guard;
    stack.ss_size = AlternateStackSize();
    if (::sigaltstack(&stack, nullptr) != 0) {
        ::munmap(mapping, guard + AlternateStackSize());
        return false;
    }
    ::pthread_setspecific(key, mapping);
    return true;
}

bool InstallCrashFilter(CrashFilter filter) {
    const std::lock_guard lock(g_installMutex);
    if (g_installed || filter == nullptr) {
        return false;
    }
    EnsureAlternateSignalStack();
    minidump::PrepareWriter();

    struct sigaction action{};
    action.sa_sigaction = &OnCrashSignal;
    // SA_ONSTACK: a stack overflow leaves no room on the thread's own stack. The mask holds all
    // five, so a fault inside the filter ends the process at once instead of recursing.
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (const int sig : kCrashSignals) {
        sigaddset(&action.sa_mask, sig);
    }

    g_filter.store(filter);
    for (int i = 0; i < kSignalCount; ++i) {
        if (::sigaction(kCrashSignals[i], &action, &g_previous[i]) != 0) {
            for (int j = 0; j < i; ++j) {
                ::sigaction(kCrashSignals[j], &g_previous[j], nullptr);
            }
            g_filter.store(nullptr);
            return false;
        }
    }
    g_installed = true;
    return true;
}

void RestoreCrashFilter() {
    const std::lock_guard lock(g_installMutex);
    if (!g_installed) {
        return;
    }
    for (int i = 0; i < kSignalCount; ++i) {
        ::sigaction(kCrashSignals[i], &g_previous[i], nullptr);
    }
    g_filter.store(nullptr);
    g_installed = false;
}

CrashSystemFacts CollectCrashSystemFacts() {
    CrashSystemFacts facts;
    utsname name{};
    if (::uname(&name) == 0) {
        const std::string description = std::string(name.sysname) + " " + name.release + " " + name.version +
                                        " " + name.machine;
        description.copy(facts.osDescription, sizeof(facts.osDescription) - 1);
        std::uint32_t* const parts[3] = {&facts.osMajor, &facts.osMinor, &facts.osBuild};
        const char* p = name.release;
        for (auto* part : parts) {
            std::uint32_t value = 0;
            while (*p >= '0' && *p <= '9') {
                value = value * 10 + static_cast<std::uint32_t>(*p++ - '0');
            }
            *part = value;
            if (*p != '.') {
                break;
            }
            ++p;
        }
    }
    const long processors = ::sysconf(_SC_NPROCESSORS_ONLN);
    facts.processorCount = static_cast<std::uint8_t>(processors < 1 ? 1 : (processors > 255 ? 255 : processors));

    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(0, &eax, &ebx, &ecx, &edx) != 0) {
        facts.cpuVendor[0] = ebx;
        facts.cpuVendor[1] = edx;
        facts.cpuVendor[2] = ecx;
    }
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0) {
        facts.cpuVersion = eax;
        facts.cpuFeatures = edx;
        std::uint32_t family = (eax >> 8) & 0xF;
        std::uint32_t model = (eax >> 4) & 0xF;
        if (family == 0xF) {
            family += (eax >> 20) & 0xFF;
        }
        if (family == 6 || family >= 0xF) {
            model += ((eax >> 16) & 0xF) << 4;
        }
        facts.processorLevel = static_cast<std::uint16_t>(family);
        facts.processorRevision = static_cast<std::uint16_t>(model << 8 | (eax & 0xF));
    }
    if (__get_cpuid(0x80000001, &eax, &ebx, &ecx, &edx) != 0) {
        facts.cpuExtendedFeatures = ecx;
    }
    return facts;
}

// ---- calls allowed inside the handler ----------------------------------------------------------

namespace signal_safe {

int OpenForReading(const char* path) {
    return static_cast<int>(::syscall(SYS_openat, AT_FDCWD, path, O_RDONLY | O_CLOEXEC));
}

CrashFile CreateReplacing(const char* path) {
    return static_cast<CrashFile>(::syscall(SYS_openat, AT_FDCWD, path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
}

long Read(int fd, void* buffer, std::size_t size) {
    for (;;) {
        const long n = ::syscall(SYS_read, fd, buffer, size);
        if (n >= 0 || errno != EINTR) {
            return n;
        }
    }
}

std::size_t WriteFromMemory(int fd, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    std::size_t written = 0;
    while (written < size) {
        const long n = ::syscall(SYS_write, fd, p + written, size - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        written += static_cast<std::size_t>(n);
    }
    return written;
}

bool WriteAt(int fd, std::uint64_t offset, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const long n = ::syscall(SYS_pwrite64, fd, p, size, offset);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
}

void Close(CrashFile file) { ::syscall(SYS_close, static_cast<int>(file)); }

bool WriteMinidump(CrashFile file, const CrashEvent& crash, std::int64_t timeStamp) {
    return minidump::WriteDump(static_cast<int>(file), crash, timeStamp);
}

std::int64_t WallClockSeconds() {
    timespec now{};
    ::syscall(SYS_clock_gettime, CLOCK_REALTIME, &now);
    return now.tv_sec;
}

std::uint32_t ProcessId() { return static_cast<std::uint32_t>(::syscall(SYS_getpid)); }

std::uint32_t ThreadId() { return static_cast<std::uint32_t>(::syscall(SYS_gettid)); }

bool TracerAttached() {
    const int fd = OpenForReading("/proc/self/status");
    if (fd < 0) {
        return false;
    }
    char text[4096];
    std::size_t length = 0;
    for (long n; length < sizeof(text) - 1 && (n = Read(fd, text + length, sizeof(text) - 1 - length)) > 0;) {
        length += static_cast<std::size_t>(n);
    }
    Close(fd);
    text[length] = '\0';
    const char* field = std::strstr(text, "\nTracerPid:");
    if (field == nullptr) {
        return false;
    }
    field += std::strlen("\nTracerPid:");
    while (*field == ' ' || *field == '\t') {
        ++field;
    }
    return *field >= '1' && *field <= '9';
}

std::size_t OtherThreads(std::uint32_t except, ThreadState* out, std::size_t capacity) {
    const int dir = static_cast<int>(
        ::syscall(SYS_openat, AT_FDCWD, "/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir < 0) {
        return 0;
    }
    // The kernel's getdents64 record.
    struct Entry {
        std::uint64_t inode;
        std::int64_t offset;
        unsigned short length;
        unsigned char type;
        char name[1];
    };
    alignas(8) char entries[4096];
    std::size_t count = 0;
    for (long n; count < capacity && (n = ::syscall(SYS_getdents64, dir, entries, sizeof(entries))) > 0;) {
        for (long at = 0; at < n && count < capacity;) {
            const auto* entry = reinterpret_cast<const Entry*>(entries + at);
            at += entry->length;
            std::uint32_t tid = 0;
            const char* p = entry->name;
            if (*p < '0' || *p > '9') {
                continue;
            }
            while (*p >= '0' && *p <= '9') {
                tid = tid * 10 + static_cast<std::uint32_t>(*p++ - '0');
            }
            if (tid == except) {
                continue;
            }
            ThreadState& state = out[count++];
            state = ThreadState{};
            state.threadId = tid;

            char path[64];
            char* end = AppendText(path, path + sizeof(path) - 1, "/proc/self/task/");
            end = AppendText(end, path + sizeof(path) - 1, entry->name);
            end = AppendText(end, path + sizeof(path) - 1, "/syscall");
            *end = '\0';
            // A thread between two instructions reads as "running"; one that is only runnable
            // is usually asleep again after a yield or two.
            for (int attempt = 0; attempt < 4 && !state.registersKnown; ++attempt) {
                if (attempt > 0) {
                    ::syscall(SYS_sched_yield);
                }
                const int fd = OpenForReading(path);
                if (fd < 0) {
                    break;
                }
                char text[256];
                const long length = Read(fd, text, sizeof(text));
                Close(fd);
                if (length > 0) {
                    ParseSyscallFile(text, static_cast<std::size_t>(length), state);
                }
            }
        }
    }
    Close(dir);
    return count;
}

}  // namespace signal_safe
}  // namespace platform

// Every pthread_create of the process, libraries' included, comes here (the library's link
// options export this definition from the executable); the new thread starts with an alternate
// signal stack and the fault signals unblocked, then runs what it was asked to.
extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*routine)(void*),
                              void* argument) noexcept {
    const platform::PthreadCreate real = platform::RealPthreadCreate();
    if (real == nullptr) {
        return EAGAIN;
    }
    auto* start = new (std::nothrow) platform::ThreadStart{routine, argument};
    if (start == nullptr) {
        return real(thread, attributes, routine, argument);
    }
    const int result = real(thread, attributes, &platform::StartThreadWithAlternateStack, start);
    if (result != 0) {
        delete start;
    }
    return result;
}
