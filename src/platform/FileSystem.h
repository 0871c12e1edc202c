#pragma once
// File-system operations with the outcomes the launcher's Windows heritage reports:
// 0 for success, otherwise a Windows error number (platform/ErrorCodes.h).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// True when the path exists as a file or folder (an access check with mode 0).
bool PathExists(const std::string& path);

// Creates one folder level; the parent must exist. 0, or for example kErrorAlreadyExists (183),
// kErrorPathNotFound (3) for a missing parent or an empty name, kErrorAccessDenied (5).
std::uint32_t CreateDirectoryOneLevel(const std::string& path);

// Up to maxBytes from the start of a file; nullopt when it cannot be opened or read (missing,
// no permission, a folder).
std::optional<std::string> ReadFileStart(const std::string& path, std::size_t maxBytes);

// Creates the folder and every missing parent (mode 0700 for new levels: these are the user's
// private stores). 0 when the folder exists afterwards.
std::uint32_t CreateDirectoryTree(const std::string& path);

// CopyFileW replacing an existing target: the bytes, the permission bits and the modification time. Copying onto the
// source itself, or onto a running executable, fails with kErrorSharingViolation (32) and
// leaves the target as it was.
std::uint32_t CopyFile(const std::string& from, const std::string& to);

// DeleteFileW: removes a file (not a folder). kErrorFileNotFound (2) when absent.
std::uint32_t DeleteFile(const std::string& path);

// True when the path itself is a symbolic link (whatever it points at, if anything).
bool IsSymbolicLink(const std::string& path);

// One entry of a folder listing.
struct FolderEntry {
    std::string name;
    bool isFolder = false;  // a folder proper; a symbolic link never counts as one
    bool operator==(const FolderEntry&) const = default;
};

// The entries of a folder in the file system's own order, hidden ones included and the two dot
// entries left out (FindFirstFileW/FindNextFileW over "*.*"). nullopt when the folder cannot be
// read, and when path itself is a symbolic link: a listing never leads out through one.
std::optional<std::vector<FolderEntry>> ListFolder(const std::string& path);

// RemoveDirectoryW: removes an empty folder. kErrorDirNotEmpty (145) while it holds anything,
// kErrorPathNotFound (3) for a symbolic link or a file, which are no folders.
std::uint32_t RemoveDirectory(const std::string& path);

// Removes a folder with everything in it; symbolic links go as links, never followed. onFolder,
// when given, hears of every folder before its removal. True when the folder itself is gone; a
// file that stays keeps every folder above it.
bool RemoveFolderTree(const std::string& path, const std::function<void(const std::string&)>& onFolder = {});
// Sets a folder's modification time to now (as `touch` does); 0 or a Windows error number.
std::uint32_t TouchFolder(const std::string& path);

// Modification time of a regular file in nanoseconds since the epoch; nullopt for anything else.
std::optional<std::int64_t> FileModifiedTime(const std::string& path);

// Size in bytes of a file; nullopt when it cannot be examined.
std::optional<std::int64_t> FileSize(const std::string& path);

// Replaces the file's whole content in one step (a temporary file beside it, then a rename), so
// a reader or a crash never sees it half-written. New files get mode.
std::uint32_t ReplaceFileContent(const std::string& path, const std::string& content, unsigned mode = 0644);

// True when the path is a folder, or a symbolic link to one.
bool IsFolder(const std::string& path);

// True when both paths (links followed) lie on the same file system, where a move is a rename.
bool SameFileSystem(const std::string& a, const std::string& b);

// Free space of the file system holding path, as the user may fill it.
struct DiskSpace {
    std::uint64_t freeBytes = 0;
    std::uint64_t blockSize = 0;  // every file takes whole blocks of this size
};
std::optional<DiskSpace> FreeDiskSpace(const std::string& path);

// MoveFileEx with replacing, on one file system: a file replaces a file of that name in one
// step (a reader sees the old or the new one, never a mix); a folder replaces only an empty one.
std::uint32_t MoveFile(const std::string& from, const std::string& to);

// True when this process may create and remove entries in the folder (its own permissions,
// not its real user's).
bool IsWritableFolder(const std::string& path);

}  // namespace platform
