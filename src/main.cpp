// The launcher executable: wires the libraries together and runs the application object.

#include <gtk/gtk.h>

#include <memory>
#include <string>
#include <vector>

#include "core/CWebApp.h"
#include "core/CrashDumpFilter.h"
#include "platform/MessageBox.h"
#include "ui/CWebBrowserHelper.h"
#include "ui/CWebDlg.h"
#include "ui/ConsoleWindow.h"
#include "ui/GtkMessagePresenter.h"
#include "ui/WindowIdentity.h"

int main(int argc, char** argv) {
    BlockCloseSignals();
    // The whole command line goes on to the game, so keep it before GTK takes its options out.
    std::vector<std::string> args(argv, argv + argc);

    window_identity::Prepare();
    std::unique_ptr<GtkMessagePresenter> boxes;
    const bool display = gtk_init_check(&argc, &argv);
    if (display) {
        boxes = std::make_unique<GtkMessagePresenter>();
        platform::SetMessagePresenter(boxes.get());
    }

    CWebApp::Seams seams;
    seams.runMainWindow = [](CWebApp& app) { RunConsoleWindow(app); };
    seams.installCrashFilter = [](const std::string& prefix) { InstallCrashDumpFilter(prefix); };
    seams.restoreCrashFilter = [] { RestoreCrashDumpFilter(); };
    if (display) {
        seams.applyBrowserEmulation = [] { CWebBrowserHelper::GetInstance().FixBrowserVersion(); };
        seams.runMainWindow = [](CWebApp&) {
            CWebDlg::Seams window;  // the update worker, resume record and page bridge plug in here
            CWebDlg(std::move(window)).DoModal();
        };
    }

    CWebApp app(std::move(args), std::move(seams));
    const int code = app.Run();
    platform::SetMessagePresenter(nullptr);
    return code;
}
