#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

#include "ChildProcess.h"
#include "TempHome.h"
#include "platform/Env.h"
#include "platform/ErrorCodes.h"
#include "platform/Executable.h"
#include "platform/FileSystem.h"
#include "platform/MessageBox.h"
#include "platform/NamedMutex.h"
#include "platform/ProcessList.h"
#include "platform/SystemInfo.h"
#include "platform/posix/Linux.h"

using namespace testing_support;
namespace fs = std::filesystem;

TEST(PlatformErrors, ErrnoBecomesTheWindowsNumberTheSystemReports) {
    EXPECT_EQ(platform::WinErrorFromErrno(EACCES), 5u);
    EXPECT_EQ(platform::WinErrorFromErrno(EPERM), 5u);
    EXPECT_EQ(platform::WinErrorFromErrno(EEXIST), 183u);
    EXPECT_EQ(platform::WinErrorFromErrno(ENOENT), 2u);
    EXPECT_EQ(platform::WinErrorFromErrno(ENOENT, true), 3u);
    EXPECT_EQ(platform::WinErrorFromErrno(ENOTDIR), 3u);
    EXPECT_EQ(platform::WinErrorFromErrno(ENOSPC), 112u);
    EXPECT_EQ(platform::WinErrorFromErrno(EROFS), 19u);
}

// The results both backends give are checked in PlatformContractTest; this is the Linux refusal.
TEST(PlatformFolders, CreationInAFolderWithoutWriteAccessIsAccessDenied) {
    TempDir dir;
    const std::string folder = dir.path() + "/a";
    ASSERT_EQ(platform::CreateDirectoryOneLevel(folder), 0u);
    EXPECT_EQ(platform::CreateDirectoryOneLevel(""), 3u);

    ::chmod(folder.c_str(), 0555);
    WithoutFileOverride obeyPermissions;
    EXPECT_EQ(platform::CreateDirectoryOneLevel(folder + "/c"), 5u);
    EXPECT_FALSE(platform::PathExists(folder + "/c"));
}

TEST(PlatformEnv, DataHomeComesFromXdgOrHomeAndNeverFromRelativePaths) {
    TempHome world;
    EXPECT_EQ(platform::DataHome(), world.dataHome());
    world.Set("XDG_DATA_HOME", std::nullopt);
    EXPECT_EQ(platform::DataHome(), world.home() + "/.local/share");
    world.Set("XDG_DATA_HOME", "relative/share");
    EXPECT_EQ(platform::DataHome(), world.home() + "/.local/share");
    world.Set("HOME", std::nullopt);
    EXPECT_EQ(platform::DataHome(), std::nullopt);
    EXPECT_EQ(platform::StartMenuDir(), std::nullopt);
    world.Set("XDG_DATA_HOME", "/srv/data/");
    EXPECT_EQ(platform::DataHome(), "/srv/data");
    EXPECT_EQ(platform::StartMenuDir(), "/srv/data/applications");
}

TEST(PlatformEnv, DesktopFollowsUserDirsAndFallsBackToHomeDesktop) {
    TempHome world;
    EXPECT_EQ(platform::DesktopDir(), world.home() + "/Desktop");
    WriteFile(world.configHome() + "/user-dirs.dirs",
              "# written by xdg-user-dirs-update\nXDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n"
              "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
    EXPECT_EQ(platform::DesktopDir(), world.home() + "/Schreibtisch");
    WriteFile(world.configHome() + "/user-dirs.dirs", "XDG_DESKTOP_DIR=\"/mnt/desk/\"\n");
    EXPECT_EQ(platform::DesktopDir(), "/mnt/desk");
    EXPECT_FALSE(platform::PathExists("/mnt/desk"));  // looked up, never created
}

// Holding and letting go is checked for both backends in PlatformContractTest.
TEST(PlatformMutex, TheLockFileLivesInTheRuntimeFolderElseInTmpPerUser) {
    TempHome world;
    EXPECT_EQ(platform::LockFilePath("Valdrune"), world.runtimeDir() + "/Valdrune.lock");
    {
        auto first = platform::NamedMutex::Create("Valdrune");
        EXPECT_EQ(first.state(), platform::NamedMutex::State::Created);
        EXPECT_TRUE(fs::exists(world.runtimeDir() + "/Valdrune.lock"));
    }

    world.Set("XDG_RUNTIME_DIR", world.root() + "/no-such-folder");
    EXPECT_EQ(platform::LockFilePath("Valdrune"), "/tmp/Valdrune-" + std::to_string(::getuid()) + ".lock");
}

TEST(PlatformProcesses, NamesComeFromCommFilesOfNumericEntries) {
    TempDir proc;
    for (const auto& [pid, comm] : {std::pair{"1", "init\n"}, {"42", "zavo.exe\n"}, {"77", "ZAVO.EXE\n"}}) {
        MakeDirs(proc.path() + "/" + pid);
        WriteFile(proc.path() + "/" + pid + "/comm", comm);
    }
    MakeDirs(proc.path() + "/self");
    WriteFile(proc.path() + "/self/comm", "not-a-process\n");
    MakeDirs(proc.path() + "/99");  // ended while listed: no comm file

    auto names = platform::RunningProcessNames(proc.path());
    ASSERT_TRUE(names);
    std::sort(names->begin(), names->end());
    EXPECT_EQ(*names, (std::vector<std::string>{"ZAVO.EXE", "init", "zavo.exe"}));
    EXPECT_EQ(platform::RunningProcessNames(proc.path() + "/absent"), std::nullopt);

    auto real = platform::RunningProcessNames();
    ASSERT_TRUE(real);
    EXPECT_FALSE(real->empty());
}

TEST(PlatformExecutable, NamesOfTheRunningProgram) {
    EXPECT_EQ(platform::BaseNameWithoutExtension("/opt/x/Valdrune"), "Valdrune");
    EXPECT_EQ(platform::BaseNameWithoutExtension("/opt/x.y/launcher.bin"), "launcher");
    EXPECT_EQ(platform::BaseNameWithoutExtension("/opt/x/.hidden"), ".hidden");
    EXPECT_EQ(platform::FolderOf("/opt/my games/启动器/valdrune"), "/opt/my games/启动器");
    EXPECT_EQ(platform::FolderOf("/valdrune"), "/");
    EXPECT_EQ(platform::ApplicationName(), "platform_unit_tests");
    EXPECT_EQ(platform::FolderOf(platform::ExecutablePath()), fs::canonical("/proc/self/exe").parent_path().string());
}

TEST(PlatformMessageBox, FrameworkBoxesGetTheApplicationCaptionAndADefaultIcon) {
    platform::ScriptedPresenter boxes;
    platform::SetMessagePresenter(&boxes);
    boxes.QueueAnswer(platform::kIdYes);
    EXPECT_EQ(platform::AfxMessageBox("确定要卸载吗?", platform::kMbYesNo), platform::kIdYes);
    EXPECT_EQ(platform::AfxMessageBox("again?", platform::kMbYesNo), platform::kIdNo);  // queue empty
    EXPECT_EQ(platform::AfxMessageBox("登录验证未通过"), platform::kIdOk);
    EXPECT_EQ(platform::MessageBox("游戏已启动", "Valdrune", platform::kMbIconInformation), platform::kIdOk);
    platform::SetMessagePresenter(nullptr);

    const auto shown = boxes.Shown();
    ASSERT_EQ(shown.size(), 4u);
    EXPECT_EQ(shown[0], (platform::MessageBoxRequest{"确定要卸载吗?", "platform_unit_tests", 0x24}));
    EXPECT_EQ(shown[2], (platform::MessageBoxRequest{"登录验证未通过", "platform_unit_tests", 0x30}));
    EXPECT_EQ(shown[3], (platform::MessageBoxRequest{"游戏已启动", "Valdrune", 0x40}));
}

TEST(PlatformSystem, ThisBuildMachineIsA64BitSystem) {
    // The CI machines are x86_64; a 64-bit build can only run on a 64-bit system.
    if (sizeof(void*) == 8) {
        EXPECT_TRUE(platform::OperatingSystemIs64Bit());
    }
}
