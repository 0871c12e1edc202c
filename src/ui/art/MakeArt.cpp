// make-art: draws the launcher's own artwork with cairo and writes it as PNG files.
//
//   make-art <output folder>
//   make-art --icons <output folder>
//
// Writes frame.png (976 x 526), close.png (45 x 46) and icon.png (48 x 48), all RGBA. The build
// runs it and embeds the files with GResource, so the pictures are made the same way on every
// machine and no binary art is kept in the repository. Only shapes are drawn, never text, so
// the result does not depend on the fonts installed. With --icons it writes the icon for the
// desktop's icon theme instead: 48x48.png, 64x64.png, 128x128.png, 256x256.png and scalable.svg,
// each the 48-pixel drawing scaled, so every size shows the same picture.

#include <cairo-svg.h>
#include <cairo.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "ui/Layout.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Rgb {
    double r, g, b;
};

constexpr Rgb Hex(unsigned v) {
    return {((v >> 16) & 0xFF) / 255.0, ((v >> 8) & 0xFF) / 255.0, (v & 0xFF) / 255.0};
}

constexpr Rgb kGold = Hex(0xB08D57);
constexpr Rgb kGoldLight = Hex(0xE2C48A);
constexpr Rgb kNavyTop = Hex(0x232B3E);
constexpr Rgb kNavyBottom = Hex(0x10131C);
constexpr Rgb kInnerLine = Hex(0x3A4560);

void SetRgb(cairo_t* cr, Rgb c, double alpha = 1.0) {
    cairo_set_source_rgba(cr, c.r, c.g, c.b, alpha);
}

void RoundedRect(cairo_t* cr, double x, double y, double w, double h, double r) {
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + w - r, y + r, r, -kPi / 2, 0);
    cairo_arc(cr, x + w - r, y + h - r, r, 0, kPi / 2);
    cairo_arc(cr, x + r, y + h - r, r, kPi / 2, kPi);
    cairo_arc(cr, x + r, y + r, r, kPi, 3 * kPi / 2);
    cairo_close_path(cr);
}

void VerticalGradient(cairo_t* cr, double y0, double y1, Rgb top, Rgb bottom) {
    cairo_pattern_t* p = cairo_pattern_create_linear(0, y0, 0, y1);
    cairo_pattern_add_color_stop_rgb(p, 0, top.r, top.g, top.b);
    cairo_pattern_add_color_stop_rgb(p, 1, bottom.r, bottom.g, bottom.b);
    cairo_set_source(cr, p);
    cairo_pattern_destroy(p);
}

// The game's mark: a ring with a rune inside, a "V" crossed by a bar.
void Emblem(cairo_t* cr, double cx, double cy, double radius, double line) {
    cairo_set_line_width(cr, line);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    SetRgb(cr, kGold);
    cairo_arc(cr, cx, cy, radius, 0, 2 * kPi);
    cairo_stroke(cr);
    SetRgb(cr, kGold, 0.55);
    cairo_arc(cr, cx, cy, radius * 0.84, 0, 2 * kPi);
    cairo_stroke(cr);
    SetRgb(cr, kGoldLight);
    const double s = radius * 0.55;
    cairo_move_to(cr, cx - s, cy - s * 0.8);
    cairo_line_to(cr, cx, cy + s);
    cairo_line_to(cr, cx + s, cy - s * 0.8);
    cairo_stroke(cr);
    cairo_move_to(cr, cx - s * 0.6, cy - s * 0.1);
    cairo_line_to(cr, cx + s * 0.6, cy - s * 0.1);
    cairo_stroke(cr);
}

cairo_surface_t* Frame() {
    const layout::Rect win = layout::kWindow;
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, win.width, win.height);
    cairo_t* cr = cairo_create(s);

    // The panel leaves a transparent margin all round, so the corners let clicks through.
    const double px = 6, py = 4, pw = win.width - 12, ph = win.height - 8, pr = 22;
    RoundedRect(cr, px, py, pw, ph, pr);
    VerticalGradient(cr, py, py + ph, kNavyTop, kNavyBottom);
    cairo_fill_preserve(cr);
    cairo_set_line_width(cr, 2);
    SetRgb(cr, kGold);
    cairo_stroke(cr);
    RoundedRect(cr, px + 4.5, py + 4.5, pw - 9, ph - 9, pr - 4);
    cairo_set_line_width(cr, 1);
    SetRgb(cr, kInnerLine);
    cairo_stroke(cr);

    Emblem(cr, 215, 200, 92, 4);
    // Divider above the status line.
    cairo_set_line_width(cr, 1);
    SetRgb(cr, kGold, 0.7);
    cairo_move_to(cr, 44, 466.5);
    cairo_line_to(cr, 360, 466.5);
    cairo_stroke(cr);

    // A gold rim along the top and sides of the page square, then the square itself, exactly on its pixels.
    const layout::Rect page = layout::kPage;
    cairo_rectangle(cr, page.x - 3, page.y - 3, page.width + 6, page.height + 3);
    SetRgb(cr, kGold, 0.8);
    cairo_fill(cr);
    cairo_rectangle(cr, page.x, page.y, page.width, page.height);
    cairo_set_source_rgb(cr, layout::kPageSquareRgb[0] / 255.0, layout::kPageSquareRgb[1] / 255.0,
                         layout::kPageSquareRgb[2] / 255.0);
    cairo_fill(cr);

    cairo_destroy(cr);
    return s;
}

cairo_surface_t* CloseButton() {
    const layout::Rect b = layout::kCloseButton;
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, b.width, b.height);
    cairo_t* cr = cairo_create(s);
    const double cx = b.width / 2.0, cy = b.height / 2.0, r = 19;
    cairo_pattern_t* p = cairo_pattern_create_radial(cx - 5, cy - 6, 2, cx, cy, r);
    cairo_pattern_add_color_stop_rgb(p, 0, 0.62, 0.20, 0.18);
    cairo_pattern_add_color_stop_rgb(p, 1, 0.33, 0.08, 0.08);
    cairo_arc(cr, cx, cy, r, 0, 2 * kPi);
    cairo_set_source(cr, p);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(p);
    cairo_set_line_width(cr, 2);
    SetRgb(cr, kGold);
    cairo_stroke(cr);
    cairo_set_line_width(cr, 3.5);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_source_rgb(cr, 0.96, 0.93, 0.88);
    const double d = 7;
    cairo_move_to(cr, cx - d, cy - d);
    cairo_line_to(cr, cx + d, cy + d);
    cairo_move_to(cr, cx + d, cy - d);
    cairo_line_to(cr, cx - d, cy + d);
    cairo_stroke(cr);
    cairo_destroy(cr);
    return s;
}

// The icon drawn on a 48-unit canvas into whatever surface (and scale) the caller set up.
void DrawIcon(cairo_t* cr) {
    const int n = layout::kIconSize;
    RoundedRect(cr, 1, 1, n - 2, n - 2, 9);
    VerticalGradient(cr, 1, n - 1, kNavyTop, kNavyBottom);
    cairo_fill(cr);
    Emblem(cr, n / 2.0, n / 2.0, 17, 2.5);
}

cairo_surface_t* Icon(int size = layout::kIconSize) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size);
    cairo_t* cr = cairo_create(s);
    cairo_scale(cr, static_cast<double>(size) / layout::kIconSize, static_cast<double>(size) / layout::kIconSize);
    DrawIcon(cr);
    cairo_destroy(cr);
    return s;
}

bool WriteSvgIcon(const std::string& path) {
    cairo_surface_t* s = cairo_svg_surface_create(path.c_str(), layout::kIconSize, layout::kIconSize);
    cairo_svg_surface_set_document_unit(s, CAIRO_SVG_UNIT_PX);
    cairo_t* cr = cairo_create(s);
    DrawIcon(cr);
    cairo_destroy(cr);
    cairo_surface_finish(s);
    const cairo_status_t status = cairo_surface_status(s);
    cairo_surface_destroy(s);
    if (status != CAIRO_STATUS_SUCCESS) {
        std::fprintf(stderr, "make-art: cannot write %s: %s\n", path.c_str(), cairo_status_to_string(status));
        return false;
    }
    return true;
}

bool Write(cairo_surface_t* surface, const std::string& path) {
    const cairo_status_t status = cairo_surface_write_to_png(surface, path.c_str());
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS) {
        std::fprintf(stderr, "make-art: cannot write %s: %s\n", path.c_str(), cairo_status_to_string(status));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const bool icons = argc == 3 && std::string(argv[1]) == "--icons";
    if (argc != 2 && !icons) {
        std::fprintf(stderr, "usage: make-art [--icons] <output folder>\n");
        return 2;
    }
    const std::string dir = argv[argc - 1];
    if (icons) {
        for (const int size : {48, 64, 128, 256}) {
            if (!Write(Icon(size), dir + "/" + std::to_string(size) + "x" + std::to_string(size) + ".png")) {
                return 1;
            }
        }
        return WriteSvgIcon(dir + "/scalable.svg") ? 0 : 1;
    }
    const bool ok = Write(Frame(), dir + "/frame.png") && Write(CloseButton(), dir + "/close.png") &&
                    Write(Icon(), dir + "/icon.png");
    return ok ? 0 : 1;
}
