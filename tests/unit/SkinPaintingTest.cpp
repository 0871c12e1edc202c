// The skinned controls, the overlay's colour key and the embedded artwork, checked off-screen
// pixel by pixel.

#include <gtest/gtest.h>
#include <pango/pangocairo.h>

#include <string>
#include <vector>

#include "ui/Artwork.h"
#include "ui/Layout.h"
#include "ui/Pixels.h"
#include "ui/SkinWidgets.h"
#include "ui/SkinnedControls.h"

namespace {

constexpr Argb kBarBlue{255, 0, 132, 255};  // the launcher's bar colour 0xFF8400
constexpr Argb kGrey{255, 105, 105, 105};
constexpr Argb kRed{255, 255, 0, 0};

SurfacePtr NewSurface(int width, int height, COLORREF fill = 0x0000FF) {
    SurfacePtr s = AdoptSurface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height));
    cairo_t* cr = cairo_create(s.get());
    SetSourceColor(cr, fill);
    cairo_paint(cr);
    cairo_destroy(cr);
    return s;
}

template <typename Paint>
void PaintOn(const SurfacePtr& surface, Paint paint) {
    cairo_t* cr = cairo_create(surface.get());
    paint(cr);
    cairo_destroy(cr);
}

// The launcher's bar: 843 x 12, one colour over grey, 0-100.
CGradientProgressCtrl LauncherBar(int pos) {
    CGradientProgressCtrl bar;
    bar.m_clrStart = bar.m_clrEnd = 0xFF8400;
    bar.m_clrBkgnd = 0x696969;
    bar.m_nPos = pos;
    return bar;
}

// How many columns from the left, on every row, carry colour; -1 when the rows disagree.
int ColouredPrefix(const SurfacePtr& s, Argb colour) {
    const int width = cairo_image_surface_get_width(s.get());
    const int height = cairo_image_surface_get_height(s.get());
    int prefix = -1;
    for (int y = 0; y < height; ++y) {
        int x = 0;
        while (x < width && PixelAt(s.get(), x, y) == colour) {
            ++x;
        }
        if (prefix != -1 && prefix != x) {
            return -1;
        }
        prefix = x;
    }
    return prefix;
}

bool AllPixels(const SurfacePtr& s, int x0, int x1, Argb colour) {
    for (int y = 0; y < cairo_image_surface_get_height(s.get()); ++y) {
        for (int x = x0; x < x1; ++x) {
            if (!(PixelAt(s.get(), x, y) == colour)) {
                return false;
            }
        }
    }
    return true;
}

SurfacePtr Solid(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a = 255, int size = 4) {
    std::vector<std::uint8_t> rgba;
    for (int i = 0; i < size * size; ++i) {
        rgba.insert(rgba.end(), {r, g, b, a});
    }
    return PremultipliedSurface(rgba.data(), size, size, size * 4, 4);
}

}  // namespace

TEST(GradientProgress, LauncherBarAtTheEdgeCasesOfItsRange) {
    const int w = layout::kProgressBar.width;
    const int h = layout::kProgressBar.height;
    ASSERT_EQ(w, 843);
    // 0 of 0-100 and positions outside the range: all grey, whatever the background colour.
    for (const int pos : {0, -5, 101}) {
        auto s = NewSurface(w, h);
        CGradientProgressCtrl bar = LauncherBar(pos);
        bar.m_clrBkgnd = 0x000000;
        PaintOn(s, [&](cairo_t* cr) { bar.Paint(cr, w, h); });
        EXPECT_TRUE(AllPixels(s, 0, w, kGrey)) << pos;
    }
    // 1: the first hundredth (8 px) runs on to the next band edge (255 bands of 3.3 px: 9 px).
    // 50: half (421 px) runs on to 423 px. 100: everything.
    for (const auto& [pos, barColumns] : std::vector<std::pair<int, int>>{{1, 9}, {50, 423}, {100, 843}}) {
        auto s = NewSurface(w, h);
        PaintOn(s, [&](cairo_t* cr) { LauncherBar(pos).Paint(cr, w, h); });
        EXPECT_EQ(ColouredPrefix(s, kBarBlue), barColumns) << pos;
        EXPECT_TRUE(AllPixels(s, barColumns, w, kGrey)) << pos;
    }
}

TEST(GradientProgress, EveryBandHasTheStartColourAndTheCountComesFromTheColours) {
    // Start and end differ by 10 in blue: 10 bands of 10 px on a 100 px bar. 15 ends at 20.
    auto s = NewSurface(100, 4);
    CGradientProgressCtrl bar;
    bar.m_clrStart = 0x000080;  // red 128
    bar.m_clrEnd = 0x0A0080;
    bar.m_clrBkgnd = 0x00FF00;
    bar.m_nPos = 15;
    PaintOn(s, [&](cairo_t* cr) { bar.Paint(cr, 100, 4); });
    EXPECT_EQ(ColouredPrefix(s, Argb{255, 128, 0, 0}), 20);
    EXPECT_TRUE(AllPixels(s, 20, 100, Argb{255, 0, 255, 0}));

    // Black to black: 255 bands of 1 px; 40% is 102 px and the bar ends on the far edge of the
    // band that holds the filled length.
    auto black = NewSurface(255, 2);
    CGradientProgressCtrl dark;
    dark.m_clrStart = dark.m_clrEnd = 0;
    dark.m_clrBkgnd = 0xFFFFFF;
    dark.m_nPos = 40;
    PaintOn(black, [&](cairo_t* cr) { dark.Paint(cr, 255, 2); });
    EXPECT_EQ(ColouredPrefix(black, Argb{255, 0, 0, 0}), 103);
}

TEST(GradientProgress, AVerticalBarFillsFromTheTopDown) {
    auto s = NewSurface(6, 100);
    CGradientProgressCtrl bar;
    bar.m_bVertical = true;
    bar.m_clrStart = bar.m_clrEnd = 0x0000FF;  // red, 255 bands
    bar.m_clrBkgnd = 0x00FF00;
    bar.m_nPos = 30;
    PaintOn(s, [&](cairo_t* cr) { bar.Paint(cr, 6, 100); });
    EXPECT_EQ(PixelAt(s.get(), 3, 0), kRed);
    EXPECT_EQ(PixelAt(s.get(), 3, 29), kRed);
    EXPECT_EQ(PixelAt(s.get(), 3, 31), (Argb{255, 0, 255, 0}));
    EXPECT_EQ(PixelAt(s.get(), 3, 99), (Argb{255, 0, 255, 0}));
}

TEST(GradientProgress, PercentTextIsPaddedToThreeDigitsAndDrawnOnlyWhenAskedFor) {
    EXPECT_EQ(CGradientProgressCtrl::PercentText(50, 0, 100), " 50 %");
    EXPECT_EQ(CGradientProgressCtrl::PercentText(1, 0, 100), "  1 %");
    EXPECT_EQ(CGradientProgressCtrl::PercentText(100, 0, 100), "100 %");
    EXPECT_EQ(CGradientProgressCtrl::PercentText(30, 20, 40), " 50 %");  // the share of the range

    auto count = [](bool showPercent) {
        auto s = NewSurface(200, 30);
        CGradientProgressCtrl bar = LauncherBar(50);
        bar.m_bShowPercent = showPercent;
        PaintOn(s, [&](cairo_t* cr) { bar.Paint(cr, 200, 30); });
        int light = 0;
        for (int y = 0; y < 30; ++y) {
            for (int x = 0; x < 200; ++x) {
                light += PixelAt(s.get(), x, y).r > 200;
            }
        }
        return light;
    };
    EXPECT_EQ(count(false), 0);
    EXPECT_GT(count(true), 10);
}

TEST(StaticText, DrawsItsTextInItsColourOverWhatIsThereAndStaysInItsBox) {
    auto s = NewSurface(300, 40);  // red below
    CStaticEx label;
    label.m_strText = "正在下载：100%";
    PaintOn(s, [&](cairo_t* cr) { label.Paint(cr, 120, 24); });
    int white = 0;
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 300; ++x) {
            const Argb p = PixelAt(s.get(), x, y);
            white += p == Argb{255, 255, 255, 255};
            if (x >= 120 || y >= 24) {
                EXPECT_EQ(p, kRed) << x << "," << y;  // nothing outside the label's box
            }
        }
    }
    EXPECT_GT(white, 20);
    EXPECT_EQ(PixelAt(s.get(), 0, 0), kRed);  // no background of its own
}

TEST(StaticText, FontHasEveryChineseGlyphAndATwentyPixelCell) {
    PangoFontMap* map = pango_cairo_font_map_get_default();
    PangoContext* context = pango_font_map_create_context(map);
    PangoFontDescription* font = CStaticEx::CreateFont(context);
    EXPECT_EQ(pango_font_description_get_weight(font), 500);

    PangoFontMetrics* metrics = pango_context_get_metrics(context, font, pango_language_from_string("zh-cn"));
    const double cell = (pango_font_metrics_get_ascent(metrics) + pango_font_metrics_get_descent(metrics)) /
                        static_cast<double>(PANGO_SCALE);
    EXPECT_NEAR(cell, CStaticEx::kCellHeight, 1.0);
    pango_font_metrics_unref(metrics);

    PangoLayout* layout = pango_layout_new(context);
    pango_layout_set_font_description(layout, font);
    pango_layout_set_text(layout, "正在下载：正在解压：更新已完成,请检查网络ErrorCode:101", -1);
    EXPECT_EQ(pango_layout_get_unknown_glyphs_count(layout), 0);
    g_object_unref(layout);
    pango_font_description_free(font);
    g_object_unref(context);
}

TEST(PngButton, StatesPickTheirPictureAndTheClickComesOnTheRelease) {
    CPngButton button;
    button.m_nWidth = button.m_nHeight = 4;
    button.m_pImgNormal = Solid(10, 0, 0);
    button.m_pImgHover = Solid(20, 0, 0);
    button.m_pImgPressed = Solid(30, 0, 0);
    button.m_pImgDisabled = Solid(40, 0, 0);
    int clicks = 0;
    button.m_onClick = [&] { ++clicks; };
    auto shown = [&] {
        auto s = NewSurface(4, 4, 0);
        PaintOn(s, [&](cairo_t* cr) { button.Paint(cr); });
        return PixelAt(s.get(), 1, 1).r;
    };

    EXPECT_EQ(shown(), 10);
    EXPECT_TRUE(button.OnMouseMove());
    EXPECT_EQ(shown(), 20);
    EXPECT_FALSE(button.OnMouseMove());  // already hovering: nothing to repaint
    button.OnLButtonDown();
    EXPECT_EQ(shown(), 30);
    EXPECT_EQ(clicks, 0);
    button.OnMouseLeave();  // pressed, moved off the button, released elsewhere: still a click
    EXPECT_EQ(shown(), 30);
    button.OnLButtonUp();
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(shown(), 10);  // normal until the pointer moves again
    button.OnMouseMove();
    EXPECT_EQ(shown(), 20);

    button.OnEnable(false);
    EXPECT_EQ(shown(), 40);
    button.OnLButtonDown();
    EXPECT_EQ(shown(), 40);  // disabled wins over pressed and hover
    button.OnEnable(true);
    EXPECT_EQ(shown(), 30);
}

TEST(PngButton, WithoutAPictureOrClickActionNothingHappens) {
    CPngButton button;
    button.m_nWidth = button.m_nHeight = 4;
    auto s = NewSurface(4, 4);
    button.OnLButtonDown();
    button.OnLButtonUp();  // no action set: no crash
    PaintOn(s, [&](cairo_t* cr) { button.Paint(cr); });
    EXPECT_EQ(PixelAt(s.get(), 2, 2), kRed);
}

TEST(Pixels, PremultiplyingTruncatesEachChannelAndKeepsAlpha) {
    const std::uint8_t rgba[] = {255, 128, 1, 128, 200, 100, 50, 255, 9, 9, 9, 0, 0, 0, 0, 0};
    auto s = PremultipliedSurface(rgba, 2, 2, 8, 4);
    ASSERT_TRUE(s);
    EXPECT_EQ(PixelAt(s.get(), 0, 0), (Argb{128, 128, 64, 0}));  // 128*128/255 = 64.25
    EXPECT_EQ(PixelAt(s.get(), 1, 0), (Argb{255, 200, 100, 50}));
    EXPECT_EQ(PixelAt(s.get(), 0, 1), (Argb{0, 0, 0, 0}));
    const std::uint8_t rgb[] = {1, 2, 3, 0, 0, 0, 0, 0};  // three channels, padded rows: opaque
    EXPECT_EQ(PixelAt(PremultipliedSurface(rgb, 1, 2, 4, 3).get(), 0, 0), (Argb{255, 1, 2, 3}));
    EXPECT_FALSE(PremultipliedSurface(rgba, 0, 2, 8, 4));
}

TEST(Pixels, AlphaRegionTakesEveryPixelThatIsNotFullyTransparent) {
    const std::uint8_t rgba[] = {0, 0, 0, 0, 0, 0, 0, 1, 50, 50, 50, 255, 0, 0, 0, 0};
    auto s = PremultipliedSurface(rgba, 4, 1, 16, 4);
    cairo_region_t* region = AlphaRegion(s.get());
    EXPECT_FALSE(cairo_region_contains_point(region, 0, 0));
    EXPECT_TRUE(cairo_region_contains_point(region, 1, 0));  // alpha 1 still takes clicks
    EXPECT_TRUE(cairo_region_contains_point(region, 2, 0));
    EXPECT_FALSE(cairo_region_contains_point(region, 3, 0));
    cairo_region_destroy(region);
}

TEST(Pixels, TheColourKeyRemovesOnlyPureBlack) {
    cairo_surface_t* keyed = RenderKeyed(3, 1, [](cairo_t* cr) {
        cairo_set_source_rgb(cr, 0, 0, 1 / 255.0);  // nearly black is still painted
        cairo_rectangle(cr, 1, 0, 1, 1);
        cairo_fill(cr);
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_rectangle(cr, 2, 0, 1, 1);
        cairo_fill(cr);
    });
    EXPECT_EQ(PixelAt(keyed, 0, 0), (Argb{0, 0, 0, 0}));  // the black ground is gone
    EXPECT_EQ(PixelAt(keyed, 1, 0), (Argb{255, 0, 0, 1}));
    EXPECT_EQ(PixelAt(keyed, 2, 0), (Argb{255, 255, 255, 255}));
    cairo_surface_destroy(keyed);
}

TEST(Artwork, FrameHasTransparentSurroundingsAndTheOpaqueDarkPageSquare) {
    SurfacePtr frame = artwork::LoadPremultiplied(artwork::kFrame);
    ASSERT_TRUE(frame);
    ASSERT_EQ(cairo_image_surface_get_width(frame.get()), 976);
    ASSERT_EQ(cairo_image_surface_get_height(frame.get()), 526);
    for (const auto& [x, y] :
         std::vector<std::pair<int, int>>{{0, 0}, {975, 0}, {0, 525}, {975, 525}, {3, 3}, {500, 1}}) {
        EXPECT_EQ(PixelAt(frame.get(), x, y).a, 0) << x << "," << y;
    }
    const layout::Rect page = layout::kPage;
    const Argb square{255, layout::kPageSquareRgb[0], layout::kPageSquareRgb[1], layout::kPageSquareRgb[2]};
    int off = 0;
    for (int y = page.y; y < page.bottom(); ++y) {
        for (int x = page.x; x < page.right(); ++x) {
            off += !(PixelAt(frame.get(), x, y) == square);
        }
    }
    EXPECT_EQ(off, 0);
    EXPECT_LT(square.r + square.g + square.b, 3 * 32);        // near-black
    EXPECT_EQ(PixelAt(frame.get(), page.x - 4, 300).a, 255);  // the frame around it is opaque
    // Everything the overlay places lies on opaque frame, so a press around it drags the window.
    for (const layout::Rect& r : {layout::kCloseButton, layout::kProgressBar, layout::kStatusText}) {
        EXPECT_EQ(PixelAt(frame.get(), r.x, r.y).a, 255);
        EXPECT_EQ(PixelAt(frame.get(), r.right() - 1, r.bottom() - 1).a, 255);
    }
}

TEST(Artwork, CloseButtonAndIconHaveTheirSizes) {
    SurfacePtr close = artwork::LoadPremultiplied(artwork::kCloseButton);
    ASSERT_TRUE(close);
    EXPECT_EQ(cairo_image_surface_get_width(close.get()), 45);
    EXPECT_EQ(cairo_image_surface_get_height(close.get()), 46);
    EXPECT_EQ(PixelAt(close.get(), 0, 0).a, 0);  // round: its corners show the frame
    EXPECT_EQ(PixelAt(close.get(), 22, 23).a, 255);

    GdkPixbuf* icon = artwork::LoadPixbuf(artwork::kIcon);
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(gdk_pixbuf_get_width(icon), 48);
    EXPECT_EQ(gdk_pixbuf_get_height(icon), 48);
    EXPECT_TRUE(gdk_pixbuf_get_has_alpha(icon));
    g_object_unref(icon);

    EXPECT_FALSE(artwork::LoadPremultiplied("/org/valdrune/launcher/missing.png"));
}
