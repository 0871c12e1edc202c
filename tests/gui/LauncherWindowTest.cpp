// The real launcher executable with a display: a private Xvfb, a private HOME and the loopback
// operator server on the launcher's configured port. Unless a test serves a configuration, the
// server holds its answer back, so the update worker shows nothing while the window is checked.

#include <gtest/gtest.h>
#include <signal.h>

#include "ChildProcess.h"
#include "GuiSupport.h"
#include "Launcher.h"
#include "LogEntries.h"
#include "OperatorServer.h"
#include "TempHome.h"
#include "WindowPixels.h"
#include "ZipBuilder.h"

using namespace gui_testing;
using namespace testing_support;

namespace {

constexpr const char* kConfigPath = "/api/morvast/ditches/drevoline/client_config_drevoline.php";
const Point kCentred{(Xvfb::kWidth - layout::kWindow.width) / 2,
                     (Xvfb::kHeight - layout::kWindow.height) / 2};

class LauncherWindow : public ::testing::Test {
  protected:
    LauncherWindow() { server.SetRule(kConfigPath, "stall"); }

    std::unique_ptr<ChildProcess> Start() {
        return std::make_unique<ChildProcess>(LauncherOnDisplay(world, exe, xvfb.display()));
    }

    Rgb FrameAt(int x, int y) { return pixels.Frame(x, y); }

    // Serves a configuration and a game package whose download holds still at its half until
    // the rules are cleared; the first attempt then fails and the backup address resumes it.
    // Answers the package's size and the half.
    std::pair<size_t, size_t> ServePackageStoppingHalfway() {
        const std::string package =
            GamePackage().StoredFile("zavo/data/big.dat", std::string(2 << 20, 'b')).Bytes();
        WriteFile(server.FilesDir() + "/zavo.zip", package);
        WriteFile(server.WwwDir() + "/page.html", "<body style='background:#2e8b57'></body>");
        server.ClearRules();
        server.SetConfig("EntryUrl=" + server.Url("/www/page.html") + "\nClientVersion=1.0.0.1\n" +
                         "ClientMiniUpdateVersion=1.0.0.1\nClientDownloadUrl=" + server.PackageUrl() +
                         "\nClient32DownloadUrl=" + server.PackageUrl() +
                         "\nClientDownloadUrl2=" + server.PackageUrl() + "\n");
        const size_t half = package.size() / 2;
        server.SetRule("/files/zavo.zip", "stall-after=" + std::to_string(half));
        return {package.size(), half};
    }

    // Waits until rect of the window at origin shows expected; answers the differing pixels.
    int WaitForPixels(Point origin, const layout::Rect& rect, const Expected& expected) {
        int differ = 0;
        WaitFor([&] { return (differ = Mismatches(screen, origin, rect, expected)) == 0; });
        return differ;
    }

    // The launcher's window once its frame is on screen; 0 when it never showed (in time).
    unsigned long WaitForWindow(ChildProcess& launcher) {
        unsigned long window = 0;
        const bool shown = WaitFor([&] {
            window = screen.FindWindow("Valdrune");
            const auto at = window != 0 ? screen.Position(window) : std::nullopt;
            return (at && screen.Pixel(at->x + 30, at->y + 300) == FrameAt(30, 300)) || !launcher.Running();
        });
        return shown && launcher.Running() ? window : 0;
    }

    Point Origin(unsigned long window) { return screen.Position(window).value_or(Point{-1, -1}); }

    bool Click(Point p, const char* button = "1") {
        return Xdotool(xvfb.display(),
                       {"mousemove", std::to_string(p.x), std::to_string(p.y), "click", button});
    }

    Xvfb xvfb;
    XScreen screen{xvfb.display()};
    TempHome world;
    std::string exe = CopyLauncherTo(world.root() + "/app");
    std::string log = world.root() + "/app/valdrune.log";
    OperatorServer server{OperatorServer::OriginPort()};
    WindowPixels pixels;
};

}  // namespace

TEST_F(LauncherWindow, OpensCentredWithItsFrameCloseButtonAndIdentityButNoProgress) {
    auto launcher = Start();
    const unsigned long window = WaitForWindow(*launcher);
    ASSERT_NE(window, 0u) << launcher->Stderr();
    const Point o = Origin(window);
    EXPECT_EQ(o, kCentred);

    // The desktop entries the registration writes name this class (StartupWMClass=Valdrune).
    EXPECT_NE(Xprop(xvfb.display(), window, "WM_CLASS").find("\"Valdrune\", \"Valdrune\""),
              std::string::npos);
    EXPECT_NE(Xprop(xvfb.display(), window, "WM_NAME").find("\"Valdrune\""), std::string::npos);
    EXPECT_NE(Xprop(xvfb.display(), window, "_NET_WM_ICON").find("48 x 48"), std::string::npos);

    EXPECT_EQ(Mismatches(screen, o, {0, 0, 300, 150},
                         [&](int x, int y) {  // the root shows through the transparent pixels
                             return PixelAt(pixels.frame.get(), x, y).a == 0 ? Rgb{0, 0, 0} : FrameAt(x, y);
                         }),
              0);
    EXPECT_EQ(Mismatches(screen, o, layout::kPage, WindowPixels::Solid(kPageSquare)), 0);
    EXPECT_EQ(Mismatches(screen, o, layout::kCloseButton, pixels.CloseButton()), 0);
    for (const layout::Rect& r :
         {layout::kProgressBar, layout::kStatusText, layout::kPhaseCaption, layout::kPercentText}) {
        EXPECT_EQ(Mismatches(screen, o, r, pixels.JustFrame()), 0);
    }
    EXPECT_TRUE(launcher->Running());
}

TEST_F(LauncherWindow, ClickOnTheCloseButtonEndsTheLauncher) {
    auto launcher = Start();
    const unsigned long window = WaitForWindow(*launcher);
    ASSERT_NE(window, 0u) << launcher->Stderr();
    const Point o = Origin(window);
    EXPECT_TRUE(Click({o.x + layout::kCloseButton.x + 22, o.y + layout::kCloseButton.y + 23}));
    EXPECT_EQ(launcher->Wait(), 0) << launcher->Stderr();
    EXPECT_TRUE(ContainsInOrder(ReadFile(log), {"[INFO][CWebApp::InitInstance::", "] Laucher Start\n",
                                            "[INFO][CWebDlg::Close::", "] Laucher Stop\n",
                                            "[INFO][CWebApp::OnWndDestroy::", "] wnd destory\n"}))
        << ReadFile(log);
}

TEST_F(LauncherWindow, ClicksOnTransparentCornersGoToTheWindowBelow) {
    screen.CreateCatcher();  // below everything, the launcher's window will open over it
    auto launcher = Start();
    const unsigned long window = WaitForWindow(*launcher);
    ASSERT_NE(window, 0u) << launcher->Stderr();
    const Point o = Origin(window);
    EXPECT_TRUE(Click({o.x + 30, o.y + 300}));  // opaque frame: the launcher takes it
    EXPECT_TRUE(Click({o.x + 2, o.y + 523}));   // the transparent corners: the window below does
    EXPECT_TRUE(Click({o.x + 974, o.y + 1}));
    std::vector<Point> presses;
    EXPECT_TRUE(WaitFor([&] {
        for (const Point p : screen.CatcherPresses()) {
            presses.push_back(p);
        }
        return presses.size() >= 2;
    }));
    EXPECT_EQ(presses, (std::vector<Point>{{o.x + 2, o.y + 523}, {o.x + 974, o.y + 1}}));
    EXPECT_EQ(Origin(window), o);  // a click without a move drags nothing
    EXPECT_TRUE(launcher->Running());
}

TEST_F(LauncherWindow, DraggingTheFrameMovesTheWindowWithItsPageAndCloseButton) {
    ServePackageStoppingHalfway();
    auto launcher = Start();
    const unsigned long window = WaitForWindow(*launcher);
    ASSERT_NE(window, 0u) << launcher->Stderr();
    const Point o = Origin(window);
    const Expected page = WindowPixels::Solid({0x2e, 0x8b, 0x57});
    ASSERT_EQ(WaitForPixels(o, layout::kPage, page), 0);

    EXPECT_TRUE(Drag(xvfb.display(), {o.x + 200, o.y + 420}, {o.x + 200 - 140, o.y + 420 + 90}));
    const Point moved{o.x - 140, o.y + 90};
    EXPECT_TRUE(WaitFor([&] { return Origin(window) == moved; }));
    EXPECT_EQ(WaitForPixels(moved, layout::kPage, page), 0);
    EXPECT_EQ(Mismatches(screen, moved, {20, 20, 300, 150}, pixels.JustFrame()), 0);
    // The close button went along: a click where it is now closes the launcher.
    EXPECT_TRUE(Click({moved.x + layout::kCloseButton.x + 22, moved.y + layout::kCloseButton.y + 23}));
    EXPECT_EQ(launcher->Wait(), 0) << launcher->Stderr();
    EXPECT_NE(ReadFile(log).find("] Laucher Stop\n"), std::string::npos);
}

TEST_F(LauncherWindow, SigtermAndSigintCloseItAsTheCloseButtonDoes) {
    for (const int signal : {SIGTERM, SIGINT}) {
        auto launcher = Start();
        ASSERT_NE(WaitForWindow(*launcher), 0u) << launcher->Stderr();
        launcher->Signal(signal);
        EXPECT_EQ(launcher->Wait(), 0) << signal << launcher->Stderr();
        EXPECT_TRUE(ContainsInOrder(ReadFile(log), {"[INFO][CWebDlg::Close::", "] Laucher Stop\n",
                                                "[INFO][CWebApp::OnWndDestroy::", "] wnd destory\n"}))
            << signal << ReadFile(log);
    }
}

TEST_F(LauncherWindow, DownloadShowsBarCaptionAndPercentThenTheFinishedRunTheStatusAlone) {
    const auto [size, half] = ServePackageStoppingHalfway();
    const int percent = static_cast<int>(half * 100 / size);
    auto launcher = Start();
    const unsigned long window = WaitForWindow(*launcher);
    ASSERT_NE(window, 0u) << launcher->Stderr();
    const Point o = Origin(window);

    // The page named by the configuration in its square, the download held at its half.
    EXPECT_EQ(WaitForPixels(o, layout::kPage, WindowPixels::Solid({0x2e, 0x8b, 0x57})), 0);
    EXPECT_EQ(WaitForPixels(o, layout::kPercentText,
                            pixels.Label(layout::kPercentText, std::to_string(percent) + "%")),
              0)
        << ReadFile(log);
    EXPECT_EQ(Mismatches(screen, o, layout::kPhaseCaption, pixels.Label(layout::kPhaseCaption, "正在下载：")),
              0);
    const layout::Rect bar = layout::kProgressBar;
    const int filled = bar.width * percent / 100;  // on to the next band edge, a few pixels on
    EXPECT_EQ(Mismatches(screen, o, {bar.x, bar.y, filled, bar.height}, WindowPixels::Solid(kBarBlue)), 0);
    EXPECT_EQ(Mismatches(screen, o, {bar.x + filled + 4, bar.y, bar.width - filled - 4, bar.height},
                         WindowPixels::Solid(kBarGrey)),
              0);

    server.ClearRules();  // the rest of the package comes from the backup address, is unpacked, and the run
                          // ends
    EXPECT_EQ(WaitForPixels(o, layout::kStatusText, pixels.Label(layout::kStatusText, "更新已完成")), 0)
        << ReadFile(log);
    EXPECT_EQ(Mismatches(screen, o, layout::kProgressBar, pixels.JustFrame()), 0);
    EXPECT_TRUE(launcher->Running());
}

TEST_F(LauncherWindow, CloseButtonDuringTheDownloadWritesTheResumeRecord) {
    const auto [size, half] = ServePackageStoppingHalfway();
    const int percent = static_cast<int>(half * 100 / size);
    auto launcher = Start();
    const unsigned long window = WaitForWindow(*launcher);
    ASSERT_NE(window, 0u) << launcher->Stderr();
    const Point o = Origin(window);
    ASSERT_EQ(WaitForPixels(o, layout::kPercentText,
                            pixels.Label(layout::kPercentText, std::to_string(percent) + "%")),
              0);

    EXPECT_TRUE(Click({o.x + layout::kCloseButton.x + 22, o.y + layout::kCloseButton.y + 23}));
    EXPECT_EQ(launcher->Wait(), 0) << launcher->Stderr();
    EXPECT_EQ(ReadFile(world.dataDir() + "/tempdownload.dat"),
              "downloadVersion=1.0.0.1\noffset=" + std::to_string(half) +
                  "\ntotalSize=" + std::to_string(size) + "\n");
    EXPECT_TRUE(ContainsInOrder(ReadFile(log), {"[INFO][CWebDlg::Close::", "] Laucher Stop\n",
                                            "[INFO][CWebApp::OnWndDestroy::", "] wnd destory\n"}));
}
