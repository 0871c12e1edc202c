#pragma once
// The launcher's face without a display: what the window would show goes to stdout, and the
// run lasts until SIGINT or SIGTERM closes it, as the close button would.

#include "core/MainWindow.h"

class CWebApp;

class ConsoleWindow final : public MainWindow {
public:
    void ShowProgress(const std::string& status, const std::string& percentText, int percent,
                      int downloading) override;
    void ShowProgressState() override {}
    void ShowMessageState() override {}
    void InitWebBrower() override {}
    void SetReady() override {}
};

// Blocks SIGINT and SIGTERM for the calling thread and every thread started after it, so that
// RunConsoleWindow can take them synchronously. Call first thing in main.
void BlockCloseSignals();

// Runs the windowless launcher until a close signal arrives.
void RunConsoleWindow(CWebApp& app);
