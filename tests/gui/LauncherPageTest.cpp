// The channel's page as the real launcher shows it, seen from the page's side: what
// window.external answers, what the page's script boxes and new windows do, and the login that
// starts the game. The launcher executable runs on a private Xvfb in a private HOME against the
// operator server on its configured port; the pages (tests/gui/pages) report what they see by
// requesting "result?key=value" from that server.

#include <gtk/gtk.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <sstream>

#include "ChildProcess.h"
#include "GameRecord.h"
#include "GuiSupport.h"
#include "Launcher.h"
#include "LogEntries.h"
#include "OperatorServer.h"
#include "TempHome.h"
#include "WineSupport.h"
#include "ZipBuilder.h"

using namespace gui_testing;
using namespace testing_support;
namespace fs = std::filesystem;

namespace {

constexpr const char* kPackagePath = "/files/zavo.zip";
constexpr const char* kBoxCaption = "提示";

using Results = std::vector<std::pair<std::string, std::string>>;

// A picture of the desktop's icon theme as GTK draws it over a plain background.
class ThemeIcon {
  public:
    ThemeIcon(const char* name, int size) {
        GtkIconTheme* theme = gtk_icon_theme_new();
        gtk_icon_theme_set_custom_theme(theme, "Adwaita");
        m_pixbuf = gtk_icon_theme_load_icon(theme, name, size, GTK_ICON_LOOKUP_FORCE_SIZE, nullptr);
        g_object_unref(theme);
    }
    ~ThemeIcon() {
        if (m_pixbuf != nullptr) {
            g_object_unref(m_pixbuf);
        }
    }
    ThemeIcon(const ThemeIcon&) = delete;
    ThemeIcon& operator=(const ThemeIcon&) = delete;

    bool loaded() const { return m_pixbuf != nullptr; }

    // True when shot shows the icon somewhere, drawn over the colour at the shot's top-left
    // corner (a rounding step of difference allowed).
    bool FoundIn(const Screenshot& shot) const {
        const int size = gdk_pixbuf_get_width(m_pixbuf);
        const int channels = gdk_pixbuf_get_n_channels(m_pixbuf);
        const int stride = gdk_pixbuf_get_rowstride(m_pixbuf);
        const guchar* pixels = gdk_pixbuf_read_pixels(m_pixbuf);
        const Rgb background = shot.At(shot.x(), shot.y());
        std::vector<Rgb> expected;
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                const guchar* p = pixels + y * stride + x * channels;
                const int a = channels == 4 ? p[3] : 255;
                const auto over = [a](int source, int below) {
                    return static_cast<std::uint8_t>((source * a + below * (255 - a) + 127) / 255);
                };
                expected.push_back({over(p[0], background.r), over(p[1], background.g), over(p[2], background.b)});
            }
        }
        const auto close = [](const Rgb& a, const Rgb& b) {
            return std::abs(a.r - b.r) <= 2 && std::abs(a.g - b.g) <= 2 && std::abs(a.b - b.b) <= 2;
        };
        for (int top = 0; top + size <= shot.height(); ++top) {
            for (int left = 0; left + size <= shot.width(); ++left) {
                bool match = true;
                for (int i = 0; i < size * size && match; ++i) {
                    match = close(shot.At(shot.x() + left + i % size, shot.y() + top + i / size), expected[i]);
                }
                if (match) {
                    return true;
                }
            }
        }
        return false;
    }

  private:
    GdkPixbuf* m_pixbuf = nullptr;
};

class LauncherPage : public ::testing::Test {
  protected:
    LauncherPage() {
        fs::copy(VALDRUNE_SOURCE_DIR "/tests/gui/pages", server.WwwDir(), fs::copy_options::recursive);
    }

    ~LauncherPage() override {
        // The game runs in a session of its own: a failed test must not leave it behind, or
        // every later launcher would refuse to start beside it. (Under Wine the game's record
        // holds its Windows process id, which names no process here.)
        const int pid = RunningGamePid(gameDir);
        if (pid > 0) {
            ::kill(pid, SIGKILL);
        }
    }

    // Serves a configuration whose entry page is page, with the package (the sample game)
    // offered as version 1.0.0.1 at the main and the backup address. Answers the package.
    std::string ServeClient(const std::string& page, const ZipBuilder& package = GamePackage(),
                            const std::string& customParameters = "zone3 fast") {
        const std::string bytes = package.Bytes();
        WriteFile(server.FilesDir() + "/zavo.zip", bytes);
        const std::string url = server.PackageUrl();
        server.SetConfig("EntryUrl=" + server.Url("/www/" + page) + "\nCustomParameters=" + customParameters +
                         "\n" + "ClientVersion=1.0.0.1\nClientMiniUpdateVersion=1.0.0.1\nClientDownloadUrl=" +
                         url + "\nClient32DownloadUrl=" + url + "\nClientDownloadUrl2=" + url + "\n");
        return bytes;
    }

    std::unique_ptr<ChildProcess> Start() {
        return std::make_unique<ChildProcess>(LauncherOnDisplay(world, exe, xvfb.display()));
    }

    // Waits until the launcher shows its window; false when it ended first.
    bool WaitForWindow(ChildProcess& launcher) {
        WaitFor([&] { return screen.FindWindow("Valdrune") != 0 || !launcher.Running(); });
        return launcher.Running();
    }

    // What the page has reported so far, in order.
    Results PageResults() const {
        Results results;
        const std::string prefix = "GET /www/result?";
        for (const std::string& line : server.Requests()) {
            if (line.rfind(prefix, 0) != 0) {
                continue;
            }
            const std::string query = line.substr(prefix.size(), line.rfind(" range=") - prefix.size());
            const size_t eq = query.find('=');
            results.emplace_back(PercentDecoded(query.substr(0, eq)),
                                 eq == std::string::npos ? "" : PercentDecoded(query.substr(eq + 1)));
        }
        return results;
    }

    std::vector<std::string> ResultsOf(const std::string& key) const {
        std::vector<std::string> values;
        for (const auto& [k, v] : PageResults()) {
            if (k == key) {
                values.push_back(v);
            }
        }
        return values;
    }

    // Every request the server saw, for failure messages.
    std::string Seen() const {
        std::string text = "requests:\n";
        for (const std::string& line : server.Requests()) {
            text += "  " + line + "\n";
        }
        return text;
    }

    // Waits until the page has reported key; its first value, or nullopt.
    std::optional<std::string> WaitForResult(const std::string& key) {
        std::optional<std::string> value;
        WaitFor([&] {
            const auto values = ResultsOf(key);
            value = values.empty() ? std::nullopt : std::optional<std::string>(values.front());
            return value.has_value();
        });
        return value;
    }

    // Waits for a message box of the launcher; 0 when none showed.
    unsigned long WaitForBox() {
        unsigned long box = 0;
        WaitFor([&] { return (box = screen.FindWindowNamed(kBoxCaption)) != 0 && screen.Size(box).has_value(); });
        return box;
    }

    Screenshot Shot(unsigned long window) {
        const Point at = screen.Position(window).value_or(Point{});
        const Extent size = screen.Size(window).value_or(Extent{1, 1});
        return screen.Grab(at.x, at.y, size.width, size.height);
    }

    // Presses the box's one button (it fills the box's foot) and waits until the box is gone.
    bool CloseBox(unsigned long box) {
        const Point at = screen.Position(box).value_or(Point{});
        const Extent size = screen.Size(box).value_or(Extent{});
        return Xdotool(xvfb.display(), {"mousemove", std::to_string(at.x + size.width / 2),
                                        std::to_string(at.y + size.height - 16), "click", "1"}) &&
               WaitFor([&] { return screen.FindWindowNamed(kBoxCaption) != box; });
    }

    Xvfb xvfb;
    XScreen screen{xvfb.display()};
    TempHome world;
    std::string exe = CopyLauncherTo(world.root() + "/app");
    std::string log = world.root() + "/app/valdrune.log";
    std::string gameDir = world.clientDir() + "/zavo";
    OperatorServer server{OperatorServer::OriginPort()};
};

}  // namespace

TEST_F(LauncherPage, ExternalAnswersThePathExactNamesOnlyAndTheClientStateOnceReady) {
    // The package download holds after its first byte until the rules are cleared, so the page
    // certainly asks while the client is not ready.
    ServeClient("bridge.html");
    server.SetRule(kPackagePath, "stall-after=1");
    auto launcher = Start();
    ASSERT_TRUE(WaitForWindow(*launcher)) << launcher->Stderr();

    ASSERT_EQ(WaitForResult("command"), exe) << Seen() << ReadFile(log);
    // Method names are exact: another spelling is answered with an empty text, and logged.
    EXPECT_EQ(WaitForResult("lowercase"), "[]");
    // A member the bridge does not have is not there, and calling it throws in the page.
    EXPECT_EQ(WaitForResult("unknownType"), "undefined");
    EXPECT_EQ(WaitForResult("unknown"), "TypeError");

    ASSERT_EQ(WaitForResult("ready"), "boolean:false") << ReadFile(log);
    EXPECT_TRUE(WaitFor([&] {
        const auto requests = server.Requests();
        return std::any_of(requests.begin(), requests.end(),
                           [](const std::string& line) { return line.rfind("GET /files/zavo.zip", 0) == 0; });
    }));
    EXPECT_EQ(ResultsOf("ready"), std::vector<std::string>{"boolean:false"});  // held: still not ready

    server.ClearRules();
    EXPECT_TRUE(WaitFor([&] { return ResultsOf("ready").size() == 2; })) << ReadFile(log);
    EXPECT_EQ(ResultsOf("ready"), (std::vector<std::string>{"boolean:false", "boolean:true"}));
    EXPECT_TRUE(ContainsInOrder(ReadFile(log), {"[INFO][CWebCDlg::JavascriptToCPLUSPLUS::", "] method:GetCommandLine,paramters:\n",
                                        "[INFO][CWebCDlg::JavascriptToCPLUSPLUS::", "] method:getcommandline,paramters:\n",
                                        "] is ready\n"}))
        << ReadFile(log);

    launcher->Signal(SIGTERM);
    EXPECT_EQ(launcher->Wait(), 0) << launcher->Stderr();
}

TEST_F(LauncherPage, AlertAndConfirmShowTheLaunchersErrorBoxWhichHoldsThePageUntilClosed) {
    const ThemeIcon errorIcon("dialog-error", 48);
    const ThemeIcon informationIcon("dialog-information", 48);
    ASSERT_TRUE(errorIcon.loaded() && informationIcon.loaded()) << "the Adwaita icon theme is missing";
    ServeClient("dialogs.html");
    server.SetRule(kPackagePath, "stall");
    auto launcher = Start();
    ASSERT_TRUE(WaitForWindow(*launcher)) << launcher->Stderr();

    // alert('x'): a box titled 提示 with the error icon, and the page waits for it.
    const unsigned long alertBox = WaitForBox();
    ASSERT_NE(alertBox, 0u) << ReadFile(log);
    Screenshot alertShot = Shot(alertBox);
    EXPECT_TRUE(WaitFor([&] { return errorIcon.FoundIn(alertShot = Shot(alertBox)); }));  // once painted
    EXPECT_FALSE(informationIcon.FoundIn(alertShot));
    EXPECT_EQ(ResultsOf("before").size(), 1u);
    EXPECT_TRUE(ResultsOf("alerted").empty()) << "the page went on while its box was open";
    ASSERT_TRUE(CloseBox(alertBox));
    EXPECT_TRUE(WaitForResult("alerted").has_value());

    // confirm(text) shows the same box; its longer text makes it wider than the one of 'x'.
    const unsigned long confirmBox = WaitForBox();
    ASSERT_NE(confirmBox, 0u);
    Screenshot confirmShot = Shot(confirmBox);
    EXPECT_TRUE(WaitFor([&] { return errorIcon.FoundIn(confirmShot = Shot(confirmBox)); }));
    EXPECT_GT(confirmShot.width(), alertShot.width() + 100);
    EXPECT_TRUE(ResultsOf("confirmed").empty());
    ASSERT_TRUE(CloseBox(confirmBox));
    // The box writes no answer back; the engine's default is a refusal.
    EXPECT_EQ(WaitForResult("confirmed"), "boolean:false");

    EXPECT_EQ(screen.CountWindows("Valdrune"), 1);
    launcher->Signal(SIGTERM);
    EXPECT_EQ(launcher->Wait(), 0) << launcher->Stderr();
}

TEST_F(LauncherPage, NewWindowsGoToTheDefaultBrowserOnlyForWebAddressesNeverToOtherHandlers) {
    // A default handler for http, for another program's scheme and for local text files, of
    // this world's own: it records each address it is given.
    const std::string urls = world.root() + "/browser-urls.txt";
    const std::string handler = world.root() + "/record-url";
    WriteFile(handler, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + urls + "'\n");
    ::chmod(handler.c_str(), 0755);
    MakeDirs(world.dataHome() + "/applications");
    WriteFile(world.dataHome() + "/applications/valdrune-test-browser.desktop",
              "[Desktop Entry]\nType=Application\nName=Test browser\nNoDisplay=true\nExec=" + handler +
                  " %u\nMimeType=x-scheme-handler/http;x-scheme-handler/vdtest;text/plain;\n");
    WriteFile(
        world.configHome() + "/mimeapps.list",
        "[Default Applications]\nx-scheme-handler/http=valdrune-test-browser.desktop\n"
        "x-scheme-handler/vdtest=valdrune-test-browser.desktop\ntext/plain=valdrune-test-browser.desktop\n");

    ServeClient("new-windows.html");
    server.SetRule(kPackagePath, "stall");
    auto launcher = Start();
    ASSERT_TRUE(WaitForWindow(*launcher)) << launcher->Stderr();

    // window.open at load: nothing of the launcher's own is made for it.
    EXPECT_EQ(WaitForResult("opened"), "null");
    const auto Recorded = [&] {
        std::set<std::string> lines;
        std::istringstream in(ReadFile(urls));
        for (std::string line; std::getline(in, line);) {
            lines.insert(line);
        }
        return lines;
    };
    const std::string opened = server.Url("/www/elsewhere.html?via=open");
    EXPECT_TRUE(WaitFor([&] { return Recorded().contains(opened); })) << ReadFile(log);
    // The page's other addresses are refused, each with an ERROR line, before the http one.
    EXPECT_TRUE(
        ContainsInOrder(ReadFile(log), {"[ERROR][CWebBrowser2::OpenExternally::", "file:///etc/hostname\n",
                                        "[ERROR][CWebBrowser2::OpenExternally::", "vdtest:start-something\n",
                                        "[ERROR][CWebBrowser2::OpenExternally::", "javascript:alert(1)\n"}))
        << ReadFile(log);

    // A player's click on the target=_blank link, which covers the page's top.
    const unsigned long window = screen.FindWindow("Valdrune");
    const Point o = screen.Position(window).value_or(Point{});
    EXPECT_TRUE(Xdotool(xvfb.display(), {"mousemove", std::to_string(o.x + 387 + 230), std::to_string(o.y + 48 + 100),
                                         "click", "1"}));
    const std::string page = server.Url("/www/new-windows.html");
    EXPECT_EQ(WaitForResult("clicked"), page);
    const std::string linked = server.Url("/www/elsewhere.html?via=link");
    EXPECT_TRUE(WaitFor([&] { return Recorded().contains(linked); })) << ReadFile(log);
    EXPECT_EQ(Recorded(), (std::set<std::string>{opened, linked}));

    // Neither address was loaded by the launcher, in its page or in a window of its own.
    for (const std::string& line : server.Requests()) {
        EXPECT_EQ(line.find("elsewhere.html"), std::string::npos) << line;
    }
    EXPECT_EQ(screen.CountWindows("Valdrune"), 1);
    launcher->Signal(SIGTERM);
    EXPECT_EQ(launcher->Wait(), 0) << launcher->Stderr();
}

TEST_F(LauncherPage, ReportsDoNotGoOutWithoutThePageEnginesUserAgent) {
    ServeClient("agent.html");
    server.SetRule(kPackagePath, "stall");
    auto launcher = Start();
    ASSERT_TRUE(WaitForWindow(*launcher)) << launcher->Stderr();
    const auto agent = WaitForResult("agent");
    ASSERT_TRUE(agent && agent->starts_with("Mozilla/5.0 ")) << Seen();
    // The start's two reports, then the download's.
    ASSERT_TRUE(WaitFor([&] { return server.ReportLines().size() >= 4; })) << ReadFile(log);
    for (const std::string& line : server.ReportLines()) {
        EXPECT_NE(line.find("\"user_agent\":\"" + *agent + "\""), std::string::npos) << line;
    }
    launcher->Signal(SIGTERM);
    EXPECT_EQ(launcher->Wait(), 0) << launcher->Stderr();
}

TEST_F(LauncherPage, LoginFromThePageStartsTheGameThenTheLauncherHidesWaitsAndExits) {
    // The game stays until the test ends it.
    const std::string package = ServeClient("game-login.html", GamePackage().File("zavo/zavo.cfg", "wait=300\n"));
    auto launcher = Start();
    ASSERT_TRUE(WaitForWindow(*launcher)) << launcher->Stderr();

    SampleGameRecord game;
    EXPECT_TRUE(WaitFor([&] { return (game = ReadSampleGameRecord(gameDir + "/zavo-launch.json")).pid > 0; }))
        << ReadFile(log);
    EXPECT_EQ(ResultsOf("login").size(), 1u);  // the page logged in once the client was ready
    // The launcher's own argv, then the login data (the page's second field, as it is) and the
    // configuration's "CustomParameters".
    EXPECT_EQ(game.argv, (std::vector<std::string>{exe, "--parameters=tok en", "--plat_extra=zone3 fast"}));
    EXPECT_EQ(game.cwd, gameDir);

    // While the game runs the launcher has no window, and waits.
    EXPECT_TRUE(WaitFor([&] { return screen.FindWindow("Valdrune") == 0; }));
    EXPECT_TRUE(launcher->Running());
    ASSERT_GT(game.pid, 0);
    EXPECT_TRUE(WaitFor([&] { return !ReadFile(gameDir + "/zavo-launches.txt").empty(); }));  // written after the record
    ::kill(game.pid, SIGTERM);

    EXPECT_EQ(launcher->Wait(), 0) << launcher->Stderr();
    EXPECT_TRUE(ContainsInOrder(ReadFile(log), {"] is logic suc!\n", "[INFO][CWebCDlg::LaunchGame::", "] LaunchGame Succ\n",
                                        "] Exit Game\n", "[INFO][CWebDlg::Cancel::", "] Laucher Stop\n"}))
        << ReadFile(log);
    EXPECT_EQ(ReadFile(world.dataDir() + "/tempdownload.dat"),
              "downloadVersion=1.0.0.1\noffset=" + std::to_string(package.size()) +
                  "\ntotalSize=" + std::to_string(package.size()) + "\n");
    EXPECT_EQ(ReadFile(gameDir + "/zavo-launches.txt"), std::to_string(game.pid) + "\n");  // started once
    // The page engine kept its stores below the data folder, which the uninstall removes whole,
    // and none in the folders it would pick for a program named Valdrune.
    EXPECT_TRUE(fs::is_directory(world.dataDir() + "/webkit/data"));
    EXPECT_FALSE(fs::exists(world.dataHome() + "/Valdrune"));
    EXPECT_FALSE(fs::exists(world.home() + "/.cache/Valdrune"));
}

TEST_F(LauncherPage, LoginsFromThePageStartTheWindowsGameThroughWineOnceThenTheLauncherWaitsForItAndExits) {
    ShareWarmWinePrefix(world.dataDir() + "/wine");
    ServeClient("wine-login.html", GamePackage(WindowsSampleGameBytes()).File("zavo/zavo.cfg", "wait=300\n"),
                "zone 7");
    server.SetRule(kPackagePath, "stall-after=1000");  // not ready before the page has logged in twice
    auto launcher = Start();
    ASSERT_TRUE(WaitForWindow(*launcher)) << launcher->Stderr();
    ASSERT_TRUE(WaitFor([&] { return ResultsOf("login").size() == 2; })) << Seen();
    server.ClearRules();

    SampleGameRecord game;
    int pid = 0;
    ASSERT_TRUE(WaitFor([&] { return (pid = RunningGameWithRecord(gameDir, game)) > 0; })) << ReadFile(log);
    // As Windows would start it: its own path first, then the login data and "CustomParameters".
    EXPECT_EQ(game.argv, (std::vector<std::string>{WindowsPath(gameDir + "/zavo.exe"),
                                                   "--parameters=tok en&x", "--plat_extra=zone 7"}));
    EXPECT_EQ(game.cwd, WindowsPath(gameDir));

    EXPECT_TRUE(WaitFor([&] { return screen.FindWindow("Valdrune") == 0; }));
    EXPECT_TRUE(launcher->Running());
    // The game writes its start line just after its record; killed in between, the line would be missing.
    EXPECT_TRUE(WaitFor([&] { return !ReadFile(gameDir + "/zavo-launches.txt").empty(); }));
    ::kill(pid, SIGKILL);
    EXPECT_EQ(launcher->Wait(), 0) << launcher->Stderr();
    EXPECT_TRUE(ContainsInOrder(ReadFile(log), {"] is logic suc!\n", "] already login\n",
                                                "] LaunchGame Succ\n", "] Exit Game\n", "] Laucher Stop\n"}))
        << ReadFile(log);
    EXPECT_EQ(ReadFile(gameDir + "/zavo-launches.txt"), std::to_string(game.pid) + "\n");  // started once
}
