#pragma once
// What the demo pilot reads off the screen: the launcher's progress bar, and the demo page's
// login form and ready line (tools/operator-server/www/login.html), recognised by their colours.

#include <optional>
#include <string>
#include <vector>

#include "GuiSupport.h"
#include "ui/Layout.h"

namespace demo_pilot {

using gui_testing::Point;
using gui_testing::Rgb;
using gui_testing::Screenshot;

// Colours the pilot looks for: the overlay's bar, and the demo page's field background and
// "client ready" text.
inline constexpr Rgb kBarBlue{0, 132, 255};
inline constexpr Rgb kFieldBackground{0x1b, 0x20, 0x29};
inline constexpr Rgb kReadyText{0x8f, 0xd1, 0x9e};

// rect of a window whose top-left corner is at origin, in screen coordinates.
layout::Rect OnScreen(Point origin, const layout::Rect& rect);

// True when no channel of a is further than tolerance from b's.
bool Near(Rgb a, Rgb b, int tolerance);

// True when some pixel of rect (screen coordinates, inside shot) is near colour.
bool Shows(const Screenshot& shot, const layout::Rect& rect, Rgb colour, int tolerance = 0);

struct Span {
    int begin = 0;  // first row
    int end = 0;    // one past the last row
    bool operator==(const Span&) const = default;
};

// The runs of exactly colour down column x of shot, rows begin to end, at least minLength rows long.
std::vector<Span> ColumnRuns(const Screenshot& shot, int x, Rgb colour, int minLength);

struct LoginForm {
    Point name;      // the middle of the name field
    Point password;  // the middle of the password field
};

// The login form in page (screen coordinates): the first two runs of the field colour down the
// page's middle column. nullopt until the page shows both fields.
std::optional<LoginForm> FindLoginForm(const Screenshot& shot, const layout::Rect& page);

// How much of bar (screen coordinates) is filled, in percent of its width: the run of the bar's
// blue from its left end along its middle row.
int BarFill(const Screenshot& shot, const layout::Rect& bar);

// Writes shot as a PNG file; false when it cannot be written.
bool SavePng(const Screenshot& shot, const std::string& path);

}  // namespace demo_pilot
