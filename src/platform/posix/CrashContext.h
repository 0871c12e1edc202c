#pragma once
// What only the Linux crash plumbing has: the x86-64 register image the signal frame holds, the
// system facts the dump writer prepares at installation, and the signal-safe file and thread
// calls it writes the dump with.

#include <cstddef>
#include <cstdint>

#include "platform/CrashSignals.h"

namespace platform {

// The crashing thread's registers as the signal frame holds them (x86-64); the CrashEvent's
// systemState on Linux.
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
long Read(int fd, void* buffer, std::size_t size);  // bytes read, 0 at the end, -1 on failure
// Writes size bytes from data, which may be any address of this process: memory that cannot be
// read makes the kernel refuse the write instead of faulting. The number of bytes written.
std::size_t WriteFromMemory(int fd, const void* data, std::size_t size);
bool WriteAt(int fd, std::uint64_t offset, const void* data, std::size_t size);

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
