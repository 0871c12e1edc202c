#pragma once
// The main window (CWebDlg) as the update worker sees it. The GTK window implements it in
// src/ui; tests record what the worker shows through it.

#include <string>

class MainWindow {
public:
    virtual ~MainWindow() = default;

    // Called on the update worker's thread. Each returns once the window thread has applied it.
    virtual void ShowProgress(const std::string& status, const std::string& percentText, int percent,
                              int downloading) = 0;
    virtual void ShowProgressState() = 0;
    virtual void ShowMessageState() = 0;
    // Asks for the entry page; the navigation itself happens later on the window thread.
    virtual void InitWebBrower() = 0;
    // The client is installed and current; may start the game at once (and then block).
    virtual void SetReady() = 0;
};
