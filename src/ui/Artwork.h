#pragma once
// The launcher's pictures, built by src/ui/art/MakeArt.cpp and embedded in the executable.

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <string_view>

#include "ui/Pixels.h"

namespace artwork {

inline constexpr std::string_view kFrame = "/org/valdrune/launcher/frame.png";        // 976 x 526
inline constexpr std::string_view kCloseButton = "/org/valdrune/launcher/close.png";  // 45 x 46
inline constexpr std::string_view kIcon = "/org/valdrune/launcher/icon.png";          // 48 x 48

// The embedded picture at path, premultiplied; null when it is missing or cannot be decoded.
SurfacePtr LoadPremultiplied(std::string_view path);

// The embedded picture at path as a pixbuf (for window icons); null when missing. Caller unrefs.
GdkPixbuf* LoadPixbuf(std::string_view path);

}  // namespace artwork
