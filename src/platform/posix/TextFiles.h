#pragma once
// Reading the small text files the kernel and the system publish (/proc, /sys, /etc). Private
// to the POSIX sources of platform/.

#include <optional>
#include <string>

namespace platform::posix {

// The whole file; nullopt when it cannot be opened or read (missing, or readable by root only).
std::optional<std::string> ReadTextFile(const std::string& path);

// text without one final "\n", the way sysfs and /etc files end their single value.
std::string WithoutFinalNewline(std::string text);

}  // namespace platform::posix
