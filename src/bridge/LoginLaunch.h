#pragma once
// The login and the game launch: the overlay's (CWebCDlg's) half of the bridge. The game starts
// once both a successful login (from the page, on the window thread) and readiness (from the
// update worker) have arrived, on whichever thread brings the second; the launcher then hides,
// waits for the game to end and closes.

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "bridge/GameCommand.h"
#include "bridge/GameRuntime.h"
#include "platform/Process.h"

// What the launch needs of the main window (CWebDlg). Both run on the thread that launched the
// game: the window thread when the login completed the pair, the update worker when readiness
// did. When called on the window thread they must act directly, never wait for that thread.
class LaunchWindow {
public:
    virtual ~LaunchWindow() = default;
    // Hides the launcher's window (the overlay with it) once the game has started.
    virtual void HideMainWindow() = 0;
    // Shows text alone as the overlay's status text (while the game's Wine prefix is made).
    // Called on the update worker.
    virtual void ShowStatus(const std::string& text) = 0;
    // CWebDlg::Cancel, once the game has ended: logs "Laucher Stop", writes the resume record and
    // ends the main dialog. The bridge touches nothing of itself after this returns, so the
    // window may destroy it as soon as the dialog has ended.
    virtual void Cancel() = 0;
};

// Starting and watching the game process, and the one request about its window.
class GameProcesses {
public:
    virtual ~GameProcesses() = default;
    virtual platform::StartedProcess Start(const GameCommand& command) = 0;
    virtual void MaximizeWindow(int pid) = 0;
    virtual void WaitForExit(int pid) = 0;  // blocks for as long as the game runs
};

// The real processes and the X11 window request.
GameProcesses& SystemGameProcesses();

struct LaunchSettings {
    std::string clientDir;                          // CWebApp::m_strClientDir
    std::string winePrefix;                         // where a Windows game's Wine prefix lives
    std::vector<std::string> launcherArgv;          // the launcher's own argv, argv[0] included
    std::function<std::string()> customParameters;  // "CustomParameters" of the remote configuration
    std::function<bool()> firstInstall;             // g_bFirstInstall, read when the game starts
    std::string luaPathFile = "luapath.txt";        // relative: the launcher's current folder
    std::chrono::milliseconds maximizeDelay{1000};  // on a first install, before the window request

    // clientDir, winePrefix and launcherArgv from the running application object (CWebApp::Current()).
    static LaunchSettings FromCurrentApp();
};

class LoginLaunch {
public:
    LoginLaunch(LaunchSettings settings, LaunchWindow& window, GameProcesses& processes = SystemGameProcesses());
    LoginLaunch(const LoginLaunch&) = delete;
    LoginLaunch& operator=(const LoginLaunch&) = delete;

    // CWebCDlg::JavascriptToCPLUSPLUS, the dispatcher of "JavascriptToCsharp": "LoginResult" hands
    // parameters to OnLoginResult, "GetCommandLine" answers the launcher executable's full path,
    // anything else an empty text. Every call is logged. Window thread.
    std::string JavascriptToCPLUSPLUS(const std::string& method, const std::string& parameters);

    // CWebCDlg::OnLoginResult. Window thread; when the client is ready already it starts the game
    // and returns only after the game has ended.
    void OnLoginResult(const std::string& text);

    // CWebCDlg::SetReady. Update worker: marks the client ready, then readies what the game runs
    // in (for a Windows game, Wine's prefix: some seconds the first time; a login meanwhile waits
    // for it). When the login has arrived already it starts the game and returns only after the
    // game has ended.
    void SetReady();

    // m_bReady, for "IsDownLoadComplete". Any thread.
    bool IsReady() const;

private:
    void LaunchGame();

    const LaunchSettings m_settings;
    LaunchWindow& m_window;
    GameProcesses& m_processes;
    GameRuntime m_runtime;  // written by SetReady before m_bRunnable, read by the launch after it

    // The launch decision: the login (window thread) and readiness (update worker) each set their
    // flag and test the other's under this lock, and the one that completes the pair records the
    // decision, so exactly one thread launches. The launch itself runs outside the lock.
    // Readiness for the launch is m_bRunnable: the client ready and the game's runtime prepared.
    mutable std::mutex m_launchMutex;
    bool m_bReady = false;
    bool m_bRunnable = false;
    bool m_bLogin = false;
    bool m_bLaunchDecided = false;
    std::string m_strLoginParam;
};
