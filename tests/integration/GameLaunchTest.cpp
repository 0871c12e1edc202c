// The login and the launch with the real sample game in a private HOME: what the game is given,
// what the launcher does around it, and that it starts exactly once.

#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <thread>

#include "LogCapture.h"
#include "GameRecord.h"
#include "RecordingReports.h"
#include "TempHome.h"
#include "bridge/LoginLaunch.h"
#include "core/Logger.h"

using namespace testing_support;
namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

namespace {

std::size_t LineCount(const std::string& path) {
    const std::string text = ReadFile(path);
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// The main window as the launch needs it. Cancel does what CWebDlg::Cancel does: logs, writes
// the resume record through the function the update pipeline provides, ends the run.
class ClosingWindow final : public LaunchWindow {
public:
    explicit ClosingWindow(std::function<void()> writeResumeRecord) : m_writeResumeRecord(std::move(writeResumeRecord)) {}

    void HideMainWindow() override { ++hidden; }
    void ShowStatus(const std::string&) override {}
    void Cancel() override {
        LOG_INFO("CWebDlg::Cancel", "Laucher Stop");
        m_writeResumeRecord();
        ++cancelled;
    }

    std::atomic<int> hidden{0};
    std::atomic<int> cancelled{0};

private:
    std::function<void()> m_writeResumeRecord;
};

class GameLaunchTest : public ::testing::Test {
protected:
    GameLaunchTest() {
        MakeDirs(gameDir);
        fs::copy_file(VALDRUNE_SAMPLE_GAME, gameDir + "/zavo.exe");
    }

    LaunchSettings Settings() const {
        LaunchSettings settings;
        settings.clientDir = world.clientDir();
        settings.launcherArgv = {world.dataDir() + "/Valdrune", "--from shortcut"};
        settings.customParameters = [] { return std::string("zone=3 mode=\"fast\""); };
        settings.firstInstall = [] { return false; };
        settings.luaPathFile = world.root() + "/luapath.txt";
        return settings;
    }

    TempHome world;
    std::string gameDir = world.clientDir() + "/zavo";
    std::string resumeRecord = world.dataDir() + "/tempdownload.dat";
    LogCapture log;
    RecordingReports reports;
};

}  // namespace

TEST_F(GameLaunchTest, TheGameGetsTheBuiltArgvAndFolderAndTheLauncherClosesOnlyAfterItEnded) {
    WriteFile(world.root() + "/luapath.txt", "D:\\lua\r\nignored\r\n");
    WriteFile(gameDir + "/zavo.cfg", "wait=1\n");  // the game stays a second
    int gamePidAtCancel = 0;
    bool gameGoneAtCancel = false;
    ClosingWindow window([&] {
        gamePidAtCancel = ReadSampleGameRecord(gameDir + "/zavo-launch.json").pid;
        gameGoneAtCancel = ::kill(gamePidAtCancel, 0) != 0 && errno == ESRCH;
        WriteFile(resumeRecord, "record");
    });
    LoginLaunch launch(Settings(), window);
    launch.SetReady();
    const auto start = std::chrono::steady_clock::now();
    launch.OnLoginResult("true|tok en");  // readiness came first: the game runs inside this call

    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    const SampleGameRecord game = ReadSampleGameRecord(gameDir + "/zavo-launch.json");
    const Strings argv{world.dataDir() + "/Valdrune", "--from shortcut", "--parameters=tok en",
                       "--plat_extra=zone=3 mode=\"fast\"", "--luapath=D:\\lua\n"};
    EXPECT_EQ(game.argv, argv);
    EXPECT_EQ(game.cwd, gameDir);
    EXPECT_EQ(LineCount(gameDir + "/zavo-launches.txt"), 1u);

    EXPECT_EQ(window.hidden, 1);
    EXPECT_EQ(window.cancelled, 1);
    EXPECT_EQ(gamePidAtCancel, game.pid);
    EXPECT_TRUE(gameGoneAtCancel);
    EXPECT_EQ(ReadFile(resumeRecord), "record");

    EXPECT_EQ(reports.Entries(), (Strings{"event 9", "game start", "game start success"}));
    const std::string commandLine = world.dataDir() +
                                    "/Valdrune --from shortcut --parameters=tok en --plat_extra=zone=3 "
                                    "mode=\"fast\" --luapath=D:\\lua\n";
    EXPECT_EQ(log.Messages("CWebCDlg::LaunchGame"),
              (Strings{gameDir + "/zavo.exe", gameDir, commandLine, "LaunchGame", "LaunchGame Succ", "Exit Game"}));
    EXPECT_EQ(log.Messages("CWebDlg::Cancel"), Strings{"Laucher Stop"});
}

TEST_F(GameLaunchTest, AMissingGameIsReportedOnceAndLeavesTheWindowAsItWas) {
    fs::remove(gameDir + "/zavo.exe");
    ClosingWindow window([&] { WriteFile(resumeRecord, "record"); });
    LoginLaunch launch(Settings(), window);
    launch.OnLoginResult("true|abc");
    launch.SetReady();  // the worker completes the pair

    EXPECT_EQ(reports.Entries(), (Strings{"event 9", "game start", "game start failed"}));
    EXPECT_EQ(log.Messages("CWebCDlg::LaunchGame").back(), "LaunchGame Faild");
    EXPECT_EQ(window.hidden, 0);
    EXPECT_EQ(window.cancelled, 0);
    EXPECT_FALSE(fs::exists(resumeRecord));

    fs::copy_file(VALDRUNE_SAMPLE_GAME, gameDir + "/zavo.exe");  // even now nothing retries
    launch.OnLoginResult("true|abc");
    launch.SetReady();
    EXPECT_EQ(log.Messages("CWebCDlg::OnLoginResult"), (Strings{"is logic suc!", "already login"}));
    EXPECT_FALSE(fs::exists(gameDir + "/zavo-launches.txt"));
    EXPECT_EQ(reports.Entries().size(), 3u);
}

TEST_F(GameLaunchTest, ReadinessAndLoginAtTheSameMomentStartExactlyOneGameEveryRound) {
    constexpr int kRounds = 40;
    for (int round = 1; round <= kRounds; ++round) {
        ClosingWindow window([] {});
        LoginLaunch launch(Settings(), window);
        std::atomic<int> waiting{2};
        auto together = [&] {
            --waiting;
            while (waiting.load() > 0) {
            }
        };
        std::thread worker([&] { together(), launch.SetReady(); });
        std::thread page([&] { together(), launch.OnLoginResult("true|abc"); });
        worker.join();
        page.join();
        ASSERT_EQ(window.cancelled, 1) << "round " << round;
        ASSERT_EQ(LineCount(gameDir + "/zavo-launches.txt"), static_cast<std::size_t>(round)) << "round " << round;
    }
}
