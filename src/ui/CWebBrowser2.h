#pragma once
// The page host: the channel's page in a WebKitWebView that behaves like part of the launcher.
// No context menu; refresh, open, print and new-window keys swallowed; alert and confirm shown
// as the launcher's own box (caption "提示", error icon); pages that open new windows have them
// opened in the player's default browser (http and https only); no border and no scroll bars.
// The page gets its window.external from the web extension (see ui/PageBridge.h).
//
// Lives on the window thread.

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <functional>
#include <string>

#include "ui/PageKeys.h"

class CWebBrowser2 {
  public:
    using UriHandler = std::function<void(const std::string& uri)>;

    // openExternally receives the address of every new window the page asks for that is http
    // or https (any other is refused with an ERROR line); empty means the desktop's default
    // browser.
    explicit CWebBrowser2(UriHandler openExternally = {});
    ~CWebBrowser2();
    CWebBrowser2(const CWebBrowser2&) = delete;
    CWebBrowser2& operator=(const CWebBrowser2&) = delete;

    // Makes the view (once); the caller places it in a container, which then owns it.
    GtkWidget* Create();
    WebKitWebView* View() const { return m_view; }

    // Window thread, as the window goes away: the view may live on inside the engine for a
    // while, so its signals stop reaching this object.
    void Detach();

    // Loads url exactly as given.
    void Navigate(const std::string& url);

    // The desktop's default handler for uri (xdg-open's choice). Failures are logged.
    static void OpenInDefaultBrowser(const std::string& uri);

    // Hides the page's scroll bars and keeps its outermost document from scrolling.
    static constexpr const char* kNoScrollBarsStyle =
        "html { overflow: hidden !important; }\n"
        "::-webkit-scrollbar { display: none !important; width: 0 !important; height: 0 !important; }\n";

  private:
    static WebKitWebContext* Context();
    static gboolean OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer self);
    static gboolean OnKeyRelease(GtkWidget*, GdkEventKey* event, gpointer self);
    static gboolean OnFocusOut(GtkWidget*, GdkEvent*, gpointer self);
    static gboolean OnScriptDialog(WebKitWebView*, WebKitScriptDialog* dialog, gpointer);
    static gboolean OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                   WebKitPolicyDecisionType type, gpointer self);
    static GtkWidget* OnCreate(WebKitWebView*, WebKitNavigationAction* action, gpointer self);
    void OpenExternally(const std::string& uri) const;

    UriHandler m_openExternally;
    WebKitWebView* m_view = nullptr;  // a weak pointer; the container owns the view
    PageKeyFilter m_keys;
};
