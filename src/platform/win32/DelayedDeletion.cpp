#include "platform/DelayedDeletion.h"

#include <shlobj.h>

#include <algorithm>
#include <cwctype>
#include <optional>
#include <utility>
#include <vector>

#include "platform/Env.h"
#include "platform/ErrorCodes.h"
#include "platform/win32/Wide.h"

namespace platform {
namespace {

// The delay lets the launcher end first, so its own executable is no longer in use. Loopback
// echo requests: a delay that needs no network and sends nothing off the machine.
constexpr const wchar_t* kDelay = L"ping 127.0.0.1 -n 4 > NUL";

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// "X:\level\level": a drive, then levels that are neither empty, "." nor "..".
bool IsNormalAbsolute(const std::wstring& path) {
    if (path.size() < 4 || !std::iswalpha(path[0]) || path[1] != L':' || path[2] != L'\\' || IsSeparator(path.back())) {
        return false;
    }
    for (std::size_t start = 3; start <= path.size();) {
        const std::size_t end = std::min(path.find(L'\\', start), path.size());
        const std::wstring_view level(path.data() + start, end - start);
        if (level.empty() || level == L"." || level == L".." || level.find(L'/') != std::wstring_view::npos) {
            return false;
        }
        start = end + 1;
    }
    return true;
}

std::wstring Lower(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return std::towlower(c); });
    return text;
}

// True when inner is folder or lies below it (Windows names compare without letter case).
bool SameOrBelow(const std::wstring& inner, const std::wstring& folder) {
    const std::wstring a = Lower(inner);
    const std::wstring b = Lower(folder);
    return a == b || (a.size() > b.size() && a.compare(0, b.size(), b) == 0 && a[b.size()] == L'\\');
}

std::wstring Resolved(const std::wstring& path) {
    win32::Handle file(::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    wchar_t buffer[32768];
    if (!file || ::GetFinalPathNameByHandleW(file.get(), buffer, 32768, FILE_NAME_NORMALIZED) == 0) {
        return path;
    }
    std::wstring resolved = buffer;
    if (resolved.rfind(L"\\\\?\\", 0) == 0 && resolved.rfind(L"\\\\?\\UNC\\", 0) != 0) {
        resolved.erase(0, 4);
    }
    return resolved;
}

std::optional<std::wstring> SpecialFolder(int csidl) {
    wchar_t buffer[MAX_PATH] = {};
    if (!::SHGetSpecialFolderPathW(nullptr, buffer, csidl, FALSE) || buffer[0] == L'\0') {
        return std::nullopt;
    }
    return std::wstring(buffer);
}

}  // namespace

bool IsProtectedFolder(const std::string& path) {
    const std::wstring wide = win32::Widen(path);
    // The command interpreter reads these as syntax even inside quotes ("%" expands, '"' ends
    // the quoting); a folder of the launcher's never holds them.
    if (!IsNormalAbsolute(wide) || wide.find_first_of(L"\"%^&|<>\r\n") != std::wstring::npos) {
        return true;
    }
    const std::wstring resolved = Resolved(wide);
    for (const std::wstring& candidate : {wide, resolved}) {
        // The user's profile and what holds it; the system's folders and everything in them.
        if (const auto profile = SpecialFolder(CSIDL_PROFILE); profile && SameOrBelow(*profile, candidate)) {
            return true;
        }
        for (const int csidl : {CSIDL_WINDOWS, CSIDL_PROGRAM_FILES}) {
            const auto system = SpecialFolder(csidl);
            if (system && (SameOrBelow(*system, candidate) || SameOrBelow(candidate, *system))) {
                return true;
            }
        }
    }
    return false;
}

DelayedFolderDeletion DelayedFolderDeletion::Start(const std::string& folder) {
    DelayedFolderDeletion deletion;
    if (IsProtectedFolder(folder)) {
        deletion.m_error = kErrorInvalidParameter;
        return deletion;
    }
    wchar_t system[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring shell = (length > 0 && length < MAX_PATH ? std::wstring(system) : std::wstring(L"C:\\Windows\\System32")) +
                               L"\\cmd.exe";
    // The folder named with a trailing backslash, quoted; "/d" keeps AutoRun commands out.
    std::wstring command = L"\"" + shell + L"\" /d /c " + kDelay + L" & rmdir /q /s \"" + win32::Widen(folder) + L"\\\"";

    // Hidden, detached from the launcher's console, started in a folder that is not removed,
    // and suspended until it is let go.
    STARTUPINFOW info{};
    info.cb = sizeof(info);
    PROCESS_INFORMATION process{};
    const std::wstring workingFolder = system;
    if (!::CreateProcessW(shell.c_str(), command.data(), nullptr, nullptr, FALSE,
                          CREATE_SUSPENDED | CREATE_NO_WINDOW | DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP,
                          nullptr, workingFolder.empty() ? nullptr : workingFolder.c_str(), &info, &process)) {
        deletion.m_error = win32::LastError();
        return deletion;
    }
    ::CloseHandle(process.hProcess);
    deletion.m_pid = static_cast<int>(process.dwProcessId);
    deletion.m_trigger = reinterpret_cast<std::intptr_t>(process.hThread);
    return deletion;
}

void DelayedFolderDeletion::Release() {
    if (m_trigger != -1) {
        const HANDLE thread = reinterpret_cast<HANDLE>(std::exchange(m_trigger, -1));
        ::ResumeThread(thread);
        ::CloseHandle(thread);
    }
}

// The shell cannot wait for this process's end itself: its delay covers the launcher's exit.
void DelayedFolderDeletion::ReleaseAtExit() { Release(); }

std::uint32_t DeleteFolderAfterExit(const std::string& folder) {
    auto deletion = DelayedFolderDeletion::Start(folder);
    deletion.ReleaseAtExit();
    return deletion.error();
}

}  // namespace platform
