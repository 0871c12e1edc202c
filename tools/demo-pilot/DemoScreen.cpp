#include "DemoScreen.h"

#include <cairo.h>

#include <cstdint>
#include <cstdlib>

namespace demo_pilot {

layout::Rect OnScreen(Point origin, const layout::Rect& rect) {
    return {origin.x + rect.x, origin.y + rect.y, rect.width, rect.height};
}

bool Near(Rgb a, Rgb b, int tolerance) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance;
}

bool Shows(const Screenshot& shot, const layout::Rect& rect, Rgb colour, int tolerance) {
    for (int y = rect.y; y < rect.bottom(); ++y) {
        for (int x = rect.x; x < rect.right(); ++x) {
            if (Near(shot.At(x, y), colour, tolerance)) {
                return true;
            }
        }
    }
    return false;
}

std::vector<Span> ColumnRuns(const Screenshot& shot, int x, Rgb colour, int minLength) {
    std::vector<Span> runs;
    const int top = shot.y();
    const int bottom = shot.y() + shot.height();
    int begin = -1;
    for (int y = top; y <= bottom; ++y) {
        const bool inside = y < bottom && shot.At(x, y) == colour;
        if (inside && begin < 0) {
            begin = y;
        } else if (!inside && begin >= 0) {
            if (y - begin >= minLength) {
                runs.push_back({begin, y});
            }
            begin = -1;
        }
    }
    return runs;
}

std::optional<LoginForm> FindLoginForm(const Screenshot& shot, const layout::Rect& page) {
    // A field is 36 px high; texts and the caret are far thinner than 20 rows of the colour.
    constexpr int kFieldRows = 20;
    const int middle = page.x + page.width / 2;
    const auto runs = ColumnRuns(shot, middle, kFieldBackground, kFieldRows);
    if (runs.size() < 2) {
        return std::nullopt;
    }
    return LoginForm{{middle, (runs[0].begin + runs[0].end) / 2}, {middle, (runs[1].begin + runs[1].end) / 2}};
}

int BarFill(const Screenshot& shot, const layout::Rect& bar) {
    const int row = bar.y + bar.height / 2;
    int x = bar.x;
    while (x < bar.right() && shot.At(x, row) == kBarBlue) {
        ++x;
    }
    return bar.width > 0 ? (x - bar.x) * 100 / bar.width : 0;
}

bool SavePng(const Screenshot& shot, const std::string& path) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, shot.width(), shot.height());
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return false;
    }
    unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int row = 0; row < shot.height(); ++row) {
        auto* line = reinterpret_cast<std::uint32_t*>(data + static_cast<std::ptrdiff_t>(row) * stride);
        for (int column = 0; column < shot.width(); ++column) {
            const Rgb p = shot.At(shot.x() + column, shot.y() + row);
            line[column] = (std::uint32_t{p.r} << 16) | (std::uint32_t{p.g} << 8) | p.b;  // cairo's xRGB
        }
    }
    cairo_surface_mark_dirty(surface);
    const bool written = cairo_surface_write_to_png(surface, path.c_str()) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(surface);
    return written;
}

}  // namespace demo_pilot
