#include "platform/SystemInfo.h"
#include "platform/posix/Linux.h"

#include <sys/utsname.h>

#include "platform/posix/TextFiles.h"

namespace platform {

std::optional<std::string> KernelRelease() {
    utsname name{};
    if (::uname(&name) != 0) {
        return std::nullopt;
    }
    return std::string(name.release);
}

std::optional<std::string> KernelReleaseFile(const std::string& procRoot) {
    const auto text = posix::ReadTextFile(procRoot + "/sys/kernel/osrelease");
    if (!text) {
        return std::nullopt;
    }
    return posix::WithoutFinalNewline(*text);
}

std::optional<std::string> SystemVersion() { return KernelRelease(); }

std::optional<std::string> FallbackSystemVersion() { return KernelReleaseFile("/proc"); }

}  // namespace platform
