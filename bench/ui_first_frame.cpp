// ui_first_frame: time from starting the launcher to its first frame on screen.
//
//   ui_first_frame [runs]        (default 10)
//
// Starts a private Xvfb, then runs the built launcher that many times in a private HOME and
// measures, for each run, the time from the start of the process until the frame picture's
// pixels appear on the screen where the window opens (read back from the X server). Prints each
// run and the median. Each launcher is closed with SIGTERM before the next starts.

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "ChildProcess.h"
#include "GuiSupport.h"
#include "Launcher.h"
#include "TempHome.h"
#include "ui/Artwork.h"
#include "ui/Layout.h"

using namespace gui_testing;
using namespace testing_support;
using Clock = std::chrono::steady_clock;

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    Xvfb xvfb;
    XScreen screen(xvfb.display());
    TempHome world;
    const std::string exe = CopyLauncherTo(world.root() + "/app");

    // A pixel of the frame's panel where the centred window shows it.
    SurfacePtr frame = artwork::LoadPremultiplied(artwork::kFrame);
    const int fx = 30, fy = 300;
    const Argb want = PixelAt(frame.get(), fx, fy);
    const Point at{(Xvfb::kWidth - layout::kWindow.width) / 2 + fx, (Xvfb::kHeight - layout::kWindow.height) / 2 + fy};

    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        auto options = LauncherOptions(world, exe);
        options.env["DISPLAY"] = xvfb.display();
        const auto start = Clock::now();
        ChildProcess launcher(options);
        bool shown = false;
        while (!shown && launcher.Running() && Clock::now() - start < std::chrono::seconds(30)) {
            shown = screen.Pixel(at.x, at.y) == Rgb{want.r, want.g, want.b};
            if (!shown) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        launcher.Signal(SIGTERM);
        launcher.Wait();
        if (!shown) {
            std::fprintf(stderr, "run %d: the frame never showed\n%s", i + 1, launcher.Stderr().c_str());
            return 1;
        }
        times.push_back(ms);
        std::printf("run %2d: first frame after %7.1f ms\n", i + 1, ms);
    }
    std::sort(times.begin(), times.end());
    const size_t n = times.size();
    const double median = n % 2 == 1 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
    std::printf("median of %zu runs: %.1f ms (fastest %.1f, slowest %.1f)\n", n, median, times.front(), times.back());
    return 0;
}
