// The "/uninstall" start in-process: a hand-made install in a private HOME, scripted answers,
// and recorders in place of the registry removal and of the data folder's delayed removal.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "ChildProcess.h"
#include "LogCapture.h"
#include "RecordingReports.h"
#include "TempHome.h"
#include "core/CWebApp.h"
#include "core/DataPaths.h"
#include "core/Logger.h"
#include "platform/Env.h"
#include "platform/Executable.h"
#include "platform/MessageBox.h"
#include "platform/NamedMutex.h"
#include "platform/posix/Linux.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

using Strings = std::vector<std::string>;
using Boxes = std::vector<platform::MessageBoxRequest>;

constexpr const char* kUnInstall = "CWebApp::UnInstall";
constexpr const char* kDeleteNotNullDir = "CWebApp::DeleteNotNullDir";

bool Gone(const std::string& path) { return !fs::exists(fs::symlink_status(path)); }

class Uninstall : public ::testing::Test {
protected:
    Uninstall() {
        MakeDirs(proc.path() + "/1");
        WriteFile(proc.path() + "/1/comm", "init\n");
    }

    // What an install leaves behind, laid out by hand.
    void Install() {
        MakeDirs(world.clientDir() + "/zavo/data");
        WriteFile(world.clientDir() + "/zavo/zavo.exe", "game");
        WriteFile(world.clientDir() + "/zavo/data/world.dat", "world");
        WriteFile(world.clientDir() + "/game_client_version.txt", "1.0.0.1");
        WriteFile(world.dataDir() + "/Valdrune", "launcher");
        MakeDirs(menuFolder);
        WriteFile(menuFolder + "/Valdrune.desktop", "entry");
        WriteFile(menuFolder + "/Valdrune-卸载.desktop", "entry");
        WriteFile(desktopEntry, "entry");
        WriteFile(world.home() + "/Desktop/other.desktop", "not ours");
    }

    bool Untouched() const {
        return ReadFile(world.clientDir() + "/zavo/zavo.exe") == "game" &&
               ReadFile(menuFolder + "/Valdrune.desktop") == "entry" && ReadFile(desktopEntry) == "entry";
    }

    CWebApp::Seams Seams() {
        CWebApp::Seams s;
        s.removeRegistries = [this] {
            steps.push_back("remove registries");
            LOG_INFO("CGameRemoteConfig::RemoveRegisties", "lret:0");
        };
        s.deleteDataFolderAfterExit = [this](const std::string& dir) {
            const bool open = Logger::GetInstance().IsOpen();
            steps.push_back((open ? "log open, delete " : "log closed, delete ") + dir);
        };
        s.runningProcesses = [root = proc.path()] { return platform::RunningProcessNames(root); };
        return s;
    }

    // One "/uninstall" start answering the question with answer; the boxes it showed.
    Boxes Run(int answer, CWebApp::Seams seams) {
        platform::ScriptedPresenter boxes;
        boxes.QueueAnswer(answer);
        platform::SetMessagePresenter(&boxes);
        {
            CWebApp app({"/opt/valdrune", "/uninstall"}, std::move(seams));
            EXPECT_EQ(app.Run(), 0);
        }
        platform::SetMessagePresenter(nullptr);
        return boxes.Shown();
    }
    Boxes Run(int answer) { return Run(answer, Seams()); }

    // The lines of the last uninstall, from its "Begin uninstall" on, without the folder removal's.
    Strings LastUninstallLog() const {
        auto entries = log.Entries();
        const auto begin = std::find_if(entries.rbegin(), entries.rend(),
                                        [](const auto& e) { return e.message == "Begin uninstall"; });
        Strings lines;
        for (auto it = begin.base() - (begin == entries.rend() ? 0 : 1); it != entries.end(); ++it) {
            if (it->function != kDeleteNotNullDir) {
                lines.push_back("[" + it->level + "][" + it->function + "] " + it->message);
            }
        }
        return lines;
    }

    TempHome world;
    TempDir proc;
    RecordingReports reports;
    LogCapture log;
    Strings steps;
    const std::string appName = platform::ApplicationName();
    const std::string menuFolder = world.dataHome() + "/applications/Apps/drevoline";
    const std::string desktopEntry = world.home() + "/Desktop/Valdrune.desktop";
    const platform::MessageBoxRequest question{"确定要卸载吗?", appName, 0x24};
    const platform::MessageBoxRequest failed{"卸载失败,请关闭游戏后重试.", "Valdrune", 0x40};
    const platform::MessageBoxRequest running{"游戏正在运行,请关闭游戏后重试", "Valdrune", 0x40};
};

}  // namespace

TEST_F(Uninstall, YesRemovesTheGameItsEntriesAndKeysThenHandsTheDataFolderOverWithTheLogClosed) {
    Install();
    EXPECT_EQ(Run(platform::kIdYes), Boxes{question});

    EXPECT_TRUE(Gone(world.clientDir()));
    EXPECT_TRUE(Gone(menuFolder));
    EXPECT_TRUE(fs::is_directory(world.dataHome() + "/applications/Apps"));
    EXPECT_TRUE(Gone(desktopEntry));
    EXPECT_EQ(ReadFile(world.home() + "/Desktop/other.desktop"), "not ours");
    EXPECT_EQ(ReadFile(world.dataDir() + "/Valdrune"), "launcher");  // goes only once the process has ended

    EXPECT_EQ(steps, (Strings{"remove registries", "log closed, delete " + world.dataDir()}));
    EXPECT_EQ(reports.Entries(),
              (Strings{"event 1", "launcher start", "game uninstall start", "game unintall success"}));
    EXPECT_EQ(LastUninstallLog(), (Strings{"[INFO][CWebApp::UnInstall] Begin uninstall",
                                           "[INFO][CWebApp::UnInstall] " + world.clientDir(),
                                           "[INFO][CWebApp::UnInstall] " + menuFolder,
                                           "[INFO][CWebApp::UnInstall] " + desktopEntry,
                                           "[INFO][CGameRemoteConfig::RemoveRegisties] lret:0",
                                           "[ERROR][CWebApp::UnInstall] unistall succ"}));
    Strings removed = log.Messages(kDeleteNotNullDir);
    ASSERT_FALSE(removed.empty());
    EXPECT_EQ(removed.front(), world.clientDir());
    std::ranges::sort(removed);
    EXPECT_EQ(removed, (Strings{menuFolder, world.clientDir(), world.clientDir() + "/zavo",
                                world.clientDir() + "/zavo/data"}));
    EXPECT_EQ(platform::NamedMutex::Create("Valdrune").state(), platform::NamedMutex::State::Created);
}

TEST_F(Uninstall, NoOrAnUnreadableProcessListLeavesEverythingInPlace) {
    Install();
    EXPECT_EQ(Run(platform::kIdNo), Boxes{question});
    // A launcher that cannot see the process list takes the game for running.
    auto unreadable = Seams();
    unreadable.runningProcesses = [root = proc.path() + "/gone"] { return platform::RunningProcessNames(root); };
    EXPECT_EQ(Run(platform::kIdYes, std::move(unreadable)), Boxes{running});
    EXPECT_EQ(log.Messages("CWebApp::IsGameRunning"), Strings{"get snapshot error"});

    EXPECT_TRUE(Untouched());
    EXPECT_TRUE(steps.empty());
    EXPECT_TRUE(log.Messages(kUnInstall).empty());
    EXPECT_EQ(reports.Entries(), (Strings{"event 1", "launcher start", "event 1", "launcher start"}));
}

TEST_F(Uninstall, AFileThatStaysInTheClientFolderStopsBeforeAnythingElse) {
    Install();
    ::chmod((world.clientDir() + "/zavo/data").c_str(), 0555);
    WithoutFileOverride obeyPermissions;
    EXPECT_EQ(Run(platform::kIdYes), (Boxes{question, failed}));

    EXPECT_EQ(ReadFile(world.clientDir() + "/zavo/data/world.dat"), "world");
    EXPECT_TRUE(Gone(world.clientDir() + "/zavo/zavo.exe"));
    EXPECT_TRUE(Gone(world.clientDir() + "/game_client_version.txt"));
    EXPECT_EQ(ReadFile(menuFolder + "/Valdrune.desktop"), "entry");
    EXPECT_EQ(ReadFile(desktopEntry), "entry");
    EXPECT_TRUE(steps.empty());  // neither keys nor data folder
    EXPECT_EQ(reports.Entries(), (Strings{"event 1", "launcher start", "game uninstall start"}));
    EXPECT_EQ(LastUninstallLog(), (Strings{"[INFO][CWebApp::UnInstall] Begin uninstall",
                                           "[INFO][CWebApp::UnInstall] " + world.clientDir(),
                                           "[ERROR][CWebApp::UnInstall] unistall error"}));
    EXPECT_TRUE(Logger::GetInstance().IsOpen());
    EXPECT_EQ(platform::NamedMutex::Create("Valdrune").state(), platform::NamedMutex::State::Created);
}

TEST_F(Uninstall, AMenuFolderThatStaysStopsTheUninstallADesktopEntryThatStaysDoesNot) {
    Install();
    MakeDirs(menuFolder + "/locked");
    WriteFile(menuFolder + "/locked/entry.desktop", "x");
    ::chmod((menuFolder + "/locked").c_str(), 0555);
    {
        WithoutFileOverride obeyPermissions;
        EXPECT_EQ(Run(platform::kIdYes), (Boxes{question, failed}));
    }
    EXPECT_TRUE(Gone(world.clientDir() + "/zavo"));
    EXPECT_TRUE(Gone(menuFolder + "/Valdrune.desktop"));
    EXPECT_EQ(ReadFile(desktopEntry), "entry");
    EXPECT_TRUE(steps.empty());
    EXPECT_EQ(LastUninstallLog().back(), "[ERROR][CWebApp::UnInstall] unistall error");

    ::chmod((menuFolder + "/locked").c_str(), 0755);
    ::chmod((world.home() + "/Desktop").c_str(), 0555);
    {
        WithoutFileOverride obeyPermissions;
        EXPECT_EQ(Run(platform::kIdYes), (Boxes{question, failed}));
    }
    EXPECT_TRUE(Gone(menuFolder));
    EXPECT_EQ(ReadFile(desktopEntry), "entry");
    EXPECT_EQ(steps, (Strings{"remove registries", "log closed, delete " + world.dataDir()}));
    EXPECT_EQ(LastUninstallLog(), (Strings{"[INFO][CWebApp::UnInstall] Begin uninstall",
                                           "[INFO][CWebApp::UnInstall] " + world.clientDir(),
                                           "[INFO][CWebApp::UnInstall] " + menuFolder,
                                           "[INFO][CWebApp::UnInstall] " + desktopEntry,
                                           "[ERROR][CWebApp::UnInstall] unistall error",
                                           "[INFO][CGameRemoteConfig::RemoveRegisties] lret:0",
                                           "[ERROR][CWebApp::UnInstall] unistall succ"}));
    EXPECT_EQ(reports.Entries().back(), "game unintall success");
}

TEST_F(Uninstall, TheDataFolderIsHandedOverOnlyWhenItIsTheLaunchersOwnAndNoHome) {
    // Nothing installed: a missing menu folder and desktop entry are passed over without a box.
    CWebApp app({"/opt/valdrune", "/uninstall"}, Seams());
    ASSERT_TRUE(app.InitApplication());
    const auto uninstallWith = [&](const std::string& dataDir) {
        platform::ScriptedPresenter boxes;
        boxes.QueueAnswer(platform::kIdYes);
        platform::SetMessagePresenter(&boxes);
        app.m_strDataDir = dataDir;
        app.UnInstall();
        app.m_hMutex.Close();
        platform::SetMessagePresenter(nullptr);
        EXPECT_EQ(boxes.Shown(), Boxes{question}) << dataDir;
    };

    MakeDirs(world.root() + "/elsewhere/zavo-drevoline");
    for (const std::string& dir : {std::string(), std::string("/"), world.home(), world.dataHome(),
                                   world.root() + "/elsewhere/zavo-drevoline", world.dataDir() + "/"}) {
        uninstallWith(dir);
    }
    EXPECT_EQ(steps, Strings(6, "remove registries"));

    // A data home that makes the launcher's own data folder the home itself.
    world.Set("XDG_DATA_HOME", world.root());
    world.Set("HOME", world.root() + "/zavo-drevoline");
    steps.clear();
    uninstallWith(DataPaths::DataDir(platform::DataHome()));
    EXPECT_EQ(steps, Strings{"remove registries"});

    world.Set("XDG_DATA_HOME", world.dataHome());
    world.Set("HOME", world.home());
    steps.clear();
    uninstallWith(world.dataDir());
    EXPECT_EQ(steps, (Strings{"remove registries", "log closed, delete " + world.dataDir()}));
    EXPECT_TRUE(fs::is_directory(world.root() + "/elsewhere/zavo-drevoline"));
}

TEST(DeleteNotNullDir, TakesHiddenFilesAndEveryLevelButLinksOnlyAsLinks) {
    TempDir dir;
    LogCapture log;
    const std::string root = dir.path() + "/client";
    const std::string outside = dir.path() + "/outside";
    MakeDirs(root + "/zavo/data/deep");
    MakeDirs(root + "/empty");
    WriteFile(root + "/.hidden", "h");
    WriteFile(root + "/blank 'q' $x *.*", "b");
    WriteFile(root + "/zavo/data/deep/file", "f");
    MakeDirs(outside + "/folder");
    WriteFile(outside + "/file", "keep");
    WriteFile(outside + "/folder/inner", "keep");
    fs::create_symlink(outside + "/file", root + "/zavo/file-link");
    fs::create_directory_symlink(outside + "/folder", root + "/zavo/folder-link");
    fs::create_symlink(root + "/none", root + "/dangling");

    EXPECT_TRUE(CWebApp::DeleteNotNullDir(root));
    EXPECT_TRUE(Gone(root));
    EXPECT_EQ(ReadFile(outside + "/file"), "keep");
    EXPECT_EQ(ReadFile(outside + "/folder/inner"), "keep");
    Strings logged = log.Messages(kDeleteNotNullDir);
    ASSERT_FALSE(logged.empty());
    EXPECT_EQ(logged.front(), root);
    std::ranges::sort(logged);
    EXPECT_EQ(logged,
              (Strings{root, root + "/empty", root + "/zavo", root + "/zavo/data", root + "/zavo/data/deep"}));

    // A link given as the folder itself goes as a link too.
    fs::create_directory_symlink(outside, dir.path() + "/client-link");
    EXPECT_TRUE(CWebApp::DeleteNotNullDir(dir.path() + "/client-link"));
    EXPECT_TRUE(Gone(dir.path() + "/client-link"));
    EXPECT_EQ(ReadFile(outside + "/folder/inner"), "keep");

    EXPECT_FALSE(CWebApp::DeleteNotNullDir(dir.path() + "/missing"));
}

TEST(DeleteNotNullDir, AFileThatStaysKeepsEveryFolderAboveItAndNothingElse) {
    TempDir dir;
    LogCapture log;
    const std::string root = dir.path() + "/client";
    MakeDirs(root + "/a/locked");
    MakeDirs(root + "/b");
    WriteFile(root + "/top", "t");
    WriteFile(root + "/a/locked/kept", "k");
    WriteFile(root + "/a/beside", "x");
    WriteFile(root + "/b/other", "o");
    ::chmod((root + "/a/locked").c_str(), 0555);
    WithoutFileOverride obeyPermissions;

    EXPECT_FALSE(CWebApp::DeleteNotNullDir(root));
    EXPECT_EQ(ReadFile(root + "/a/locked/kept"), "k");
    EXPECT_TRUE(Gone(root + "/top"));
    EXPECT_TRUE(Gone(root + "/a/beside"));
    EXPECT_TRUE(Gone(root + "/b"));
}
