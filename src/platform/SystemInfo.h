#pragma once
// Facts about the running system that choose between code paths.

namespace platform {

// True on a 64-bit operating system (the kernel's machine type), whatever this build's width.
bool OperatingSystemIs64Bit();

}  // namespace platform
