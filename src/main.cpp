// The launcher executable: wires the libraries together and runs the application object.

#include <gtk/gtk.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "LauncherRun.h"
#include "bridge/CImpIDispatch.h"
#include "bridge/LoginLaunch.h"
#include "bridge/MainWindowBridge.h"
#include "bridge/ScriptCalls.h"
#include "core/CWebApp.h"
#include "core/DataPaths.h"
#include "core/LauncherUpgrade.h"
#include "core/Logger.h"
#include "platform/CloseRequest.h"
#include "platform/Env.h"
#include "platform/Executable.h"
#include "platform/MessageBox.h"
#include "platform/Process.h"
#include "telemetry/BrowserInfo.h"
#include "telemetry/ReportingSession.h"
#include "ui/CWebBrowserHelper.h"
#include "ui/CWebDlg.h"
#include "ui/GtkMessagePresenter.h"
#include "ui/PageBridge.h"
#include "ui/ScriptChannel.h"
#include "ui/WindowIdentity.h"
#include "update/CGameRemoteConfig.h"

namespace {

// What the game launch does to the window, through the link that stays safe to use from any
// thread (the launch runs on whichever thread completed login and readiness; the status text
// while Wine's prefix is made comes from the update worker). Weak: the window owns its link,
// and a window that is gone has nothing left to hide or end.
class WindowForLaunch final : public LaunchWindow {
public:
    void HideMainWindow() override {
        if (auto link = m_link.lock()) {
            link->ShowWindow(false);
        }
    }
    void ShowStatus(const std::string& text) override {
        if (auto link = m_link.lock()) {
            link->ShowProgress(text, "", 0, 0);
            link->ShowMessageState();
        }
    }
    void Cancel() override {
        if (auto link = m_link.lock()) {
            link->Cancel();
        }
    }
    std::weak_ptr<MainWindowLink> m_link;
};

// The login and the launch with everything they talk to. Shared with the window's seams: the
// update worker may still reach them through the window after the window has closed.
struct LaunchWiring {
    WindowForLaunch window;
    LoginLaunch login;
    MainWindowBridge bridge;  // what the page's automation object reaches

    LaunchWiring() : login(Settings(), window) { bridge.SetOverlay(&login); }

    static LaunchSettings Settings() {
        LaunchSettings settings = LaunchSettings::FromCurrentApp();
        settings.customParameters = [] { return CGameRemoteConfig::GetInstance().GetCustomParameters(); };
        settings.firstInstall = [] { return g_bFirstInstall.load(); };
        return settings;
    }
};

void RunWindow(CImpIDispatch& dispatch) {
    auto wiring = std::make_shared<LaunchWiring>();
    AutomationScriptDispatcher adapter(dispatch);
    ScriptChannel channel(adapter);  // before the first page, which asks for it at once
    page_bridge::SetExtensionDataSource([&channel] { return channel.ExtensionData(); });
    dispatch.SetMainWindow(&wiring->bridge);

    CWebDlg::Seams seams;
    seams.startUpdateWorker = [](std::shared_ptr<MainWindow> link) {
        // Detached: it may still run when the launcher exits; it keeps the window's link.
        std::thread([link] { CGameRemoteConfig::GetInstance().InitRemoteConfig(link.get()); }).detach();
    };
    seams.writeResumeRecord = [] { CGameRemoteConfig::GetInstance().WriteResumeRecord(); };
    seams.overlay.entryUrl = [] { return CGameRemoteConfig::GetInstance().GetEntryUrl(); };
    seams.linkCreated = [wiring](std::shared_ptr<MainWindowLink> link) { wiring->window.m_link = link; };
    seams.overlay.onReady = [wiring] { wiring->login.SetReady(); };
    seams.overlay.javascriptToCpp = [wiring](const std::string& method, const std::string& parameters) {
        return wiring->login.JavascriptToCPLUSPLUS(method, parameters);
    };

    CWebDlg(std::move(seams)).DoModal();

    dispatch.SetMainWindow(nullptr);
    page_bridge::SetExtensionDataSource({});
}

}  // namespace

int main(int argc, char** argv) {
    // The whole command line goes on to the game, so keep it before GTK takes its options out.
    std::vector<std::string> args(argv, argv + argc);
    // A copy older than the installed launcher (a package upgrade since) lets that one start in
    // its place, before either has touched anything.
    if (const auto newer = NewerInstalledLauncher(platform::ExecutablePath(),
                                                  DataPaths::LauncherCopy(DataPaths::DataDir(platform::DataHome())),
                                                  InstalledLauncherPaths())) {
        platform::ReplaceProcess(*newer, args);  // returns only when it failed: the copy runs on
    }
    // The log opens before anything else can write to stderr: when it has to live in the state
    // folder, the first line there says so.
    Logger::GetInstance();
    platform::PrepareCloseRequest();

    window_identity::Prepare();
    std::unique_ptr<GtkMessagePresenter> boxes;
    const bool display = gtk_init_check(&argc, &argv);
    if (display) {
        boxes = std::make_unique<GtkMessagePresenter>();
        platform::SetMessagePresenter(boxes.get());
    }

    BrowserInfo::SetVersionProvider([] { return CWebBrowserHelper::GetInstance().GetBrowserVersion(); });
    if (display) {
        // Reports carry the page engine's user agent, as its pages do. Without a display the
        // engine cannot tell it, and reports go without one.
        BrowserInfo::SetDefaultUserAgent(CWebBrowserHelper::DefaultUserAgent());
    }
    // Reports go to the operator's server from here on; at the end the last ones get up to 3 s.
    // The report engine has an event thread of its own: the window thread may be blocked for the
    // game's whole life when the launch runs there.
    auto reports = std::make_unique<ReportingSession>();

    // The page's automation object (the application's m_pDispatch), made and deleted by start-up.
    std::unique_ptr<CImpIDispatch> dispatch;

    CWebApp::Seams seams = LauncherSeams(dispatch);  // the console is the face without a display
    if (display) {
        seams.applyBrowserEmulation = [] { CWebBrowserHelper::GetInstance().FixBrowserVersion(); };
        seams.runMainWindow = [&dispatch](CWebApp&) { RunWindow(*dispatch); };
    }
    RunLauncher(std::move(args), std::move(seams), std::move(reports));
}
