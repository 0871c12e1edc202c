#include "core/DataPaths.h"

#include <fmt/printf.h>

#include "core/ProductConstants.h"
#include "platform/ErrorCodes.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"

using namespace ProductConstants;
using platform::kExecutableSuffix;
using platform::kPathSeparator;

namespace DataPaths {

std::string DataDir(const std::optional<std::string>& dataHome) {
    return dataHome ? fmt::sprintf("%s%czavo-%s", *dataHome, kPathSeparator, kDitchName) : std::string();
}

std::string ClientDir(const std::string& dataDir) { return fmt::sprintf("%s%cclient", dataDir, kPathSeparator); }

std::string GameVersionFile(const std::string& clientDir) {
    return fmt::sprintf("%s%cgame_client_version.txt", clientDir, kPathSeparator);
}

std::string ResumeRecord(const std::string& dataDir) { return fmt::sprintf("%s%ctempdownload.dat", dataDir, kPathSeparator); }

std::string Package(const std::string& dataDir) { return fmt::sprintf("%s%czavo.zip", dataDir, kPathSeparator); }

std::string LauncherCopy(const std::string& dataDir) { return fmt::sprintf("%s%c%s%s", dataDir, kPathSeparator, kGameTitle, kExecutableSuffix); }

std::string UninstallCommand(const std::string& dataDir) {
    return fmt::sprintf("%s /uninstall", LauncherCopy(dataDir));
}

std::string GameExecutable(const std::string& clientDir) { return fmt::sprintf("%s%czavo%czavo.exe", clientDir, kPathSeparator, kPathSeparator); }

std::string GameWorkingDir(const std::string& clientDir) { return fmt::sprintf("%s%czavo", clientDir, kPathSeparator); }

std::string WebsiteData(const std::string& dataDir) {
    return fmt::sprintf("%s%cwebkit%cdata", dataDir, kPathSeparator, kPathSeparator);
}

std::string WebsiteCache(const std::string& dataDir) {
    return fmt::sprintf("%s%cwebkit%ccache", dataDir, kPathSeparator, kPathSeparator);
}

std::string WinePrefix(const std::string& dataDir) { return fmt::sprintf("%s%cwine", dataDir, kPathSeparator); }

std::string StartMenuFolder(const std::string& startMenuDir) {
    return fmt::sprintf("%s%cApps%c%s", startMenuDir, kPathSeparator, kPathSeparator, kDitchName);
}

std::string DesktopShortcut(const std::string& desktopDir) {
    return ShortcutFile(desktopDir, std::string(kGameTitle));
}

std::string ShortcutFile(const std::string& folder, const std::string& shortcutName) {
    return fmt::sprintf("%s%c%s%s", folder, kPathSeparator, shortcutName, kShortcutExtension);
}

std::string UninstallShortcutName() { return fmt::sprintf("%s-卸载", kGameTitle); }

std::string IconTheme(const std::string& dataHome) { return fmt::sprintf("%s/icons/hicolor", dataHome); }

std::string IconFile(const std::string& theme, std::string_view size) {
    return fmt::sprintf("%s/%s/apps/%s.%s", theme, size, kIconName, size == "scalable" ? "svg" : "png");
}

std::string LogFile(const std::string& exeFolder, const std::string& appName) {
    return fmt::sprintf("%s%c%s.log", exeFolder, kPathSeparator, appName);
}

std::string LogStateFolder(const std::string& stateHome) { return fmt::sprintf("%s/valdrune", stateHome); }

std::string DumpPrefix(const std::string& dataDir, const std::string& appName) {
    return fmt::sprintf("%s%c%s", dataDir, kPathSeparator, appName);
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
        // A fresh account may have no data home yet (Windows always has its drive root): make
        // it with its missing parents, private as the XDG base directory rules ask.
        const size_t slash = folders.dataDir.rfind(kPathSeparator);
        const std::string dataHome = slash == 0 ? std::string(1, kPathSeparator) : folders.dataDir.substr(0, slash);
        if (slash != std::string::npos && !platform::PathExists(dataHome)) {
            if (const auto code = platform::CreateDirectoryTree(dataHome)) {
                return code;
            }
        }
        if (const auto code = platform::CreateDirectoryOneLevel(folders.dataDir)) {
            return code;
        }
    }
    return platform::CreateDirectoryOneLevel(folders.clientDir);
}
