#include "ui/SkinWidgets.h"

namespace {

using Painter = std::function<void(cairo_t*, int width, int height)>;

gboolean OnDraw(GtkWidget* widget, cairo_t* cr, gpointer data) {
    const auto& paint = *static_cast<Painter*>(data);
    const int width = gtk_widget_get_allocated_width(widget);
    const int height = gtk_widget_get_allocated_height(widget);
    cairo_surface_t* keyed =
        RenderKeyed(width, height, [&](cairo_t* target) { paint(target, width, height); });
    cairo_set_source_surface(cr, keyed, 0, 0);
    cairo_paint(cr);
    cairo_surface_destroy(keyed);
    return FALSE;
}

GtkWidget* NewPaintedWidget(Painter paint) {
    GtkWidget* area = gtk_drawing_area_new();
    auto* owned = new Painter(std::move(paint));
    g_signal_connect_data(
        area, "draw", G_CALLBACK(OnDraw), owned,
        [](gpointer data, GClosure*) { delete static_cast<Painter*>(data); }, GConnectFlags{});
    return area;
}

void Repaint(GtkWidget* widget, bool needed) {
    if (needed) {
        gtk_widget_queue_draw(widget);
    }
}

gboolean OnButtonPress(GtkWidget* widget, GdkEventButton* event, gpointer data) {
    // A second quick press also comes as a double-click event; the plain press was already taken.
    if (event->button == GDK_BUTTON_PRIMARY && event->type == GDK_BUTTON_PRESS) {
        Repaint(widget, static_cast<CPngButton*>(data)->OnLButtonDown());
    }
    return TRUE;  // never a drag of the window
}

gboolean OnButtonRelease(GtkWidget* widget, GdkEventButton* event, gpointer data) {
    if (event->button == GDK_BUTTON_PRIMARY) {
        // The press grabbed the pointer, so the release comes here wherever the pointer is.
        g_object_ref(widget);
        Repaint(widget, static_cast<CPngButton*>(data)->OnLButtonUp());
        g_object_unref(widget);
    }
    return TRUE;
}

gboolean OnMotion(GtkWidget* widget, GdkEventMotion*, gpointer data) {
    Repaint(widget, static_cast<CPngButton*>(data)->OnMouseMove());
    return TRUE;
}

gboolean OnLeave(GtkWidget* widget, GdkEventCrossing*, gpointer data) {
    Repaint(widget, static_cast<CPngButton*>(data)->OnMouseLeave());
    return FALSE;
}

void OnStateFlagsChanged(GtkWidget* widget, GtkStateFlags, gpointer data) {
    const bool enabled = (gtk_widget_get_state_flags(widget) & GTK_STATE_FLAG_INSENSITIVE) == 0;
    auto* button = static_cast<CPngButton*>(data);
    if (enabled == button->m_bDisabled) {
        Repaint(widget, button->OnEnable(enabled));
    }
}

}  // namespace

cairo_surface_t* RenderKeyed(int width, int height, const std::function<void(cairo_t*)>& paint) {
    cairo_surface_t* surface =
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, std::max(width, 1), std::max(height, 1));
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_paint(cr);
    paint(cr);
    cairo_destroy(cr);
    KeyOutBlack(surface);
    return surface;
}

GtkWidget* NewProgressWidget(CGradientProgressCtrl& control) {
    return NewPaintedWidget([&control](cairo_t* cr, int w, int h) { control.Paint(cr, w, h); });
}

GtkWidget* NewLabelWidget(CStaticEx& label) {
    return NewPaintedWidget([&label](cairo_t* cr, int w, int h) { label.Paint(cr, w, h); });
}

GtkWidget* NewButtonWidget(CPngButton& button) {
    GtkWidget* area = NewPaintedWidget([&button](cairo_t* cr, int, int) { button.Paint(cr); });
    gtk_widget_add_events(area, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_POINTER_MOTION_MASK |
                                    GDK_LEAVE_NOTIFY_MASK);
    g_signal_connect(area, "button-press-event", G_CALLBACK(OnButtonPress), &button);
    g_signal_connect(area, "button-release-event", G_CALLBACK(OnButtonRelease), &button);
    g_signal_connect(area, "motion-notify-event", G_CALLBACK(OnMotion), &button);
    g_signal_connect(area, "leave-notify-event", G_CALLBACK(OnLeave), &button);
    g_signal_connect(area, "state-flags-changed", G_CALLBACK(OnStateFlagsChanged), &button);
    gtk_widget_set_size_request(area, button.m_nWidth, button.m_nHeight);
    return area;
}
