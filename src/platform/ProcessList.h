#pragma once
// A snapshot of the running processes' image names (the Windows process snapshot).

#include <optional>
#include <string>
#include <vector>

namespace platform {

// The image name of every running process (Windows: the snapshot's exe file names, "zavo.exe";
// Linux: /proc/<pid>/comm), in no particular order; nullopt when the list itself cannot be
// read. A process that ends while the list is read is simply left out.
std::optional<std::vector<std::string>> RunningProcessNames();

}  // namespace platform
