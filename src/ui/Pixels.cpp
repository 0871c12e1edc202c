#include "ui/Pixels.h"

namespace {

std::uint32_t* Row(cairo_surface_t* surface, int y) {
    unsigned char* data = cairo_image_surface_get_data(surface);
    return reinterpret_cast<std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) *
                                                       cairo_image_surface_get_stride(surface));
}

}  // namespace

SurfacePtr AdoptSurface(cairo_surface_t* surface) {
    if (surface == nullptr) {
        return nullptr;
    }
    return SurfacePtr(surface, &cairo_surface_destroy);
}

SurfacePtr PremultipliedSurface(const std::uint8_t* pixels, int width, int height, int stride, int channels) {
    if (width <= 0 || height <= 0 || (channels != 3 && channels != 4)) {
        return nullptr;
    }
    SurfacePtr surface = AdoptSurface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) {
        return nullptr;
    }
    cairo_surface_flush(surface.get());
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* in = pixels + static_cast<std::ptrdiff_t>(y) * stride;
        std::uint32_t* out = Row(surface.get(), y);
        for (int x = 0; x < width; ++x, in += channels) {
            const std::uint32_t a = channels == 4 ? in[3] : 255;
            const std::uint32_t r = in[0] * a / 255;
            const std::uint32_t g = in[1] * a / 255;
            const std::uint32_t b = in[2] * a / 255;
            out[x] = (a << 24) | (r << 16) | (g << 8) | b;
        }
    }
    cairo_surface_mark_dirty(surface.get());
    return surface;
}

cairo_region_t* AlphaRegion(cairo_surface_t* surface) {
    cairo_region_t* region = cairo_region_create();
    if (surface == nullptr || cairo_image_surface_get_format(surface) != CAIRO_FORMAT_ARGB32) {
        return region;
    }
    cairo_surface_flush(surface);
    const int width = cairo_image_surface_get_width(surface);
    const int height = cairo_image_surface_get_height(surface);
    for (int y = 0; y < height; ++y) {
        const std::uint32_t* row = Row(surface, y);
        // Add each run of visible pixels as one rectangle; the region merges neighbours.
        for (int x = 0; x < width;) {
            while (x < width && (row[x] >> 24) == 0) {
                ++x;
            }
            const int start = x;
            while (x < width && (row[x] >> 24) != 0) {
                ++x;
            }
            if (x > start) {
                const cairo_rectangle_int_t run{start, y, x - start, 1};
                cairo_region_union_rectangle(region, &run);
            }
        }
    }
    return region;
}

void KeyOutBlack(cairo_surface_t* surface) {
    if (surface == nullptr || cairo_image_surface_get_format(surface) != CAIRO_FORMAT_ARGB32) {
        return;
    }
    cairo_surface_flush(surface);
    const int width = cairo_image_surface_get_width(surface);
    const int height = cairo_image_surface_get_height(surface);
    for (int y = 0; y < height; ++y) {
        std::uint32_t* row = Row(surface, y);
        for (int x = 0; x < width; ++x) {
            if ((row[x] & 0x00FFFFFFu) == 0) {
                row[x] = 0;
            }
        }
    }
    cairo_surface_mark_dirty(surface);
}

Argb PixelAt(cairo_surface_t* surface, int x, int y) {
    cairo_surface_flush(surface);
    const std::uint32_t v = Row(surface, y)[x];
    const bool opaque = cairo_image_surface_get_format(surface) == CAIRO_FORMAT_RGB24;
    return {static_cast<std::uint8_t>(opaque ? 255 : v >> 24), static_cast<std::uint8_t>(v >> 16),
            static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
}
