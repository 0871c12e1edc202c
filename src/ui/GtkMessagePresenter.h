#pragma once
// Message boxes as modal GTK dialogs, for a launcher that has a display.

#include <thread>

#include "platform/MessageBox.h"

class GtkMessagePresenter final : public platform::MessagePresenter {
public:
    // Must be made on the thread that runs GTK (the window thread).
    GtkMessagePresenter();

    // Blocks until answered. From another thread the dialog is run on the window thread,
    // whose main loop must then be running.
    int Present(const platform::MessageBoxRequest& request) override;

private:
    std::thread::id m_windowThread;
};
