// The Windows launcher executable, for now without its window: wires the libraries together and
// runs the application object with the console as its face, as the Linux launcher does without
// a display (src/main.cpp).

#include <memory>
#include <string>
#include <vector>

#include "LauncherRun.h"
#include "bridge/CImpIDispatch.h"
#include "core/Logger.h"
#include "platform/CloseRequest.h"
#include "platform/Executable.h"
#include "platform/MessageBox.h"
#include "telemetry/ReportingSession.h"

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

    RunLauncher(std::move(args), LauncherSeams(dispatch), std::move(reports));
}
