#include "LauncherRun.h"

#include <cstdio>
#include <cstdlib>

#include "bridge/CImpIDispatch.h"
#include "console/ConsoleWindow.h"
#include "core/CrashDumpFilter.h"
#include "platform/MessageBox.h"
#include "telemetry/ReportingSession.h"
#include "update/CGameRemoteConfig.h"

CWebApp::Seams LauncherSeams(std::unique_ptr<CImpIDispatch>& dispatch) {
    CWebApp::Seams seams;
    seams.installCrashFilter = [](const std::string& prefix) { InstallCrashDumpFilter(prefix); };
    seams.restoreCrashFilter = [] { RestoreCrashDumpFilter(); };
    seams.removeRegistries = [] { CGameRemoteConfig::GetInstance().RemoveRegisties(); };
    seams.createScriptBridge = [&dispatch] { dispatch = std::make_unique<CImpIDispatch>(); };
    seams.destroyScriptBridge = [&dispatch] { dispatch.reset(); };
    seams.runMainWindow = [](CWebApp& app) {
        RunConsoleWindow(app, {
                                  .runUpdate = [](MainWindow& window) {
                                      CGameRemoteConfig::GetInstance().InitRemoteConfig(&window);
                                  },
                                  .writeResumeRecord = [] { CGameRemoteConfig::GetInstance().WriteResumeRecord(); },
                                  .entryUrl = [] { return CGameRemoteConfig::GetInstance().GetEntryUrl(); },
                              });
    };
    return seams;
}

void RunLauncher(std::vector<std::string> args, CWebApp::Seams seams, std::unique_ptr<ReportingSession> reports) {
    CWebApp app(std::move(args), std::move(seams));
    const int code = app.Run();
    platform::SetMessagePresenter(nullptr);
    reports.reset();  // the last reports of the run (an uninstall's, a folder error) get their chance
    // The update worker may still be running (the player closed the launcher mid-download).
    // End without static destructors, so nothing it uses is torn down under it; the log is
    // written straight through and the resume record is already on disk.
    std::fflush(nullptr);
    std::_Exit(code);
}
