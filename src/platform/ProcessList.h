#pragma once
// A snapshot of the running processes' image names (the Windows process snapshot).

#include <optional>
#include <string>
#include <vector>

namespace platform {

// The short name (/proc/<pid>/comm) of every process visible in procRoot, in no particular
// order; nullopt when the process list itself cannot be read. A process that ends while the
// list is read is simply left out.
std::optional<std::vector<std::string>> RunningProcessNames(const std::string& procRoot = "/proc");

}  // namespace platform
