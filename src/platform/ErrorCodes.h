#pragma once
// The system reports failures with the Windows error numbers its operator and support staff know
// ("创建数据目录失败,错误id:5"); errno values are translated into them at this boundary.

#include <cstdint>
#include <string>

namespace platform {

inline constexpr std::uint32_t kErrorSuccess = 0;
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorPathNotFound = 3;
inline constexpr std::uint32_t kErrorTooManyOpenFiles = 4;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorNotEnoughMemory = 8;
inline constexpr std::uint32_t kErrorWriteProtect = 19;
inline constexpr std::uint32_t kErrorGenFailure = 31;
inline constexpr std::uint32_t kErrorSharingViolation = 32;
inline constexpr std::uint32_t kErrorFileExists = 80;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorDiskFull = 112;
inline constexpr std::uint32_t kErrorInvalidName = 123;
inline constexpr std::uint32_t kErrorDirNotEmpty = 145;
inline constexpr std::uint32_t kErrorAlreadyExists = 183;
inline constexpr std::uint32_t kErrorFilenameTooLong = 206;
inline constexpr std::uint32_t kErrorKeyDeleted = 1018;  // the registry key was deleted while open

// The Windows error number closest to an errno value. ENOENT maps to "file not found" (2);
// callers that create or open folders, where Windows says "path not found", pass
// missingIsPath = true to get 3.
std::uint32_t WinErrorFromErrno(int err, bool missingIsPath = false);

// The system's own words ("No space left on device") for the last failure that a platform call
// on this thread translated above; empty when there was none. Like GetLastError, per thread:
// log lines name the cause that support staff would look up.
std::string LastErrorText();

}  // namespace platform
