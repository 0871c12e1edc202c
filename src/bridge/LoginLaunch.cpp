#include "bridge/LoginLaunch.h"

#include <thread>

#include <fmt/printf.h>

#include "core/CWebApp.h"
#include "core/DataPaths.h"
#include "core/ProductConstants.h"
#include "core/Logger.h"
#include "core/Reports.h"
#include "platform/Executable.h"
#include "platform/GameWindow.h"
#include "platform/MessageBox.h"

namespace {

constexpr std::size_t kLogLineCharacters = 2047;

// At most limit UTF-8 characters of text, none cut apart.
std::string FirstCharacters(const std::string& text, std::size_t limit) {
    std::size_t characters = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && characters++ == limit) {
            return text.substr(0, i);
        }
    }
    return text;
}

class SystemProcesses final : public GameProcesses {
public:
    platform::StartedProcess Start(const GameCommand& command) override {
        platform::ProcessStart start{command.program, command.argv, command.workingDir};
        start.silent = command.silent;
        start.environment = command.environment;
        return platform::StartProcess(start);
    }
    void MaximizeWindow(int pid) override { platform::MaximizeFirstWindowOf(pid); }
    void WaitForExit(int pid) override { platform::WaitForProcess(pid); }  // the exit code is not used
};

}  // namespace

GameProcesses& SystemGameProcesses() {
    static SystemProcesses processes;
    return processes;
}

LaunchSettings LaunchSettings::FromCurrentApp() {
    LaunchSettings settings;
    if (const CWebApp* app = CWebApp::Current()) {
        settings.clientDir = app->m_strClientDir;
        settings.winePrefix = DataPaths::WinePrefix(app->m_strDataDir);
        settings.launcherArgv = app->Argv();
    }
    return settings;
}

LoginLaunch::LoginLaunch(LaunchSettings settings, LaunchWindow& window, GameProcesses& processes)
    : m_settings(std::move(settings)),
      m_window(window),
      m_processes(processes),
      m_runtime(DataPaths::GameExecutable(m_settings.clientDir), m_settings.winePrefix) {}

std::string LoginLaunch::JavascriptToCPLUSPLUS(const std::string& method, const std::string& parameters) {
    LOG_INFO("CWebCDlg::JavascriptToCPLUSPLUS",
             FirstCharacters(fmt::sprintf("method:%s,paramters:%s", method, parameters), kLogLineCharacters));
    if (method == "LoginResult") {
        OnLoginResult(parameters);
        return {};
    }
    if (method == "GetCommandLine") {
        return platform::ExecutablePath();  // the path, not the command line, despite the name
    }
    return {};
}

void LoginLaunch::OnLoginResult(const std::string& text) {
    constexpr const char* kFunction = "CWebCDlg::OnLoginResult";
    std::unique_lock lock(m_launchMutex);
    if (m_bLogin) {
        LOG_INFO(kFunction, "already login");
        return;
    }
    LoginResult login = ParseLoginResult(text);
    if (login.verdict == LoginResult::Verdict::Malformed) {
        LOG_INFO(kFunction, "paramters is error!");
        return;
    }
    if (login.verdict == LoginResult::Verdict::Refused) {
        lock.unlock();  // the box waits for the player; readiness must not wait with it
        platform::AfxMessageBox("登录验证未通过", platform::kMbOk);
        return;
    }
    LOG_INFO(kFunction, "is logic suc!");
    m_bLogin = true;
    m_strLoginParam = std::move(login.loginData);
    const bool launch = m_bRunnable && !m_bLaunchDecided;
    m_bLaunchDecided = m_bLaunchDecided || launch;
    lock.unlock();
    if (launch) {
        LaunchGame();
    }
}

void LoginLaunch::SetReady() {
    std::unique_lock lock(m_launchMutex);
    const bool prepare = !m_bReady;  // the runtime is prepared once, by the first call
    m_bReady = true;
    LOG_INFO("CWebCDlg::SetReady", "is ready");
    if (prepare) {
        lock.unlock();
        // Outside the lock: the first Wine prefix takes seconds, and a login meanwhile must return.
        m_runtime.Prepare([this](const std::string& text) { m_window.ShowStatus(text); });
        lock.lock();
        m_bRunnable = true;
    }
    const bool launch = m_bRunnable && m_bLogin && !m_bLaunchDecided;
    m_bLaunchDecided = m_bLaunchDecided || launch;
    lock.unlock();
    if (launch) {
        LaunchGame();
    }
}

bool LoginLaunch::IsReady() const {
    std::lock_guard lock(m_launchMutex);
    return m_bReady;
}

void LoginLaunch::LaunchGame() {
    constexpr const char* kFunction = "CWebCDlg::LaunchGame";
    Reports().LogEvent(EventGameStart);
    Reports().Log("game start");

    const std::string loginParam = [this] {
        std::lock_guard lock(m_launchMutex);
        return m_strLoginParam;
    }();
    const std::string customParameters = m_settings.customParameters ? m_settings.customParameters() : std::string();
    const GameCommand game = BuildGameCommand(m_settings.clientDir, m_settings.launcherArgv, loginParam,
                                              customParameters, ReadLuaPath(m_settings.luaPathFile));
    const GameRuntime::Kind runtime = m_runtime.kind();
    const GameCommand command = runtime == GameRuntime::Kind::Wine ? m_runtime.ThroughWine(game) : game;
    LOG_INFO(kFunction, game.program);
    LOG_INFO(kFunction, game.workingDir);
    LOG_INFO(kFunction, JoinCommandLine(command.argv));
    LOG_INFO(kFunction, "LaunchGame");

    if (runtime == GameRuntime::Kind::NoWine) {
        LOG_ERROR(kFunction, "the game is a Windows program and no wine was found (VALDRUNE_WINE, or wine on PATH)");
    }
    // Without Wine, or without the prefix it failed to make, the game cannot start at all.
    const platform::StartedProcess started =
        runtime == GameRuntime::Kind::NoWine || runtime == GameRuntime::Kind::NoPrefix ? platform::StartedProcess{}
                                                                                       : m_processes.Start(command);
    if (!started) {
        // The launch stays spent: the window stays as it is and no later call starts the game.
        Reports().Log("game start failed");
        LOG_INFO(kFunction, "LaunchGame Faild");
        if (runtime == GameRuntime::Kind::NoWine) {
            platform::MessageBox(kNoWineText, std::string(ProductConstants::kGameTitle), platform::kMbIconInformation);
        }
        return;
    }
    Reports().Log("game start success");
    LOG_INFO(kFunction, "LaunchGame Succ");
    m_window.HideMainWindow();

    if (m_settings.firstInstall && m_settings.firstInstall()) {
        // One attempt only: a game whose window comes later keeps the state it opens with.
        std::this_thread::sleep_for(m_settings.maximizeDelay);
        m_processes.MaximizeWindow(started.pid);
    }
    m_processes.WaitForExit(started.pid);

    LOG_INFO(kFunction, "Exit Game");
    m_window.Cancel();
}
