#pragma once
// Where everything sits in the launcher window, in pixels from its top-left corner. The frame
// picture is drawn for these places (src/ui/art), and the overlay puts its children on them.

namespace layout {

struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    int right() const { return x + width; }  // one past the last column
    int bottom() const { return y + height; }
    bool Contains(int px, int py) const { return px >= x && px < right() && py >= y && py < bottom(); }
};

inline constexpr Rect kWindow{0, 0, 976, 526};
// The frame's opaque dark square (x 387-846, y 48-507), exactly where the page goes.
inline constexpr Rect kPage{387, 48, 460, 460};
inline constexpr Rect kCloseButton{884, 24, 45, 46};
inline constexpr int kIconSize = 48;

// The progress elements keep the arrangement of the original dialog template: phase caption and
// percent text side by side on the status text's line at the bottom left, the bar just below,
// reaching under the page square. Template dialog units are mapped at 2.2 px across and about
// 2.36 px down, with the bar nudged to start right below the page square.
inline constexpr Rect kProgressBar{44, 509, 843, 8};
inline constexpr Rect kPhaseCaption{77, 479, 106, 24};
inline constexpr Rect kPercentText{183, 479, 114, 24};
inline constexpr Rect kStatusText{79, 479, 297, 24};

// The colour of the frame's page square; the page shows it until its own content paints.
inline constexpr unsigned char kPageSquareRgb[3] = {0x0b, 0x0d, 0x12};

}  // namespace layout
