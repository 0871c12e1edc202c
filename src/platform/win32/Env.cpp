#include "platform/Env.h"

#include <shlobj.h>

#include "platform/FileSystem.h"
#include "platform/win32/Wide.h"

namespace platform {
namespace {

// SHGetSpecialFolderPathW without creating the folder.
std::optional<std::string> SpecialFolder(int csidl) {
    wchar_t buffer[MAX_PATH] = {};
    if (!::SHGetSpecialFolderPathW(nullptr, buffer, csidl, FALSE) || buffer[0] == L'\0') {
        return std::nullopt;
    }
    return win32::Narrow(buffer);
}

}  // namespace

std::optional<std::string> HomeDir() { return SpecialFolder(CSIDL_PROFILE); }

// The data folder sits at the root of drive C on every machine that has one.
std::optional<std::string> DataHome() {
    if (!PathExists("C:\\")) {
        return std::nullopt;
    }
    return std::string("C:");
}

std::optional<std::string> ConfigHome() { return SpecialFolder(CSIDL_APPDATA); }

// Where a log goes when the program's folder is read-only: the user's local application data.
std::optional<std::string> StateHome() { return SpecialFolder(CSIDL_LOCAL_APPDATA); }

std::optional<std::string> RuntimeDir() { return std::nullopt; }

std::optional<std::string> DesktopDir() { return SpecialFolder(CSIDL_DESKTOPDIRECTORY); }

std::optional<std::string> StartMenuDir() { return SpecialFolder(CSIDL_STARTMENU); }

}  // namespace platform
