#pragma once
// The memory sizes the machine profile reports.

#include <cstdint>
#include <string>

namespace platform {

// Total physical memory in bytes: "MemTotal" of <procRoot>/meminfo, else sysinfo's total; 0 when
// neither answers.
std::uint64_t TotalPhysicalMemory(const std::string& procRoot = "/proc");

// The address space this process may use, in bytes: its RLIMIT_AS when one is set, else the user
// address space of the architecture.
std::uint64_t AddressSpaceLimit();

}  // namespace platform
