#pragma once
// The main window's (CWebDlg's) half of the bridge: what the page and the update worker call on
// the main window, passed on to the overlay's LoginLaunch, and nothing at all while the main
// window has no overlay.

#include <atomic>
#include <string>

#include "bridge/CImpIDispatch.h"
#include "bridge/LoginLaunch.h"

class MainWindowBridge final : public ScriptHost {
public:
    // The overlay's half (CWebCDlg's m_pWebCDlg); null while there is none. Not owned. Set on the
    // window thread when the overlay is created, cleared before it is destroyed.
    void SetOverlay(LoginLaunch* overlay) { m_overlay.store(overlay); }

    // CWebDlg::JavascriptToCPLUSPLUS: the overlay's answer, or an empty text without an overlay.
    std::string JavascriptToCPLUSPLUS(const std::string& method, const std::string& parameters) override;
    // The overlay's ready flag; false without an overlay.
    bool IsDownLoadComplete() override;

    // CWebDlg::SetReady, on the update worker's thread: logs "SetReady", then the overlay's
    // SetReady, which may start the game and block until it has ended.
    void SetReady();

private:
    std::atomic<LoginLaunch*> m_overlay{nullptr};  // written on the window thread, read by the worker too
};
