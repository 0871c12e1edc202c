// What the launcher relies on from its platform layer, whichever system it runs on: the same
// cases run against the Linux backend and, in the Windows build, against the Win32 one.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "TempHome.h"
#include "core/DataPaths.h"
#include "platform/CrashSignals.h"
#include "platform/ErrorCodes.h"
#include "platform/Executable.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/NamedMutex.h"
#include "platform/Paths.h"
#include "platform/ProcessList.h"
#include "platform/Registry.h"
#include "platform/TextEncoding.h"

using namespace testing_support;
using namespace platform;
namespace fs = std::filesystem;

namespace {

// Every process gets a key of its own: the tests of one build run side by side.
std::string TestKey() {
    return "Software\\ValdruneTests\\" + ApplicationName() + "-" + std::to_string(signal_safe::ProcessId());
}

}  // namespace

TEST(PlatformContract, ASecondLauncherFindsTheInstanceTakenUntilTheFirstLetsGo) {
    TempHome world;
    const std::string name = "ValdruneContract-" + ApplicationName();
    {
        const auto first = NamedMutex::Create(name);
        ASSERT_EQ(first.state(), NamedMutex::State::Created);
        EXPECT_EQ(NamedMutex::Create(name).state(), NamedMutex::State::AlreadyExists);
        EXPECT_EQ(NamedMutex::Create(name + "-other").state(), NamedMutex::State::Created);
    }
    EXPECT_EQ(NamedMutex::Create(name).state(), NamedMutex::State::Created);
}

TEST(PlatformContract, AnExclusiveFileKeepsItsContentFromASecondOpenerAndThePreviousContentOneGeneration) {
    TempDir dir;
    const std::string path = dir.path() + "/launcher.log";
    WriteFile(path, "previous run\n");
    {
        File first(path, File::Mode::Exclusive);
        ASSERT_TRUE(first.IsOpen());
        EXPECT_EQ(ReadFile(path), "");  // starts empty, the earlier content kept one generation
        EXPECT_EQ(ReadFile(path + ".1"), "previous run\n");
        ASSERT_EQ(first.Write("line\n", 5), 5u);
        File second(path, File::Mode::Exclusive);
        EXPECT_FALSE(second.IsOpen());
        EXPECT_EQ(second.Error(), kErrorSharingViolation);
        EXPECT_EQ(ReadFile(path), "line\n");  // readable while held, and intact
    }
    EXPECT_EQ(ReadFile(path + ".1"), "previous run\n");  // the refused opener moved nothing
    File again(path, File::Mode::Exclusive);
    EXPECT_TRUE(again.IsOpen());
    EXPECT_EQ(ReadFile(path), "");
    EXPECT_EQ(ReadFile(path + ".1"), "line\n");
}

TEST(PlatformContract, FoldersAndFilesAnswerWithTheWindowsNumbers) {
    TempDir dir;
    const std::string folder = dir.path() + "/a";
    EXPECT_EQ(CreateDirectoryOneLevel(folder), kErrorSuccess);
    EXPECT_EQ(CreateDirectoryOneLevel(folder), kErrorAlreadyExists);
    EXPECT_EQ(CreateDirectoryOneLevel(dir.path() + "/missing/b"), kErrorPathNotFound);
    EXPECT_EQ(CreateDirectoryTree(dir.path() + "/x/y/z"), kErrorSuccess);
    EXPECT_TRUE(fs::is_directory(dir.path() + "/x/y/z"));

    const std::string file = folder + "/瓦尔 file.txt";
    EXPECT_EQ(ReplaceFileContent(file, "first"), kErrorSuccess);
    EXPECT_EQ(ReplaceFileContent(file, "second"), kErrorSuccess);
    EXPECT_EQ(ReadFileStart(file, 3), "sec");
    EXPECT_EQ(FileSize(file), 6);
    EXPECT_EQ(CopyFile(file, folder + "/copy"), kErrorSuccess);
    EXPECT_EQ(CopyFile(file, file), kErrorSharingViolation);  // never empties the source
    EXPECT_EQ(ReadFileStart(file, 100), "second");

    auto entries = ListFolder(folder);
    ASSERT_TRUE(entries);
    std::sort(entries->begin(), entries->end(), [](const auto& l, const auto& r) { return l.name < r.name; });
    EXPECT_EQ(*entries, (std::vector<FolderEntry>{{"copy", false}, {"瓦尔 file.txt", false}}));
    EXPECT_EQ(ListFolder(dir.path() + "/missing"), std::nullopt);

    EXPECT_EQ(RemoveDirectory(folder), kErrorDirNotEmpty);
    EXPECT_EQ(DeleteFile(folder + "/copy"), kErrorSuccess);
    EXPECT_EQ(DeleteFile(folder + "/copy"), kErrorFileNotFound);
    EXPECT_EQ(DeleteFile(file), kErrorSuccess);
    EXPECT_EQ(RemoveDirectory(folder), kErrorSuccess);
    EXPECT_FALSE(PathExists(folder));
}

TEST(PlatformContract, AnUpdateMovesFilesOverOldOnesAndFoldersOnlyOntoEmptyOnes) {
    TempDir dir;
    const std::string client = dir.path() + "/client";
    const std::string staged = dir.path() + "/client.unpacking";
    for (const std::string& folder : {client + "/empty", client + "/full", staged + "/empty", staged + "/full"}) {
        ASSERT_EQ(CreateDirectoryTree(folder), kErrorSuccess);
    }
    WriteFile(client + "/full/keep.dat", "old");
    WriteFile(client + "/zavo.exe", "old");
    WriteFile(staged + "/zavo.exe", "new");
    WriteFile(staged + "/empty/a.dat", "a");

    EXPECT_TRUE(IsFolder(client));
    EXPECT_FALSE(IsFolder(client + "/zavo.exe"));
    EXPECT_FALSE(IsFolder(dir.path() + "/missing"));
    EXPECT_TRUE(IsWritableFolder(client));
    EXPECT_FALSE(IsWritableFolder(client + "/zavo.exe"));
    EXPECT_FALSE(IsWritableFolder(dir.path() + "/missing"));
    EXPECT_TRUE(SameFileSystem(staged, client + "/zavo.exe"));
    EXPECT_FALSE(SameFileSystem(staged, dir.path() + "/missing"));

    EXPECT_EQ(MoveFile(staged + "/zavo.exe", client + "/zavo.exe"), kErrorSuccess);
    EXPECT_EQ(ReadFile(client + "/zavo.exe"), "new");
    EXPECT_FALSE(PathExists(staged + "/zavo.exe"));
    EXPECT_EQ(MoveFile(staged + "/empty", client + "/empty"), kErrorSuccess);
    EXPECT_EQ(ReadFile(client + "/empty/a.dat"), "a");
    EXPECT_EQ(MoveFile(staged + "/full", client + "/full"), kErrorDirNotEmpty);
    EXPECT_FALSE(LastErrorText().empty());
    EXPECT_EQ(ReadFile(client + "/full/keep.dat"), "old");
    EXPECT_TRUE(IsFolder(staged + "/full"));

    // The writability probes left nothing behind.
    auto entries = ListFolder(client);
    ASSERT_TRUE(entries);
    std::sort(entries->begin(), entries->end(), [](const auto& l, const auto& r) { return l.name < r.name; });
    EXPECT_EQ(*entries, (std::vector<FolderEntry>{{"empty", true}, {"full", true}, {"zavo.exe", false}}));
}

TEST(PlatformContract, FileTimesCountFromTheUnixEpochAndTheDiskTellsItsFreeSpaceInWholeBlocks) {
    TempDir dir;
    const std::string file = dir.path() + "/Valdrune";
    WriteFile(file, "build 1");
    const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                         std::chrono::system_clock::now().time_since_epoch()).count();
    const auto written = FileModifiedTime(file);
    ASSERT_TRUE(written);
    EXPECT_LT(std::abs(now - *written), std::chrono::nanoseconds(std::chrono::minutes(5)).count());
    // A launcher copy keeps the time of the build it came from.
    ASSERT_EQ(CopyFile(file, dir.path() + "/copy"), kErrorSuccess);
    EXPECT_EQ(FileModifiedTime(dir.path() + "/copy"), written);
    EXPECT_EQ(FileModifiedTime(dir.path()), std::nullopt);
    EXPECT_EQ(FileModifiedTime(dir.path() + "/missing"), std::nullopt);
    EXPECT_EQ(TouchFolder(dir.path()), kErrorSuccess);
    EXPECT_NE(TouchFolder(dir.path() + "/missing"), kErrorSuccess);

    const auto space = FreeDiskSpace(dir.path());
    ASSERT_TRUE(space);
    EXPECT_GT(space->freeBytes, 0u);
    EXPECT_GE(space->blockSize, 512u);
    EXPECT_EQ(space->blockSize & (space->blockSize - 1), 0u) << space->blockSize;
    EXPECT_EQ(FreeDiskSpace(dir.path() + "/missing"), std::nullopt);
}

TEST(PlatformContract, RegistryKeysKeepTextAndNumbersAndRefuseToLoseSubkeys) {
    TempHome world;  // the Linux store lives in it; Windows writes the private prefix's registry
    const std::string key = TestKey();
    RegistryKey handle;
    EXPECT_EQ(RegOpenKeyEx(RegistryHive::CurrentUser, key, handle), kErrorFileNotFound);
    bool created = false;
    ASSERT_EQ(RegCreateKeyEx(RegistryHive::CurrentUser, key + "\\Sub", handle, &created), kErrorSuccess);
    EXPECT_TRUE(created);
    RegCloseKey(handle);
    ASSERT_EQ(RegCreateKeyEx(RegistryHive::CurrentUser, key, handle, &created), kErrorSuccess);
    EXPECT_FALSE(created);
    EXPECT_EQ(RegSetStringValue(handle, "DisplayName", "瓦尔德伦 \"Valdrune\" C:\\x"), kErrorSuccess);
    EXPECT_EQ(RegSetDwordValue(handle, "Size", 4294967295u), kErrorSuccess);

    RegistryValue value;
    ASSERT_EQ(RegQueryValueEx(handle, "displayname", value), kErrorSuccess);  // names ignore letter case
    EXPECT_EQ(value, (RegistryValue{kRegSz, "瓦尔德伦 \"Valdrune\" C:\\x", 0}));
    ASSERT_EQ(RegQueryValueEx(handle, "Size", value), kErrorSuccess);
    EXPECT_EQ(value, (RegistryValue{kRegDword, "", 4294967295u}));
    EXPECT_EQ(RegDeleteValue(handle, "Size"), kErrorSuccess);
    EXPECT_EQ(RegQueryValueEx(handle, "Size", value), kErrorFileNotFound);
    RegCloseKey(handle);

    EXPECT_EQ(RegDeleteKey(RegistryHive::CurrentUser, key), kErrorAccessDenied);  // it still has Sub
    EXPECT_EQ(RegDeleteKey(RegistryHive::CurrentUser, key + "\\Sub"), kErrorSuccess);
    EXPECT_EQ(RegDeleteKey(RegistryHive::CurrentUser, key), kErrorSuccess);
    EXPECT_EQ(RegDeleteKey(RegistryHive::CurrentUser, key), kErrorFileNotFound);
}

TEST(PlatformContract, TheRunningLauncherKnowsItsNameAndSeesItselfRunning) {
    const std::string exe = ExecutablePath();
    EXPECT_EQ(ApplicationName(), BaseNameWithoutExtension(exe));
    EXPECT_TRUE(fs::exists(exe));
    EXPECT_EQ(FolderOf(exe), fs::path(exe).parent_path().string());
    const auto names = RunningProcessNames();
    ASSERT_TRUE(names);
    // Windows lists image names ("x.exe"); Linux's short names are cut at 15 characters.
    const std::string image = fs::path(exe).filename().string();
    EXPECT_TRUE(std::ranges::any_of(*names, [&](const std::string& n) {
        return n == image || (n.size() == 15 && image.compare(0, 15, n) == 0);
    }));
}

TEST(PlatformContract, DerivedPathsUseTheSystemsSeparatorAndNames) {
    const std::string s(1, kPathSeparator);
    const std::string data = DataPaths::DataDir(std::string("R:") + s + "home");
    EXPECT_EQ(data, "R:" + s + "home" + s + "zavo-drevoline");
    EXPECT_EQ(DataPaths::LauncherCopy(data), data + s + "Valdrune" + std::string(kExecutableSuffix));
    EXPECT_EQ(DataPaths::UninstallCommand(data), DataPaths::LauncherCopy(data) + " /uninstall");
    EXPECT_EQ(DataPaths::GameExecutable(DataPaths::ClientDir(data)), data + s + "client" + s + "zavo" + s + "zavo.exe");
    EXPECT_EQ(DataPaths::DesktopShortcut("D"), "D" + s + "Valdrune" + std::string(kShortcutSuffix));
    EXPECT_EQ(DataPaths::StartMenuFolder("M"), "M" + s + "Apps" + s + "drevoline");
}

TEST(PlatformText, OnlyWellFormedUtf8PassesAndGbkBecomesUtf8) {
    EXPECT_TRUE(platform::IsValidUtf8("zavo/读我.txt \xf0\x9f\x8e\xae"));
    // An overlong "/", a surrogate, a code point above U+10FFFF, a cut sequence, a stray byte.
    for (const char* bad : {"\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xe8\xaf", "a\x80"}) {
        EXPECT_FALSE(platform::IsValidUtf8(bad)) << bad;
    }
    EXPECT_EQ(platform::GbkToUtf8("zavo\\\xca\xfd\xbe\xdd\x80"), "zavo\\数据€");
    EXPECT_EQ(platform::GbkToUtf8("a\xff"), std::nullopt);
    EXPECT_EQ(platform::GbkToUtf8("a\xca"), std::nullopt);  // the second byte is missing
}
