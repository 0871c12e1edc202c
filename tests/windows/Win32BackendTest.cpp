// What only the Windows backend does: command lines a game reads back exactly, shell links,
// the data folder at C:\, archive names in GBK, folder times and the disk of drive C, the folder
// removal by cmd.exe, and a crash that leaves a minidump.

#include <gtest/gtest.h>

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <windows.h>

// Before the platform's headers: it takes back the names (DeleteFile, MoveFile ...) that the A/W
// macros of windows.h would turn into declarations of other functions.
#include "platform/win32/Wide.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <thread>

#include "TempHome.h"
#include "LogCapture.h"
#include "core/CWebApp.h"
#include "core/CrashDumpFilter.h"
#include "core/DataPaths.h"
#include "platform/DelayedDeletion.h"
#include "platform/Env.h"
#include "platform/ErrorCodes.h"
#include "platform/Executable.h"
#include "platform/FileSystem.h"
#include "platform/MessageBox.h"
#include "platform/Process.h"
#include "platform/ShellLink.h"
#include "platform/TextEncoding.h"
#include "platform/win32/CommandLine.h"

using namespace testing_support;
namespace fs = std::filesystem;
using platform::win32::Narrow;
using platform::win32::Widen;

namespace {

// Waits for condition up to limit, checking often; true when it held.
template <typename Condition>
bool WaitFor(Condition condition, std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

std::string SystemFolder() {
    wchar_t buffer[MAX_PATH] = {};
    ::GetSystemDirectoryW(buffer, MAX_PATH);
    return Narrow(buffer);
}

}  // namespace

TEST(Win32Process, EveryArgumentReachesTheGameExactlyAsGiven) {
    const std::vector<std::string> argv = {
        "C:\\Program Files\\Valdrune\\Valdrune.exe", "--parameters=a b", "", "quote\"inside", "tail\\",
        "C:\\dir with space\\", "back\\\\slashes\\\"q", "--plat_extra=server=7&x|y", "登录 数据", "\t"};
    const std::wstring line = platform::win32::CommandLineFor(argv);
    int count = 0;
    LPWSTR* parsed = ::CommandLineToArgvW(line.c_str(), &count);
    ASSERT_NE(parsed, nullptr);
    std::vector<std::string> back;
    for (int i = 0; i < count; ++i) {
        back.push_back(Narrow(parsed[i]));
    }
    ::LocalFree(parsed);
    EXPECT_EQ(back, argv) << Narrow(line);
}

TEST(Win32Process, AnArgumentTheAnsiCodePageCannotSpellReachesTheProgramWhole) {
    // The child is this test again, started with the argument; it checks what it was given.
    constexpr const char* kChildVariable = "VALDRUNE_TEST_ARGUMENTS_CHILD";
    const std::string argument = "C:\\数据 目录\\登录.txt";
    if (const char* child = std::getenv(kChildVariable); child != nullptr && *child != '\0') {
        const auto arguments = platform::ProgramArguments(0, nullptr);
        ASSERT_FALSE(arguments.empty());
        EXPECT_EQ(arguments.back(), argument);
        return;
    }
    const std::string self = platform::ExecutablePath();
    ::_putenv_s(kChildVariable, "1");
    const auto started = platform::StartProcess(
        {.program = self,
         .argv = {self, "--gtest_filter=Win32Process.AnArgumentTheAnsiCodePageCannotSpellReachesTheProgramWhole", argument},
         .workingDir = {},
         .silent = true});
    ::_putenv_s(kChildVariable, "");
    ASSERT_TRUE(started) << started.error;
    EXPECT_EQ(platform::WaitForProcess(started.pid), 0);
}

TEST(Win32Process, AStartedProgramIsWaitedForWithItsExitCode) {
    const std::string cmd = SystemFolder() + "\\cmd.exe";
    const auto started =
        platform::StartProcess({.program = cmd, .argv = {cmd, "/c", "exit 7"}, .workingDir = {}, .silent = true});
    ASSERT_TRUE(started) << started.error;
    EXPECT_EQ(platform::WaitForProcess(started.pid), 7);
    EXPECT_EQ(platform::WaitForProcess(started.pid), -1);  // reaped once

    const auto missing = platform::StartProcess(
        {.program = "C:\\no\\such\\zavo.exe", .argv = {"zavo.exe"}, .workingDir = {}, .silent = false});
    EXPECT_FALSE(missing);
    EXPECT_EQ(missing.error, platform::kErrorPathNotFound);
}

TEST(Win32ShellLink, ALinkOpensTheLauncherCopyWithItsSwitch) {
    TempDir dir;
    const std::string link = dir.path() + "\\Valdrune-卸载.lnk";
    const std::string target = "C:\\zavo-drevoline\\Valdrune.exe";
    ASSERT_EQ(platform::SaveShellLink(link, {"Valdrune-卸载", target, "/uninstall"}), 0u);
    EXPECT_EQ(platform::SaveShellLink(dir.path() + "\\missing\\x.lnk", {"x", target, ""}), platform::kErrorPathNotFound);

    // Read back through the shell, as Explorer would.
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    IShellLinkW* shellLink = nullptr;
    IPersistFile* file = nullptr;
    ASSERT_TRUE(SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                             reinterpret_cast<void**>(&shellLink))));
    ASSERT_TRUE(SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))));
    ASSERT_TRUE(SUCCEEDED(file->Load(Widen(link).c_str(), STGM_READ)));
    wchar_t path[MAX_PATH] = {};
    wchar_t arguments[MAX_PATH] = {};
    shellLink->GetPath(path, MAX_PATH, nullptr, SLGP_RAWPATH);
    shellLink->GetArguments(arguments, MAX_PATH);
    file->Release();
    shellLink->Release();
    ::CoUninitialize();
    EXPECT_EQ(Narrow(path), target);
    EXPECT_EQ(Narrow(arguments), "/uninstall");
}

TEST(Win32Folders, TheDataFolderIsAtTheRootOfDriveC) {
    EXPECT_EQ(platform::DataHome(), "C:");
    const DataFolders folders = BuildDataPaths(platform::DataHome());
    EXPECT_EQ(folders.dataDir, "C:\\zavo-drevoline");
    EXPECT_EQ(folders.clientDir, "C:\\zavo-drevoline\\client");
    EXPECT_EQ(DataPaths::UninstallCommand(folders.dataDir), "C:\\zavo-drevoline\\Valdrune.exe /uninstall");
    // The shell's folders are looked up, never made.
    const auto desktop = platform::DesktopDir();
    const auto startMenu = platform::StartMenuDir();
    ASSERT_TRUE(desktop && startMenu);
    EXPECT_EQ(DataPaths::DesktopShortcut(*desktop), *desktop + "\\Valdrune.lnk");
    EXPECT_EQ(DataPaths::StartMenuFolder(*startMenu), *startMenu + "\\Apps\\drevoline");
}

TEST(Win32FileSystem, AGbkNamedEntryLandsUnderItsChineseNameAndDriveCTellsItsSpace) {
    // An archive packed on Chinese Windows names its entries in code page 936.
    const auto name = platform::GbkToUtf8("\xca\xfd\xbe\xdd\\\xb6\xc1\xce\xd2.txt");
    ASSERT_EQ(name, "数据\\读我.txt");
    TempDir dir;
    ASSERT_EQ(platform::CreateDirectoryOneLevel(dir.path() + "\\数据"), 0u);
    ASSERT_EQ(platform::ReplaceFileContent(dir.path() + "\\" + *name, "x"), 0u);
    EXPECT_EQ(platform::MoveFile(dir.path() + "/" + *name, dir.path() + "\\数据\\读我 2.txt"), 0u);
    const std::wstring wide = Widen(dir.path()) + L"\\\u6570\u636e\\\u8bfb\u6211 2.txt";
    EXPECT_NE(::GetFileAttributesW(wide.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(platform::IsFolder(dir.path() + "\\数据\\"));

    EXPECT_NE(platform::DeleteFile(dir.path() + "\\missing"), 0u);
    const std::string cause = platform::LastErrorText();
    EXPECT_FALSE(cause.empty());
    EXPECT_EQ(cause.find_first_of("\r\n"), std::string::npos) << cause;  // one log line

    // A day-old folder time becomes the present one.
    const std::wstring folder = Widen(dir.path());
    const auto folderTime = [&] {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        ::GetFileAttributesExW(folder.c_str(), GetFileExInfoStandard, &data);
        return static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32 | data.ftLastWriteTime.dwLowDateTime;
    };
    {
        const HANDLE handle = ::CreateFileW(folder.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        ASSERT_NE(handle, INVALID_HANDLE_VALUE);
        const std::uint64_t dayAgo = folderTime() - 24ull * 3600 * 10'000'000;
        const FILETIME old{static_cast<DWORD>(dayAgo), static_cast<DWORD>(dayAgo >> 32)};
        ASSERT_TRUE(::SetFileTime(handle, nullptr, nullptr, &old));
        ::CloseHandle(handle);
    }
    const std::uint64_t before = folderTime();
    ASSERT_EQ(platform::TouchFolder(dir.path()), 0u);
    EXPECT_GT(folderTime(), before + 23ull * 3600 * 10'000'000);

    const auto space = platform::FreeDiskSpace("C:\\");
    ASSERT_TRUE(space);
    EXPECT_GT(space->freeBytes, 0u);
    EXPECT_GE(space->blockSize, 512u);
    EXPECT_TRUE(platform::SameFileSystem("C:\\", SystemFolder()));
}

TEST(Win32Startup, AFirstStartMakesItsFoldersOnDriveCAndASecondLauncherIsRefused) {
    LogCapture log;
    platform::ScriptedPresenter boxes;
    platform::SetMessagePresenter(&boxes);
    std::optional<int> second;
    CWebApp::Seams seams;
    seams.runMainWindow = [&](CWebApp&) { second = CWebApp({"Valdrune.exe"}).Run(); };
    CWebApp app({"Valdrune.exe"}, std::move(seams));
    EXPECT_EQ(app.Run(), 0);
    platform::SetMessagePresenter(nullptr);

    EXPECT_EQ(app.m_strDataDir, "C:\\zavo-drevoline");
    EXPECT_TRUE(platform::PathExists("C:\\zavo-drevoline\\client"));
    EXPECT_EQ(g_strDumpPrefix, "C:\\zavo-drevoline\\" + platform::ApplicationName());
    EXPECT_EQ(second, 0);
    EXPECT_EQ(boxes.Shown(), (std::vector<platform::MessageBoxRequest>{{"游戏已启动", "Valdrune", 0x40}}));
    EXPECT_EQ(log.Messages("CWebApp::InitInstance"), std::vector<std::string>{"Laucher Start"});

    // The uninstall's folder walk takes it all again.
    ASSERT_EQ(platform::ReplaceFileContent("C:\\zavo-drevoline\\client\\game.dat", "x"), 0u);
    EXPECT_TRUE(CWebApp::DeleteNotNullDir("C:\\zavo-drevoline"));
    EXPECT_FALSE(platform::PathExists("C:\\zavo-drevoline"));
}

TEST(Win32FolderRemoval, TheNamedFolderGoesOnceLetGoAndProtectedOnesNever) {
    for (const std::string& protectedFolder :
         {std::string(""), std::string("C:\\"), std::string("relative\\folder"), std::string("C:\\a\\..\\b"),
          SystemFolder(), std::string("C:\\a%PATH%b"), std::string("C:\\x\" & del y")}) {
        EXPECT_TRUE(platform::IsProtectedFolder(protectedFolder)) << protectedFolder;
        EXPECT_EQ(platform::DelayedFolderDeletion::Start(protectedFolder).error(), platform::kErrorInvalidParameter);
    }

    TempDir dir;
    // Made through the backend: the name is UTF-8, which the C++ library would read as ANSI.
    const std::string folder = dir.path() + "\\zavo-drevoline 瓦";
    ASSERT_EQ(platform::CreateDirectoryTree(folder + "\\client\\zavo"), 0u);
    ASSERT_EQ(platform::ReplaceFileContent(folder + "\\client\\zavo\\zavo.exe", "x"), 0u);
    WriteFile(dir.path() + "\\beside.txt", "stays");
    ASSERT_FALSE(platform::IsProtectedFolder(folder));
    {
        auto deletion = platform::DelayedFolderDeletion::Start(folder);
        ASSERT_EQ(deletion.error(), 0u);
        EXPECT_GT(deletion.pid(), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_TRUE(platform::PathExists(folder));  // held until let go
    }
    EXPECT_TRUE(WaitFor([&] { return !platform::PathExists(folder); }, std::chrono::seconds(60)));
    EXPECT_EQ(ReadFile(dir.path() + "\\beside.txt"), "stays");
}

TEST(Win32CrashDump, ACrashLeavesAMinidumpNamedAfterTheMomentAndTheProcessEnds) {
    // The crashing child runs this test again from its start: it takes the parent's folder.
    constexpr const char* kFolderVariable = "VALDRUNE_TEST_DUMP_FOLDER";
    std::optional<TempDir> dir;
    if (std::getenv(kFolderVariable) == nullptr) {
        dir.emplace();
        ::_putenv_s(kFolderVariable, dir->path().c_str());
    }
    const std::string folder = std::getenv(kFolderVariable);
    const std::string prefix = folder + "\\Valdrune";
    EXPECT_EXIT(
        {
            InstallCrashDumpFilter(prefix);
            volatile int* nowhere = nullptr;
            *nowhere = 1;
        },
        [](int code) { return static_cast<DWORD>(code) == EXCEPTION_ACCESS_VIOLATION; }, "");

    ::_putenv_s(kFolderVariable, "");
    std::vector<fs::path> dumps;
    for (const auto& entry : fs::directory_iterator(folder)) {
        dumps.push_back(entry.path());
    }
    ASSERT_EQ(dumps.size(), 1u);
    const std::string name = dumps[0].filename().string();
    // Valdrune_YYYY_MM_DD_hh_mm_ss.dmp
    ASSERT_EQ(name.size(), std::string("Valdrune_2026_03_05_07_04_09.dmp").size()) << name;
    EXPECT_EQ(name.substr(0, 9), "Valdrune_");
    EXPECT_EQ(name.substr(name.size() - 4), ".dmp");

    const std::string dump = ReadFile(dumps[0].string());
    ASSERT_GE(dump.size(), 32u);
    EXPECT_EQ(dump.substr(0, 4), "MDMP");
    std::uint32_t streams = 0;
    std::uint32_t directory = 0;
    std::memcpy(&streams, dump.data() + 8, 4);
    std::memcpy(&directory, dump.data() + 12, 4);
    bool exception = false;
    bool marker = false;
    for (std::uint32_t i = 0; i < streams && directory + i * 12 + 12 <= dump.size(); ++i) {
        std::uint32_t type = 0;
        std::uint32_t size = 0;
        std::memcpy(&type, dump.data() + directory + i * 12, 4);
        std::memcpy(&size, dump.data() + directory + i * 12 + 4, 4);
        exception = exception || type == 6;  // ExceptionStream
        marker = marker || (type == 0x10001 && size == 0);
    }
    EXPECT_TRUE(exception);
    EXPECT_TRUE(marker);
}
