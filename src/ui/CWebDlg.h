#pragma once
// The launcher's main window: one undecorated toplevel of 976 x 526 showing the frame picture
// with its transparency, with the overlay (CWebCDlg: page, close button, progress elements) as
// a layer inside it. Clicks on fully transparent pixels pass through to whatever lies below;
// pressing anywhere else on the frame drags the window. It starts the update worker and is the
// object through which the worker reaches the overlay. Its run is the launcher's whole
// interactive life: DoModal returns when the player closes it, the game has ended, or a close
// signal arrives.
//
// Threads: the window thread (GTK's) owns the window and runs DoModal, Close and every handler.
// The MainWindow operations may be called from any thread: the progress operations run on the
// window thread while the caller waits, navigation is posted, and SetReady runs on the caller's
// thread. Cancel may come from any thread. Other threads keep the window through Link(), which
// stays safe to use after the window is gone (its calls then do nothing).

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "core/MainWindow.h"
#include "ui/Artwork.h"
#include "ui/CWebCDlg.h"
#include "ui/ProgressRepeats.h"
#include "ui/WindowThread.h"

class CWebDlg;

// The main window as threads other than the window thread hold it.
class MainWindowLink final : public MainWindow {
  public:
    MainWindowLink(CWebDlg* window, std::shared_ptr<WindowThread> windowThread,
                   std::shared_ptr<CWebCDlg> overlay, std::function<void()> writeResumeRecord);

    void ShowProgress(const std::string& status, const std::string& percentText, int percent,
                      int downloading) override;
    void ShowProgressState() override;
    void ShowMessageState() override;
    void InitWebBrower() override;
    void SetReady() override;

    // Ends the launcher after the game: logs, writes the resume record on the calling thread,
    // then ends the window's run on the window thread.
    void Cancel();
    // Shows or hides the window (the game launch hides it); waits for the window thread.
    void ShowWindow(bool visible);

  private:
    CWebDlg* const m_window;  // dereferenced only on the window thread while it is open
    const std::shared_ptr<WindowThread> m_windowThread;
    const std::shared_ptr<CWebCDlg> m_overlay;  // null: the window has no overlay
    const std::function<void()> m_writeResumeRecord;
    ProgressRepeats m_repeats;  // reports that would change nothing stay on the worker's side
};

class CWebDlg final : public MainWindow {
  public:
    struct Seams {
        // Starts the update worker on a thread of its own (CGameRemoteConfig::InitRemoteConfig);
        // called once, when the window is up. The worker may keep the window as long as it runs.
        std::function<void(std::shared_ptr<MainWindow> window)> startUpdateWorker;
        // Writes the download resume record (CGameRemoteConfig::WriteResumeRecord). Called on the
        // thread that ends the window, and again when the window is destroyed.
        std::function<void()> writeResumeRecord;
        // Hands over the window's link as soon as it exists (the game launch hides and ends the
        // window through it, from whichever thread launched).
        std::function<void(std::shared_ptr<MainWindowLink> link)> linkCreated;
        CWebCDlg::Seams overlay;
        // The embedded pictures; tests point them elsewhere.
        std::string_view frameResource = artwork::kFrame;
        std::string_view closeButtonResource = artwork::kCloseButton;
        std::string_view iconResource = artwork::kIcon;
    };

    // Results of DoModal.
    static constexpr int kIdOk = 1;         // Close: the close button or a close signal
    static constexpr int kIdCancel = 2;     // Cancel: the game has ended; or the desktop closed it
    static constexpr int kQuitResult = -1;  // the quit command of the notification-area menu

    // The notification-area callback, as the Windows launcher received it.
    static constexpr unsigned kNotifyIconId = 132;
    static constexpr unsigned kMouseRightButtonUp = 0x0205;
    static constexpr int kCommandQuit = 2;
    static constexpr const char* kQuitMenuText = "退出";

    explicit CWebDlg(Seams seams);
    ~CWebDlg() override;
    CWebDlg(const CWebDlg&) = delete;
    CWebDlg& operator=(const CWebDlg&) = delete;

    // Window thread: creates the window, shows it centred, starts the worker, runs until the
    // window is ended, then destroys it. Answers kIdOk, kIdCancel or kQuitResult.
    int DoModal();

    // MainWindow, from any thread.
    void ShowProgress(const std::string& status, const std::string& percentText, int percent,
                      int downloading) override;
    void ShowProgressState() override;
    void ShowMessageState() override;
    void InitWebBrower() override;
    void SetReady() override;

    // Window thread: the close button. Logs "Laucher Stop", writes the resume record, ends.
    void Close();
    // Any thread: the game has ended. Logs "Laucher Stop", writes the resume record, ends.
    void Cancel();
    // Window thread: the page's call through the bridge; empty without an overlay.
    std::string JavascriptToCPLUSPLUS(const std::string& method, const std::string& parameters);
    // Window thread: the notification-area callback (wParam: icon id, lParam: mouse message).
    // Answers 1 for another icon; a right-button release opens the one-item menu "退出".
    int OnNotifyIcon(unsigned wParam, unsigned lParam);
    // Window thread: command 2 (quit) ends the run.
    void OnCommand(int id);

    std::shared_ptr<MainWindowLink> Link() const { return m_link; }
    GtkWindow* Window() const { return m_window != nullptr ? GTK_WINDOW(m_window) : nullptr; }
    CWebCDlg* Overlay() const { return m_pWebCDlg.get(); }

  private:
    friend class MainWindowLink;

    void OnCreate();
    void OnInitDialog();
    void DrawBackground();
    void Centre();
    void EndDialog(int result);
    void OnDestroy();
    void SetVisible(bool visible);

    static gboolean OnDraw(GtkWidget*, cairo_t* cr, gpointer self);
    static gboolean OnButtonPress(GtkWidget*, GdkEventButton* event, gpointer self);
    static gboolean OnButtonRelease(GtkWidget*, GdkEventButton* event, gpointer self);
    static gboolean OnMotion(GtkWidget*, GdkEventMotion* event, gpointer self);
    static gboolean OnDeleteEvent(GtkWidget*, GdkEvent*, gpointer self);
    static void OnCompositedChanged(GdkScreen*, gpointer self);
    static gboolean OnCloseSignal(gpointer self);

    const Seams m_seams;
    const std::shared_ptr<WindowThread> m_windowThread;
    GdkPixbuf* m_hIcon = nullptr;
    SurfacePtr m_image;  // the frame picture, premultiplied; empty when it could not be loaded
    std::shared_ptr<CWebCDlg> m_pWebCDlg;
    std::shared_ptr<MainWindowLink> m_link;

    // Window thread only.
    GtkWidget* m_window = nullptr;
    GMainLoop* m_loop = nullptr;
    bool m_ended = false;
    int m_result = 0;
    bool m_dragging = false;
    double m_dragRootX = 0;
    double m_dragRootY = 0;
    int m_dragWindowX = 0;
    int m_dragWindowY = 0;
};
