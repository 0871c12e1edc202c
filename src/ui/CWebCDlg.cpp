#include "ui/CWebCDlg.h"

#include "core/Logger.h"
#include "ui/Layout.h"
#include "ui/SkinWidgets.h"
#include "ui/WebAddress.h"

namespace {

// The launcher's bar: one blue (RGB 0,132,255) over grey.
constexpr COLORREF kBarColor = 0xFF8400;
constexpr COLORREF kBarBackground = 0x696969;

// The texts the elements carry before the worker's first report.
constexpr const char* kTemplatePhase = "正在更新......";
constexpr const char* kTemplatePercent = "0%";
constexpr const char* kTemplateStatus = "正在更新.....";

void Place(GtkWidget* layer, GtkWidget* child, const layout::Rect& r) {
    gtk_widget_set_size_request(child, r.width, r.height);
    gtk_fixed_put(GTK_FIXED(layer), child, r.x, r.y);
}

}  // namespace

CWebCDlg::CWebCDlg(Seams seams, std::shared_ptr<WindowThread> windowThread)
    : m_webBrowser(seams.openExternally), m_seams(std::move(seams)), m_windowThread(std::move(windowThread)) {
    m_staticPhase.m_strText = kTemplatePhase;
    m_staticPercent.m_strText = kTemplatePercent;
    m_staticStatus.m_strText = kTemplateStatus;
}

CWebCDlg::~CWebCDlg() = default;

GtkWidget* CWebCDlg::Create() {
    m_layer = gtk_fixed_new();
    gtk_widget_set_size_request(m_layer, layout::kWindow.width, layout::kWindow.height);

    m_progress.m_nLower = 0;
    m_progress.m_nUpper = 100;
    m_progress.m_nPos = 0;
    m_progress.m_bShowPercent = false;
    m_progress.m_clrStart = kBarColor;
    m_progress.m_clrEnd = kBarColor;
    m_progress.m_clrBkgnd = kBarBackground;
    m_progressWidget = NewProgressWidget(m_progress);
    m_phaseWidget = NewLabelWidget(m_staticPhase);
    m_percentWidget = NewLabelWidget(m_staticPercent);
    m_statusWidget = NewLabelWidget(m_staticStatus);
    Place(m_layer, m_progressWidget, layout::kProgressBar);
    Place(m_layer, m_phaseWidget, layout::kPhaseCaption);
    Place(m_layer, m_percentWidget, layout::kPercentText);
    Place(m_layer, m_statusWidget, layout::kStatusText);
    // Hidden until the worker's first report, even when the window shows all its children.
    for (GtkWidget* element : {m_progressWidget, m_statusWidget, m_phaseWidget, m_percentWidget}) {
        gtk_widget_set_no_show_all(element, TRUE);
        gtk_widget_hide(element);
    }
    return m_layer;
}

void CWebCDlg::PlacePage() {
    if (m_layer == nullptr || m_pagePlaced) {
        return;
    }
    m_pagePlaced = true;
    GtkWidget* page = m_webBrowser.Create();
    Place(m_layer, page, layout::kPage);
    gtk_widget_show(page);
    if (m_pendingUrl) {
        m_webBrowser.Navigate(*m_pendingUrl);
        m_pendingUrl.reset();
    }
}

void CWebCDlg::Navigate(const std::string& url) {
    if (m_pagePlaced) {
        m_webBrowser.Navigate(url);
    } else {
        m_pendingUrl = url;
    }
}

void CWebCDlg::AddCloseButton(std::unique_ptr<CPngButton> button) {
    m_pCloseButton = std::move(button);
    if (m_layer == nullptr || m_pCloseButton == nullptr) {
        return;
    }
    m_closeWidget = NewButtonWidget(*m_pCloseButton);
    Place(m_layer, m_closeWidget, layout::kCloseButton);
    gtk_widget_show(m_closeWidget);
}

void CWebCDlg::OnDestroy() {
    m_webBrowser.Detach();
    m_layer = nullptr;
    m_progressWidget = m_phaseWidget = m_percentWidget = m_statusWidget = m_closeWidget = nullptr;
}

void CWebCDlg::SetVisible(GtkWidget* widget, bool visible) {
    if (widget != nullptr) {
        gtk_widget_set_visible(widget, visible);
    }
}

void CWebCDlg::SetText(GtkWidget* widget, CStaticEx& label, const std::string& text) {
    label.m_strText = text;
    if (widget != nullptr) {
        gtk_widget_queue_draw(widget);
    }
}

void CWebCDlg::ShowProgress(const std::string& status, const std::string& percentText, int percent,
                            int downloading) {
    const int previous = m_progress.m_nPos;
    m_progress.m_nPos = percent;
    if (m_progressWidget != nullptr) {
        gtk_widget_queue_draw(m_progressWidget);
    }
    SetText(m_statusWidget, m_staticStatus, status);
    // Each caption is written once, the first time its phase reports; the caption keeps the
    // last one written. The label is hidden while it changes; the state operation shows it.
    if (downloading == 1 && !m_bDownloadCaptionSet) {
        SetVisible(m_phaseWidget, false);
        SetText(m_phaseWidget, m_staticPhase, kDownloadCaption);
        m_bDownloadCaptionSet = true;
    } else if (downloading == 0 && !m_bUnzipCaptionSet) {
        SetVisible(m_phaseWidget, false);
        SetText(m_phaseWidget, m_staticPhase, kUnzipCaption);
        m_bUnzipCaptionSet = true;
    }
    // An unchanged position keeps the old percent text, the template's "0%" included.
    if (previous != percent) {
        SetVisible(m_percentWidget, false);
        SetText(m_percentWidget, m_staticPercent, percentText);
    }
}

void CWebCDlg::ShowProgressState() {
    SetVisible(m_progressWidget, true);
    SetVisible(m_statusWidget, false);
    SetVisible(m_phaseWidget, true);
    SetVisible(m_percentWidget, true);
}

void CWebCDlg::ShowMessageState() {
    SetVisible(m_progressWidget, false);
    SetVisible(m_statusWidget, true);
    SetVisible(m_phaseWidget, false);
    SetVisible(m_percentWidget, false);
}

void CWebCDlg::InitWebBrower() {
    const std::string url = m_seams.entryUrl ? m_seams.entryUrl() : std::string();
    LOG_INFO("CWebCDlg::InitWebBrower", url);
    // Only a web page: a configuration must not make the launcher open local files or scripts.
    auto page = WebAddress(url);
    if (!page) {
        LOG_ERROR("CWebCDlg::InitWebBrower",
                  "EntryUrl is not an http or https address, not loaded: " + AddressForLog(url));
        return;
    }
    // The page belongs to the window thread; the worker does not wait for the load.
    m_windowThread->Post([this, page = std::move(*page)] { Navigate(page); });
}

void CWebCDlg::SetReady() {
    if (m_seams.onReady) {
        m_seams.onReady();
    } else {
        LOG_INFO("CWebCDlg::SetReady", "is ready");
    }
}

std::string CWebCDlg::JavascriptToCPLUSPLUS(const std::string& method, const std::string& parameters) {
    return m_seams.javascriptToCpp ? m_seams.javascriptToCpp(method, parameters) : std::string();
}
