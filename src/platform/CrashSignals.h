#pragma once
// Crash signals standing in for the unhandled-exception filter: one filter function runs for
// SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT on an alternate signal stack, the actions it
// replaces are kept and put back, and signal_safe:: holds the few calls a filter may make while
// the process is in pieces (raw system calls: no allocation, no stdio, no locks).
//
// Alternate stacks. The thread that installs the filter gets one. Every thread started through
// pthread_create gets one too, the launcher's own and those of libraries it does not control
// (GLib, libcurl, the page engine): this library wraps pthread_create (the executable exports the
// wrapper, so shared libraries bind to it) and gives the new thread a guarded 64 KiB stack, freed
// when the thread ends. A thread that already has an alternate stack (a sanitizer's) keeps it.
// The wrapper also unblocks the four fault signals in the new thread: a fault while they are
// blocked kills the process without running any handler, and GLib starts its helper threads
// with every signal blocked. Threads that glibc starts internally (timer and AIO helpers) bypass
// the wrapper; there the filter runs on the thread's own stack, so an overflow of such a stack
// ends the process without a dump.
//
// How the process ends. After the filter, the signal's default action is restored in the kernel
// and the signal re-sent to the crashing thread, so the parent sees the process killed by it.
// With kCrashExecuteHandler the process is first made non-dumpable: the dump just written stands
// in for the system's core dump and crash reporter (the counterpart of "no fault dialog"). With
// kCrashContinueSearch (a tracer is attached) nothing else changes and the tracer sees the signal.
//
// One crash at a time: a thread that faults while another runs the filter waits for the
// process to end (at most 30 s, then it ends the process itself).

#include <cstddef>
#include <cstdint>

namespace platform {

// The crashing thread's registers as the signal frame holds them (x86-64).
struct CpuContext {
    // Integer registers in the processor's numbering: rax rcx rdx rbx rsp rbp rsi rdi r8..r15.
    std::uint64_t integer[16] = {};
    std::uint64_t rip = 0;
    std::uint32_t eflags = 0;
    std::uint16_t cs = 0, fs = 0, gs = 0, ss = 0;
    bool hasFloatingPoint = false;
    std::uint32_t mxcsr = 0;
    unsigned char fxsave[512] = {};  // the FXSAVE image: x87, MMX and SSE state

    std::uint64_t StackPointer() const { return integer[4]; }
};

struct CrashEvent {
    int signal = 0;
    int code = 0;               // si_code: which fault, or how a process sent the signal
    std::uint64_t address = 0;  // the faulting address (si_addr); 0 when a process sent the signal
    std::uint32_t threadId = 0;
    const CpuContext* context = nullptr;
};

// The filter's verdict, with the values of the filter it stands in for.
inline constexpr int kCrashContinueSearch = 0;  // not handled here: a tracer gets the signal
inline constexpr int kCrashExecuteHandler = 1;  // handled: end at once, no system core dump
using CrashFilter = int (*)(const CrashEvent& crash);

// Points the five crash signals at filter and keeps the actions they had. False when the kernel
// refused one (then nothing is changed) or when a filter is already installed.
bool InstallCrashFilter(CrashFilter filter);
// Puts the kept actions back; nothing when no filter is installed.
void RestoreCrashFilter();

// Gives the calling thread an alternate signal stack unless it has one; false when none could be
// made. Threads started through pthread_create already have one.
bool EnsureAlternateSignalStack();

// What the dump's system information needs, collected at installation (not signal-safe).
struct CrashSystemFacts {
    std::uint16_t processorLevel = 0;     // x86 family
    std::uint16_t processorRevision = 0;  // model << 8 | stepping
    std::uint8_t processorCount = 0;      // online processors, at most 255
    std::uint32_t osMajor = 0, osMinor = 0, osBuild = 0;  // kernel release "major.minor.patch"
    char osDescription[256] = {};  // "Linux <release> <version> <machine>"
    std::uint32_t cpuVendor[3] = {};  // CPUID leaf 0: ebx, edx, ecx
    std::uint32_t cpuVersion = 0;     // CPUID leaf 1: eax
    std::uint32_t cpuFeatures = 0;    // CPUID leaf 1: edx
    std::uint32_t cpuExtendedFeatures = 0;  // CPUID leaf 0x80000001: ecx
};
CrashSystemFacts CollectCrashSystemFacts();

namespace signal_safe {

int OpenForReading(const char* path);  // -1 on failure
// Creates path for writing, replacing an existing file; owner-only access because a dump holds
// process memory (login data included). -1 on failure.
int CreateReplacing(const char* path);
long Read(int fd, void* buffer, std::size_t size);  // bytes read, 0 at the end, -1 on failure
// Writes size bytes from data, which may be any address of this process: memory that cannot be
// read makes the kernel refuse the write instead of faulting. The number of bytes written.
std::size_t WriteFromMemory(int fd, const void* data, std::size_t size);
bool WriteAt(int fd, std::uint64_t offset, const void* data, std::size_t size);
void Close(int fd);

std::int64_t WallClockSeconds();  // seconds since 1970 (UTC)
std::uint32_t ProcessId();
std::uint32_t ThreadId();
// True when a tracer (a debugger) is attached: "TracerPid" in /proc/self/status is not 0.
bool TracerAttached();

struct ThreadState {
    std::uint32_t threadId = 0;
    bool registersKnown = false;  // a thread that is running at this moment has none to report
    std::uint64_t stackPointer = 0;
    std::uint64_t instructionPointer = 0;
};
// The threads of this process other than except, each with the stack and instruction pointer
// it stopped at (from /proc/self/task/<id>/syscall). At most capacity; the number stored.
std::size_t OtherThreads(std::uint32_t except, ThreadState* out, std::size_t capacity);

}  // namespace signal_safe
}  // namespace platform
