#pragma once
// The running kernel's release, the Linux stand-in for the system's version numbers.

#include <optional>
#include <string>

namespace platform {

// uname's release text, for example "6.1.0-18-amd64"; nullopt when uname fails.
std::optional<std::string> KernelRelease();

// The same text as <procRoot>/sys/kernel/osrelease publishes it (without its line end).
std::optional<std::string> KernelReleaseFile(const std::string& procRoot = "/proc");

}  // namespace platform
