// The launcher executable started for real, several at once, in a private HOME.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>

#include "ChildProcess.h"
#include "Launcher.h"
#include "TempHome.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

bool Printed(const ChildProcess& p, const std::string& text) { return p.Stdout().find(text) != std::string::npos; }

// A long-running process whose image name is name (a copy of sleep).
std::unique_ptr<ChildProcess> StartNamedProcess(const TempHome& world, const std::string& name) {
    const std::string exe = world.root() + "/bin/" + name;
    MakeDirs(world.root() + "/bin");
    fs::copy_file("/bin/sleep", exe);
    return std::make_unique<ChildProcess>(ChildProcess::Options{{exe, "600"}, world.Environment(), {}, {}});
}

class LauncherProcess : public ::testing::Test {
protected:
    TempHome world;
    std::string exe = CopyLauncherTo(world.root() + "/app");
    std::string log = world.root() + "/app/valdrune.log";
};

}  // namespace

TEST_F(LauncherProcess, ASecondLauncherIsRefusedWhileTheFirstRunsOnAndTouchesNeitherLog) {
    WriteFile(log, "[Mon Dec 08 09:05:03 2025][INFO][CWebApp::InitInstance::1] the run a player complains about\n");
    const std::string previous = ReadFile(log);
    ChildProcess first(LauncherOptions(world, exe));
    ASSERT_TRUE(WaitFor([&] { return Printed(first, kConsoleRunningLine); })) << first.Stderr();
    EXPECT_EQ(ReadFile(log + ".1"), previous);

    ChildProcess second(LauncherOptions(world, exe));
    EXPECT_EQ(second.Wait(), 0);
    EXPECT_EQ(second.Stderr(), "Valdrune: 游戏已启动\n");  // no display: the box is one stderr line, captioned with the game title
    EXPECT_FALSE(Printed(second, kConsoleRunningLine));

    EXPECT_TRUE(first.Running());
    const std::string firstLog = ReadFile(log);
    EXPECT_NE(firstLog.find("[INFO][CWebApp::InitInstance::"), std::string::npos);
    EXPECT_NE(firstLog.find("] Laucher Start\n"), std::string::npos);

    first.Signal(SIGTERM);
    EXPECT_EQ(first.Wait(), 0);
    // The refused second start left both files alone; the first run went on writing.
    EXPECT_EQ(ReadFile(log).substr(0, firstLog.size()), firstLog);
    EXPECT_EQ(ReadFile(log + ".1"), previous);
}

TEST_F(LauncherProcess, AProcessNamedZavoExeRefusesTheStartButOtherLetterCaseDoesNot) {
    auto upper = StartNamedProcess(world, "ZAVO.EXE");
    {
        ChildProcess launcher(LauncherOptions(world, exe));
        ASSERT_TRUE(WaitFor([&] { return Printed(launcher, kConsoleRunningLine); })) << launcher.Stderr();
        launcher.Signal(SIGTERM);
        EXPECT_EQ(launcher.Wait(), 0);
    }
    auto game = StartNamedProcess(world, "zavo.exe");
    ChildProcess launcher(LauncherOptions(world, exe));
    EXPECT_EQ(launcher.Wait(), 0);
    EXPECT_EQ(launcher.Stderr(), "Valdrune: 游戏已启动\n");

    // This run logged too; the previous run's lines are kept one file further.
    const std::string text = ReadFile(log);
    EXPECT_NE(text.find("[INFO][CWebApp::InitApplication::"), std::string::npos);
    EXPECT_EQ(text.find("Laucher Start"), std::string::npos);
    EXPECT_NE(ReadFile(log + ".1").find("] Laucher Start\n"), std::string::npos);
}

// The page engine's script runtime starts a thread before main, with the close signals open.
TEST_F(LauncherProcess, ASigtermThatLandsOnALibrarysThreadStillClosesItAsTheCloseButtonDoes) {
    ChildProcess launcher(LauncherOptions(world, exe));
    ASSERT_TRUE(WaitFor([&] { return Printed(launcher, kConsoleRunningLine); })) << launcher.Stderr();
    const std::string tasks = "/proc/" + std::to_string(launcher.pid()) + "/task";
    pid_t open = 0;
    for (const auto& task : fs::directory_iterator(tasks)) {
        const std::string status = ReadFile(task.path().string() + "/status");
        const auto mask = status.find("SigBlk:");
        if (mask == std::string::npos) {
            continue;  // the thread ended after the listing
        }
        const auto blocked = std::stoull(status.substr(mask + 7), nullptr, 16);
        if ((blocked & (1ull << (SIGTERM - 1))) == 0 && task.path().filename() != std::to_string(launcher.pid())) {
            open = std::stoi(task.path().filename());
        }
    }
    if (open == 0) {
        launcher.Signal(SIGTERM);
        GTEST_SKIP() << "this build starts no thread with SIGTERM open (a sanitizer's runtime changes that)";
    }
    ::syscall(SYS_tgkill, launcher.pid(), open, SIGTERM);
    EXPECT_EQ(launcher.Wait(), 0);
    EXPECT_NE(ReadFile(log).find("] Laucher Stop\n"), std::string::npos);
}

TEST_F(LauncherProcess, AFolderWithBlanksAndNonAsciiLettersHoldsTheLogBesideTheExecutable) {
    const std::string folder = world.root() + "/my games/启动器 Ω";
    const std::string odd = CopyLauncherTo(folder, "Valdrune Launcher");
    ChildProcess launcher(LauncherOptions(world, odd));
    ASSERT_TRUE(WaitFor([&] { return Printed(launcher, kConsoleRunningLine); })) << launcher.Stderr();
    launcher.Signal(SIGINT);
    EXPECT_EQ(launcher.Wait(), 0);

    const std::string text = ReadFile(folder + "/Valdrune Launcher.log");
    EXPECT_NE(text.find("[INFO][CWebApp::InitApplication::"), std::string::npos);
    EXPECT_NE(text.find("] " + world.dataDir() + "\n"), std::string::npos);
    EXPECT_NE(text.find("] " + world.clientDir() + "\n"), std::string::npos);
}

TEST_F(LauncherProcess, AReadOnlyExecutableFolderLogsInTheStateFolderAndSaysWhereFirst) {
    ::chmod((world.root() + "/app").c_str(), 0555);
    auto options = LauncherOptions(world, exe);
    options.withoutFileOverride = true;
    ChildProcess launcher(options);
    ASSERT_TRUE(WaitFor([&] { return Printed(launcher, kConsoleRunningLine); })) << launcher.Stderr();
    launcher.Signal(SIGTERM);
    EXPECT_EQ(launcher.Wait(), 0);
    const std::string stateLog = world.home() + "/.local/state/valdrune/valdrune.log";
    const std::string stderrText = launcher.Stderr();
    EXPECT_EQ(stderrText.substr(0, stderrText.find('\n') + 1), "valdrune: the log is " + stateLog + "\n");
    EXPECT_NE(ReadFile(stateLog).find("] Laucher Start\n"), std::string::npos);
    EXPECT_FALSE(fs::exists(log));
    EXPECT_TRUE(fs::is_directory(world.clientDir()));
    EXPECT_EQ(fs::status(world.home() + "/.local/state/valdrune").permissions(), fs::perms::owner_all);
}

TEST_F(LauncherProcess, AFreshAccountWithoutLocalShareStartsInsteadOfFailingWithErrorThree) {
    fs::remove_all(world.home() + "/.local");
    auto options = LauncherOptions(world, exe);
    options.env.erase("XDG_DATA_HOME");
    ChildProcess launcher(options);
    ASSERT_TRUE(WaitFor([&] { return Printed(launcher, kConsoleRunningLine); })) << launcher.Stderr();
    launcher.Signal(SIGTERM);
    EXPECT_EQ(launcher.Wait(), 0);
    EXPECT_TRUE(fs::is_directory(world.clientDir()));
    // The data home's new levels are private to the player, as the XDG rules ask.
    for (const std::string& level : {world.home() + "/.local", world.dataHome()}) {
        EXPECT_EQ(fs::status(level).permissions() & fs::perms::all, fs::perms::owner_all) << level;
    }
}

TEST_F(LauncherProcess, FolderFailuresShowTheCodeAndEndWithMinusOne) {
    {
        auto options = LauncherOptions(world, exe);
        options.env.erase("HOME");
        options.env.erase("XDG_DATA_HOME");
        ChildProcess launcher(options);
        EXPECT_EQ(launcher.Wait(), 255);
        EXPECT_EQ(launcher.Stderr(), "valdrune: 创建数据目录失败,错误id:3\n");
    }
    ::chmod(world.dataHome().c_str(), 0555);
    auto options = LauncherOptions(world, exe);
    options.withoutFileOverride = true;
    ChildProcess launcher(options);
    EXPECT_EQ(launcher.Wait(), 255);
    EXPECT_EQ(launcher.Stderr(), "valdrune: 创建数据目录失败,错误id:5\n");
    EXPECT_FALSE(fs::exists(world.dataDir()));
    EXPECT_FALSE(Printed(launcher, kConsoleRunningLine));
}
