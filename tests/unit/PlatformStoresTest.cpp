// The platform stand-ins the install registration writes through: the registry store, desktop
// entries for shortcuts, and the file helpers.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <thread>
#include <vector>

#include "ChildProcess.h"
#include "TempHome.h"
#include "platform/ErrorCodes.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/Registry.h"
#include "platform/ShellLink.h"
#include "platform/posix/Linux.h"

using namespace testing_support;
using namespace platform;
namespace fs = std::filesystem;

namespace {

constexpr const char* kUninstall = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\zavo";

RegistryValue Query(const std::string& path, const std::string& name, std::uint32_t* result = nullptr) {
    RegistryKey key;
    RegistryValue value;
    std::uint32_t code = RegOpenKeyEx(RegistryHive::CurrentUser, path, key);
    if (code == 0) {
        code = RegQueryValueEx(key, name, value);
    }
    if (result != nullptr) {
        *result = code;
    }
    return value;
}

unsigned Mode(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

}  // namespace

TEST(RegistryStore, KeysValuesAndWindowsResultCodes) {
    TempHome world;
    RegistryKey key;
    EXPECT_EQ(RegOpenKeyEx(RegistryHive::CurrentUser, kUninstall, key), kErrorFileNotFound);
    EXPECT_FALSE(fs::exists(world.configHome() + "/valdrune"));  // looking creates nothing

    bool created = false;
    ASSERT_EQ(RegCreateKeyEx(RegistryHive::CurrentUser, kUninstall, key, &created), 0u);
    EXPECT_TRUE(created);
    EXPECT_EQ(RegSetStringValue(key, "DisplayName", "Valdrune"), 0u);
    EXPECT_EQ(RegSetStringValue(key, "InstallPath", "/home/p \"q\"\\r\n瓦"), 0u);
    EXPECT_EQ(RegSetDwordValue(key, "EstimatedSize", 4294967295u), 0u);
    RegCloseKey(key);

    // A second create opens the same key, in any letter case; values overwrite.
    ASSERT_EQ(RegCreateKeyEx(RegistryHive::CurrentUser, "software\\MICROSOFT\\windows\\CurrentVersion\\Uninstall\\ZAVO",
                             key, &created),
              0u);
    EXPECT_FALSE(created);
    EXPECT_EQ(RegSetStringValue(key, "displayname", "Valdrune 2"), 0u);

    EXPECT_EQ(Query(kUninstall, "DisplayName"), (RegistryValue{kRegSz, "Valdrune 2", 0}));
    EXPECT_EQ(Query(kUninstall, "InstallPath").text, "/home/p \"q\"\\r\n瓦");
    EXPECT_EQ(Query(kUninstall, "EstimatedSize"), (RegistryValue{kRegDword, "", 4294967295u}));
    std::uint32_t code = 0;
    Query(kUninstall, "Missing", &code);
    EXPECT_EQ(code, kErrorFileNotFound);
    const std::string file = *RegistryHiveFile(RegistryHive::CurrentUser);
    EXPECT_EQ(file, world.configHome() + "/valdrune/registry/HKEY_CURRENT_USER.txt");
    EXPECT_NE(ReadFile(file).find("\"DisplayName\" sz \"Valdrune 2\""), std::string::npos);  // original case kept

    // The hives are separate; a key with subkeys is not deleted; deleting twice says not found.
    EXPECT_EQ(RegDeleteKey(RegistryHive::ClassesRoot, kUninstall), kErrorFileNotFound);
    EXPECT_EQ(RegDeleteKey(RegistryHive::CurrentUser, "Software\\Microsoft"), kErrorAccessDenied);
    EXPECT_EQ(RegDeleteKey(RegistryHive::CurrentUser, kUninstall), 0u);
    EXPECT_EQ(RegDeleteKey(RegistryHive::CurrentUser, kUninstall), kErrorFileNotFound);
    EXPECT_EQ(RegSetStringValue(key, "DisplayName", "x"), kErrorKeyDeleted);  // the handle outlived its key
    EXPECT_EQ(RegOpenKeyEx(RegistryHive::CurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall", key),
              0u);  // parents stay

    for (const char* bad : {"", "\\Software", "Software\\\\x", "Software\\"}) {
        EXPECT_EQ(RegCreateKeyEx(RegistryHive::CurrentUser, bad, key), kErrorInvalidParameter) << bad;
    }
}

TEST(RegistryStore, ConcurrentWritersLoseNothingAndAnUnwritableStoreSaysSo) {
    TempHome world;
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([t] {
            for (int i = 0; i < 25; ++i) {
                RegistryKey key;
                RegCreateKeyEx(RegistryHive::CurrentUser, "Software\\Test\\" + std::to_string(t), key);
                RegSetDwordValue(key, "v" + std::to_string(i), static_cast<std::uint32_t>(i));
            }
        });
    }
    for (auto& w : writers) {
        w.join();
    }
    for (int t = 0; t < 4; ++t) {
        for (int i = 0; i < 25; ++i) {
            EXPECT_EQ(Query("Software\\Test\\" + std::to_string(t), "v" + std::to_string(i)).number,
                      static_cast<std::uint32_t>(i));
        }
    }

    const std::string folder = world.configHome() + "/valdrune/registry";
    ::chmod(folder.c_str(), 0555);
    WithoutFileOverride obeyPermissions;
    RegistryKey key;
    ASSERT_EQ(RegOpenKeyEx(RegistryHive::CurrentUser, "Software\\Test\\1", key), 0u);
    EXPECT_EQ(RegSetStringValue(key, "x", "y"), kErrorAccessDenied);
    EXPECT_EQ(Query("Software\\Test\\1", "v3").number, 3u);  // the store is intact
}

TEST(ShellLinkFile, DesktopEntryWithQuotedTargetAndArguments) {
    EXPECT_EQ(DesktopEntryText({"Valdrune-卸载", "/home/p/.local/share/zavo-drevoline/Valdrune", "/uninstall"}),
              "[Desktop Entry]\n"
              "Type=Application\n"
              "Name=Valdrune-卸载\n"
              "Exec=\"/home/p/.local/share/zavo-drevoline/Valdrune\" /uninstall\n");
    // Quotes, dollars, backquotes and backslashes are escaped inside the quotes (and the
    // backslashes once more for the file's own escaping); "%" is doubled.
    EXPECT_EQ(DesktopEntryText({"Valdrune", "/x/Valdrune", "", "Valdrune"}),
              "[Desktop Entry]\nType=Application\nName=Valdrune\nExec=\"/x/Valdrune\"\nStartupWMClass=Valdrune\n");
    EXPECT_EQ(DesktopEntryText({"a\nb", "/o d/$x`\"\\100%", ""}),
              "[Desktop Entry]\nType=Application\nName=a\\nb\nExec=\"/o d/\\\\$x\\\\`\\\\\"\\\\\\\\100%%\"\n");
    // Blanks at the start of a name would be read as the blanks around "=" and dropped.
    EXPECT_EQ(DesktopEntryText({"  Valdrune ", "/x", ""}),
              "[Desktop Entry]\nType=Application\nName=\\s\\sValdrune \nExec=\"/x\"\n");

    TempDir dir;
    const std::string path = dir.path() + "/Valdrune.desktop";
    WriteFile(path, "old");
    EXPECT_EQ(SaveShellLink(path, {"Valdrune", "/x/Valdrune", ""}), 0u);
    EXPECT_EQ(ReadFile(path), DesktopEntryText({"Valdrune", "/x/Valdrune", ""}));
    EXPECT_EQ(Mode(path), 0755u);
    EXPECT_EQ(SaveShellLink(dir.path() + "/missing/V.desktop", {"V", "/x", ""}), kErrorPathNotFound);
    EXPECT_EQ(SaveShellLink("", {"V", "/x", ""}), kErrorPathNotFound);
    EXPECT_EQ(fs::directory_iterator(dir.path())->path(), path);  // no temporary file left behind
}

TEST(FileHelpers, CopyDeleteAndWholeReplacement) {
    TempDir dir;
    const std::string from = dir.path() + "/from";
    const std::string to = dir.path() + "/to";
    WriteFile(from, std::string(300000, 'x') + "tail");
    ::chmod(from.c_str(), 0750);
    WriteFile(to, "a longer old content that must vanish entirely........................................");
    EXPECT_EQ(CopyFile(from, to), 0u);
    EXPECT_EQ(ReadFile(to), ReadFile(from));
    EXPECT_EQ(Mode(to), 0750u);

    EXPECT_EQ(CopyFile(from, from), kErrorSharingViolation);  // onto itself: nothing emptied
    EXPECT_EQ(ReadFile(from).size(), 300004u);
    EXPECT_EQ(CopyFile(dir.path() + "/none", to), kErrorFileNotFound);
    EXPECT_EQ(CopyFile(from, dir.path() + "/no/such/folder"), kErrorPathNotFound);

    // A running executable cannot be overwritten, as on Windows.
    const std::string sleeper = dir.path() + "/sleeper";
    ASSERT_EQ(CopyFile("/bin/sleep", sleeper), 0u);
    ChildProcess running({{sleeper, "30"}, {}, {}, {}});
    ASSERT_TRUE(WaitFor([&] { return ReadFile("/proc/" + std::to_string(running.pid()) + "/comm") == "sleeper\n"; }));
    EXPECT_EQ(CopyFile(from, sleeper), kErrorSharingViolation);

    EXPECT_EQ(DeleteFile(to), 0u);
    EXPECT_FALSE(PathExists(to));
    EXPECT_EQ(DeleteFile(to), kErrorFileNotFound);
    EXPECT_EQ(DeleteFile(dir.path()), kErrorAccessDenied);

    EXPECT_EQ(ReplaceFileContent(to, "one\n"), 0u);
    EXPECT_EQ(ReplaceFileContent(to, "two"), 0u);
    EXPECT_EQ(ReadFile(to), "two");
    EXPECT_EQ(FileSize(to), 3);
    EXPECT_EQ(FileSize(dir.path() + "/none"), std::nullopt);
    EXPECT_EQ(CreateDirectoryTree(dir.path() + "/a/b/c"), 0u);
    EXPECT_EQ(CreateDirectoryTree(dir.path() + "/a/b/c"), 0u);
    EXPECT_EQ(CreateDirectoryTree(to + "/x"), kErrorPathNotFound);
}

TEST(OpenFile, AppendTruncateAndReportFailures) {
    TempDir dir;
    const std::string path = dir.path() + "/package";
    {
        File f(path, File::Mode::Append);
        ASSERT_TRUE(f.IsOpen());
        EXPECT_EQ(f.Write("0123456789", 10), 10u);
        EXPECT_TRUE(f.Truncate(4));
        EXPECT_EQ(f.Write("ab", 2), 2u);  // appends at the new end
        EXPECT_EQ(f.Size(), 6);
        EXPECT_FALSE(f.Truncate(-1));
        EXPECT_EQ(f.Error(), kErrorInvalidParameter);
    }
    EXPECT_EQ(ReadFile(path), "0123ab");
    {
        File f(path, File::Mode::Truncate, 0755);
        EXPECT_EQ(f.Size(), 0);
    }
    EXPECT_EQ(Mode(path), 0755u);
    File missing(dir.path() + "/no/such", File::Mode::Truncate);
    EXPECT_FALSE(missing.IsOpen());
    EXPECT_EQ(missing.Error(), kErrorPathNotFound);
    File full("/dev/full", File::Mode::Append);
    ASSERT_TRUE(full.IsOpen());
    EXPECT_EQ(full.Write("x", 1), 0u);
    EXPECT_EQ(full.Error(), kErrorDiskFull);
}
