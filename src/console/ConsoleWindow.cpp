#include "console/ConsoleWindow.h"

#include <cstdio>
#include <mutex>
#include <thread>

#include "core/CWebApp.h"
#include "core/Logger.h"
#include "platform/CloseRequest.h"

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

    platform::WaitForCloseRequest();

    LOG_INFO("CWebDlg::Close", "Laucher Stop");
    if (hooks.writeResumeRecord) {
        hooks.writeResumeRecord();
    }
}
