#include "platform/FileSystem.h"

#include <atomic>

#include "platform/ErrorCodes.h"
#include "platform/File.h"
#include "platform/win32/Wide.h"

namespace platform {
namespace {

constexpr DWORD kNoAttributes = INVALID_FILE_ATTRIBUTES;

DWORD Attributes(const std::string& path) {
    return path.empty() ? kNoAttributes : ::GetFileAttributesW(win32::WidePath(path).c_str());
}

// A reparse point (symbolic link, junction) is never entered: it may lead anywhere.
bool IsReparsePoint(DWORD attributes) {
    return attributes != kNoAttributes && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

bool PathExists(const std::string& path) { return Attributes(path) != kNoAttributes; }

std::uint32_t CreateDirectoryOneLevel(const std::string& path) {
    if (path.empty()) {
        return kErrorPathNotFound;
    }
    return ::CreateDirectoryW(win32::WidePath(path).c_str(), nullptr) ? kErrorSuccess : win32::LastError();
}

std::optional<std::string> ReadFileStart(const std::string& path, std::size_t maxBytes) {
    File file(path, File::Mode::Read);
    if (!file.IsOpen()) {
        return std::nullopt;
    }
    std::string content(maxBytes, '\0');
    std::size_t filled = 0;
    while (filled < maxBytes) {
        const std::int64_t n = file.Read(content.data() + filled, maxBytes - filled);
        if (n < 0) {
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        filled += static_cast<std::size_t>(n);
    }
    content.resize(filled);
    return content;
}

std::uint32_t CreateDirectoryTree(const std::string& path) {
    // An absolute path: "C:\..." or a share "\\server\...".
    const bool drive = path.size() >= 3 && path[1] == ':' && IsSeparator(path[2]);
    if (!drive && !(path.size() > 2 && IsSeparator(path[0]) && IsSeparator(path[1]))) {
        return kErrorPathNotFound;
    }
    for (std::size_t next = path.find_first_of("\\/", 3);; next = path.find_first_of("\\/", next + 1)) {
        const std::string level = path.substr(0, next);
        if (!::CreateDirectoryW(win32::WidePath(level).c_str(), nullptr)) {
            const DWORD error = ::GetLastError();
            // A share's own levels cannot be made, only entered.
            if (error != ERROR_ALREADY_EXISTS && error != ERROR_ACCESS_DENIED && error != ERROR_INVALID_NAME) {
                return error;
            }
        }
        if (next == std::string::npos) {
            break;
        }
    }
    const DWORD attributes = Attributes(path);
    if (attributes == kNoAttributes) {
        return kErrorPathNotFound;
    }
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? kErrorSuccess : kErrorAlreadyExists;
}

std::uint32_t CopyFile(const std::string& from, const std::string& to) {
    if (const DWORD attributes = Attributes(from);
        attributes != kNoAttributes && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return kErrorAccessDenied;
    }
    // CopyFileW refuses a running executable and the source itself with a sharing violation.
    return ::CopyFileW(win32::WidePath(from).c_str(), win32::WidePath(to).c_str(), FALSE) ? kErrorSuccess
                                                                                          : win32::LastError();
}

std::uint32_t DeleteFile(const std::string& path) {
    if (path.empty()) {
        return kErrorPathNotFound;
    }
    // A link to a folder is a folder entry of its own: it goes without touching what it names.
    const DWORD attributes = Attributes(path);
    if (IsReparsePoint(attributes) && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return ::RemoveDirectoryW(win32::WidePath(path).c_str()) ? kErrorSuccess : win32::LastError();
    }
    return ::DeleteFileW(win32::WidePath(path).c_str()) ? kErrorSuccess : win32::LastError();
}

bool IsSymbolicLink(const std::string& path) { return IsReparsePoint(Attributes(path)); }

std::optional<std::vector<FolderEntry>> ListFolder(const std::string& path) {
    if (path.empty() || IsReparsePoint(Attributes(path))) {
        return std::nullopt;
    }
    WIN32_FIND_DATAW found{};
    const std::wstring pattern = win32::WidePath(path) + L"\\*.*";
    const HANDLE search = ::FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        // An empty folder still lists its dot entries; nothing found means it cannot be read.
        return std::nullopt;
    }
    std::vector<FolderEntry> entries;
    do {
        const std::wstring_view name = found.cFileName;
        if (name == L"." || name == L"..") {
            continue;
        }
        const bool folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                            (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
        entries.push_back({win32::Narrow(name), folder});
    } while (::FindNextFileW(search, &found));
    const DWORD error = ::GetLastError();
    ::FindClose(search);
    if (error != ERROR_NO_MORE_FILES) {
        return std::nullopt;
    }
    return entries;
}

std::uint32_t RemoveDirectory(const std::string& path) {
    if (path.empty()) {
        return kErrorPathNotFound;
    }
    const DWORD attributes = Attributes(path);
    if (attributes != kNoAttributes && ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || IsReparsePoint(attributes))) {
        return kErrorPathNotFound;  // a file or a link is no folder
    }
    return ::RemoveDirectoryW(win32::WidePath(path).c_str()) ? kErrorSuccess : win32::LastError();
}

std::optional<std::int64_t> FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (path.empty() || !::GetFileAttributesExW(win32::WidePath(path).c_str(), GetFileExInfoStandard, &data)) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow);
}

// mode: Windows files carry no mode bits.
std::uint32_t ReplaceFileContent(const std::string& path, const std::string& content, unsigned /*mode*/) {
    const auto separator = path.find_last_of("\\/");
    if (path.empty() || separator == std::string::npos || separator + 1 == path.size()) {
        return kErrorPathNotFound;
    }
    static std::atomic<unsigned> counter{0};
    const std::string temp = path + "." + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(counter++);
    File file(temp, File::Mode::Truncate);
    if (!file.IsOpen()) {
        return file.Error();
    }
    const bool written = file.Write(content.data(), content.size()) == content.size();
    std::uint32_t error = file.Error();
    if (!file.Close() && error == 0) {
        error = file.Error();
    }
    if (written && error == 0 &&
        ::MoveFileExW(win32::WidePath(temp).c_str(), win32::WidePath(path).c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return kErrorSuccess;
    }
    if (error == 0) {
        error = win32::LastError();
    }
    ::DeleteFileW(win32::WidePath(temp).c_str());
    return error != 0 ? error : kErrorGenFailure;
}

}  // namespace platform
