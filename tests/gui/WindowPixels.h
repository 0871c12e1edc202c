#pragma once
// What the launcher window should show, pixel by pixel, in window coordinates: the frame picture
// (premultiplied, as the screen shows an opaque window's pixels), and over it the overlay's
// elements painted through the colour key.

#include <functional>
#include <string>

#include "GuiSupport.h"
#include "ui/Artwork.h"
#include "ui/Layout.h"
#include "ui/SkinWidgets.h"

namespace gui_testing {

using Expected = std::function<Rgb(int x, int y)>;

inline Rgb RgbOf(cairo_surface_t* surface, int x, int y) {
    const Argb p = PixelAt(surface, x, y);
    return {p.r, p.g, p.b};
}

inline constexpr Rgb kBarBlue{0, 132, 255};
inline constexpr Rgb kBarGrey{105, 105, 105};
inline constexpr Rgb kPageSquare{layout::kPageSquareRgb[0], layout::kPageSquareRgb[1],
                                 layout::kPageSquareRgb[2]};

class WindowPixels {
  public:
    Rgb Frame(int x, int y) const { return RgbOf(frame.get(), x, y); }
    Expected JustFrame() const {
        return [this](int x, int y) { return Frame(x, y); };
    }
    static Expected Solid(Rgb colour) {
        return [colour](int, int) { return colour; };
    }

    // What paint draws in rect through the colour key, the frame wherever it drew pure black.
    Expected Over(const layout::Rect& rect, const std::function<void(cairo_t*)>& paint) const {
        SurfacePtr keyed = AdoptSurface(RenderKeyed(rect.width, rect.height, paint));
        return [this, keyed, rect](int x, int y) {
            const Argb p = PixelAt(keyed.get(), x - rect.x, y - rect.y);
            return p.a != 0 ? Rgb{p.r, p.g, p.b} : Frame(x, y);
        };
    }
    // A progress text in its place, as the overlay's label draws it.
    Expected Label(const layout::Rect& rect, const std::string& text) const {
        return Over(rect, [text, rect](cairo_t* cr) {
            CStaticEx label;
            label.m_strText = text;
            label.Paint(cr, rect.width, rect.height);
        });
    }
    Expected CloseButton() const {
        return Over(layout::kCloseButton, [this](cairo_t* cr) {
            cairo_set_source_surface(cr, closeButton.get(), 0, 0);
            cairo_paint(cr);
        });
    }

    SurfacePtr frame = artwork::LoadPremultiplied(artwork::kFrame);
    SurfacePtr closeButton = artwork::LoadPremultiplied(artwork::kCloseButton);
};

// Pixels of rect (window coordinates) of the window at origin that differ from expected.
inline int Mismatches(XScreen& screen, Point origin, const layout::Rect& rect, const Expected& expected) {
    return Mismatches(screen, origin, rect.x, rect.y, rect.width, rect.height, expected);
}

}  // namespace gui_testing
