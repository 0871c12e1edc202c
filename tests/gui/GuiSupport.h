#pragma once
// What the window tests need from X: a private Xvfb, screenshots read pixel by pixel, a window
// that catches clicks below the launcher, and the pointer and keyboard driven with xdotool.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ChildProcess.h"

namespace gui_testing {

// An X server of its own on a free display (1280 x 800, 24 bits, no window manager, no
// compositor), ended with the object.
class Xvfb {
  public:
    Xvfb();
    ~Xvfb();
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

    const std::string& display() const { return m_display; }  // ":N"
    static constexpr int kWidth = 1280;
    static constexpr int kHeight = 800;

  private:
    std::unique_ptr<testing_support::ChildProcess> m_server;
    std::string m_display;
};

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};
std::string ToString(const Rgb& c);

struct Point {
    int x = 0, y = 0;
    bool operator==(const Point&) const = default;
};

struct Extent {
    int width = 0, height = 0;
};

// A rectangle of the screen as it was shown.
class Screenshot {
  public:
    Screenshot(int x, int y, int width, int height, std::vector<Rgb> pixels)
        : m_x(x), m_y(y), m_width(width), m_height(height), m_pixels(std::move(pixels)) {}
    // The pixel at screen coordinates x, y (inside the rectangle).
    Rgb At(int x, int y) const { return m_pixels[(y - m_y) * m_width + (x - m_x)]; }
    int x() const { return m_x; }
    int y() const { return m_y; }
    int width() const { return m_width; }
    int height() const { return m_height; }

  private:
    int m_x, m_y, m_width, m_height;
    std::vector<Rgb> m_pixels;
};

// Pixels of the screen rectangle x, y, width, height that differ from expected(x - origin.x,
// y - origin.y): expected is given in the coordinates of a window at origin.
class XScreen;
int Mismatches(XScreen& screen, Point origin, int x, int y, int width, int height,
               const std::function<Rgb(int, int)>& expected);

// A connection of its own to a display. Use each object from one thread.
class XScreen {
  public:
    explicit XScreen(const std::string& display);
    ~XScreen();
    XScreen(const XScreen&) = delete;
    XScreen& operator=(const XScreen&) = delete;

    Screenshot Grab(int x, int y, int width, int height);
    Rgb Pixel(int x, int y) { return Grab(x, y, 1, 1).At(x, y); }

    // The first viewable top-level window whose WM_CLASS class is wmClass; 0 when none.
    unsigned long FindWindow(const std::string& wmClass);
    // The first viewable top-level window titled name (_NET_WM_NAME, UTF-8); 0 when none.
    unsigned long FindWindowNamed(const std::string& name);
    // How many viewable top-level windows have the WM_CLASS class wmClass.
    int CountWindows(const std::string& wmClass);
    // The window's top-left corner on the screen; nullopt when it is gone.
    std::optional<Point> Position(unsigned long window);
    // The window's size; nullopt when it is gone.
    std::optional<Extent> Size(unsigned long window);

    // A window over the whole screen below every other, recording the button presses it gets.
    void CreateCatcher();
    // The presses the catcher got since the last call, in screen coordinates.
    std::vector<Point> CatcherPresses();

  private:
    // The viewable top-level windows, bottom first.
    std::vector<unsigned long> TopLevels();

    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// The options that start the launcher copy exe of world on display: its sanitizer builds
// get what they need beside GTK and WebKitGTK (see SanitizerDefaults.cpp).
testing_support::ChildProcess::Options LauncherOnDisplay(const testing_support::TempHome& world,
                                                         const std::string& exe, const std::string& display);

// xprop's line for one property of window ("WM_CLASS(STRING) = ..."); empty when absent.
std::string Xprop(const std::string& display, unsigned long window, const std::string& property);

// Runs xdotool with args on display; true when it succeeded.
bool Xdotool(const std::string& display, const std::vector<std::string>& args);

// A press on the left button at from, a move to to in steps, and the release there.
bool Drag(const std::string& display, Point from, Point to);

// Full path of an installed program; empty when it is not on PATH.
std::string FindProgram(const std::string& name);

}  // namespace gui_testing
