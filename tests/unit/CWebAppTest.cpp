#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "ChildProcess.h"
#include "RecordingReports.h"
#include "TempHome.h"
#include "core/CWebApp.h"
#include "platform/Executable.h"
#include "platform/MessageBox.h"
#include "platform/NamedMutex.h"
#include "platform/posix/Linux.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

// Runs the application object in this process with every seam recording its call.
class StartupFixture : public ::testing::Test {
protected:
    StartupFixture() {
        platform::SetMessagePresenter(&boxes);
        MakeDirs(proc.path() + "/1");
        WriteFile(proc.path() + "/1/comm", "init\n");
    }
    ~StartupFixture() override { platform::SetMessagePresenter(nullptr); }

    void AddProcess(const std::string& pid, const std::string& name) {
        MakeDirs(proc.path() + "/" + pid);
        WriteFile(proc.path() + "/" + pid + "/comm", name + "\n");
    }

    CWebApp::Seams Seams() {
        CWebApp::Seams s;
        s.applyBrowserEmulation = [this] { steps.push_back("emulation"); };
        s.installCrashFilter = [this](const std::string& prefix) { steps.push_back("crash filter " + prefix); };
        s.restoreCrashFilter = [this] { steps.push_back("restore crash filter"); };
        s.createScriptBridge = [this] { steps.push_back("create bridge"); };
        s.destroyScriptBridge = [this] { steps.push_back("destroy bridge"); };
        s.runMainWindow = [this](CWebApp& app) {
            steps.push_back("main window");
            EXPECT_EQ(app.m_hMutex.state(), platform::NamedMutex::State::Created);
        };
        s.runningProcesses = [root = proc.path()] { return platform::RunningProcessNames(root); };
        return s;
    }

    int Run(std::vector<std::string> argv) {
        CWebApp app(std::move(argv), Seams());
        EXPECT_EQ(CWebApp::Current(), &app);
        return app.Run();
    }

    TempHome world;
    TempDir proc;
    platform::ScriptedPresenter boxes;
    RecordingReports reports;
    std::vector<std::string> steps;
    const std::string appName = platform::ApplicationName();
};

using Strings = std::vector<std::string>;

}  // namespace

TEST_F(StartupFixture, NormalRunTakesEveryStepInOrder) {
    EXPECT_EQ(Run({"/opt/valdrune"}), 0);
    EXPECT_EQ(steps, (Strings{"emulation", "crash filter " + world.dataDir() + "/" + appName, "create bridge",
                              "main window", "destroy bridge", "restore crash filter"}));
    EXPECT_EQ(reports.Entries(), (Strings{"event 1", "launcher start"}));
    EXPECT_TRUE(fs::is_directory(world.clientDir()));
    EXPECT_TRUE(boxes.Shown().empty());
    EXPECT_EQ(g_strDumpPrefix, world.dataDir() + "/" + appName);
    EXPECT_EQ(CWebApp::Current(), nullptr);
}

TEST_F(StartupFixture, RefusedDataFolderShowsTheCodeReportsItAndEndsWithMinusOne) {
    ::chmod(world.dataHome().c_str(), 0555);
    WithoutFileOverride obeyPermissions;
    EXPECT_EQ(Run({"/opt/valdrune"}), -1);
    const std::string message = "创建数据目录失败,错误id:5";
    EXPECT_EQ(boxes.Shown(), (std::vector<platform::MessageBoxRequest>{{message, appName, 0x30}}));
    EXPECT_EQ(reports.Entries(), Strings{message});
    EXPECT_EQ(steps, Strings{"emulation"});  // no crash filter, no window, no shut-down steps
    EXPECT_FALSE(fs::exists(world.dataDir()));
}

TEST_F(StartupFixture, WithoutAHomeTheFolderErrorIsPathNotFound) {
    world.Set("HOME", std::nullopt);
    world.Set("XDG_DATA_HOME", std::nullopt);
    EXPECT_EQ(Run({"/opt/valdrune"}), -1);
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].text, "创建数据目录失败,错误id:3");
}

TEST_F(StartupFixture, UninstallSwitchIsTheWholeCommandLineInAnyCase) {
    EXPECT_EQ(Run({"/opt/valdrune", "/UNINSTALL"}), 0);
    EXPECT_EQ(steps.back(), "create bridge");  // no main window, no shut-down steps
    EXPECT_EQ(reports.Entries(), (Strings{"event 1", "launcher start"}));  // start-up ran in full
    // The uninstall run lets go of the lock before it ends.
    EXPECT_EQ(platform::NamedMutex::Create("Valdrune").state(), platform::NamedMutex::State::Created);

    for (const Strings& argv : {Strings{"/opt/valdrune", "/uninstall", "x"}, Strings{"/opt/valdrune", "/uninstall "},
                                Strings{"/opt/valdrune", "uninstall"}, Strings{"/opt/valdrune"}}) {
        steps.clear();
        EXPECT_EQ(Run(argv), 0);
        EXPECT_NE(std::find(steps.begin(), steps.end(), "main window"), steps.end()) << argv.back();
    }
}

TEST_F(StartupFixture, AnotherHolderOfTheLockRefusesTheStartWithTheGameRunningBox) {
    auto other = platform::NamedMutex::Create("Valdrune");
    ASSERT_EQ(other.state(), platform::NamedMutex::State::Created);
    EXPECT_EQ(Run({"/opt/valdrune"}), 0);
    EXPECT_EQ(boxes.Shown(), (std::vector<platform::MessageBoxRequest>{{"游戏已启动", "Valdrune", 0x40}}));
    EXPECT_EQ(std::find(steps.begin(), steps.end(), "main window"), steps.end());
    EXPECT_EQ(steps.back(), "create bridge");
}

TEST_F(StartupFixture, ARunningGameIsMatchedByExactNameOnly) {
    AddProcess("500", "ZAVO.EXE");
    AddProcess("501", "zavo.exe.bak");
    {
        CWebApp app({"/opt/valdrune"}, Seams());
        EXPECT_FALSE(app.IsGameRunning());
    }
    EXPECT_EQ(Run({"/opt/valdrune"}), 0);
    EXPECT_TRUE(boxes.Shown().empty());

    AddProcess("502", "zavo.exe");
    steps.clear();
    EXPECT_EQ(Run({"/opt/valdrune"}), 0);
    EXPECT_EQ(boxes.Shown(), (std::vector<platform::MessageBoxRequest>{{"游戏已启动", "Valdrune", 0x40}}));
    EXPECT_EQ(std::find(steps.begin(), steps.end(), "main window"), steps.end());
}

TEST_F(StartupFixture, AnUnreadableProcessListCountsAsARunningGame) {
    CWebApp::Seams seams = Seams();
    seams.runningProcesses = [root = proc.path() + "/gone"] { return platform::RunningProcessNames(root); };
    CWebApp app({"/opt/valdrune"}, std::move(seams));
    EXPECT_TRUE(app.IsGameRunning());
    EXPECT_EQ(app.Run(), 0);
    EXPECT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(std::find(steps.begin(), steps.end(), "main window"), steps.end());
}
