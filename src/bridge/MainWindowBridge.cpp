#include "bridge/MainWindowBridge.h"

#include "core/Logger.h"

std::string MainWindowBridge::JavascriptToCPLUSPLUS(const std::string& method, const std::string& parameters) {
    LoginLaunch* overlay = m_overlay.load();
    return overlay != nullptr ? overlay->JavascriptToCPLUSPLUS(method, parameters) : std::string();
}

bool MainWindowBridge::IsDownLoadComplete() {
    LoginLaunch* overlay = m_overlay.load();
    return overlay != nullptr && overlay->IsReady();
}

void MainWindowBridge::SetReady() {
    LoginLaunch* overlay = m_overlay.load();
    if (overlay == nullptr) {
        return;
    }
    LOG_INFO("CWebDlg::SetReady", "SetReady");
    overlay->SetReady();
}
