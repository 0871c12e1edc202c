#include "platform/ErrorCodes.h"

#include <cerrno>

namespace platform {

// Only the C runtime's own calls report errno here; every Windows call gives its number itself.
std::uint32_t WinErrorFromErrno(int err, bool missingIsPath) {
    switch (err) {
        case 0: return kErrorSuccess;
        case ENOENT: return missingIsPath ? kErrorPathNotFound : kErrorFileNotFound;
        case ENOTDIR: return kErrorPathNotFound;
        case EACCES:
        case EPERM:
        case EISDIR: return kErrorAccessDenied;
        case EEXIST: return kErrorAlreadyExists;
        case EROFS: return kErrorWriteProtect;
        case ENOSPC: return kErrorDiskFull;
        case ENAMETOOLONG: return kErrorFilenameTooLong;
        case EINVAL: return kErrorInvalidParameter;
        case ENOMEM: return kErrorNotEnoughMemory;
        case EMFILE:
        case ENFILE: return kErrorTooManyOpenFiles;
        case EBUSY: return kErrorSharingViolation;
        case ENOTEMPTY: return kErrorDirNotEmpty;
        default: return kErrorGenFailure;
    }
}

}  // namespace platform
