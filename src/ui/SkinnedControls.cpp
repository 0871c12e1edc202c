#include "ui/SkinnedControls.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

#include <fmt/printf.h>

namespace {

std::uint8_t Red(COLORREF c) {
    return c & 0xFF;
}
std::uint8_t Green(COLORREF c) {
    return (c >> 8) & 0xFF;
}
std::uint8_t Blue(COLORREF c) {
    return (c >> 16) & 0xFF;
}

void FillRect(cairo_t* cr, int x0, int y0, int x1, int y1, COLORREF color) {
    if (x1 <= x0 || y1 <= y0) {
        return;
    }
    SetSourceColor(cr, color);
    cairo_rectangle(cr, x0, y0, x1 - x0, y1 - y0);
    cairo_fill(cr);
}

// The same glyphs on screen and off it: text is always rasterised into an image surface with
// these options, whatever the display's own font settings are.
void SetFixedFontOptions(PangoContext* context) {
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_SLIGHT);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    pango_cairo_context_set_font_options(context, options);
    cairo_font_options_destroy(options);
}

struct LayoutDeleter {
    void operator()(PangoLayout* layout) const { g_object_unref(layout); }
};
using LayoutPtr = std::unique_ptr<PangoLayout, LayoutDeleter>;

}  // namespace

void SetSourceColor(cairo_t* cr, COLORREF color) {
    cairo_set_source_rgb(cr, Red(color) / 255.0, Green(color) / 255.0, Blue(color) / 255.0);
}

// --- CGradientProgressCtrl ---

void CGradientProgressCtrl::Paint(cairo_t* cr, int width, int height) const {
    cairo_save(cr);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    if (m_nLower < m_nPos && m_nPos <= m_nUpper) {
        const int extent = m_bVertical ? height : width;
        // A range that does not start at 0 can give a share outside 0..1 here; keep it on the bar.
        const float share =
            static_cast<float>(m_nPos) / static_cast<float>(m_nUpper) * static_cast<float>(extent);
        const int filled =
            std::isfinite(share) ? static_cast<int>(std::clamp(share, 0.0f, static_cast<float>(extent))) : 0;
        DrawGradient(cr, width, height, filled);
        if (m_bShowPercent) {
            LayoutPtr layout(pango_cairo_create_layout(cr));
            SetFixedFontOptions(pango_layout_get_context(layout.get()));
            PangoFontDescription* font = pango_font_description_from_string("Sans");
            pango_font_description_set_absolute_size(font, 12 * PANGO_SCALE);
            pango_layout_set_font_description(layout.get(), font);
            pango_font_description_free(font);
            const std::string text = PercentText(m_nPos, m_nLower, m_nUpper);
            pango_layout_set_text(layout.get(), text.c_str(), -1);
            int tw = 0;
            int th = 0;
            pango_layout_get_pixel_size(layout.get(), &tw, &th);
            cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
            SetSourceColor(cr, m_clrText);
            cairo_move_to(cr, (width - tw) / 2, (height - th) / 2);
            pango_cairo_show_layout(cr, layout.get());
        }
    } else {
        FillRect(cr, 0, 0, width, height, kOutOfRangeColor);
    }
    cairo_restore(cr);
}

std::string CGradientProgressCtrl::PercentText(int pos, int lower, int upper) {
    return fmt::sprintf("%3.0f %%",
                        static_cast<double>(pos - lower) * 100.0 / static_cast<double>(upper - lower));
}

int CGradientProgressCtrl::BandCount() const {
    if (m_clrStart == m_clrEnd) {
        return m_clrStart == 0 ? 255 : std::max({Red(m_clrStart), Green(m_clrStart), Blue(m_clrStart)});
    }
    return std::max({std::abs(Red(m_clrEnd) - Red(m_clrStart)), std::abs(Green(m_clrEnd) - Green(m_clrStart)),
                     std::abs(Blue(m_clrEnd) - Blue(m_clrStart))});
}

// Every band has the start colour; the bar ends on the first band edge at or beyond the filled
// length and the rest takes the background colour.
void CGradientProgressCtrl::DrawGradient(cairo_t* cr, int width, int height, int filled) const {
    const int extent = m_bVertical ? height : width;
    const int bands = BandCount();
    const float bandWidth = static_cast<float>(extent) / static_cast<float>(bands);
    for (int i = 0; i < bands; ++i) {
        const int nearEdge = static_cast<int>(static_cast<float>(i) * bandWidth);
        const int farEdge = static_cast<int>(static_cast<float>(i + 1) * bandWidth);
        if (m_bVertical) {
            FillRect(cr, 0, nearEdge, width + 1, farEdge, m_clrStart);
        } else {
            FillRect(cr, nearEdge, 0, farEdge, height + 1, m_clrStart);
        }
        if (filled < farEdge) {
            if (m_bVertical) {
                FillRect(cr, 0, farEdge, width, height, m_clrBkgnd);
            } else {
                FillRect(cr, farEdge, 0, width, height, m_clrBkgnd);
            }
            return;
        }
    }
}

// --- CStaticEx ---

PangoFontDescription* CStaticEx::CreateFont(PangoContext* context) {
    PangoFontDescription* font = pango_font_description_new();
    pango_font_description_set_family(font, kFaceName);
    pango_font_description_set_weight(font, static_cast<PangoWeight>(kWeight));
    pango_font_description_set_absolute_size(font, kCellHeight * PANGO_SCALE);
    // The face is rarely installed on Linux; asking for simplified Chinese makes fontconfig
    // stand in a CJK font rather than a Latin one that lacks the glyphs.
    PangoLanguage* chinese = pango_language_from_string("zh-cn");
    pango_context_set_language(context, chinese);
    PangoFontMetrics* metrics = pango_context_get_metrics(context, font, chinese);
    const int cell = pango_font_metrics_get_ascent(metrics) + pango_font_metrics_get_descent(metrics);
    pango_font_metrics_unref(metrics);
    if (cell > 0) {
        // Sizes are em heights; the label's height is the cell's, which is taller than the em.
        const double size = static_cast<double>(kCellHeight) * PANGO_SCALE * kCellHeight * PANGO_SCALE / cell;
        pango_font_description_set_absolute_size(font, size);
    }
    return font;
}

void CStaticEx::Paint(cairo_t* cr, int width, int height) const {
    cairo_save(cr);
    cairo_rectangle(cr, 0, 0, width, height);
    cairo_clip(cr);
    LayoutPtr layout(pango_cairo_create_layout(cr));
    PangoContext* context = pango_layout_get_context(layout.get());
    SetFixedFontOptions(context);
    PangoFontDescription* font = CreateFont(context);
    pango_layout_context_changed(layout.get());
    pango_layout_set_font_description(layout.get(), font);
    pango_font_description_free(font);
    pango_layout_set_text(layout.get(), m_strText.c_str(), -1);
    SetSourceColor(cr, m_clrText);
    cairo_move_to(cr, 0, 0);
    pango_cairo_show_layout(cr, layout.get());
    cairo_restore(cr);
}

// --- CPngButton ---

bool CPngButton::OnMouseMove() {
    if (m_bPressed || m_bHover) {
        return false;
    }
    m_bHover = true;
    return true;
}

bool CPngButton::OnLButtonDown() {
    m_bPressed = true;
    m_bHover = false;
    return true;
}

bool CPngButton::OnMouseLeave() {
    m_bHover = false;
    return true;
}

bool CPngButton::OnLButtonUp() {
    m_bPressed = false;
    if (m_onClick) {
        m_onClick();
    }
    return true;
}

bool CPngButton::OnEnable(bool enabled) {
    m_bDisabled = !enabled;
    return true;
}

cairo_surface_t* CPngButton::CurrentImage() const {
    if (m_bDisabled) {
        return m_pImgDisabled.get();
    }
    if (m_bPressed) {
        return m_pImgPressed.get();
    }
    if (m_bHover) {
        return m_pImgHover.get();
    }
    return m_pImgNormal.get();
}

void CPngButton::Paint(cairo_t* cr) const {
    cairo_surface_t* image = CurrentImage();
    if (image == nullptr) {
        return;
    }
    cairo_save(cr);
    cairo_rectangle(cr, 0, 0, m_nWidth, m_nHeight);
    cairo_clip(cr);
    cairo_set_source_surface(cr, image, 0, 0);
    cairo_paint(cr);
    cairo_restore(cr);
}
