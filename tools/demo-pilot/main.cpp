// demo-pilot: the player of the demo on a display nobody watches. It waits for the launcher's
// window, saves a screenshot of each stage (the login page, the download, the finished update),
// logs in on the demo page with the demo password, and saves the screen once the launcher has
// hidden and the sample game shows its window.
//
//   demo-pilot FOLDER [NAME]
//
// Works on $DISPLAY. Prints one line per stage; exits 0 once the game runs, 1 when a stage does
// not come within a minute (the screen is then saved as FOLDER/failed.png).

#include <X11/Xlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <string>

#include "ChildProcess.h"
#include "DemoScreen.h"
#include "GuiSupport.h"

using namespace demo_pilot;
using gui_testing::XScreen;
using testing_support::WaitFor;

namespace {

// The launcher's window class, and the sample game's too: GTK names a program's windows after
// its argv[0], and the game's is the launcher's path.
constexpr const char* kWindowClass = "Valdrune";
// The Windows sample game's windows under Wine, which names them after the executable.
constexpr const char* kWineGameClass = "zavo.exe";
constexpr const char* kDemoPassword = "valdrune";
constexpr auto kStageDeadline = std::chrono::seconds(60);

// What the window tests' XScreen does not tell: the screen's size, and whether a window is shown.
class XFacts {
public:
    explicit XFacts(const std::string& display) : m_display(XOpenDisplay(display.c_str())) {
        if (m_display == nullptr) {
            throw std::runtime_error("cannot open display " + display);
        }
        XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });  // a window may vanish meanwhile
    }
    ~XFacts() { XCloseDisplay(m_display); }
    XFacts(const XFacts&) = delete;
    XFacts& operator=(const XFacts&) = delete;

    int width() const { return DisplayWidth(m_display, DefaultScreen(m_display)); }
    int height() const { return DisplayHeight(m_display, DefaultScreen(m_display)); }
    bool Viewable(unsigned long window) const {
        XWindowAttributes attributes;
        return XGetWindowAttributes(m_display, window, &attributes) != 0 && attributes.map_state == IsViewable;
    }

private:
    Display* m_display;
};

class Pilot {
public:
    Pilot(std::string display, std::string folder)
        : m_display(std::move(display)), m_folder(std::move(folder)), m_screen(m_display), m_x(m_display) {}

    int Run(const std::string& name) {
        unsigned long window = 0;
        if (!Await("the launcher's window", [&] {
                window = m_screen.FindWindow(kWindowClass);
                return window != 0 && m_screen.Position(window).has_value();
            })) {
            return Fail();
        }
        const Point origin = *m_screen.Position(window);
        const layout::Rect frame = OnScreen(origin, layout::kWindow);
        const layout::Rect page = OnScreen(origin, layout::kPage);
        const layout::Rect bar = OnScreen(origin, layout::kProgressBar);
        const layout::Rect readyLine{page.x, page.bottom() - 40, page.width, 40};

        std::optional<Screenshot> shot;
        auto grab = [&] {
            shot = m_screen.Grab(frame.x, frame.y, frame.width, frame.height);
            return *shot;
        };

        std::optional<LoginForm> form;
        if (!Await("the login page", [&] { return (form = FindLoginForm(grab(), page)).has_value(); })) {
            return Fail();
        }
        Save(*shot, "1-page.png", "the login page in the launcher's window");

        bool downloading = false;
        if (!Await("the download", [&] {
                const Screenshot now = grab();
                downloading = BarFill(now, bar) >= 40;
                return downloading || Shows(now, readyLine, kReadyText, 16);
            })) {
            return Fail();
        }
        if (downloading) {
            Save(*shot, "2-download.png", "the download under way");
        } else {
            std::printf("demo-pilot: the download was over before it could be seen\n");
        }

        if (!Await("the end of the update", [&] {
                const Screenshot now = grab();
                return !Shows(now, bar, kBarBlue) && Shows(now, readyLine, kReadyText, 16);
            })) {
            return Fail();
        }
        Save(*shot, "3-done.png", "the update done, the game client ready");

        std::printf("demo-pilot: logging in as %s with the password %s\n", name.c_str(), kDemoPassword);
        std::fflush(stdout);
        const bool typed = Click(form->name) && Xdotool({"type", "--delay", "20", name}) && Click(form->password) &&
                           Xdotool({"type", "--delay", "20", kDemoPassword}) && Xdotool({"key", "Return"});
        if (!typed) {
            std::fprintf(stderr, "demo-pilot: xdotool could not type the login\n");
            return Fail();
        }

        // The launcher hides once it has started the game, and the game shows its window.
        unsigned long game = 0;
        if (!Await("the game, with the launcher hidden", [&] {
                game = m_screen.FindWindow(kWindowClass);
                game = game != 0 ? game : m_screen.FindWindow(kWineGameClass);
                return !m_x.Viewable(window) && game != 0 && game != window;
            })) {
            return Fail();
        }
        const Point at = m_screen.Position(game).value_or(Point{});
        if (!Await("the game's window drawn", [&] { return !(m_screen.Pixel(at.x + 2, at.y + 2) == Rgb{}); })) {
            return Fail();
        }
        Save(m_screen.Grab(0, 0, m_x.width(), m_x.height()), "4-game.png",
             "the game running, the launcher hidden until it ends");
        return 0;
    }

private:
    bool Await(const char* what, const std::function<bool()>& condition) {
        if (WaitFor(condition, kStageDeadline)) {
            return true;
        }
        std::fprintf(stderr, "demo-pilot: %s did not come within %lld seconds\n", what,
                     static_cast<long long>(kStageDeadline.count()));
        return false;
    }

    int Fail() {
        Save(m_screen.Grab(0, 0, m_x.width(), m_x.height()), "failed.png", "the screen when the demo stopped");
        return 1;
    }

    void Save(const Screenshot& shot, const std::string& file, const char* what) {
        const std::string path = m_folder + "/" + file;
        if (SavePng(shot, path)) {
            std::printf("demo-pilot: %-14s %s\n", file.c_str(), what);
        } else {
            std::fprintf(stderr, "demo-pilot: cannot write %s\n", path.c_str());
        }
        std::fflush(stdout);
    }

    bool Click(Point p) {
        return Xdotool({"mousemove", std::to_string(p.x), std::to_string(p.y), "click", "1"});
    }
    bool Xdotool(const std::vector<std::string>& args) { return gui_testing::Xdotool(m_display, args); }

    std::string m_display;
    std::string m_folder;
    XScreen m_screen;
    XFacts m_x;
};

}  // namespace

int main(int argc, char** argv) {
    const char* display = std::getenv("DISPLAY");
    if (argc < 2 || display == nullptr || *display == '\0') {
        std::fprintf(stderr, "usage: DISPLAY=:N demo-pilot FOLDER [NAME]\n");
        return 2;
    }
    try {
        return Pilot(display, argv[1]).Run(argc > 2 ? argv[2] : "player");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "demo-pilot: %s\n", e.what());
        return 1;
    }
}
