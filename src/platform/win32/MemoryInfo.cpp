#include "platform/MemoryInfo.h"

#include <windows.h>

namespace platform {
namespace {

MEMORYSTATUSEX Status() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof(status);
    if (!::GlobalMemoryStatusEx(&status)) {
        return MEMORYSTATUSEX{};
    }
    return status;
}

}  // namespace

std::uint64_t TotalPhysicalMemory() { return Status().ullTotalPhys; }

std::uint64_t AddressSpaceLimit() { return Status().ullTotalVirtual; }

}  // namespace platform
