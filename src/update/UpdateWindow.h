#pragma once
// The two ways the update shows itself in the main window.

#include <string>

#include "core/MainWindow.h"

// A status text alone: the progress elements are hidden.
inline void ShowMessage(MainWindow* window, const std::string& message) {
    window->ShowProgress(message, "", 0, 0);
    window->ShowMessageState();
}

// The progress bar with its caption ("正在下载：" when downloading is 1, "正在解压：" when 0)
// and percent text; the status text is emptied.
inline void ShowProgress(MainWindow* window, const std::string& percentText, int percent, int downloading) {
    window->ShowProgress("", percentText, percent, downloading);
    window->ShowProgressState();
}
