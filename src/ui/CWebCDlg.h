#pragma once
// The overlay of the launcher window: a layer over the frame picture, inside the same toplevel,
// carrying the channel's page, the close button and the four progress elements (bar, phase
// caption, percent text, status text) through which the update worker shows what it does.
// What the overlay paints pure black is not painted at all, so the frame shows through.
//
// Threads: the layer and its controls belong to the window thread. InitWebBrower and SetReady
// run on the caller's thread (the update worker) and touch no control: the navigation is posted
// to the window thread. The object may outlive its window (the worker can hold it to the end of
// the process); once the window is gone, nothing it does reaches GTK.

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "ui/CWebBrowser2.h"
#include "ui/SkinnedControls.h"
#include "ui/WindowThread.h"

class CWebCDlg {
  public:
    // What other modules provide; each may be left empty.
    struct Seams {
        std::function<std::string()> entryUrl;  // the remote configuration's "EntryUrl", empty when absent
        // The whole of CWebCDlg::SetReady as the launch decision has it: sets the ready flag,
        // logs "is ready", and may start the game and block until it ends.
        std::function<void()> onReady;
        std::function<std::string(const std::string& method, const std::string& parameters)> javascriptToCpp;
        // New windows of the page, http and https only (others are refused and logged); empty:
        // the default browser.
        CWebBrowser2::UriHandler openExternally;
    };

    // The texts the overlay writes itself.
    static constexpr const char* kDownloadCaption = "正在下载：";
    static constexpr const char* kUnzipCaption = "正在解压：";

    CWebCDlg(Seams seams, std::shared_ptr<WindowThread> windowThread);
    ~CWebCDlg();
    CWebCDlg(const CWebCDlg&) = delete;
    CWebCDlg& operator=(const CWebCDlg&) = delete;

    // Window thread. Builds the layer (owned by the container it is put in): the four progress
    // elements hidden, the bar set to 0 of 0-100 in the launcher's colours. The page comes later.
    GtkWidget* Create();
    // Window thread, once the window has shown its first frame: makes the page and puts it on
    // the frame's page square (which it looks like until the page paints). Making the engine's
    // view is the slowest step of opening the window, so the player sees the window first.
    // A navigation asked for before this happens now.
    void PlacePage();
    // Window thread. Puts the close button on the layer; its picture and click come with it.
    void AddCloseButton(std::unique_ptr<CPngButton> button);
    // Window thread, as the window goes away: cuts every tie to GTK.
    void OnDestroy();

    // Window thread: the worker's progress operations.
    void ShowProgress(const std::string& status, const std::string& percentText, int percent,
                      int downloading);
    void ShowProgressState();
    void ShowMessageState();

    // Caller's thread: logs the entry address and has the window thread load it.
    void InitWebBrower();
    // Window thread: loads url in the page, or as soon as the page is placed.
    void Navigate(const std::string& url);
    // Caller's thread: the client is ready; hands over to the launch decision (without one, only
    // the log line "is ready" remains).
    void SetReady();
    // The bridge's answer for a call of the page; empty without a bridge.
    std::string JavascriptToCPLUSPLUS(const std::string& method, const std::string& parameters);

    WebKitWebView* WebView() const { return m_webBrowser.View(); }

    std::unique_ptr<CPngButton> m_pCloseButton;
    bool m_bDownloadCaptionSet = false;  // window thread only
    bool m_bUnzipCaptionSet = false;     // window thread only
    CGradientProgressCtrl m_progress;
    CStaticEx m_staticPhase;
    CStaticEx m_staticPercent;
    CStaticEx m_staticStatus;
    CWebBrowser2 m_webBrowser;

  private:
    static void SetVisible(GtkWidget* widget, bool visible);
    void SetText(GtkWidget* widget, CStaticEx& label, const std::string& text);

    const Seams m_seams;
    const std::shared_ptr<WindowThread> m_windowThread;
    // Window thread only; null once the window is gone.
    GtkWidget* m_layer = nullptr;
    GtkWidget* m_progressWidget = nullptr;
    GtkWidget* m_phaseWidget = nullptr;
    GtkWidget* m_percentWidget = nullptr;
    GtkWidget* m_statusWidget = nullptr;
    GtkWidget* m_closeWidget = nullptr;
    bool m_pagePlaced = false;
    std::optional<std::string> m_pendingUrl;
};
