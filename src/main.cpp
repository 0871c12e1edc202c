// The launcher executable: wires the libraries together and runs the application object.

#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "core/CWebApp.h"
#include "core/CrashDumpFilter.h"
#include "platform/MessageBox.h"
#include "telemetry/ReportingSession.h"
#include "ui/ConsoleWindow.h"
#include "ui/GtkMessagePresenter.h"
#include "update/CGameRemoteConfig.h"

int main(int argc, char** argv) {
    BlockCloseSignals();
    // The whole command line goes on to the game, so keep it before GTK takes its options out.
    std::vector<std::string> args(argv, argv + argc);

    std::unique_ptr<GtkMessagePresenter> boxes;
    if (gtk_init_check(&argc, &argv)) {
        boxes = std::make_unique<GtkMessagePresenter>();
        platform::SetMessagePresenter(boxes.get());
    }

    // Reports go to the operator's server from here on; at the end the last ones get up to 3 s.
    // No window loop runs yet, so the report engine has an event thread of its own.
    auto reports = std::make_unique<ReportingSession>();

    CWebApp::Seams seams;
    seams.runMainWindow = [](CWebApp& app) {
        RunConsoleWindow(app, {
                                  .runUpdate = [](MainWindow& window) {
                                      CGameRemoteConfig::GetInstance().InitRemoteConfig(&window);
                                  },
                                  .writeResumeRecord = [] { CGameRemoteConfig::GetInstance().WriteResumeRecord(); },
                                  .entryUrl = [] { return CGameRemoteConfig::GetInstance().GetEntryUrl(); },
                              });
    };
    seams.installCrashFilter = [](const std::string& prefix) { InstallCrashDumpFilter(prefix); };
    seams.restoreCrashFilter = [] { RestoreCrashDumpFilter(); };
    seams.removeRegistries = [] { CGameRemoteConfig::GetInstance().RemoveRegisties(); };

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
