#pragma once
// The unhandled-exception filter. On Windows it is the process's top-level filter
// (SetUnhandledExceptionFilter, with the system's fault dialog turned off while it is
// installed). On Linux crash signals stand in for it: one filter function runs for SIGSEGV,
// SIGBUS, SIGILL, SIGFPE and SIGABRT on an alternate signal stack, the actions it replaces are
// kept and put back. signal_safe:: holds the few calls a filter may make while the process is in
// pieces (raw system calls: no allocation, no stdio, no locks).
//
// The rest of this note is about Linux.
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

struct CrashEvent {
    int signal = 0;             // Linux: the signal; Windows: the exception code
    int code = 0;               // Linux: si_code, which fault or how a process sent the signal
    std::uint64_t address = 0;  // the faulting address; 0 when a process sent the signal
    std::uint32_t threadId = 0;
    // The backend's own record of the crashing thread for its dump writer (Linux: the registers
    // as a posix CpuContext; Windows: the EXCEPTION_POINTERS); null when there is none.
    const void* systemState = nullptr;
};

// The filter's verdict, with the values of the filter it stands in for.
inline constexpr int kCrashContinueSearch = 0;  // not handled here: a tracer gets the signal
inline constexpr int kCrashExecuteHandler = 1;  // handled: end at once, no system core dump
using CrashFilter = int (*)(const CrashEvent& crash);

// Points the five crash signals (Windows: the unhandled exceptions) at filter and keeps what
// they had. False when the system refused (then nothing is changed) or when a filter is already
// installed.
bool InstallCrashFilter(CrashFilter filter);
// Puts the kept actions back; nothing when no filter is installed.
void RestoreCrashFilter();

// Gives the calling thread an alternate signal stack unless it has one; false when none could be
// made. Threads started through pthread_create already have one. Windows needs none: true.
bool EnsureAlternateSignalStack();

namespace signal_safe {

// A file open for the crash dump: a descriptor on Linux, a handle on Windows.
using CrashFile = std::intptr_t;
inline constexpr CrashFile kNoCrashFile = -1;

// Creates path for writing, replacing an existing file; owner-only access because a dump holds
// process memory (login data included). kNoCrashFile on failure.
CrashFile CreateReplacing(const char* path);
void Close(CrashFile file);

// Writes a normal minidump of this process for crash into file, a new empty file: the thread
// list with stacks, the module list, the exception with the crashing thread's registers, and
// the empty user stream 0x10001. timeStamp (seconds since 1970) goes into its header. False
// when the file could not be written completely.
bool WriteMinidump(CrashFile file, const CrashEvent& crash, std::int64_t timeStamp);

std::int64_t WallClockSeconds();  // seconds since 1970 (UTC)
std::uint32_t ProcessId();
std::uint32_t ThreadId();
// True when a debugger is attached (Windows: IsDebuggerPresent; Linux: "TracerPid" in
// /proc/self/status is not 0).
bool TracerAttached();

}  // namespace signal_safe
}  // namespace platform
