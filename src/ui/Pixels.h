#pragma once
// Pixel work on cairo image surfaces (ARGB32: premultiplied, one native-endian 32-bit word per
// pixel), kept free of any window so that it can be checked off-screen.

#include <cairo.h>

#include <cstdint>
#include <memory>

using SurfacePtr = std::shared_ptr<cairo_surface_t>;  // shared: one picture may serve several states

// Takes over one reference of surface (null stays null).
SurfacePtr AdoptSurface(cairo_surface_t* surface);

// A new ARGB32 surface from straight (not premultiplied) RGB or RGBA bytes. Every colour
// channel becomes channel * alpha / 255, truncated, as the layered window wants; alpha is kept.
// channels is 3 (opaque) or 4. Null when the size is not positive.
SurfacePtr PremultipliedSurface(const std::uint8_t* pixels, int width, int height, int stride, int channels);

// The pixels whose alpha is above 0: where a shaped window takes clicks. Never null.
cairo_region_t* AlphaRegion(cairo_surface_t* surface);

// The overlay's colour key: every pure black pixel (red, green and blue all 0) becomes fully
// transparent, so the frame beneath shows through it and clicks pass to it.
void KeyOutBlack(cairo_surface_t* surface);

struct Argb {
    std::uint8_t a, r, g, b;
    bool operator==(const Argb&) const = default;
};

// The premultiplied pixel at x, y of an ARGB32 or RGB24 surface (RGB24 reads as opaque).
Argb PixelAt(cairo_surface_t* surface, int x, int y);
