// The login result, the launch decision and the launch sequence, with the game process and the
// main window recorded instead of real.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <thread>

#include "ChildProcess.h"
#include "LaunchFakes.h"
#include "LogCapture.h"
#include "RecordingReports.h"
#include "TempHome.h"
#include "WineSupport.h"
#include "bridge/GameCommand.h"
#include "bridge/LoginLaunch.h"
#include "platform/Executable.h"
#include "platform/MessageBox.h"

using namespace testing_support;
using namespace std::chrono_literals;
using Strings = std::vector<std::string>;

namespace {

class LoginLaunchTest : public ::testing::Test {
protected:
    LoginLaunchTest() { platform::SetMessagePresenter(&boxes); }
    ~LoginLaunchTest() override { platform::SetMessagePresenter(nullptr); }

    LaunchSettings Settings() {
        LaunchSettings settings;
        settings.clientDir = "/data/zavo-drevoline/client";
        settings.launcherArgv = {"/opt/Valdrune", "--from-shortcut"};
        settings.customParameters = [] { return std::string("server=7"); };
        settings.firstInstall = [] { return false; };
        settings.luaPathFile = dir.path() + "/luapath.txt";
        return settings;
    }

    // The game's argv after the launcher's own arguments.
    Strings GameArguments(std::size_t command = 0) const {
        const auto commands = target.Commands();
        if (commands.size() <= command) {
            return {};
        }
        const auto& argv = commands[command].argv;
        return Strings(argv.begin() + 2, argv.end());
    }

    TempDir dir;
    LogCapture log;
    RecordingReports reports;
    platform::ScriptedPresenter boxes;
    RecordingLaunchTarget target;
};

}  // namespace

TEST_F(LoginLaunchTest, AcceptedLoginTextsHandOverTheirSecondFieldVerbatim) {
    const std::pair<std::string, std::string> cases[] = {
        {"TRUE|token", "token"},      {"true|", ""},          {"True|a b|ignored", "a b"},
        {"tRuE|=x\"y'", "=x\"y'"},    {"true||x", ""},        {"true|登录|", "登录"},
    };
    for (const auto& [text, loginData] : cases) {
        RecordingLaunchTarget game;
        LoginLaunch launch(Settings(), game, game);
        launch.SetReady();
        launch.OnLoginResult(text);
        ASSERT_EQ(game.Commands().size(), 1u) << text;
        EXPECT_EQ(game.Commands()[0].argv[2], "--parameters=" + loginData) << text;
    }
    EXPECT_EQ(log.Messages("CWebCDlg::OnLoginResult"), Strings(std::size(cases), "is logic suc!"));
    EXPECT_TRUE(boxes.Shown().empty());
}

TEST_F(LoginLaunchTest, RefusedOrMalformedLoginsLeaveThePageFreeToReportAgainUntilOneIsAccepted) {
    LoginLaunch launch(Settings(), target, target);
    launch.SetReady();

    launch.OnLoginResult("false|x");
    launch.OnLoginResult("|x");
    launch.OnLoginResult("truex|x");
    // The refusal is shown, not logged.
    EXPECT_TRUE(log.Messages("CWebCDlg::OnLoginResult").empty());
    const platform::MessageBoxRequest refused{"登录验证未通过", platform::ApplicationName(), 0x30};
    EXPECT_EQ(boxes.Shown(), (std::vector<platform::MessageBoxRequest>(3, refused)));

    launch.OnLoginResult("true");
    launch.OnLoginResult("");
    EXPECT_TRUE(target.Steps().empty());

    launch.OnLoginResult("true|good");
    launch.OnLoginResult("true|second");
    launch.OnLoginResult("false|late");  // after an accepted login even a refusal is only "already login"
    EXPECT_EQ(log.Messages("CWebCDlg::OnLoginResult"),
              (Strings{"paramters is error!", "paramters is error!", "is logic suc!", "already login",
                       "already login"}));
    EXPECT_EQ(boxes.Shown().size(), 3u);
    EXPECT_EQ(GameArguments(), (Strings{"--parameters=good", "--plat_extra=server=7"}));
    EXPECT_EQ(target.Commands().size(), 1u);
}

TEST_F(LoginLaunchTest, ReadinessFirstLaunchesInsideTheLoginCallWhichReturnsAfterTheGameAndCancel) {
    LoginLaunch launch(Settings(), target, target);
    EXPECT_FALSE(launch.IsReady());
    launch.SetReady();
    EXPECT_TRUE(launch.IsReady());
    EXPECT_TRUE(target.Steps().empty());

    launch.OnLoginResult("true|abc");
    EXPECT_EQ(target.Steps(), (Strings{"start", "hide", "wait 4242", "cancel"}));
    EXPECT_EQ(target.StartThreads(), std::vector<std::thread::id>{std::this_thread::get_id()});

    const GameCommand command = target.Commands().at(0);
    EXPECT_EQ(command.program, "/data/zavo-drevoline/client/zavo/zavo.exe");
    EXPECT_EQ(command.workingDir, "/data/zavo-drevoline/client/zavo");
    EXPECT_EQ(command.argv,
              (Strings{"/opt/Valdrune", "--from-shortcut", "--parameters=abc", "--plat_extra=server=7"}));

    EXPECT_EQ(reports.Entries(), (Strings{"event 9", "game start", "game start success"}));
    EXPECT_EQ(log.Messages("CWebCDlg::SetReady"), Strings{"is ready"});
    EXPECT_EQ(log.Messages("CWebCDlg::LaunchGame"),
              (Strings{"/data/zavo-drevoline/client/zavo/zavo.exe", "/data/zavo-drevoline/client/zavo",
                       "/opt/Valdrune --from-shortcut --parameters=abc --plat_extra=server=7", "LaunchGame",
                       "LaunchGame Succ", "Exit Game"}));
    for (const auto& entry : log.Entries()) {
        EXPECT_EQ(entry.level, "INFO") << entry.message;
    }

    launch.SetReady();  // a repeated readiness never starts a second game
    EXPECT_EQ(target.Commands().size(), 1u);
}

TEST_F(LoginLaunchTest, LoginFirstLaunchesOnTheWorkerInsideSetReady) {
    LoginLaunch launch(Settings(), target, target);
    launch.OnLoginResult("true|abc");  // returns at once: nothing to start yet
    EXPECT_TRUE(target.Steps().empty());

    std::thread::id workerId;
    std::thread worker([&] {
        workerId = std::this_thread::get_id();
        launch.SetReady();
    });
    worker.join();
    EXPECT_EQ(target.StartThreads(), std::vector<std::thread::id>{workerId});
    EXPECT_EQ(target.Steps(), (Strings{"start", "hide", "wait 4242", "cancel"}));

    launch.OnLoginResult("true|again");
    EXPECT_EQ(log.Messages("CWebCDlg::OnLoginResult"), (Strings{"is logic suc!", "already login"}));
    EXPECT_EQ(target.Commands().size(), 1u);
}

TEST_F(LoginLaunchTest, AFailedStartIsReportedLeavesTheWindowAloneAndIsNeverRetried) {
    target.FailStart();
    LoginLaunch launch(Settings(), target, target);
    launch.SetReady();
    launch.OnLoginResult("true|abc");

    EXPECT_EQ(target.Steps(), Strings{"start"});  // not hidden, no cancel
    EXPECT_EQ(reports.Entries(), (Strings{"event 9", "game start", "game start failed"}));
    const Strings launchLog = log.Messages("CWebCDlg::LaunchGame");
    ASSERT_FALSE(launchLog.empty());
    EXPECT_EQ(launchLog.back(), "LaunchGame Faild");

    launch.OnLoginResult("true|abc");
    launch.SetReady();
    EXPECT_EQ(target.Steps(), Strings{"start"});
    EXPECT_EQ(log.Messages("CWebCDlg::OnLoginResult").back(), "already login");
}

TEST_F(LoginLaunchTest, OnlyAFirstInstallMaximisesTheGameWindowOnceAfterASecond) {
    {
        LaunchSettings settings = Settings();
        settings.firstInstall = [] { return true; };
        LoginLaunch launch(std::move(settings), target, target);
        launch.SetReady();
        launch.OnLoginResult("true|abc");
        EXPECT_EQ(target.Steps(), (Strings{"start", "hide", "maximize 4242", "wait 4242", "cancel"}));
        EXPECT_GE(target.MaximizeDelay(), 1000ms);
    }
    RecordingLaunchTarget later;
    LoginLaunch launch(Settings(), later, later);
    launch.SetReady();
    launch.OnLoginResult("true|abc");
    EXPECT_EQ(later.Steps(), (Strings{"start", "hide", "wait 4242", "cancel"}));
}

TEST_F(LoginLaunchTest, TheLuaPathFileAddsItsFirstLineAndAnUnreadableOneIsLeftOut) {
    const std::string luaPath = dir.path() + "/luapath.txt";
    WriteFile(luaPath, "D:\\lua\r\nsecond line\r\n");
    {
        RecordingLaunchTarget game;
        LoginLaunch launch(Settings(), game, game);
        launch.SetReady();
        launch.OnLoginResult("true|abc");
        ASSERT_EQ(game.Commands().size(), 1u);
        EXPECT_EQ(game.Commands()[0].argv.back(), "--luapath=D:\\lua\n");
    }
    // It exists but cannot be read: the game starts without a Lua path instead of not at all.
    ::chmod(luaPath.c_str(), 0);
    WithoutFileOverride obeyPermissions;
    LoginLaunch launch(Settings(), target, target);
    launch.SetReady();
    launch.OnLoginResult("true|abc");
    EXPECT_EQ(GameArguments(), (Strings{"--parameters=abc", "--plat_extra=server=7"}));
}

TEST_F(LoginLaunchTest, LoginAndReadinessAtTheSameMomentStartTheGameExactlyOnce) {
    for (int round = 0; round < 500; ++round) {
        RecordingLaunchTarget game;
        LoginLaunch launch(Settings(), game, game);
        std::atomic<int> waiting{2};
        auto together = [&] {
            --waiting;
            while (waiting.load() > 0) {
            }
        };
        std::thread worker([&] { together(), launch.SetReady(); });
        std::thread window([&] { together(), launch.OnLoginResult("true|abc"); });
        worker.join();
        window.join();
        ASSERT_EQ(game.Steps(), (Strings{"start", "hide", "wait 4242", "cancel"})) << "round " << round;
    }
}

TEST_F(LoginLaunchTest, AWindowsGameWithoutWineFailsWithTheBoxAndTheLauncherStaysOpen) {
    TempHome world;
    world.Set("VALDRUNE_WINE", dir.path() + "/no-wine");
    LaunchSettings settings = Settings();
    settings.clientDir = world.clientDir();
    settings.winePrefix = world.dataDir() + "/wine";
    MakeDirs(world.clientDir() + "/zavo");
    WriteFile(world.clientDir() + "/zavo/zavo.exe", WindowsSampleGameBytes());
    LoginLaunch launch(settings, target, target);
    launch.SetReady();
    launch.OnLoginResult("true|abc");

    EXPECT_TRUE(target.Steps().empty());  // nothing started, nothing hidden, nothing ended
    EXPECT_EQ(boxes.Shown(), (std::vector<platform::MessageBoxRequest>{{kNoWineText, "Valdrune", 0x40}}));
    EXPECT_EQ(reports.Entries(), (Strings{"event 9", "game start", "game start failed"}));
    EXPECT_EQ(log.Messages("CWebCDlg::LaunchGame").back(), "LaunchGame Faild");
    EXPECT_EQ(log.Entries().at(log.Entries().size() - 2).level, "ERROR");  // why, before the failure
}

TEST(LuaPathLine, ReadsAsTheSystemsTextModeLineReadingDoes) {
    const std::string x258(258, 'x');
    const std::string x259(259, 'x');
    EXPECT_EQ(FirstLuaPathLine("D:\\lua\r\nnext"), "D:\\lua\n");
    EXPECT_EQ(FirstLuaPathLine("/opt/lua"), "/opt/lua");
    EXPECT_EQ(FirstLuaPathLine("a\rb\n"), "a\rb\n");  // a lone CR is text
    EXPECT_EQ(FirstLuaPathLine(""), "");
    EXPECT_EQ(FirstLuaPathLine(x259 + "yz\n"), x259);
    EXPECT_EQ(FirstLuaPathLine(x258 + "\r\n"), x258 + "\n");  // the line feed is the 259th character
    EXPECT_EQ(FirstLuaPathLine(x259 + "\n"), x259);
    EXPECT_EQ(FirstLuaPathLine(x258 + "éé"), x258 + "é");  // characters, not bytes, and never cut apart
}

TEST(LuaPathLine, OnlyAReadableFileGivesALuaPath) {
    TempDir dir;
    EXPECT_EQ(ReadLuaPath(dir.path() + "/luapath.txt"), std::nullopt);
    WriteFile(dir.path() + "/empty.txt", "");
    EXPECT_EQ(ReadLuaPath(dir.path() + "/empty.txt"), "");
    MakeDirs(dir.path() + "/folder.txt");
    EXPECT_EQ(ReadLuaPath(dir.path() + "/folder.txt"), std::nullopt);
    WriteFile(dir.path() + "/long.txt", std::string(5000, 'a'));
    EXPECT_EQ(ReadLuaPath(dir.path() + "/long.txt"), std::string(259, 'a'));
}

TEST(GameCommandLine, ValuesTravelAsWholeArgumentsAndTheLogJoinsThemWithBlanks) {
    const std::string quoted = "\"C:/zavo-drevoline/Valdrune.exe\"";
    GameCommand command = BuildGameCommand("/c", {quoted}, "abc", "", std::nullopt);
    EXPECT_EQ(JoinCommandLine(command.argv), quoted + " --parameters=abc --plat_extra=");

    // Nothing is cut at the system's 2047 characters, split at blanks or quoted.
    const std::string longLogin(5000, 'L');
    command = BuildGameCommand("/c", {"/opt/Valdrune"}, longLogin, "a b \"c\"", "D:\\lua\n");
    EXPECT_EQ(command.argv, (Strings{"/opt/Valdrune", "--parameters=" + longLogin, "--plat_extra=a b \"c\"",
                                     "--luapath=D:\\lua\n"}));

    // Without an argv of its own the launcher still gives the game a program name first.
    command = BuildGameCommand("/c", {}, "abc", "", std::nullopt);
    EXPECT_EQ(command.argv, (Strings{"/c/zavo/zavo.exe", "--parameters=abc", "--plat_extra="}));
}
