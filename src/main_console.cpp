// The Windows launcher executable, for now without its window: wires the libraries together and
// runs the application object with the console as its face, as the Linux launcher does without
// a display (src/main.cpp).

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bridge/CImpIDispatch.h"
#include "console/ConsoleWindow.h"
#include "core/CWebApp.h"
#include "core/CrashDumpFilter.h"
#include "core/Logger.h"
#include "platform/CloseRequest.h"
#include "platform/Executable.h"
#include "platform/MessageBox.h"
#include "telemetry/ReportingSession.h"
#include "update/CGameRemoteConfig.h"

int main(int argc, char** argv) {
    // The whole command line goes on to the game, as the player typed it.
    std::vector<std::string> args = platform::ProgramArguments(argc, argv);
    // The log opens before anything else can write to stderr.
    Logger::GetInstance();
    platform::PrepareCloseRequest();

    // Nobody is there to click a box when the console is the launcher's face: the console asks.
    platform::ConsolePresenter boxes;
    platform::SetMessagePresenter(&boxes);

    // Reports go to the operator's server from here on; at the end the last ones get up to 3 s.
    auto reports = std::make_unique<ReportingSession>();

    // The page's automation object (the application's m_pDispatch), made and deleted by start-up.
    std::unique_ptr<CImpIDispatch> dispatch;

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
