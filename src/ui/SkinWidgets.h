#pragma once
// The skinned controls as GTK widgets on the overlay. Each paints its control onto opaque black
// and keys the black out, as the colour-keyed overlay window did: pure black pixels are not
// painted and let clicks through to the frame. The control must outlive its widget.

#include <gtk/gtk.h>

#include "ui/SkinnedControls.h"

GtkWidget* NewProgressWidget(CGradientProgressCtrl& control);
GtkWidget* NewLabelWidget(CStaticEx& label);
// Takes the left button's presses and releases (each press counts, however quick the clicks)
// and the pointer's moves and leaving; an insensitive widget shows the disabled picture.
GtkWidget* NewButtonWidget(CPngButton& button);

// What an overlay element of size width x height shows for paint: black painted, then keyed out.
// The result is premultiplied ARGB32; the caller owns it.
cairo_surface_t* RenderKeyed(int width, int height, const std::function<void(cairo_t*)>& paint);
