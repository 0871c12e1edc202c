#include "core/DataPaths.h"

#include <fmt/printf.h>

#include "core/ProductConstants.h"
#include "platform/ErrorCodes.h"
#include "platform/FileSystem.h"

using namespace ProductConstants;

namespace DataPaths {

std::string DataDir(const std::optional<std::string>& dataHome) {
    return dataHome ? fmt::sprintf("%s/zavo-%s", *dataHome, kDitchName) : std::string();
}

std::string ClientDir(const std::string& dataDir) { return fmt::sprintf("%s/client", dataDir); }

std::string GameVersionFile(const std::string& clientDir) {
    return fmt::sprintf("%s/game_client_version.txt", clientDir);
}

std::string ResumeRecord(const std::string& dataDir) { return fmt::sprintf("%s/tempdownload.dat", dataDir); }

std::string Package(const std::string& dataDir) { return fmt::sprintf("%s/zavo.zip", dataDir); }

std::string LauncherCopy(const std::string& dataDir) { return fmt::sprintf("%s/%s", dataDir, kGameTitle); }

std::string UninstallCommand(const std::string& dataDir) {
    return fmt::sprintf("%s/%s /uninstall", dataDir, kGameTitle);
}

std::string GameExecutable(const std::string& clientDir) { return fmt::sprintf("%s/zavo/zavo.exe", clientDir); }

std::string GameWorkingDir(const std::string& clientDir) { return fmt::sprintf("%s/zavo", clientDir); }

std::string WinePrefix(const std::string& dataDir) { return fmt::sprintf("%s/wine", dataDir); }

std::string StartMenuFolder(const std::string& startMenuDir) {
    return fmt::sprintf("%s/Apps/%s", startMenuDir, kDitchName);
}

std::string DesktopShortcut(const std::string& desktopDir) {
    return ShortcutFile(desktopDir, std::string(kGameTitle));
}

std::string ShortcutFile(const std::string& folder, const std::string& shortcutName) {
    return fmt::sprintf("%s/%s%s", folder, shortcutName, kShortcutExtension);
}

std::string UninstallShortcutName() { return fmt::sprintf("%s-卸载", kGameTitle); }

std::string LogFile(const std::string& exeFolder, const std::string& appName) {
    return fmt::sprintf("%s/%s.log", exeFolder, appName);
}

std::string DumpPrefix(const std::string& dataDir, const std::string& appName) {
    return fmt::sprintf("%s/%s", dataDir, appName);
}

std::string MutexName() { return std::string(kGameTitle); }

}  // namespace DataPaths

DataFolders BuildDataPaths(const std::optional<std::string>& dataHome) {
    DataFolders folders;
    folders.dataDir = DataPaths::DataDir(dataHome);
    folders.clientDir = DataPaths::ClientDir(folders.dataDir);
    return folders;
}

std::uint32_t CreateDataFolders(const DataFolders& folders) {
    // Without a data home the client folder would be "/client" at the root; never touch that.
    if (folders.dataDir.empty()) {
        return platform::kErrorPathNotFound;
    }
    if (platform::PathExists(folders.clientDir)) {
        return 0;
    }
    if (!platform::PathExists(folders.dataDir)) {
        if (const auto code = platform::CreateDirectoryOneLevel(folders.dataDir)) {
            return code;
        }
    }
    return platform::CreateDirectoryOneLevel(folders.clientDir);
}
