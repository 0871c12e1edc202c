#pragma once
// The overlay's self-drawn controls: a progress bar painted in bands, a text label in a fixed
// font and colour, and an image button with four states. Each paints onto a cairo context of
// its own size and holds no window, so it can be checked off-screen pixel by pixel; the GTK
// side (SkinWidgets) gives them their places, events and the overlay's colour key.
//
// Colours are 0x00BBGGRR values, as the owner code sets them.

#include <cairo.h>
#include <pango/pango.h>

#include <cstdint>
#include <functional>
#include <string>

#include "ui/Pixels.h"

using COLORREF = std::uint32_t;

constexpr COLORREF ColorRef(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return static_cast<COLORREF>(r) | static_cast<COLORREF>(g) << 8 | static_cast<COLORREF>(b) << 16;
}

void SetSourceColor(cairo_t* cr, COLORREF color);

class CGradientProgressCtrl {
  public:
    // The grey of a bar whose position lies outside its range, whatever its background colour.
    static constexpr COLORREF kOutOfRangeColor = 0x696969;

    void Paint(cairo_t* cr, int width, int height) const;

    // "%3.0f %%" of the position's share of the range: " 50 %" for 50 of 0-100.
    static std::string PercentText(int pos, int lower, int upper);

    int m_nLower = 0;
    int m_nUpper = 100;
    int m_nStep = 10;  // kept for the owner; painting does not use it
    int m_nPos = 0;
    COLORREF m_clrStart = 0x0000FF;
    COLORREF m_clrEnd = 0xFF0000;  // only decides the number of bands
    COLORREF m_clrBkgnd = 0x000000;
    COLORREF m_clrText = 0xFFFFFF;
    bool m_bShowPercent = false;
    bool m_bVertical = false;  // fills from the top down

  private:
    int BandCount() const;
    void DrawGradient(cairo_t* cr, int width, int height, int filled) const;
};

class CStaticEx {
  public:
    static constexpr const char* kFaceName = "微软雅黑";
    static constexpr int kCellHeight = 20;  // pixels from the top of the ascent to the bottom of the descent
    static constexpr int kWeight = 500;

    // The text, left- and top-aligned, in m_clrText over what is already there: a label paints
    // no background of its own.
    void Paint(cairo_t* cr, int width, int height) const;

    // The label's font for context: kFaceName, or the installed font that fontconfig picks for
    // simplified Chinese in its place, sized so that its cell is kCellHeight pixels tall.
    static PangoFontDescription* CreateFont(PangoContext* context);

    std::string m_strText;
    COLORREF m_clrText = 0xFFFFFF;
};

// An image button. Its owner feeds it the pointer events of its window; each handler answers
// whether the face must be repainted.
class CPngButton {
  public:
    bool OnMouseMove();
    bool OnLButtonDown();
    bool OnMouseLeave();
    // The click: runs m_onClick wherever the pointer is at the release.
    bool OnLButtonUp();
    bool OnEnable(bool enabled);

    // The picture for the current state: disabled, pressed, hover, then normal, first set wins.
    cairo_surface_t* CurrentImage() const;
    // Copies the current picture at 0,0 in m_nWidth x m_nHeight; no picture paints nothing.
    void Paint(cairo_t* cr) const;

    int m_nWidth = 0;
    int m_nHeight = 0;
    SurfacePtr m_pImgNormal;
    SurfacePtr m_pImgPressed;
    SurfacePtr m_pImgHover;
    SurfacePtr m_pImgDisabled;
    bool m_bHover = false;
    bool m_bPressed = false;
    bool m_bDisabled = false;
    std::function<void()> m_onClick;
};
