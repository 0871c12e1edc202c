#include "ui/CWebBrowser2.h"

#include <gdk/gdkkeysyms.h>
#include <gio/gio.h>

#include "core/CWebApp.h"
#include "core/DataPaths.h"
#include "core/Logger.h"
#include "platform/Executable.h"
#include "platform/MessageBox.h"
#include "ui/CWebBrowserHelper.h"
#include "ui/Layout.h"
#include "ui/PageBridge.h"
#include "ui/WebAddress.h"

namespace {

constexpr const char* kScriptBoxCaption = "提示";

void OnInitializeWebExtensions(WebKitWebContext* context, gpointer) {
    // The extension travels beside the executable (and with its copies).
    const std::string folder = platform::FolderOf(platform::ExecutablePath());
    webkit_web_context_set_web_extensions_directory(context, folder.c_str());
    if (GVariant* data = page_bridge::ExtensionData()) {
        webkit_web_context_set_web_extensions_initialization_user_data(context, data);
    }
}

void ApplyEngineSettings(WebKitSettings* settings) {
    // window.open must reach the new-window handler rather than be blocked as a popup.
    webkit_settings_set_javascript_can_open_windows_automatically(settings, TRUE);
    const auto chosen = CWebBrowserHelper::GetInstance().ChosenSettings();
    if (!chosen) {
        return;
    }
    WebKitHardwareAccelerationPolicy policy = WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER;
    switch (chosen->acceleration) {
        case HardwareAcceleration::OnDemand:
            policy = WEBKIT_HARDWARE_ACCELERATION_POLICY_ON_DEMAND;
            break;
        case HardwareAcceleration::Always:
            policy = WEBKIT_HARDWARE_ACCELERATION_POLICY_ALWAYS;
            break;
        case HardwareAcceleration::Never:
            policy = WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER;
            break;
    }
    webkit_settings_set_hardware_acceleration_policy(settings, policy);
    webkit_settings_set_enable_developer_extras(settings, chosen->developerExtras);
    webkit_settings_set_enable_write_console_messages_to_stdout(settings, chosen->consoleMessagesToStdout);
    webkit_settings_set_enable_smooth_scrolling(settings, chosen->smoothScrolling);
    webkit_settings_set_enable_page_cache(settings, chosen->pageCache);
    webkit_settings_set_default_charset(settings, chosen->defaultCharset.c_str());
}

// The page engine's stores (cookies, local storage, its caches) live below the launcher's data
// folder, so the uninstall's removal of that folder takes them along; by default the engine
// would spread them over ~/.local/share/Valdrune and ~/.cache/Valdrune. Without a data folder
// (a window made outside the application) the engine keeps nothing on disk.
WebKitWebsiteDataManager* WebsiteData() {
    const CWebApp* app = CWebApp::Current();
    if (app == nullptr || app->m_strDataDir.empty()) {
        return webkit_website_data_manager_new_ephemeral();
    }
    const std::string data = DataPaths::WebsiteData(app->m_strDataDir);
    const std::string cache = DataPaths::WebsiteCache(app->m_strDataDir);
    return webkit_website_data_manager_new("base-data-directory", data.c_str(), "base-cache-directory",
                                           cache.c_str(), nullptr);
}

std::string RequestUri(WebKitNavigationAction* action) {
    WebKitURIRequest* request = action != nullptr ? webkit_navigation_action_get_request(action) : nullptr;
    const char* uri = request != nullptr ? webkit_uri_request_get_uri(request) : nullptr;
    return uri != nullptr ? uri : "";
}

}  // namespace

CWebBrowser2::CWebBrowser2(UriHandler openExternally) : m_openExternally(std::move(openExternally)) {}

CWebBrowser2::~CWebBrowser2() {
    Detach();
}

void CWebBrowser2::Detach() {
    if (m_view != nullptr) {
        g_signal_handlers_disconnect_by_data(m_view, this);
        g_object_remove_weak_pointer(G_OBJECT(m_view), reinterpret_cast<gpointer*>(&m_view));
        m_view = nullptr;
    }
}

WebKitWebContext* CWebBrowser2::Context() {
    // One context for the process, so the extension hook is connected exactly once.
    static WebKitWebContext* context = [] {
        WebKitWebsiteDataManager* data = WebsiteData();
        WebKitWebContext* c = webkit_web_context_new_with_website_data_manager(data);
        g_object_unref(data);
        g_signal_connect(c, "initialize-web-extensions", G_CALLBACK(OnInitializeWebExtensions), nullptr);
        return c;
    }();
    return context;
}

GtkWidget* CWebBrowser2::Create() {
    if (m_view != nullptr) {
        return GTK_WIDGET(m_view);
    }
    WebKitUserContentManager* content = webkit_user_content_manager_new();
    WebKitUserStyleSheet* style =
        webkit_user_style_sheet_new(kNoScrollBarsStyle, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                    WEBKIT_USER_STYLE_LEVEL_USER, nullptr, nullptr);
    webkit_user_content_manager_add_style_sheet(content, style);
    webkit_user_style_sheet_unref(style);
    m_view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", Context(),
                                          "user-content-manager", content, nullptr));
    g_object_unref(content);
    g_object_add_weak_pointer(G_OBJECT(m_view), reinterpret_cast<gpointer*>(&m_view));

    ApplyEngineSettings(webkit_web_view_get_settings(m_view));
    // Until the page paints, the view shows the frame's own page square.
    const GdkRGBA square{layout::kPageSquareRgb[0] / 255.0, layout::kPageSquareRgb[1] / 255.0,
                         layout::kPageSquareRgb[2] / 255.0, 1.0};
    webkit_web_view_set_background_color(m_view, &square);

    g_signal_connect(m_view, "context-menu",
                     G_CALLBACK(+[](WebKitWebView*, WebKitContextMenu*, GdkEvent*, WebKitHitTestResult*,
                                    gpointer) -> gboolean {
                         return TRUE;  // no menu, ever
                     }),
                     this);
    g_signal_connect(m_view, "key-press-event", G_CALLBACK(OnKeyPress), this);
    g_signal_connect(m_view, "key-release-event", G_CALLBACK(OnKeyRelease), this);
    g_signal_connect(m_view, "focus-out-event", G_CALLBACK(OnFocusOut), this);
    g_signal_connect(m_view, "script-dialog", G_CALLBACK(OnScriptDialog), this);
    g_signal_connect(m_view, "decide-policy", G_CALLBACK(OnDecidePolicy), this);
    g_signal_connect(m_view, "create", G_CALLBACK(OnCreate), this);
    return GTK_WIDGET(m_view);
}

void CWebBrowser2::Navigate(const std::string& url) {
    if (m_view != nullptr) {
        webkit_web_view_load_uri(m_view, url.c_str());
    }
}

void CWebBrowser2::OpenInDefaultBrowser(const std::string& uri) {
    GError* error = nullptr;
    if (!g_app_info_launch_default_for_uri(uri.c_str(), nullptr, &error)) {
        LOG_ERROR("CWebBrowser2::OpenInDefaultBrowser",
                  std::string(uri) + " " + (error ? error->message : ""));
        g_clear_error(&error);
    }
}

void CWebBrowser2::OpenExternally(const std::string& uri) const {
    // The desktop's handler for any other scheme would let the page open local files or start
    // other programs.
    const auto address = WebAddress(uri);
    if (!address) {
        LOG_ERROR("CWebBrowser2::OpenExternally",
                  "new window refused, not an http or https address: " + AddressForLog(uri));
        return;
    }
    if (m_openExternally) {
        m_openExternally(*address);
    } else {
        OpenInDefaultBrowser(*address);
    }
}

gboolean CWebBrowser2::OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer self) {
    const bool control = (event->state & GDK_CONTROL_MASK) != 0;
    return static_cast<CWebBrowser2*>(self)->m_keys.OnKeyPress(event->keyval, control) ? TRUE : FALSE;
}

gboolean CWebBrowser2::OnKeyRelease(GtkWidget*, GdkEventKey* event, gpointer self) {
    static_cast<CWebBrowser2*>(self)->m_keys.OnKeyRelease(event->keyval);
    return FALSE;
}

gboolean CWebBrowser2::OnFocusOut(GtkWidget*, GdkEvent*, gpointer self) {
    static_cast<CWebBrowser2*>(self)->m_keys.OnFocusLost();
    return FALSE;
}

gboolean CWebBrowser2::OnScriptDialog(WebKitWebView*, WebKitScriptDialog* dialog, gpointer) {
    switch (webkit_script_dialog_get_dialog_type(dialog)) {
        case WEBKIT_SCRIPT_DIALOG_ALERT:
        case WEBKIT_SCRIPT_DIALOG_CONFIRM:
            // One button, and no answer is written back: a confirm gets the engine's default.
            platform::MessageBox(webkit_script_dialog_get_message(dialog), kScriptBoxCaption,
                                 platform::kMbIconError);
            return TRUE;
        default:
            return FALSE;  // prompt and leave-page questions keep the engine's own dialogs
    }
}

gboolean CWebBrowser2::OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                      WebKitPolicyDecisionType type, gpointer self) {
    if (type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
        return FALSE;
    }
    // A link with a target of a new window: the player's browser opens it, this page stays.
    auto* navigation = WEBKIT_NAVIGATION_POLICY_DECISION(decision);
    const std::string uri = RequestUri(webkit_navigation_policy_decision_get_navigation_action(navigation));
    webkit_policy_decision_ignore(decision);
    static_cast<CWebBrowser2*>(self)->OpenExternally(uri);
    return TRUE;
}

GtkWidget* CWebBrowser2::OnCreate(WebKitWebView*, WebKitNavigationAction* action, gpointer self) {
    // window.open: the same, and no view of ours is made for it.
    static_cast<CWebBrowser2*>(self)->OpenExternally(RequestUri(action));
    return nullptr;
}
