#include "ui/ConsoleWindow.h"

#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <thread>

#include "core/CWebApp.h"
#include "core/Logger.h"

ConsoleWindow::ConsoleWindow(std::function<std::string()> entryUrl) : m_entryUrl(std::move(entryUrl)) {}

void ConsoleWindow::ShowProgress(const std::string& status, const std::string& percentText, int, int downloading) {
    if (!status.empty()) {
        std::printf("%s\n", status.c_str());
    } else {
        // libcurl reports progress many times per second; print only what changed.
        const std::string line = (downloading == 1 ? "正在下载：" : "正在解压：") + percentText;
        if (line == m_lastProgress) {
            return;
        }
        m_lastProgress = line;
        std::printf("%s\n", line.c_str());
    }
    std::fflush(stdout);
}

void ConsoleWindow::InitWebBrower() {
    LOG_INFO("CWebDlg::InitWebBrower", "InitWebBrower");
    if (m_entryUrl) {
        std::printf("page: %s\n", m_entryUrl().c_str());
        std::fflush(stdout);
    }
}

namespace {

sigset_t CloseSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

// The thread that blocked the close signals and takes them; set before the handler is installed.
pid_t g_closingThread = 0;

// A library may start a thread before main (the page engine's script runtime does), with the
// close signals open; the kernel may hand a close signal to it, whose default action would end
// the process on the spot. This handler passes it on to the thread that waits for it instead.
void PassOnToClosingThread(int signal) {
    ::syscall(SYS_tgkill, ::getpid(), g_closingThread, signal);
}

}  // namespace

void BlockCloseSignals() {
    g_closingThread = static_cast<pid_t>(::syscall(SYS_gettid));
    struct sigaction action {};
    action.sa_handler = &PassOnToClosingThread;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    const sigset_t set = CloseSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void RunConsoleWindow(CWebApp&, const ConsoleWindowHooks& hooks) {
    // Never destroyed: the worker keeps using the window after this function has returned.
    static ConsoleWindow* window = new ConsoleWindow(hooks.entryUrl);
    std::printf("Valdrune launcher running without a window; Ctrl+C closes it.\n");
    std::fflush(stdout);

    static std::once_flag workerStarted;
    std::call_once(workerStarted, [&] {
        if (hooks.runUpdate) {
            std::thread([run = hooks.runUpdate] { run(*window); }).detach();
        }
    });

    const sigset_t set = CloseSignals();
    int signal = 0;
    sigwait(&set, &signal);

    LOG_INFO("CWebDlg::Close", "Laucher Stop");
    if (hooks.writeResumeRecord) {
        hooks.writeResumeRecord();
    }
}
