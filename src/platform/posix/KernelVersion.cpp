#include "platform/KernelVersion.h"

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

}  // namespace platform
