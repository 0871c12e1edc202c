#pragma once
// The application object: decides whether this start uninstalls, whether another launcher or
// the game already runs, prepares the data folders, then runs the main window until it closes.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/DelayedDeletion.h"
#include "platform/NamedMutex.h"
#include "platform/ProcessList.h"

// The crash dump path prefix "<data folder>/<application name>", set once at start-up.
extern std::string g_strDumpPrefix;

class CWebApp;

// Steps that other parts of the launcher provide; each may be left empty.
struct CWebAppSeams {
    std::function<void()> applyBrowserEmulation;
    std::function<void(const std::string& dumpPrefix)> installCrashFilter;
    std::function<void()> restoreCrashFilter;
    std::function<void()> createScriptBridge;
    std::function<void()> destroyScriptBridge;
    std::function<void(CWebApp&)> runMainWindow;
    std::function<void()> removeRegistries;  // the uninstall's removal of the two registry keys
    // Starts the removal of the data folder for when this process has ended.
    std::function<void(const std::string& dataDir)> deleteDataFolderAfterExit =
        [](const std::string& dataDir) { platform::DeleteFolderAfterExit(dataDir); };
    // The names of the running processes; nullopt when the list cannot be read.
    std::function<std::optional<std::vector<std::string>>()> runningProcesses = [] {
        return platform::RunningProcessNames();
    };
};

class CWebApp {
public:
    using Seams = CWebAppSeams;

    explicit CWebApp(std::vector<std::string> argv, Seams seams = {});
    ~CWebApp();
    CWebApp(const CWebApp&) = delete;
    CWebApp& operator=(const CWebApp&) = delete;

    // The application object of this process, or null before it exists.
    static CWebApp* Current();

    // The framework's sequence: InitApplication, InitInstance, ExitInstance; the exit code.
    int Run();

    // False ends the process with -1 (the data folders could not be made).
    bool InitApplication();
    // An exit code when the process must end at once (uninstall, already running); these paths
    // skip ExitInstance. nullopt once the main window has closed.
    std::optional<int> InitInstance();
    int ExitInstance();

    // True when a process named exactly "zavo.exe" runs, or when the list cannot be read.
    bool IsGameRunning();

    // The "/uninstall" start: asks, then removes the game client, its menu folder, desktop
    // entry and registry keys, and leaves the data folder to be removed once the process ends.
    // Every outcome is shown to the player.
    void UnInstall();
    // Removes a folder with everything in it; symbolic links go as links, never followed.
    // True when the folder itself is gone; a file that stays keeps every folder above it.
    static bool DeleteNotNullDir(const std::string& path);

    // The launcher's own command line, whole, as it was started (the game receives it too).
    const std::vector<std::string>& Argv() const { return m_argv; }

    std::string m_strDataDir;
    std::string m_strClientDir;
    platform::NamedMutex m_hMutex;

private:
    bool IsUninstallSwitch() const;

    std::vector<std::string> m_argv;
    Seams m_seams;
};
