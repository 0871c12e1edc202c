// The demo as a newcomer runs it, without a display: the real launcher on a private Xvfb, the
// operator server with its own login page, and the demo pilot playing the player.

#include <cairo.h>
#include <csignal>
#include <gtest/gtest.h>

#include <regex>

#include "ChildProcess.h"
#include "DemoScreen.h"
#include "GameRecord.h"
#include "GuiSupport.h"
#include "Launcher.h"
#include "OperatorServer.h"
#include "TempHome.h"
#include "ZipBuilder.h"

using namespace gui_testing;
using namespace testing_support;

namespace {

constexpr Rgb kPageBorder{0xb0, 0x8d, 0x57};
constexpr Rgb kPageBackground{0x12, 0x15, 0x1b};

class Demo : public ::testing::Test {
  protected:
    // The demo's configuration: its login page, and the package at the given rule.
    // The game keeps its window until the test ends it, so no stage depends on the machine's speed.
    void Serve(const std::string& packageRule) {
        // Some bulk, so that the held part is well past what sockets buffer on the way.
        const std::string package = GamePackage()
                                        .File("zavo/zavo.cfg", "window=1\nwait=600\n")
                                        .StoredFile("zavo/data/big.dat", std::string(2 << 20, 'b'))
                                        .Bytes();
        WriteFile(server.FilesDir() + "/zavo.zip", package);
        server.SetRule("/files/zavo.zip",
                       packageRule.empty() ? "stall-after=" + std::to_string(package.size() * 2 / 3) : packageRule);
        server.SetConfig("EntryUrl=" + server.Url("/www/login.html") + "\nCustomParameters=demo\n" +
                         "ClientVersion=1.0.0.1\nClientMiniUpdateVersion=1.0.0.1\nClientDownloadUrl=" +
                         server.PackageUrl() + "\nClient32DownloadUrl=" + server.PackageUrl() +
                         "\nClientDownloadUrl2=" + server.PackageUrl() + "\n");
    }

    std::unique_ptr<ChildProcess> Start(std::vector<std::string> argv) {
        ChildProcess::Options options;
        options.argv = std::move(argv);
        options.env = world.Environment();
        options.env["DISPLAY"] = xvfb.display();
        // What a sanitizer build of the launcher needs beside GTK and WebKitGTK.
        options.env["TSAN_OPTIONS"] = "ignore_noninstrumented_modules=1";
        options.env["ASAN_OPTIONS"] = "fast_unwind_on_malloc=0";
        options.env["LSAN_OPTIONS"] =
            std::string("suppressions=") + VALDRUNE_SOURCE_DIR + "/tests/gui/lsan-suppressions.txt";
        options.cwd = world.root();
        return std::make_unique<ChildProcess>(options);
    }

    // The launcher's window origin once it is on screen; nullopt when it never showed.
    std::optional<Point> WindowOrigin(ChildProcess& launcher) {
        std::optional<Point> at;
        WaitFor([&] {
            const unsigned long window = screen.FindWindow("Valdrune");
            at = window != 0 ? screen.Position(window) : std::nullopt;
            return at.has_value() || !launcher.Running();
        });
        return at;
    }

    Xvfb xvfb;
    XScreen screen{xvfb.display()};
    TempHome world;
    std::string exe = CopyLauncherTo(world.root() + "/app");
    // The demo page as the tool serves it by default.
    OperatorServer server{OperatorServer::OriginPort(), {"--www", VALDRUNE_SOURCE_DIR "/tools/operator-server/www"}};
};

struct PngSize {
    int width = -1;
    int height = -1;
    bool operator==(const PngSize&) const = default;
};

std::ostream& operator<<(std::ostream& out, const PngSize& size) {
    return out << size.width << " x " << size.height;
}

PngSize SizeOfPng(const std::string& path) {
    cairo_surface_t* png = cairo_image_surface_create_from_png(path.c_str());
    PngSize size;
    if (cairo_surface_status(png) == CAIRO_STATUS_SUCCESS) {
        size = {cairo_image_surface_get_width(png), cairo_image_surface_get_height(png)};
    }
    cairo_surface_destroy(png);
    return size;
}

}  // namespace

TEST_F(Demo, LoginPageFillsItsSquareExactlyWithItsBorderWholeOnAllFourSides) {
    Serve("stall");  // the page alone: the download never moves
    auto launcher = Start({exe});
    const auto origin = WindowOrigin(*launcher);
    ASSERT_TRUE(origin.has_value()) << launcher->Stderr();
    const layout::Rect page = demo_pilot::OnScreen(*origin, layout::kPage);

    // The outermost ring of the square is the page's border; the ring inside it its background,
    // with no scroll bar and nothing of the content pushed into it.
    auto ring = [](const Screenshot& shot, int inset, Rgb colour) {
        int differ = 0;
        const int left = shot.x() + inset, top = shot.y() + inset;
        const int right = shot.x() + shot.width() - 1 - inset, bottom = shot.y() + shot.height() - 1 - inset;
        for (int x = left; x <= right; ++x) {
            differ += !(shot.At(x, top) == colour) + !(shot.At(x, bottom) == colour);
        }
        for (int y = top; y <= bottom; ++y) {
            differ += !(shot.At(left, y) == colour) + !(shot.At(right, y) == colour);
        }
        return differ;
    };
    int border = -1, inside = -1;
    EXPECT_TRUE(WaitFor([&] {
        const Screenshot shot = screen.Grab(page.x, page.y, page.width, page.height);
        border = ring(shot, 0, kPageBorder);
        inside = ring(shot, 1, kPageBackground);
        return border == 0 && inside == 0;
    }));
    EXPECT_EQ(border, 0);
    EXPECT_EQ(inside, 0);
    EXPECT_TRUE(launcher->Running());
}

TEST_F(Demo, PilotPlaysTheWholeRoadAndTheLauncherHidesUntilTheGameEnds) {
    Serve("");
    const std::string shots = world.root() + "/shots";
    MakeDirs(shots);
    auto launcher = Start({exe});
    auto pilot = Start({DEMO_PILOT, shots, "aldric"});

    // The download is held two thirds of the way until the pilot has its picture of it.
    ASSERT_TRUE(WaitFor([&] { return pilot->Stdout().find("2-download.png") != std::string::npos || !pilot->Running(); }, 120s))
        << pilot->Stdout() << pilot->Stderr();
    server.ClearRules();
    EXPECT_EQ(pilot->Wait(120s), 0) << pilot->Stdout() << pilot->Stderr();
    for (const char* stage : {"1-page.png", "2-download.png", "3-done.png"}) {
        EXPECT_EQ(SizeOfPng(shots + "/" + stage), (PngSize{layout::kWindow.width, layout::kWindow.height})) << stage;
    }
    EXPECT_EQ(SizeOfPng(shots + "/4-game.png"), (PngSize{Xvfb::kWidth, Xvfb::kHeight}));

    // The launcher ends with the game.
    const std::string record = ReadFile(world.clientDir() + "/zavo/zavo-launch.json");
    EXPECT_TRUE(std::regex_search(record, std::regex(R"("--parameters=[0-9a-f]{32}","--plat_extra=demo"\])")))
        << record;
    const int gamePid = ReadSampleGameRecord(world.clientDir() + "/zavo/zavo-launch.json").pid;
    ASSERT_GT(gamePid, 0);
    EXPECT_TRUE(launcher->Running());
    ::kill(gamePid, SIGTERM);
    EXPECT_EQ(launcher->Wait(60s), 0) << launcher->Stderr();
    const std::string log = ReadFile(world.root() + "/app/valdrune.log");
    EXPECT_NE(log.find("] Exit Game\n"), std::string::npos) << log;
    EXPECT_NE(log.find("[INFO][CWebDlg::Cancel::"), std::string::npos) << log;
}
