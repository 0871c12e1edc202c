#include "platform/SystemInfo.h"

#include <sys/utsname.h>

#include <string_view>

namespace platform {

bool OperatingSystemIs64Bit() {
    utsname name{};
    if (::uname(&name) != 0) {
        return sizeof(void*) == 8;
    }
    const std::string_view machine(name.machine);
    for (const std::string_view wide : {"x86_64", "aarch64", "ppc64", "ppc64le", "s390x", "riscv64", "mips64",
                                        "loongarch64", "sparc64", "alpha", "ia64"}) {
        if (machine == wide) {
            return true;
        }
    }
    return false;
}

}  // namespace platform
