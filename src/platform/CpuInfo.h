#pragma once
// The processor's name as the system reports it.

#include <optional>
#include <string>

namespace platform {

// Exactly as the system stores it, blanks kept at both ends (Windows: the registry's
// ProcessorNameString of the first processor; Linux: the first "model name" of /proc/cpuinfo);
// nullopt when it cannot be read.
std::optional<std::string> ProcessorName();

}  // namespace platform
