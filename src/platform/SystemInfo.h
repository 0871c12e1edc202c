#pragma once
// Facts about the running system that choose between code paths or go into reports.

#include <optional>
#include <string>

namespace platform {

// True on a 64-bit operating system, whatever this build's width (Windows: a 64-bit build, or
// a 32-bit one under WOW64).
bool OperatingSystemIs64Bit();

// The system's exact version as text that starts with its numbers "major.minor.build"
// (Windows: RtlGetVersion; Linux: the kernel release from uname); nullopt when unavailable.
std::optional<std::string> SystemVersion();

// The coarser version the fallback ladder compares against, as "major.minor.servicepack"
// (Windows: the highest ladder row VerifyVersionInfoW confirms; Linux: the release
// /proc/sys/kernel/osrelease publishes); nullopt when unavailable.
std::optional<std::string> FallbackSystemVersion();

}  // namespace platform
