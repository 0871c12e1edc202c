// What the demo pilot reads off a screenshot, on pictures made up pixel by pixel.

#include <cairo.h>
#include <gtest/gtest.h>

#include "DemoScreen.h"
#include "TempHome.h"

using namespace demo_pilot;

namespace {

constexpr Rgb kPage{0x12, 0x15, 0x1b};
constexpr Rgb kFieldBorder{0x34, 0x3b, 0x48};
constexpr Rgb kGrey{105, 105, 105};

// A picture of width x height at screen position x, y, filled with colour; paint changes it.
class Picture {
public:
    Picture(int x, int y, int width, int height, Rgb colour)
        : m_x(x), m_y(y), m_width(width), m_height(height), m_pixels(static_cast<size_t>(width) * height, colour) {}
    Picture& Fill(int x, int y, int width, int height, Rgb colour) {
        for (int row = y; row < y + height; ++row) {
            for (int column = x; column < x + width; ++column) {
                m_pixels[static_cast<size_t>(row - m_y) * m_width + (column - m_x)] = colour;
            }
        }
        return *this;
    }
    // A field as the demo page draws it: a one-pixel border around rows of the field colour.
    Picture& Field(int x, int y, int width, int height) {
        return Fill(x, y, width, height, kFieldBorder).Fill(x + 1, y + 1, width - 2, height - 2, kFieldBackground);
    }
    Screenshot Shot() const { return Screenshot(m_x, m_y, m_width, m_height, m_pixels); }

private:
    int m_x, m_y, m_width, m_height;
    std::vector<Rgb> m_pixels;
};

}  // namespace

TEST(DemoScreen, FindsTheTwoLoginFieldsButNotTextOrTheCaret) {
    const layout::Rect page{500, 100, 460, 460};
    Picture picture(500, 100, 460, 460, kPage);
    picture.Fill(700, 130, 60, 12, kFieldBackground)  // a heading drawn in the field colour: too thin
        .Field(555, 243, 350, 36)
        .Field(555, 315, 350, 36)
        .Fill(566, 250, 1, 20, kGrey);  // the caret at the start of the name field
    const auto form = FindLoginForm(picture.Shot(), page);
    ASSERT_TRUE(form.has_value());
    EXPECT_EQ(form->name, (Point{730, 261}));
    EXPECT_EQ(form->password, (Point{730, 333}));

    // While the page is still loading only one field may be there, or none.
    EXPECT_FALSE(FindLoginForm(Picture(500, 100, 460, 460, kPage).Field(555, 243, 350, 36).Shot(), page));
    EXPECT_FALSE(FindLoginForm(Picture(500, 100, 460, 460, kPage).Shot(), page));
}

TEST(DemoScreen, ColumnRunsIncludeARunThatReachesTheBottomEdge) {
    Picture picture(10, 20, 3, 50, kPage);
    picture.Fill(10, 25, 3, 5, kFieldBackground).Fill(10, 40, 3, 30, kFieldBackground);
    EXPECT_EQ(ColumnRuns(picture.Shot(), 11, kFieldBackground, 5), (std::vector<Span>{{25, 30}, {40, 70}}));
    EXPECT_EQ(ColumnRuns(picture.Shot(), 11, kFieldBackground, 6), (std::vector<Span>{{40, 70}}));
}

TEST(DemoScreen, BarFillCountsTheBlueFromTheLeftEndOnly) {
    const layout::Rect bar{40, 500, 200, 8};
    Picture picture(0, 480, 300, 40, kPage);
    picture.Fill(40, 500, 200, 8, kGrey);
    EXPECT_EQ(BarFill(picture.Shot(), bar), 0);
    picture.Fill(40, 500, 74, 8, kBarBlue);
    EXPECT_EQ(BarFill(picture.Shot(), bar), 37);
    picture.Fill(200, 500, 40, 8, kBarBlue);  // blue that does not join the left end is no progress
    EXPECT_EQ(BarFill(picture.Shot(), bar), 37);
    picture.Fill(40, 500, 200, 8, kBarBlue);
    EXPECT_EQ(BarFill(picture.Shot(), bar), 100);
    picture.Fill(30, 500, 10, 8, kBarBlue);  // blue left of the bar counts for nothing
    EXPECT_EQ(BarFill(picture.Shot(), bar), 100);
}

TEST(DemoScreen, ShowsLooksOnlyInsideTheRectangleWithinTheTolerance) {
    Picture picture(0, 0, 100, 100, kPage);
    picture.Fill(50, 90, 1, 1, Rgb{0x88, 0xc9, 0x97});  // an antialiased pixel of the ready text
    picture.Fill(10, 10, 1, 1, kReadyText);              // the exact colour, outside the line
    const layout::Rect line{0, 80, 100, 20};
    EXPECT_TRUE(Shows(picture.Shot(), line, kReadyText, 16));
    EXPECT_FALSE(Shows(picture.Shot(), line, kReadyText, 0));
    EXPECT_FALSE(Shows(picture.Shot(), line, kReadyText, 7));
    EXPECT_TRUE(Shows(picture.Shot(), line, Rgb{0x88, 0xc9, 0x97}));
    EXPECT_FALSE(Shows(picture.Shot(), {0, 80, 50, 20}, Rgb{0x88, 0xc9, 0x97}));
    EXPECT_TRUE(Near(Rgb{10, 200, 30}, Rgb{0, 210, 40}, 10));
    EXPECT_FALSE(Near(Rgb{10, 200, 30}, Rgb{0, 210, 41}, 10));
}

TEST(DemoScreen, SavedPngHoldsTheScreenshotPixelForPixel) {
    testing_support::TempDir dir;
    const std::string path = dir.path() + "/shot.png";
    Picture picture(7, 9, 3, 2, Rgb{1, 2, 3});
    picture.Fill(8, 9, 1, 1, Rgb{255, 0, 0}).Fill(9, 9, 1, 1, Rgb{0, 255, 0}).Fill(7, 10, 1, 1, Rgb{0, 0, 255});
    ASSERT_TRUE(SavePng(picture.Shot(), path));

    cairo_surface_t* png = cairo_image_surface_create_from_png(path.c_str());
    ASSERT_EQ(cairo_surface_status(png), CAIRO_STATUS_SUCCESS);
    ASSERT_EQ(cairo_image_surface_get_width(png), 3);
    ASSERT_EQ(cairo_image_surface_get_height(png), 2);
    const unsigned char* data = cairo_image_surface_get_data(png);
    const int stride = cairo_image_surface_get_stride(png);
    auto at = [&](int x, int y) {
        const auto p = reinterpret_cast<const std::uint32_t*>(data + y * stride)[x];
        return Rgb{static_cast<std::uint8_t>(p >> 16), static_cast<std::uint8_t>(p >> 8), static_cast<std::uint8_t>(p)};
    };
    EXPECT_EQ(at(0, 0), (Rgb{1, 2, 3}));
    EXPECT_EQ(at(1, 0), (Rgb{255, 0, 0}));
    EXPECT_EQ(at(2, 0), (Rgb{0, 255, 0}));
    EXPECT_EQ(at(0, 1), (Rgb{0, 0, 255}));
    EXPECT_EQ(at(2, 1), (Rgb{1, 2, 3}));
    cairo_surface_destroy(png);

    EXPECT_FALSE(SavePng(picture.Shot(), dir.path() + "/no/such/folder/shot.png"));
}
