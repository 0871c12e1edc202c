#pragma once
// The two folders all installed data lives in, and every file, folder, shortcut, registry key
// and lock name derived from the product constants. Paths join with the system's separator
// ('\\' on Windows, '/' on Linux) and never end in one.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Paths.h"

namespace DataPaths {

inline constexpr std::string_view kGameProcessName = "zavo.exe";
inline constexpr std::string_view kLuaPathFile = "luapath.txt";  // relative to the current folder
inline constexpr std::string_view kClassRegistryKey = "zavo-drevoline";  // under HKEY_CLASSES_ROOT
inline constexpr std::string_view kShortcutExtension = platform::kShortcutSuffix;  // ".lnk" or ".desktop"
// The page engine's extension that gives the page its window.external; it lives beside the
// executable and travels with every copy of it.
inline constexpr std::string_view kWebExtensionFile = "libvaldrune-webext.so";

// The launcher's icon in the desktop's icon theme (also the name of its installed desktop entry
// and of its AppStream file), and the theme's size folders it is installed in.
inline constexpr std::string_view kIconName = "io.valdrune.Launcher";
inline constexpr std::string_view kIconThemeSizes[] = {"48x48", "64x64", "128x128", "256x256", "scalable"};

// "<data home>/zavo-drevoline" (Windows: C:\zavo-drevoline, the data home being drive C:), or
// empty when the data home cannot be determined.
std::string DataDir(const std::optional<std::string>& dataHome);
std::string ClientDir(const std::string& dataDir);

std::string GameVersionFile(const std::string& clientDir);
std::string ResumeRecord(const std::string& dataDir);
std::string Package(const std::string& dataDir);
std::string LauncherCopy(const std::string& dataDir);
std::string UninstallCommand(const std::string& dataDir);
std::string GameExecutable(const std::string& clientDir);
std::string GameWorkingDir(const std::string& clientDir);
// The page engine's stores: "<data>/webkit/data" and "<data>/webkit/cache".
std::string WebsiteData(const std::string& dataDir);
std::string WebsiteCache(const std::string& dataDir);
// The Wine prefix a Windows game client runs in: the launcher's own, removed with the data folder.
std::string WinePrefix(const std::string& dataDir);
std::string StartMenuFolder(const std::string& startMenuDir);
std::string DesktopShortcut(const std::string& desktopDir);
std::string ShortcutFile(const std::string& folder, const std::string& shortcutName);
std::string UninstallShortcutName();
// "<data home>/icons/hicolor", the theme every desktop falls back to.
std::string IconTheme(const std::string& dataHome);
// "<theme>/<size>/apps/io.valdrune.Launcher.png" (".svg" for "scalable").
std::string IconFile(const std::string& theme, std::string_view size);
std::string LogFile(const std::string& exeFolder, const std::string& appName);
// Where the log goes when the executable's folder cannot be written: "<state home>/valdrune".
std::string LogStateFolder(const std::string& stateHome);
std::string DumpPrefix(const std::string& dataDir, const std::string& appName);
std::string MutexName();

}  // namespace DataPaths

// The data folder and its client folder, computed once at start-up.
struct DataFolders {
    std::string dataDir;
    std::string clientDir;
};

// Forms both folders from the user's data home (nullopt: unknown, the data folder stays empty).
DataFolders BuildDataPaths(const std::optional<std::string>& dataHome);

// Makes sure both folders exist: 0, or the Windows error number of the creation that failed.
// An existing client folder is taken as proof of the data folder; nothing else is examined.
// A missing data home is made first, with its missing parents (mode 0700); the data folder and
// the client folder are then made one level each.
std::uint32_t CreateDataFolders(const DataFolders& folders);
