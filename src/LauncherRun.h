#pragma once
// What both launcher executables wire alike around their face (src/main.cpp, with the GTK window
// on Linux; src/main_console.cpp on Windows): the application's seams that do not depend on the
// window, the console as the face over the update worker, and the end of a run.

#include <memory>
#include <string>
#include <vector>

#include "core/CWebApp.h"

class CImpIDispatch;
class ReportingSession;

// The seams of every run, with the console as the face (a window replaces runMainWindow).
// dispatch holds the page's automation object while start-up keeps it.
CWebApp::Seams LauncherSeams(std::unique_ptr<CImpIDispatch>& dispatch);

// Runs the application, gives the run's last reports their chance, and ends the process.
[[noreturn]] void RunLauncher(std::vector<std::string> args, CWebApp::Seams seams,
                              std::unique_ptr<ReportingSession> reports);
