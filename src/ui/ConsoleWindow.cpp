#include "ui/ConsoleWindow.h"

#include <signal.h>

#include <cstdio>

#include "core/CWebApp.h"

void ConsoleWindow::ShowProgress(const std::string& status, const std::string& percentText, int, int) {
    std::printf("%s\n", status.empty() ? percentText.c_str() : status.c_str());
    std::fflush(stdout);
}

namespace {

sigset_t CloseSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

void BlockCloseSignals() {
    const sigset_t set = CloseSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void RunConsoleWindow(CWebApp&) {
    std::printf("Valdrune launcher running without a window; Ctrl+C closes it.\n");
    std::fflush(stdout);
    const sigset_t set = CloseSignals();
    int signal = 0;
    sigwait(&set, &signal);
}
