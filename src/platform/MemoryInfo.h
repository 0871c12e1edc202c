#pragma once
// The memory sizes the machine profile reports.

#include <cstdint>

namespace platform {

// Total physical memory in bytes; 0 when the system does not answer.
std::uint64_t TotalPhysicalMemory();

// The address space this process may use, in bytes (Windows: the total virtual memory of the
// memory status; Linux: RLIMIT_AS when set, else the architecture's user address space).
std::uint64_t AddressSpaceLimit();

}  // namespace platform
