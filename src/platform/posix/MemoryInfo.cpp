#include "platform/MemoryInfo.h"

#include <sys/resource.h>
#include <sys/sysinfo.h>

#include <sstream>

#include "platform/posix/Linux.h"
#include "platform/posix/TextFiles.h"

namespace platform {

std::uint64_t TotalPhysicalMemory(const std::string& procRoot) {
    if (const auto text = posix::ReadTextFile(procRoot + "/meminfo")) {
        std::istringstream lines(*text);
        for (std::string line; std::getline(lines, line);) {
            std::istringstream fields(line);
            std::string key;
            std::uint64_t kibibytes = 0;
            if (fields >> key >> kibibytes && key == "MemTotal:") {
                return kibibytes * 1024;
            }
        }
    }
    struct sysinfo info {};
    if (::sysinfo(&info) != 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(info.totalram) * info.mem_unit;
}

std::uint64_t TotalPhysicalMemory() { return TotalPhysicalMemory("/proc"); }

std::uint64_t AddressSpaceLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        return limit.rlim_cur;
    }
#if defined(__x86_64__)
    return 0x7FFFFFFFF000ull;  // 47-bit user space less its guard page
#elif defined(__aarch64__)
    return 1ull << 48;
#else
    return sizeof(void*) == 8 ? 1ull << 47 : 0xC0000000ull;
#endif
}

}  // namespace platform
