#pragma once
// File-system operations with the outcomes the launcher's Windows heritage reports:
// 0 for success, otherwise a Windows error number (platform/ErrorCodes.h).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// True when the path exists as a file or folder (an access check with mode 0).
bool PathExists(const std::string& path);

// Creates one folder level; the parent must exist. 0, or for example kErrorAlreadyExists (183),
// kErrorPathNotFound (3) for a missing parent or an empty name, kErrorAccessDenied (5).
std::uint32_t CreateDirectoryOneLevel(const std::string& path);

// Up to maxBytes from the start of a file; nullopt when it cannot be opened or read (missing,
// no permission, a folder).
std::optional<std::string> ReadFileStart(const std::string& path, std::size_t maxBytes);

}  // namespace platform
