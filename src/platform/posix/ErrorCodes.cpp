#include "platform/ErrorCodes.h"

#include <cerrno>
#include <cstring>

namespace platform {
namespace {

thread_local int t_lastErrno = 0;

}  // namespace

std::uint32_t WinErrorFromErrno(int err, bool missingIsPath) {
    if (err != 0) {
        t_lastErrno = err;
    }
    switch (err) {
        case 0: return kErrorSuccess;
        case ENOENT: return missingIsPath ? kErrorPathNotFound : kErrorFileNotFound;
        case ENOTDIR: return kErrorPathNotFound;
        case EACCES:
        case EPERM:
        case EISDIR: return kErrorAccessDenied;
        case EEXIST: return kErrorAlreadyExists;
        case EROFS: return kErrorWriteProtect;
        case ENOSPC:
        case EDQUOT: return kErrorDiskFull;
        case ENAMETOOLONG: return kErrorFilenameTooLong;
        case EINVAL: return kErrorInvalidParameter;
        case ENOMEM: return kErrorNotEnoughMemory;
        case EMFILE:
        case ENFILE: return kErrorTooManyOpenFiles;
        case EBUSY:
        case ETXTBSY: return kErrorSharingViolation;
        case ENOTEMPTY: return kErrorDirNotEmpty;
        case ELOOP: return kErrorInvalidName;
        default: return kErrorGenFailure;
    }
}

std::string LastErrorText() {
    if (t_lastErrno == 0) {
        return {};
    }
    char buffer[256];
    return ::strerror_r(t_lastErrno, buffer, sizeof buffer);  // GNU strerror_r returns the text
}

}  // namespace platform
