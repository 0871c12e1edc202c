// The launcher executable: wires the libraries together and runs the application object.

#include <gtk/gtk.h>

#include <memory>
#include <string>
#include <vector>

#include "core/CWebApp.h"
#include "core/CrashDumpFilter.h"
#include "platform/MessageBox.h"
#include "telemetry/ReportingSession.h"
#include "ui/ConsoleWindow.h"
#include "ui/GtkMessagePresenter.h"

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
    ReportingSession reports;

    CWebApp::Seams seams;
    seams.runMainWindow = [](CWebApp& app) { RunConsoleWindow(app); };
    seams.installCrashFilter = [](const std::string& prefix) { InstallCrashDumpFilter(prefix); };
    seams.restoreCrashFilter = [] { RestoreCrashDumpFilter(); };

    CWebApp app(std::move(args), std::move(seams));
    const int code = app.Run();
    platform::SetMessagePresenter(nullptr);
    return code;
}
