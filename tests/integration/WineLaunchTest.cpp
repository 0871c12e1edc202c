// The Windows sample game through the real Wine, in a private HOME whose data folder has a
// non-ASCII name: the prefix made once while a login waits, a prefix that Wine fails to make,
// and the uninstall ending the prefix's Wine server.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "ChildProcess.h"
#include "GameRecord.h"
#include "LaunchFakes.h"
#include "LogCapture.h"
#include "RecordingReports.h"
#include "WineSupport.h"
#include "core/CWebApp.h"
#include "platform/MessageBox.h"
#include "platform/Wine.h"

using namespace testing_support;
namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

namespace {

class WineGame : public ::testing::Test {
  protected:
    WineGame() {
        world.Set("XDG_DATA_HOME", world.root() + "/数据");
        MakeDirs(gameDir);
        WriteFile(gameDir + "/zavo.exe", WindowsSampleGameBytes());
        platform::SetMessagePresenter(&boxes);
    }
    ~WineGame() override {
        platform::SetMessagePresenter(nullptr);
        platform::EndWineServer(prefix);  // and the game, should a test have left it running
    }

    LaunchSettings Settings() const {
        LaunchSettings settings;
        settings.clientDir = dataDir + "/client";
        settings.winePrefix = prefix;
        settings.launcherArgv = {dataDir + "/Valdrune"};
        settings.customParameters = [] { return std::string("zone 7"); };
        settings.luaPathFile = world.root() + "/luapath.txt";
        return settings;
    }

    TempHome world;
    std::string dataDir = world.root() + "/数据/zavo-drevoline";
    std::string gameDir = dataDir + "/client/zavo";
    std::string prefix = dataDir + "/wine";
    LogCapture log;
    RecordingReports reports;
    platform::ScriptedPresenter boxes;
};

}  // namespace

TEST_F(WineGame, ThePrefixIsMadeOnceWhileTheLoginWaitsAndTheNextRunStartsTheGameAtOnce) {
    world.Set("LC_ALL", std::nullopt);  // the player's locale is C; the non-ASCII path still works
    world.Set("LC_CTYPE", std::nullopt);
    world.Set("LANG", "C");
    WriteFile(gameDir + "/zavo.cfg", "wait=300\n");  // the game stays until the test ends it
    RecordingLaunchTarget window;
    LoginLaunch launch(Settings(), window);
    launch.OnLoginResult("true|tok en&x");  // before the client is ready: it waits
    std::thread worker([&] { launch.SetReady(); });

    int pid = 0;
    SampleGameRecord game;
    const bool started =
        WaitFor([&] { return (pid = RunningGameWithRecord(gameDir, game)) > 0; }, std::chrono::minutes(3));
    if (!started) {
        platform::EndWineServer(prefix);  // whatever of Wine the worker waits for ends
        worker.join();
        FAIL() << ::testing::PrintToString(log.Messages("GameRuntime::Prepare"));
    }
    EXPECT_EQ(game.argv,
              (Strings{WindowsPath(gameDir + "/zavo.exe"), "--parameters=tok en&x", "--plat_extra=zone 7"}));
    EXPECT_EQ(game.cwd, WindowsPath(gameDir));
    launch.OnLoginResult("true|again");  // a second login while the game runs starts nothing
    EXPECT_EQ(window.Steps(), (Strings{"status 正在准备游戏运行环境...", "status 更新已完成", "hide"}));

    // The game writes its start line just after its record; killed in between, the line would be missing.
    EXPECT_TRUE(WaitFor([&] { return std::ranges::count(ReadFile(gameDir + "/zavo-launches.txt"), '\n') == 1; }));
    ::kill(pid, SIGKILL);  // the launcher waits for this process, the one Wine named zavo.exe
    worker.join();
    EXPECT_EQ(window.Steps().back(), "cancel");
    EXPECT_EQ(log.Messages("CWebCDlg::OnLoginResult"), (Strings{"is logic suc!", "already login"}));

    fs::remove(gameDir + "/zavo.cfg");
    RecordingLaunchTarget nextWindow;
    LoginLaunch next(Settings(), nextWindow);
    next.SetReady();
    next.OnLoginResult("true|abc");
    EXPECT_EQ(nextWindow.Steps(), (Strings{"hide", "cancel"}));                        // no prefix to make
    EXPECT_EQ(std::ranges::count(ReadFile(gameDir + "/zavo-launches.txt"), '\n'), 2);  // one start a run
}

TEST_F(WineGame, APrefixWineFailsToMakeIsLoggedWithItsExitStatusAndTheLaunchFails) {
    const std::string loader = world.root() + "/wine";
    WriteFile(loader, "#!/bin/sh\nmkdir -p \"$WINEPREFIX/drive_c\"\nexit 3\n");  // gives up half-way
    ::chmod(loader.c_str(), 0755);
    world.Set("VALDRUNE_WINE", loader);
    RecordingLaunchTarget window;
    LoginLaunch launch(Settings(), window);
    launch.OnLoginResult("true|abc");
    launch.SetReady();

    EXPECT_EQ(window.Steps(),
              (Strings{"status 正在准备游戏运行环境...", "status 更新已完成"}));  // not hidden
    EXPECT_EQ(reports.Entries(), (Strings{"event 9", "game start", "game start failed"}));
    const LogCapture::Entry failure{"ERROR", "GameRuntime::Prepare",
                                    "wine prefix failed, wine exit status:3"};
    EXPECT_EQ(std::ranges::count(log.Entries(), failure), 1);
    EXPECT_FALSE(fs::exists(prefix));  // what Wine left is never taken for a prefix
}

TEST_F(WineGame, TheUninstallEndsThePrefixsWineServerSoTheDataFolderGoesWhole) {
    CopyWarmWinePrefix(prefix);
    StartWineServer(prefix);
    ASSERT_FALSE(WineProcessesOf(prefix).empty());

    boxes.QueueAnswer(platform::kIdYes);
    std::vector<int> wineLeft{-1};
    CWebApp::Seams seams;
    // Whatever else runs on this machine, the uninstall goes ahead.
    seams.runningProcesses = [] { return std::vector<std::string>{}; };
    seams.deleteDataFolderAfterExit = [&](const std::string& folder) {
        wineLeft = WineProcessesOf(prefix);
        CWebApp::DeleteNotNullDir(folder);  // at once, not once the launcher has ended
    };
    CWebApp app({"/opt/valdrune", "/uninstall"}, std::move(seams));
    EXPECT_EQ(app.Run(), 0);
    EXPECT_TRUE(wineLeft.empty());
    EXPECT_FALSE(fs::exists(dataDir));
}
