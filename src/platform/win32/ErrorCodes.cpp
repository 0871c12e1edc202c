#include "platform/ErrorCodes.h"

#include <cerrno>
#include <string>

#include "platform/win32/Wide.h"

namespace platform {
namespace {

// GetLastError itself would not do: any later call, a log line's included, may overwrite it.
thread_local std::uint32_t t_lastError = 0;

std::uint32_t Translate(int err, bool missingIsPath) {
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

}  // namespace

void win32::NoteError(std::uint32_t error) {
    if (error != 0) {
        t_lastError = error;
    }
}

// Only the C runtime's own calls report errno here; every Windows call gives its number itself.
std::uint32_t WinErrorFromErrno(int err, bool missingIsPath) {
    const std::uint32_t error = Translate(err, missingIsPath);
    win32::NoteError(error);
    return error;
}

std::string LastErrorText() {
    if (t_lastError == 0) {
        return {};
    }
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        t_lastError, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring words(text != nullptr ? text : L"", length);
    ::LocalFree(text);
    // The system's texts end in a line break, which would split the log line.
    while (!words.empty() && (words.back() == L'\r' || words.back() == L'\n' || words.back() == L' ')) {
        words.pop_back();
    }
    return words.empty() ? "error " + std::to_string(t_lastError) : win32::Narrow(words);
}

}  // namespace platform
