#include "GuiSupport.h"

#include "Launcher.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <glib.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <stdexcept>

namespace gui_testing {
namespace {

using testing_support::ChildProcess;

std::map<std::string, std::string> DisplayEnvironment(const std::string& display) {
    const char* path = std::getenv("PATH");
    return {{"DISPLAY", display}, {"PATH", path != nullptr ? path : "/usr/bin:/bin"}};
}

// Races with windows that vanish are expected; Xlib's default answer to them ends the process.
class IgnoreXErrors {
  public:
    explicit IgnoreXErrors(Display* display) : m_display(display) { m_old = XSetErrorHandler(&Ignore); }
    ~IgnoreXErrors() {
        XSync(m_display, False);
        XSetErrorHandler(m_old);
    }

  private:
    static int Ignore(Display*, XErrorEvent*) { return 0; }
    Display* m_display;
    XErrorHandler m_old;
};

}  // namespace

std::string FindProgram(const std::string& name) {
    gchar* path = g_find_program_in_path(name.c_str());
    std::string result = path != nullptr ? path : "";
    g_free(path);
    return result;
}

std::string ToString(const Rgb& c) {
    char text[32];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", c.r, c.g, c.b);
    return text;
}

Xvfb::Xvfb() {
    const std::string program = FindProgram("Xvfb");
    if (program.empty()) {
        throw std::runtime_error("Xvfb is not installed (scripts/setup.sh installs it)");
    }
    ChildProcess::Options options;
    // -displayfd: the server picks a free display and writes its number to stdout once it listens.
    options.argv = {program,     "-displayfd", "1",
                    "-screen",   "0",          std::to_string(kWidth) + "x" + std::to_string(kHeight) + "x24",
                    "-nolisten", "tcp",        "-noreset"};
    options.env = DisplayEnvironment("");
    m_server = std::make_unique<ChildProcess>(options);
    std::string number;
    testing_support::WaitFor([&] {
        const std::string out = m_server->Stdout();
        if (out.find('\n') != std::string::npos) {
            number = out.substr(0, out.find('\n'));
            return true;
        }
        return !m_server->Running();
    });
    if (number.empty()) {
        throw std::runtime_error("Xvfb did not start: " + m_server->Stderr());
    }
    m_display = ":" + number;
}

Xvfb::~Xvfb() {
    // A graceful end, so that the server removes its lock file and socket.
    m_server->Signal(SIGTERM);
    m_server->Wait(std::chrono::seconds(10));
}

struct XScreen::Impl {
    Display* display = nullptr;
    Window root = 0;
    Window catcher = 0;
};

XScreen::XScreen(const std::string& display) : m_impl(std::make_unique<Impl>()) {
    m_impl->display = XOpenDisplay(display.c_str());
    if (m_impl->display == nullptr) {
        throw std::runtime_error("cannot open display " + display);
    }
    m_impl->root = DefaultRootWindow(m_impl->display);
}

XScreen::~XScreen() {
    if (m_impl->catcher != 0) {
        XDestroyWindow(m_impl->display, m_impl->catcher);
    }
    XCloseDisplay(m_impl->display);
}

Screenshot XScreen::Grab(int x, int y, int width, int height) {
    XImage* image = XGetImage(m_impl->display, m_impl->root, x, y, width, height, AllPlanes, ZPixmap);
    if (image == nullptr) {
        throw std::runtime_error("screenshot failed");
    }
    std::vector<Rgb> pixels;
    pixels.reserve(static_cast<size_t>(width) * height);
    for (int row = 0; row < height; ++row) {
        for (int column = 0; column < width; ++column) {
            const unsigned long p = XGetPixel(image, column, row);  // a 24-bit TrueColor screen: 0xRRGGBB
            pixels.push_back({static_cast<std::uint8_t>((p >> 16) & 0xFF),
                              static_cast<std::uint8_t>((p >> 8) & 0xFF),
                              static_cast<std::uint8_t>(p & 0xFF)});
        }
    }
    XDestroyImage(image);
    return Screenshot(x, y, width, height, std::move(pixels));
}

std::vector<unsigned long> XScreen::TopLevels() {
    IgnoreXErrors guard(m_impl->display);
    Window rootReturn = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    std::vector<unsigned long> viewable;
    if (XQueryTree(m_impl->display, m_impl->root, &rootReturn, &parent, &children, &count) == 0) {
        return viewable;
    }
    for (unsigned i = 0; i < count; ++i) {
        XWindowAttributes attributes;
        if (XGetWindowAttributes(m_impl->display, children[i], &attributes) != 0 &&
            attributes.map_state == IsViewable) {
            viewable.push_back(children[i]);
        }
    }
    XFree(children);
    return viewable;
}

namespace {

std::string ClassOf(Display* display, Window window) {
    XClassHint hint{};
    if (XGetClassHint(display, window, &hint) == 0) {
        return {};
    }
    std::string result = hint.res_class != nullptr ? hint.res_class : "";
    XFree(hint.res_name);
    XFree(hint.res_class);
    return result;
}

std::string NameOf(Display* display, Window window) {
    const Atom property = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom type = 0;
    int format = 0;
    unsigned long items = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    std::string name;
    if (XGetWindowProperty(display, window, property, 0, 1024, False, utf8, &type, &format, &items, &after,
                           &data) == Success &&
        data != nullptr) {
        if (type == utf8 && format == 8) {
            name.assign(reinterpret_cast<const char*>(data), items);
        }
        XFree(data);
    }
    return name;
}

}  // namespace

unsigned long XScreen::FindWindow(const std::string& wmClass) {
    for (const unsigned long window : TopLevels()) {
        IgnoreXErrors guard(m_impl->display);
        if (ClassOf(m_impl->display, window) == wmClass) {
            return window;
        }
    }
    return 0;
}

unsigned long XScreen::FindWindowNamed(const std::string& name) {
    for (const unsigned long window : TopLevels()) {
        IgnoreXErrors guard(m_impl->display);
        if (NameOf(m_impl->display, window) == name) {
            return window;
        }
    }
    return 0;
}

int XScreen::CountWindows(const std::string& wmClass) {
    int count = 0;
    for (const unsigned long window : TopLevels()) {
        IgnoreXErrors guard(m_impl->display);
        count += ClassOf(m_impl->display, window) == wmClass;
    }
    return count;
}

std::optional<Point> XScreen::Position(unsigned long window) {
    IgnoreXErrors guard(m_impl->display);
    int x = 0;
    int y = 0;
    Window child = 0;
    if (XTranslateCoordinates(m_impl->display, window, m_impl->root, 0, 0, &x, &y, &child) == 0) {
        return std::nullopt;
    }
    return Point{x, y};
}

std::optional<Extent> XScreen::Size(unsigned long window) {
    IgnoreXErrors guard(m_impl->display);
    XWindowAttributes attributes;
    if (XGetWindowAttributes(m_impl->display, window, &attributes) == 0) {
        return std::nullopt;
    }
    return Extent{attributes.width, attributes.height};
}

void XScreen::CreateCatcher() {
    Display* d = m_impl->display;
    m_impl->catcher = XCreateSimpleWindow(d, m_impl->root, 0, 0, Xvfb::kWidth, Xvfb::kHeight, 0,
                                          BlackPixel(d, 0), BlackPixel(d, 0));
    XSelectInput(d, m_impl->catcher, ButtonPressMask);
    XMapWindow(d, m_impl->catcher);
    XLowerWindow(d, m_impl->catcher);
    XSync(d, False);
}

std::vector<Point> XScreen::CatcherPresses() {
    std::vector<Point> presses;
    XSync(m_impl->display, False);
    XEvent event;
    while (XCheckWindowEvent(m_impl->display, m_impl->catcher, ButtonPressMask, &event)) {
        presses.push_back({event.xbutton.x_root, event.xbutton.y_root});
    }
    return presses;
}

int Mismatches(XScreen& screen, Point origin, int x, int y, int width, int height,
               const std::function<Rgb(int, int)>& expected) {
    const Screenshot shot = screen.Grab(origin.x + x, origin.y + y, width, height);
    int differ = 0;
    for (int row = 0; row < height; ++row) {
        for (int column = 0; column < width; ++column) {
            differ += !(shot.At(origin.x + x + column, origin.y + y + row) == expected(x + column, y + row));
        }
    }
    return differ;
}

ChildProcess::Options LauncherOnDisplay(const testing_support::TempHome& world, const std::string& exe,
                                        const std::string& display) {
    auto options = testing_support::LauncherOptions(world, exe);
    options.env["DISPLAY"] = display;
    options.env["TSAN_OPTIONS"] = "ignore_noninstrumented_modules=1";
    options.env["ASAN_OPTIONS"] = "fast_unwind_on_malloc=0";
    options.env["LSAN_OPTIONS"] =
        std::string("suppressions=") + VALDRUNE_SOURCE_DIR + "/tests/gui/lsan-suppressions.txt";
    return options;
}

std::string Xprop(const std::string& display, unsigned long window, const std::string& property) {
    ChildProcess xprop({{FindProgram("xprop"), "-id", std::to_string(window), property},
                        DisplayEnvironment(display),
                        {},
                        {}});
    xprop.Wait();
    const std::string out = xprop.Stdout();
    return out.find("not found") != std::string::npos ? std::string() : out;
}

bool Xdotool(const std::string& display, const std::vector<std::string>& args) {
    std::vector<std::string> argv{FindProgram("xdotool")};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildProcess xdotool({argv, DisplayEnvironment(display), {}, {}});
    return xdotool.Wait() == 0;
}

bool Drag(const std::string& display, Point from, Point to) {
    std::vector<std::string> args{"mousemove", std::to_string(from.x), std::to_string(from.y), "mousedown",
                                  "1"};
    constexpr int kSteps = 8;
    for (int i = 1; i <= kSteps; ++i) {
        args.insert(args.end(), {"mousemove", std::to_string(from.x + (to.x - from.x) * i / kSteps),
                                 std::to_string(from.y + (to.y - from.y) * i / kSteps)});
    }
    args.insert(args.end(), {"mouseup", "1"});
    return Xdotool(display, args);
}

}  // namespace gui_testing
