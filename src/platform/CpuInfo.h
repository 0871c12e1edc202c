#pragma once
// The processor's name as the kernel reports it.

#include <optional>
#include <string>

namespace platform {

// The value of the first "model name" line of <procRoot>/cpuinfo, exactly as written after its
// ": " (blanks kept at both ends); nullopt when the file cannot be read or has no such line.
std::optional<std::string> ProcessorName(const std::string& procRoot = "/proc");

}  // namespace platform
