#include "ui/GtkMessagePresenter.h"

#include <gtk/gtk.h>

#include <condition_variable>
#include <mutex>

namespace {

GtkMessageType MessageTypeOf(unsigned type) {
    switch (type & platform::kMbIconMask) {
        case platform::kMbIconError: return GTK_MESSAGE_ERROR;
        case platform::kMbIconQuestion: return GTK_MESSAGE_QUESTION;
        case platform::kMbIconExclamation: return GTK_MESSAGE_WARNING;
        case platform::kMbIconInformation: return GTK_MESSAGE_INFO;
        default: return GTK_MESSAGE_OTHER;
    }
}

// The desktop's picture for the box's icon; null for a box without one.
const char* IconNameOf(unsigned type) {
    switch (type & platform::kMbIconMask) {
        case platform::kMbIconError: return "dialog-error";
        case platform::kMbIconQuestion: return "dialog-question";
        case platform::kMbIconExclamation: return "dialog-warning";
        case platform::kMbIconInformation: return "dialog-information";
        default: return nullptr;
    }
}

// GTK 3 message dialogs no longer show a picture for their type; the player must still see
// an error as an error, as the Windows box shows it.
void ShowIcon(GtkWidget* dialog, unsigned type) {
    const char* name = IconNameOf(type);
    if (name == nullptr) {
        return;
    }
    GtkWidget* image = gtk_image_new_from_icon_name(name, GTK_ICON_SIZE_DIALOG);
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gtk_message_dialog_set_image(GTK_MESSAGE_DIALOG(dialog), image);
    G_GNUC_END_IGNORE_DEPRECATIONS
    gtk_widget_show(image);
}

int RunDialog(const platform::MessageBoxRequest& request) {
    const bool question = (request.type & platform::kMbTypeMask) == platform::kMbYesNo;
    GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, MessageTypeOf(request.type),
                                               question ? GTK_BUTTONS_YES_NO : GTK_BUTTONS_OK, "%s",
                                               request.text.c_str());
    gtk_window_set_title(GTK_WINDOW(dialog), request.caption.c_str());
    ShowIcon(dialog, request.type);
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
    gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), question ? GTK_RESPONSE_YES : GTK_RESPONSE_OK);
    const int response = gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
    if (question) {
        return response == GTK_RESPONSE_YES ? platform::kIdYes : platform::kIdNo;
    }
    return platform::kIdOk;
}

struct CrossThreadBox {
    const platform::MessageBoxRequest* request = nullptr;
    int answer = 0;
    bool done = false;
    std::mutex mutex;
    std::condition_variable cv;
};

}  // namespace

GtkMessagePresenter::GtkMessagePresenter() : m_windowThread(std::this_thread::get_id()) {}

int GtkMessagePresenter::Present(const platform::MessageBoxRequest& request) {
    if (std::this_thread::get_id() == m_windowThread) {
        return RunDialog(request);
    }
    CrossThreadBox box;
    box.request = &request;
    // Always queued: g_main_context_invoke would run the dialog right here, on the wrong thread,
    // whenever the window thread happens not to be iterating its loop.
    g_idle_add(
        [](gpointer data) -> gboolean {
            auto* b = static_cast<CrossThreadBox*>(data);
            const int answer = RunDialog(*b->request);
            std::lock_guard lock(b->mutex);
            b->answer = answer;
            b->done = true;
            b->cv.notify_one();
            return G_SOURCE_REMOVE;
        },
        &box);
    std::unique_lock lock(box.mutex);
    box.cv.wait(lock, [&] { return box.done; });
    return box.answer;
}
