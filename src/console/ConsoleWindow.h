#pragma once
// The launcher's face without a window: what the window would show goes to stdout, the update
// runs on its worker as under the window, and the run lasts until the player's close request
// (platform/CloseRequest.h: Ctrl+C, and SIGTERM on Linux, Ctrl+Break or the console's close
// button on Windows) closes it, as the close button would.

#include <functional>
#include <string>

#include "core/MainWindow.h"

class CWebApp;

// What the windowless launcher needs of the rest of the launcher; each may be left empty.
struct ConsoleWindowHooks {
    std::function<void(MainWindow& window)> runUpdate;  // the update worker's whole run
    std::function<void()> writeResumeRecord;              // on closing
    std::function<std::string()> entryUrl;                // the page the window would load
};

// Called on the update worker's thread only (it owns the "last shown" state below).
class ConsoleWindow final : public MainWindow {
public:
    explicit ConsoleWindow(std::function<std::string()> entryUrl = {});

    // Prints a status text, or the caption and percent text when the percent text changes.
    void ShowProgress(const std::string& status, const std::string& percentText, int percent,
                      int downloading) override;
    void ShowProgressState() override {}
    void ShowMessageState() override {}
    void InitWebBrower() override;
    void SetReady() override {}

private:
    std::function<std::string()> m_entryUrl;
    std::string m_lastProgress;
};

// Starts the update worker once (detached; it may still run when the launcher exits), then
// waits for the close request (platform::PrepareCloseRequest must have run first thing in
// main) and closes as the close button does.
void RunConsoleWindow(CWebApp& app, const ConsoleWindowHooks& hooks);
