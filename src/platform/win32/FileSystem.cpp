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

// What the path names once every link on the way is followed; nullopt when it cannot be opened.
std::optional<BY_HANDLE_FILE_INFORMATION> FollowedInfo(const std::string& path) {
    if (path.empty()) {
        return std::nullopt;
    }
    // No access asked for: this opens even a file another process holds without sharing.
    const win32::Handle handle(::CreateFileW(win32::WidePath(path).c_str(), 0,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!handle || !::GetFileInformationByHandle(handle.get(), &info)) {
        win32::LastError();
        return std::nullopt;
    }
    return info;
}

// The root of the volume holding path: C:\ , a folder a volume is mounted on, or \\server\share\ .
std::optional<std::wstring> VolumeOf(const std::string& path) {
    wchar_t root[MAX_PATH + 1] = {};
    if (path.empty() || !::GetVolumePathNameW(win32::WidePath(path).c_str(), root, MAX_PATH + 1)) {
        win32::LastError();
        return std::nullopt;
    }
    return std::wstring(root);
}

// FILETIME counts 100 ns steps from 1601; the launcher counts nanoseconds from 1970.
std::int64_t UnixNanoseconds(const FILETIME& time) {
    constexpr std::int64_t kFrom1601To1970 = 116'444'736'000'000'000;
    const auto ticks = static_cast<std::int64_t>(static_cast<std::uint64_t>(time.dwHighDateTime) << 32 |
                                                 time.dwLowDateTime);
    return (ticks - kFrom1601To1970) * 100;
}

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

std::uint32_t TouchFolder(const std::string& path) {
    if (path.empty()) {
        return kErrorPathNotFound;
    }
    // FILE_FLAG_BACKUP_SEMANTICS: the only way to open a folder for its times.
    const win32::Handle folder(::CreateFileW(win32::WidePath(path).c_str(), FILE_WRITE_ATTRIBUTES,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folder) {
        return win32::LastError();
    }
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    return ::SetFileTime(folder.get(), nullptr, &now, &now) ? kErrorSuccess : win32::LastError();
}

std::optional<std::int64_t> FileModifiedTime(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (path.empty() || !::GetFileAttributesExW(win32::WidePath(path).c_str(), GetFileExInfoStandard, &data)) {
        win32::LastError();
        return std::nullopt;
    }
    FILETIME written = data.ftLastWriteTime;
    DWORD attributes = data.dwFileAttributes;
    if (IsReparsePoint(attributes)) {  // the link's own times: the file it names has the ones asked for
        const auto target = FollowedInfo(path);
        if (!target) {
            return std::nullopt;
        }
        written = target->ftLastWriteTime;
        attributes = target->dwFileAttributes;
    }
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) {
        return std::nullopt;
    }
    return UnixNanoseconds(written);
}

bool IsFolder(const std::string& path) {
    const DWORD attributes = Attributes(path);
    if (attributes == kNoAttributes || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return false;
    }
    if (!IsReparsePoint(attributes)) {
        return true;
    }
    // A link to a folder carries the folder flag even when its target is gone.
    const auto target = FollowedInfo(path);
    return target && (target->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A move without MOVEFILE_COPY_ALLOWED is a rename within one volume only: two paths share a
// file system when, links followed, they lie on the same volume.
bool SameFileSystem(const std::string& a, const std::string& b) {
    const auto first = FollowedInfo(a);
    const auto second = FollowedInfo(b);
    if (!first || !second || first->dwVolumeSerialNumber != second->dwVolumeSerialNumber) {
        return false;
    }
    // Serials can coincide (a cloned disk): the volumes' roots must be the same as well.
    const auto firstVolume = VolumeOf(a);
    const auto secondVolume = VolumeOf(b);
    return firstVolume && secondVolume &&
           ::CompareStringOrdinal(firstVolume->c_str(), -1, secondVolume->c_str(), -1, TRUE) == CSTR_EQUAL;
}

std::optional<DiskSpace> FreeDiskSpace(const std::string& path) {
    ULARGE_INTEGER forCaller{};  // what quotas leave this user, rather than the volume's whole free space
    const auto root = VolumeOf(path);
    if (!root || !::GetDiskFreeSpaceExW(win32::WidePath(path).c_str(), &forCaller, nullptr, nullptr)) {
        win32::LastError();
        return std::nullopt;
    }
    // The cluster: the unit every file takes, which only the volume's root answers for.
    DWORD sectorsPerCluster = 0;
    DWORD bytesPerSector = 0;
    DWORD freeClusters = 0;
    DWORD clusters = 0;
    if (!::GetDiskFreeSpaceW(root->c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters)) {
        win32::LastError();
        return std::nullopt;
    }
    return DiskSpace{forCaller.QuadPart, static_cast<std::uint64_t>(sectorsPerCluster) * bytesPerSector};
}

std::uint32_t MoveFile(const std::string& from, const std::string& to) {
    if (from.empty() || to.empty()) {
        return kErrorPathNotFound;
    }
    const std::wstring wideFrom = win32::WidePath(from);
    const std::wstring target = win32::WidePath(to);
    // MoveFileExW never replaces a folder. rename() replaces an empty one, which the launcher relies
    // on; here the empty folder goes first, so a failing move can leave the target absent.
    const DWORD sourceAttributes = Attributes(from);
    const DWORD targetAttributes = Attributes(to);
    if (sourceAttributes != kNoAttributes && (sourceAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
        targetAttributes != kNoAttributes && (targetAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
        !IsReparsePoint(targetAttributes)) {
        const auto source = FollowedInfo(from);
        const auto existing = FollowedInfo(to);
        if (source && existing && source->dwVolumeSerialNumber == existing->dwVolumeSerialNumber &&
            source->nFileIndexHigh == existing->nFileIndexHigh && source->nFileIndexLow == existing->nFileIndexLow) {
            return kErrorSuccess;  // the folder onto itself (another spelling): nothing to move, nothing to lose
        }
        if (!::RemoveDirectoryW(target.c_str())) {
            return win32::LastError();  // kErrorDirNotEmpty while it holds anything
        }
    }
    return ::MoveFileExW(wideFrom.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) ? kErrorSuccess
                                                                                     : win32::LastError();
}

// Folders carry access lists, and a read-only flag on a folder means nothing: only trying tells.
// The probe file goes when its handle closes, a crash of this process included.
bool IsWritableFolder(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    const DWORD attributes = Attributes(path);
    if (attributes == kNoAttributes || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        win32::NoteError(attributes == kNoAttributes ? ::GetLastError() : ERROR_DIRECTORY);
        return false;
    }
    const std::string probe =
        path + "\\.valdrune-probe-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(counter++);
    const win32::Handle file(::CreateFileW(win32::WidePath(probe).c_str(), GENERIC_WRITE | DELETE, 0, nullptr,
                                           CREATE_NEW,
                                           FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
                                           nullptr));
    if (!file) {
        win32::LastError();
        return false;
    }
    return true;
}

}  // namespace platform
