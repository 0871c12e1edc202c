// Removing a folder tree through the backend's own listing and removal calls, alike on every
// system.

#include <functional>
#include <string>

#include "platform/ErrorCodes.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"

namespace platform {

bool RemoveFolderTree(const std::string& path, const std::function<void(const std::string&)>& onFolder) {
    if (onFolder) {
        onFolder(path);
    }
    // A link goes as a link: what it points at lies outside what is being removed. (A Windows
    // junction is a folder link and goes as a folder.)
    if (IsSymbolicLink(path)) {
        return DeleteFile(path) == kErrorSuccess || RemoveDirectory(path) == kErrorSuccess;
    }
    if (const auto entries = ListFolder(path)) {
        for (const auto& entry : *entries) {
            const std::string full = path + kPathSeparator + entry.name;
            if (entry.isFolder) {
                RemoveFolderTree(full, onFolder);
            } else {
                DeleteFile(full);  // one that stays keeps its folder, and that decides the result
            }
        }
    }
    return RemoveDirectory(path) == kErrorSuccess;
}

}  // namespace platform
