#include "platform/FileSystem.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/ErrorCodes.h"

namespace platform {

bool PathExists(const std::string& path) { return !path.empty() && ::access(path.c_str(), F_OK) == 0; }

std::uint32_t CreateDirectoryOneLevel(const std::string& path) {
    if (path.empty()) {
        return kErrorPathNotFound;
    }
    if (::mkdir(path.c_str(), 0755) == 0) {
        return kErrorSuccess;
    }
    return WinErrorFromErrno(errno, /*missingIsPath=*/true);
}

}  // namespace platform
