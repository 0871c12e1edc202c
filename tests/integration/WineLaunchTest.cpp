// The Windows sample game through the real Wine, in a private HOME whose data folder has a
// non-ASCII name: the prefix made once while a login waits, the game's view of its start, a
// prefix that Wine fails to make, and the uninstall ending the prefix's Wine server.

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
#include "TempHome.h"
#include "WineSupport.h"
#include "bridge/LoginLaunch.h"
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
        world.Set("XDG_DATA_HOME", dataHome);
        MakeDirs(gameDir);
        WriteFile(gameDir + "/zavo.exe", WindowsSampleGameBytes());
        platform::SetMessagePresenter(&boxes);
    }
    ~WineGame() override {
        platform::SetMessagePresenter(nullptr);
        platform::EndWineServer(prefix);  // with the game, should a test have left it running
    }

    LaunchSettings Settings() const {
        LaunchSettings settings;
        settings.clientDir = dataDir + "/client";
        settings.winePrefix = prefix;
        settings.launcherArgv = {dataDir + "/Valdrune"};
        settings.customParameters = [] { return std::string("zone 7"); };
        settings.firstInstall = [] { return false; };
        settings.luaPathFile = world.root() + "/luapath.txt";
        return settings;
    }

    std::size_t Launches() const {
        const std::string text = ReadFile(gameDir + "/zavo-launches.txt");
        return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    }

    TempHome world;
    std::string dataHome = world.root() + "/数据";
    std::string dataDir = dataHome + "/zavo-drevoline";
    std::string gameDir = dataDir + "/client/zavo";
    std::string prefix = dataDir + "/wine";
    LogCapture log;
    RecordingReports reports;
    platform::ScriptedPresenter boxes;
};

}  // namespace

TEST_F(WineGame, ThePrefixIsMadeOnceWhileTheLoginWaitsAndALaterRunStartsTheGameAtOnce) {
    // The player's locale is C: the game's non-ASCII path still reaches Wine.
    world.Set("LC_ALL", std::nullopt);
    world.Set("LC_CTYPE", std::nullopt);
    world.Set("LANG", "C");
    WriteFile(gameDir + "/zavo.cfg", "wait=300\n");  // the game stays until the test ends it
    RecordingLaunchTarget window;
    LoginLaunch launch(Settings(), window);
    launch.OnLoginResult("true|tok en&x");  // before the client is ready: it waits
    std::thread worker([&] { launch.SetReady(); });

    // Wine names the process before the game runs: the record says when it does.
    int pid = 0;
    SampleGameRecord game;
    if (!WaitFor([&] {
            game = ReadSampleGameRecord(gameDir + "/zavo-launch.json");
            return game.pid > 0 && (pid = RunningGamePid(gameDir)) > 0;
        }, std::chrono::minutes(3))) {
        platform::EndWineServer(prefix + ".new");  // whatever of Wine the worker waits for ends
        platform::EndWineServer(prefix);
        worker.join();
        FAIL() << "no game; the runtime said: " << ::testing::PrintToString(log.Messages("GameRuntime::Prepare"));
    }
    EXPECT_EQ(game.argv, (Strings{WindowsPath(gameDir + "/zavo.exe"), "--parameters=tok en&x", "--plat_extra=zone 7"}));
    EXPECT_EQ(game.cwd, WindowsPath(gameDir));
    EXPECT_TRUE(fs::is_directory(prefix));
    EXPECT_FALSE(fs::exists(prefix + ".new"));
    launch.OnLoginResult("true|again");  // a second login while the game runs starts nothing

    // The launcher waits for the game's process under Wine, and only for it.
    EXPECT_EQ(window.Steps(), (Strings{"status 正在准备游戏运行环境...", "status 更新已完成", "hide"}));
    ::kill(pid, SIGKILL);
    worker.join();
    EXPECT_EQ(window.Steps().back(), "cancel");
    EXPECT_EQ(Launches(), 1u);
    EXPECT_EQ(log.Messages("CWebCDlg::OnLoginResult"), (Strings{"is logic suc!", "already login"}));

    // The next run finds the prefix made: readiness comes with no wait, the login starts the game.
    fs::remove(gameDir + "/zavo.cfg");
    RecordingLaunchTarget nextWindow;
    LoginLaunch next(Settings(), nextWindow);
    next.SetReady();
    next.OnLoginResult("true|abc");
    EXPECT_EQ(nextWindow.Steps(), (Strings{"hide", "cancel"}));
    EXPECT_EQ(Launches(), 2u);
    EXPECT_EQ(log.Messages("GameRuntime::Prepare").size(), 2u);  // one making: its start and its end
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

    EXPECT_EQ(window.Steps(), (Strings{"status 正在准备游戏运行环境...", "status 更新已完成"}));  // not hidden
    EXPECT_EQ(reports.Entries(), (Strings{"event 9", "game start", "game start failed"}));
    EXPECT_EQ(log.Messages("CWebCDlg::LaunchGame").back(), "LaunchGame Faild");
    const auto entries = log.Entries();
    EXPECT_NE(std::find(entries.begin(), entries.end(),
                        LogCapture::Entry{"ERROR", "GameRuntime::Prepare", "wine prefix failed, wine exit status:3"}),
              entries.end());
    EXPECT_FALSE(fs::exists(prefix));  // what Wine left is never taken for a prefix
    EXPECT_TRUE(boxes.Shown().empty());
}

TEST_F(WineGame, TheUninstallEndsThePrefixsWineServerSoTheDataFolderGoesWhole) {
    CopyWarmWinePrefix(prefix);
    StartWineServer(prefix);
    ASSERT_FALSE(WineProcessesOf(prefix).empty());

    boxes.QueueAnswer(platform::kIdYes);
    TempDir noProcesses;  // whatever else runs on this machine, the uninstall goes ahead
    std::vector<int> wineLeft{-1};
    bool removed = false;
    CWebApp::Seams seams;
    seams.procRoot = noProcesses.path();
    seams.deleteDataFolderAfterExit = [&](const std::string& folder) {
        wineLeft = WineProcessesOf(prefix);
        removed = CWebApp::DeleteNotNullDir(folder);  // at once, not once the launcher has ended
    };
    CWebApp app({"/opt/valdrune", "/uninstall"}, std::move(seams));
    EXPECT_EQ(app.Run(), 0);

    EXPECT_TRUE(wineLeft.empty());
    EXPECT_TRUE(removed);
    EXPECT_FALSE(fs::exists(dataDir));
    EXPECT_TRUE(fs::exists(WarmWinePrefix() + "/drive_c"));  // the copy's links went, not the files
}
