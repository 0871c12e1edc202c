#include "ui/CWebDlg.h"

#include <glib-unix.h>
#include <signal.h>

#include "core/Logger.h"
#include "ui/Layout.h"

namespace {

constexpr const char* kCaption = "Valdrune";

// The process keeps SIGINT and SIGTERM blocked in every thread (so that the windowless run can
// wait for them). While the window runs, the window thread takes them, through GLib, which turns
// them into main-loop events.
class CloseSignalsOnThisThread {
  public:
    explicit CloseSignalsOnThisThread(GSourceFunc handler, gpointer data) {
        m_sources[0] = g_unix_signal_add(SIGINT, handler, data);
        m_sources[1] = g_unix_signal_add(SIGTERM, handler, data);
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        pthread_sigmask(SIG_UNBLOCK, &set, &m_saved);
    }
    ~CloseSignalsOnThisThread() {
        pthread_sigmask(SIG_SETMASK, &m_saved, nullptr);
        for (const guint id : m_sources) {
            g_source_remove(id);
        }
    }
    CloseSignalsOnThisThread(const CloseSignalsOnThisThread&) = delete;
    CloseSignalsOnThisThread& operator=(const CloseSignalsOnThisThread&) = delete;

  private:
    guint m_sources[2] = {0, 0};
    sigset_t m_saved{};
};

// Where the window takes clicks: the frame's visible pixels, plus the overlay's page and close
// button, which must work even when the frame could not be loaded.
cairo_region_t* InputRegion(cairo_surface_t* frame) {
    cairo_region_t* region = AlphaRegion(frame);
    for (const layout::Rect& r : {layout::kPage, layout::kCloseButton}) {
        const cairo_rectangle_int_t rect{r.x, r.y, r.width, r.height};
        cairo_region_union_rectangle(region, &rect);
    }
    return region;
}

}  // namespace

// --- MainWindowLink ---

MainWindowLink::MainWindowLink(CWebDlg* window, std::shared_ptr<WindowThread> windowThread,
                               std::shared_ptr<CWebCDlg> overlay, std::function<void()> writeResumeRecord)
    : m_window(window),
      m_windowThread(std::move(windowThread)),
      m_overlay(std::move(overlay)),
      m_writeResumeRecord(std::move(writeResumeRecord)) {}

void MainWindowLink::ShowProgress(const std::string& status, const std::string& percentText, int percent,
                                  int downloading) {
    if (m_overlay && m_repeats.ShowProgressChanges(status, percent, downloading)) {
        m_windowThread->Send([&, overlay = m_overlay.get()] {
            overlay->ShowProgress(status, percentText, percent, downloading);
        });
    }
}

void MainWindowLink::ShowProgressState() {
    if (m_overlay && m_repeats.StateChanges(ProgressRepeats::State::Progress)) {
        m_windowThread->Send([overlay = m_overlay.get()] { overlay->ShowProgressState(); });
    }
}

void MainWindowLink::ShowMessageState() {
    if (m_overlay && m_repeats.StateChanges(ProgressRepeats::State::Message)) {
        m_windowThread->Send([overlay = m_overlay.get()] { overlay->ShowMessageState(); });
    }
}

void MainWindowLink::InitWebBrower() {
    if (m_overlay && !m_windowThread->IsClosed()) {
        LOG_INFO("CWebDlg::InitWebBrower", "InitWebBrower");
        m_overlay->InitWebBrower();
    }
}

void MainWindowLink::SetReady() {
    // Once the window is gone the launcher is ending: no game may start any more.
    if (m_overlay && !m_windowThread->IsClosed()) {
        LOG_INFO("CWebDlg::SetReady", "SetReady");
        m_overlay->SetReady();
    }
}

void MainWindowLink::Cancel() {
    LOG_INFO("CWebDlg::Cancel", "Laucher Stop");
    if (m_writeResumeRecord) {
        m_writeResumeRecord();
    }
    // From another thread the request wakes the window thread, which ends the run there.
    auto end = [window = m_window] { window->EndDialog(CWebDlg::kIdCancel); };
    if (m_windowThread->IsCurrent()) {
        m_windowThread->Send(end);
    } else {
        m_windowThread->Post(end);
    }
}

void MainWindowLink::ShowWindow(bool visible) {
    m_windowThread->Send([window = m_window, visible] { window->SetVisible(visible); });
}

// --- CWebDlg ---

CWebDlg::CWebDlg(Seams seams) : m_seams(std::move(seams)), m_windowThread(WindowThread::Create()) {}

CWebDlg::~CWebDlg() {
    if (m_hIcon != nullptr) {
        g_object_unref(m_hIcon);
    }
}

int CWebDlg::DoModal() {
    OnCreate();
    OnInitDialog();
    {
        CloseSignalsOnThisThread signals(&CWebDlg::OnCloseSignal, this);
        m_loop = g_main_loop_new(nullptr, FALSE);
        if (!m_ended) {
            g_main_loop_run(m_loop);
        }
        g_main_loop_unref(m_loop);
        m_loop = nullptr;
    }
    OnDestroy();
    return m_result;
}

void CWebDlg::OnCreate() {
    m_window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWindow* window = GTK_WINDOW(m_window);
    gtk_window_set_title(window, kCaption);
    gtk_window_set_decorated(window, FALSE);
    gtk_window_set_resizable(window, FALSE);
    gtk_window_set_default_size(window, layout::kWindow.width, layout::kWindow.height);
    gtk_widget_set_app_paintable(m_window, TRUE);
    GdkScreen* screen = gtk_widget_get_screen(m_window);
    if (GdkVisual* rgba = gdk_screen_get_rgba_visual(screen)) {
        gtk_widget_set_visual(m_window, rgba);
    }
    gtk_widget_add_events(m_window,
                          GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_POINTER_MOTION_MASK);
    g_signal_connect(m_window, "draw", G_CALLBACK(OnDraw), this);
    g_signal_connect(m_window, "button-press-event", G_CALLBACK(OnButtonPress), this);
    g_signal_connect(m_window, "button-release-event", G_CALLBACK(OnButtonRelease), this);
    g_signal_connect(m_window, "motion-notify-event", G_CALLBACK(OnMotion), this);
    g_signal_connect(m_window, "delete-event", G_CALLBACK(OnDeleteEvent), this);
    g_signal_connect(screen, "composited-changed", G_CALLBACK(OnCompositedChanged), this);

    m_pWebCDlg = std::make_shared<CWebCDlg>(m_seams.overlay, m_windowThread);
    gtk_container_add(GTK_CONTAINER(m_window), m_pWebCDlg->Create());
    m_link = std::make_shared<MainWindowLink>(this, m_windowThread, m_pWebCDlg, m_seams.writeResumeRecord);
    if (m_seams.linkCreated) {
        m_seams.linkCreated(m_link);
    }
}

void CWebDlg::OnInitDialog() {
    m_hIcon = artwork::LoadPixbuf(m_seams.iconResource);
    if (m_hIcon != nullptr) {
        gtk_window_set_icon(GTK_WINDOW(m_window), m_hIcon);
    }
    m_image = artwork::LoadPremultiplied(m_seams.frameResource);
    DrawBackground();

    if (m_pWebCDlg) {
        auto button = std::make_unique<CPngButton>();
        button->m_nWidth = layout::kCloseButton.width;
        button->m_nHeight = layout::kCloseButton.height;
        button->m_pImgNormal = artwork::LoadPremultiplied(m_seams.closeButtonResource);
        button->m_pImgPressed = button->m_pImgHover = button->m_pImgDisabled = button->m_pImgNormal;
        button->m_onClick = [this] { Close(); };
        m_pWebCDlg->AddCloseButton(std::move(button));
    }

    Centre();
    gtk_widget_show_all(m_window);
    // After the first frame has been painted (the frame clock's painting runs at a higher
    // priority than this idle call).
    g_idle_add_full(
        G_PRIORITY_LOW,
        [](gpointer data) -> gboolean {
            (*static_cast<std::shared_ptr<CWebCDlg>*>(data))->PlacePage();
            return G_SOURCE_REMOVE;
        },
        new std::shared_ptr<CWebCDlg>(m_pWebCDlg),
        [](gpointer data) { delete static_cast<std::shared_ptr<CWebCDlg>*>(data); });

    if (m_seams.startUpdateWorker) {
        m_seams.startUpdateWorker(m_link);
    }
}

// Premultiplied on loading; here the window learns which of its pixels exist.
void CWebDlg::DrawBackground() {
    cairo_region_t* region = InputRegion(m_image.get());
    gtk_widget_input_shape_combine_region(m_window, region);
    // Without a compositor, transparent pixels would show black: cut the window to the picture.
    const bool composited = gdk_screen_is_composited(gtk_widget_get_screen(m_window));
    gtk_widget_shape_combine_region(m_window, composited ? nullptr : region);
    cairo_region_destroy(region);
    gtk_widget_queue_draw(m_window);
}

void CWebDlg::Centre() {
    GdkDisplay* display = gtk_widget_get_display(m_window);
    GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
    if (monitor == nullptr) {
        monitor = gdk_display_get_monitor(display, 0);
    }
    if (monitor == nullptr) {
        gtk_window_set_position(GTK_WINDOW(m_window), GTK_WIN_POS_CENTER);
        return;
    }
    GdkRectangle area;
    gdk_monitor_get_workarea(monitor, &area);
    gtk_window_move(GTK_WINDOW(m_window), area.x + (area.width - layout::kWindow.width) / 2,
                    area.y + (area.height - layout::kWindow.height) / 2);
}

void CWebDlg::EndDialog(int result) {
    if (m_ended) {
        return;
    }
    m_ended = true;
    m_result = result;
    if (m_loop != nullptr) {
        g_main_loop_quit(m_loop);
    }
}

void CWebDlg::OnDestroy() {
    // Work the worker still sends is dropped from here on, and a waiting worker is released.
    m_windowThread->Close();
    if (m_seams.writeResumeRecord) {
        m_seams.writeResumeRecord();
    }
    if (m_pWebCDlg) {
        m_pWebCDlg->OnDestroy();
    }
    if (m_window != nullptr) {
        g_signal_handlers_disconnect_by_data(gtk_widget_get_screen(m_window), this);
        gtk_widget_destroy(m_window);
        m_window = nullptr;
    }
    LOG_INFO("CWebApp::OnWndDestroy", "wnd destory");
}

void CWebDlg::SetVisible(bool visible) {
    if (m_window != nullptr) {
        gtk_widget_set_visible(m_window, visible);
        // The game launch may block this thread right after hiding, for the game's whole life:
        // the request must reach the display now, not at the loop's next turn.
        gdk_display_flush(gtk_widget_get_display(m_window));
    }
}

void CWebDlg::ShowProgress(const std::string& status, const std::string& percentText, int percent,
                           int downloading) {
    if (m_link) {
        m_link->ShowProgress(status, percentText, percent, downloading);
    }
}

void CWebDlg::ShowProgressState() {
    if (m_link) {
        m_link->ShowProgressState();
    }
}

void CWebDlg::ShowMessageState() {
    if (m_link) {
        m_link->ShowMessageState();
    }
}

void CWebDlg::InitWebBrower() {
    if (m_link) {
        m_link->InitWebBrower();
    }
}

void CWebDlg::SetReady() {
    if (m_link) {
        m_link->SetReady();
    }
}

void CWebDlg::Close() {
    LOG_INFO("CWebDlg::Close", "Laucher Stop");
    if (m_seams.writeResumeRecord) {
        m_seams.writeResumeRecord();
    }
    EndDialog(kIdOk);
}

void CWebDlg::Cancel() {
    if (m_link) {
        m_link->Cancel();
    }
}

std::string CWebDlg::JavascriptToCPLUSPLUS(const std::string& method, const std::string& parameters) {
    return m_pWebCDlg ? m_pWebCDlg->JavascriptToCPLUSPLUS(method, parameters) : std::string();
}

int CWebDlg::OnNotifyIcon(unsigned wParam, unsigned lParam) {
    if (wParam != kNotifyIconId) {
        return 1;
    }
    if (lParam == kMouseRightButtonUp && m_window != nullptr) {
        GtkWidget* menu = gtk_menu_new();
        GtkWidget* quit = gtk_menu_item_new_with_label(kQuitMenuText);
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), quit);
        g_signal_connect_swapped(quit, "activate",
                                 G_CALLBACK(+[](CWebDlg* self) { self->OnCommand(kCommandQuit); }), this);
        // The menu goes with the window; once it closes it is of no further use.
        gtk_menu_attach_to_widget(GTK_MENU(menu), m_window, nullptr);
        // Destroyed once closed (after its item's activation has been delivered); the window's
        // destruction may have destroyed it first, so the idle call keeps a reference.
        g_signal_connect(menu, "deactivate", G_CALLBACK(+[](GtkWidget* m, gpointer) {
                             g_idle_add(
                                 [](gpointer w) -> gboolean {
                                     gtk_widget_destroy(GTK_WIDGET(w));
                                     g_object_unref(w);
                                     return G_SOURCE_REMOVE;
                                 },
                                 g_object_ref(m));
                         }),
                         nullptr);
        gtk_widget_show_all(menu);
        gtk_window_present(GTK_WINDOW(m_window));
        // Left-aligned at the pointer. The callback is the button's release as the shell saw it;
        // GTK wants that as the menu's trigger.
        GdkWindow* window = gtk_widget_get_window(m_window);
        GdkDevice* pointer =
            gdk_seat_get_pointer(gdk_display_get_default_seat(gtk_widget_get_display(m_window)));
        GdkRectangle at{0, 0, 1, 1};
        gdk_window_get_device_position(window, pointer, &at.x, &at.y, nullptr);
        GdkEvent* release = gdk_event_new(GDK_BUTTON_RELEASE);
        release->button.window = GDK_WINDOW(g_object_ref(window));
        release->button.button = GDK_BUTTON_SECONDARY;
        release->button.time = GDK_CURRENT_TIME;
        gdk_event_set_device(release, pointer);
        gtk_menu_popup_at_rect(GTK_MENU(menu), window, &at, GDK_GRAVITY_NORTH_WEST, GDK_GRAVITY_NORTH_WEST,
                               release);
        gdk_event_free(release);
    }
    return 0;
}

void CWebDlg::OnCommand(int id) {
    if (id == kCommandQuit) {
        EndDialog(kQuitResult);
    }
}

gboolean CWebDlg::OnDraw(GtkWidget*, cairo_t* cr, gpointer data) {
    auto* self = static_cast<CWebDlg*>(data);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    if (self->m_image) {
        cairo_set_source_surface(cr, self->m_image.get(), 0, 0);
    } else {
        cairo_set_source_rgba(cr, 0, 0, 0, 0);
    }
    cairo_paint(cr);
    return FALSE;  // the overlay's layer draws on top
}

// The window drags itself, so it moves the same with or without a window manager.
gboolean CWebDlg::OnButtonPress(GtkWidget*, GdkEventButton* event, gpointer data) {
    auto* self = static_cast<CWebDlg*>(data);
    if (event->button != GDK_BUTTON_PRIMARY || event->type != GDK_BUTTON_PRESS) {
        return FALSE;
    }
    self->m_dragging = true;
    self->m_dragRootX = event->x_root;
    self->m_dragRootY = event->y_root;
    gtk_window_get_position(GTK_WINDOW(self->m_window), &self->m_dragWindowX, &self->m_dragWindowY);
    return TRUE;
}

gboolean CWebDlg::OnMotion(GtkWidget*, GdkEventMotion* event, gpointer data) {
    auto* self = static_cast<CWebDlg*>(data);
    if (!self->m_dragging) {
        return FALSE;
    }
    const int x = self->m_dragWindowX + static_cast<int>(event->x_root - self->m_dragRootX);
    const int y = self->m_dragWindowY + static_cast<int>(event->y_root - self->m_dragRootY);
    gtk_window_move(GTK_WINDOW(self->m_window), x, y);
    return TRUE;
}

gboolean CWebDlg::OnButtonRelease(GtkWidget*, GdkEventButton* event, gpointer data) {
    auto* self = static_cast<CWebDlg*>(data);
    if (event->button == GDK_BUTTON_PRIMARY) {
        self->m_dragging = false;
    }
    return FALSE;
}

gboolean CWebDlg::OnDeleteEvent(GtkWidget*, GdkEvent*, gpointer data) {
    // The desktop's close request, as the dialog framework answered it: end with cancel; the
    // destruction still writes the resume record.
    static_cast<CWebDlg*>(data)->EndDialog(kIdCancel);
    return TRUE;
}

void CWebDlg::OnCompositedChanged(GdkScreen*, gpointer data) {
    static_cast<CWebDlg*>(data)->DrawBackground();
}

gboolean CWebDlg::OnCloseSignal(gpointer data) {
    static_cast<CWebDlg*>(data)->Close();  // as the close button does
    return G_SOURCE_CONTINUE;
}
