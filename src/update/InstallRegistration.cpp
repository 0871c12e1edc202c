// Install registration: the uninstall entry, the launcher copy, the shortcuts and the version
// file. Every failure here is logged and passed over; the install stands without them.

#include <fmt/printf.h>

#include <utility>

#include "core/DataPaths.h"
#include "core/Logger.h"
#include "core/ProductConstants.h"
#include "platform/Env.h"
#include "platform/ErrorCodes.h"
#include "platform/Executable.h"
#include "platform/FileSystem.h"
#include "platform/Registry.h"
#include "platform/ShellLink.h"
#include "update/CGameRemoteConfig.h"
#include "update/LauncherIcons.h"

namespace {

constexpr const char* kSetRegisties = "CGameRemoteConfig::SetRegisties";
constexpr const char* kRemoveRegisties = "CGameRemoteConfig::RemoveRegisties";
constexpr const char* kCreateShortcuts = "CGameRemoteConfig::CreateShortcuts";
constexpr const char* kCreateShortcut = "CGameRemoteConfig::CreateShortcut";
constexpr const char* kCreateLink = "CGameRemoteConfig::CreateLink";

constexpr const char* kLauncherComment = "Valdrune 游戏启动器";
constexpr const char* kUninstallComment = "卸载 Valdrune 和它的游戏客户端";

// The launcher's icon into the user's icon theme, where menus and the desktop find the name the
// shortcuts give. A file that already holds the same picture is left as it is, so the desktop's
// icon caches are not stirred on every start.
void InstallIcons() {
    const auto dataHome = platform::DataHome();
    if (!dataHome) {
        return;
    }
    const std::string theme = DataPaths::IconTheme(*dataHome);
    bool changed = false;
    for (const auto& file : LauncherIconFiles()) {
        const std::string path = DataPaths::IconFile(theme, file.key);
        if (platform::ReadFileStart(path, file.bytes.size() + 1) == file.bytes) {
            continue;
        }
        std::uint32_t error = platform::CreateDirectoryTree(platform::FolderOf(path));
        if (error == 0) {
            error = platform::ReplaceFileContent(path, std::string(file.bytes));
        }
        if (error != 0) {
            LOG_ERROR(kCreateShortcuts, fmt::sprintf("InstallIcon ret:%d %s", error, path));
        }
        changed = true;
    }
    if (changed) {
        platform::TouchFolder(theme);  // the theme's own time tells desktops to look again
    }
}

// The HRESULT a Windows error number becomes (HRESULT_FROM_WIN32), as a signed number.
std::int32_t HresultFromWin32(std::uint32_t error) {
    return error == 0 ? 0 : static_cast<std::int32_t>((error & 0xFFFFu) | 0x80070000u);
}

}  // namespace

void CGameRemoteConfig::SetRegisties() {
    using namespace ProductConstants;
    platform::RegistryKey key;
    const std::uint32_t created =
        platform::RegCreateKeyEx(platform::RegistryHive::CurrentUser, std::string(kUninstallKey), key);
    if (created != 0) {
        LOG_ERROR(kSetRegisties, fmt::sprintf("SetRegisties lret:%d error:%d", created, created));
        return;
    }
    const std::string dataDir = DataDir();
    const std::pair<const char*, std::string> values[] = {
        {"DisplayIcon", DataPaths::LauncherCopy(dataDir)},
        {"DisplayName", std::string(kGameTitle)},
        {"DisplayVersion", std::string(kLauncherVersion)},  // the launcher's own, not the game's
        {"UninstallString", DataPaths::UninstallCommand(dataDir)},
        {"InstallPath", dataDir},
    };
    for (const auto& [name, data] : values) {
        if (const std::uint32_t lret = platform::RegSetStringValue(key, name, data)) {
            LOG_ERROR(kSetRegisties, fmt::sprintf("SetRegisties lret:%d error:%d", lret, lret));
        }
    }
    platform::RegCloseKey(key);
}

void CGameRemoteConfig::RemoveRegisties() {
    using namespace ProductConstants;
    const std::uint32_t user =
        platform::RegDeleteKey(platform::RegistryHive::CurrentUser, std::string(kUninstallKey));
    LOG_INFO(kRemoveRegisties, fmt::sprintf("lret:%d", user));
    const std::uint32_t classes = platform::RegDeleteKey(platform::RegistryHive::ClassesRoot,
                                                         std::string(DataPaths::kClassRegistryKey));
    LOG_INFO(kRemoveRegisties, fmt::sprintf("lret:%d", classes));
}

std::uint32_t CGameRemoteConfig::CopyLauncher(const std::string& target) const {
    const std::string exe = ExecutablePath();
    if (const std::uint32_t error = platform::CopyFile(exe, target)) {
        return error;
    }
    // The page's window.external lives in a library beside the executable; a copy without it
    // would show the page but never hear from it.
    const std::string extension = fmt::sprintf("%s/%s", platform::FolderOf(exe), DataPaths::kWebExtensionFile);
    if (platform::PathExists(extension)) {
        return platform::CopyFile(
            extension, fmt::sprintf("%s/%s", platform::FolderOf(target), DataPaths::kWebExtensionFile));
    }
    return 0;
}

void CGameRemoteConfig::CreateShortcuts() {
    LOG_INFO(kCreateShortcuts, "Begin CreateShortcuts");
    InstallIcons();
    const std::string uninstallName = DataPaths::UninstallShortcutName();
    const std::string dataDir = DataDir();
    const std::string launcher = DataPaths::LauncherCopy(dataDir);
    const std::string title(ProductConstants::kGameTitle);

    // An unknown special folder leaves its shortcuts without a place (they fail in CreateLink).
    const auto startMenu = platform::StartMenuDir();
    const std::string startMenuFolder = startMenu ? DataPaths::StartMenuFolder(*startMenu) : std::string();
    CreateShortcut(title, startMenuFolder, launcher, "");
    CreateShortcut(uninstallName, startMenuFolder, launcher, "/uninstall");
    CreateShortcut(title, platform::DesktopDir().value_or(""), launcher, "");
    CreateShortcut(uninstallName, dataDir, launcher, "/uninstall");
    LOG_INFO(kCreateShortcuts, "End CreateShortcuts");
}

void CGameRemoteConfig::CreateShortcut(const std::string& name, const std::string& folder, const std::string& target,
                                       const std::string& arguments) {
    LOG_INFO(kCreateShortcut, "Begin CreateShortcut");
    LOG_INFO(kCreateShortcut, folder);
    LOG_INFO(kCreateShortcut, arguments);
    if (!platform::PathExists(folder)) {
        platform::CreateDirectoryOneLevel(folder);  // one level: a missing parent makes the link fail
    }
    const std::string link = folder.empty() ? std::string() : DataPaths::ShortcutFile(folder, name);
    if (platform::PathExists(link)) {
        platform::DeleteFile(link);  // a changed target or name takes effect
    }
    CreateLink(target, link, arguments);
    LOG_INFO(kCreateShortcut, "End CreateShortcut");
}

void CGameRemoteConfig::CreateLink(const std::string& target, const std::string& linkPath,
                                   const std::string& arguments) {
    LOG_INFO(kCreateLink, "Begin CreateLink");
    // The menu shows the link under the name it is saved as, as Windows shows a .lnk.
    std::string name = linkPath.substr(linkPath.rfind('/') + 1);
    if (name.size() > DataPaths::kShortcutExtension.size()) {
        name.resize(name.size() - DataPaths::kShortcutExtension.size());
    }
    // Every link starts the launcher copy, whose window carries the game title as its class.
    platform::ShellLink link{name, target, arguments, std::string(ProductConstants::kGameTitle)};
    link.icon = DataPaths::kIconName;
    link.comment = arguments.empty() ? kLauncherComment : kUninstallComment;
    link.categories = "Game;";
    const auto desktop = platform::DesktopDir();
    link.trusted = desktop && linkPath == DataPaths::DesktopShortcut(*desktop);
    if (const std::uint32_t error = platform::SaveShellLink(linkPath, link)) {
        LOG_ERROR(kCreateLink, fmt::sprintf("CreateLink ret:%d hRes:%d", error, HresultFromWin32(error)));
        return;
    }
    LOG_INFO(kCreateLink, "End CreateLink");
}

void CGameRemoteConfig::WriteVersionFile() {
    std::string version;
    FindConfigValue("ClientVersion", version);  // empty when absent
    // In one step: a crash never leaves a version file that names a version half-written.
    const std::string path = DataPaths::GameVersionFile(ClientDir());
    if (platform::ReplaceFileContent(path, version) != 0) {
        // The next start sees no version and updates again.
        LOG_ERROR("CGameRemoteConfig::WriteVersionFile", fmt::sprintf("%s: %s", path, platform::LastErrorText()));
    }
}
