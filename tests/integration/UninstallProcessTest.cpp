// The launcher executable started with "/uninstall" in a private HOME, after a real install by
// the launcher itself against the operator server on its origin port. Without a display the
// question is answered on stdin ("y" is Yes).

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "ChildProcess.h"
#include "Launcher.h"
#include "LogEntries.h"
#include "OperatorServer.h"
#include "TempHome.h"
#include "ZipBuilder.h"
#include "core/ProductConstants.h"
#include "platform/Registry.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

constexpr const char* kInfoPath = "/api/laucher_info.php";
constexpr const char* kErrorPath = "/api/laucher_error.php";
constexpr const char* kUninstallStart = "&error_msg=game%20uninstall%20start";
constexpr const char* kUninstallSuccess = "&error_msg=game%20unintall%20success";
const std::string kUninstallKey(ProductConstants::kUninstallKey);
const std::string kClassKey = "zavo-drevoline";

bool Printed(const ChildProcess& p, const std::string& text) {
    return p.Stdout().find(text) != std::string::npos;
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Every path below folder (symbolic links not followed), with the type of each.
std::set<std::string> Listing(const std::string& folder) {
    std::set<std::string> paths;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        paths.insert(entry.path().string() + (entry.is_directory() && !entry.is_symlink() ? "/" : ""));
    }
    return paths;
}

// The "WxH" a PNG file states in its header (sizes below 65536).
std::string PngSize(const std::string& path) {
    const std::string b = ReadFile(path);
    const auto at = [&](size_t i) {
        return b.size() < 24 ? 0 : static_cast<unsigned char>(b[i]) << 8 | static_cast<unsigned char>(b[i + 1]);
    };
    return std::to_string(at(18)) + "x" + std::to_string(at(22));
}

bool KeyExists(platform::RegistryHive hive, const std::string& path) {
    platform::RegistryKey key;
    return platform::RegOpenKeyEx(hive, path, key) == 0;
}

class UninstallProcess : public ::testing::Test {
protected:
    explicit UninstallProcess(std::vector<std::string> serverArgs = {})
        : server(OperatorServer::OriginPort(), std::move(serverArgs)) {}

    // A normal start that installs the game client, its shortcuts and its uninstall entry. From
    // a read-only program folder (as when installed system-wide) it logs in the state folder.
    void Install(bool readOnlyProgramFolder = false) {
        MakeDirs(world.dataHome() + "/applications/Apps");
        WriteFile(server.FilesDir() + "/zavo.zip", GamePackage().Bytes());
        server.SetConfig("EntryUrl=" + server.Url("/www/login.html") +
                         "\nClientVersion=1.0.0.1\nClientMiniUpdateVersion=1.0.0.1\nClientDownloadUrl=" +
                         server.PackageUrl() + "\nClient32DownloadUrl=" + server.PackageUrl() + "\n");
        auto options = LauncherOptions(world, exe);
        if (readOnlyProgramFolder) {
            ::chmod(fs::path(exe).parent_path().c_str(), 0555);
            options.withoutFileOverride = true;
        }
        ChildProcess launcher(options);
        ASSERT_TRUE(WaitFor([&] { return Printed(launcher, "更新已完成"); }))
            << launcher.Stdout() << launcher.Stderr();
        launcher.Signal(SIGTERM);
        ASSERT_EQ(launcher.Wait(), 0);
        ASSERT_TRUE(Installed());
        // The class key is never the launcher's own, but the uninstall removes it when present.
        platform::RegistryKey key;
        ASSERT_EQ(platform::RegCreateKeyEx(platform::RegistryHive::ClassesRoot, kClassKey, key), 0u);
    }

    bool Installed() const {
        return fs::exists(client() + "/zavo/zavo.exe") && fs::exists(menuFolder() + "/Valdrune.desktop") &&
               fs::exists(menuFolder() + "/Valdrune-卸载.desktop") && fs::exists(desktopEntry()) &&
               fs::exists(installed()) && KeyExists(platform::RegistryHive::CurrentUser, kUninstallKey);
    }

    ChildProcess::Options Uninstall(const std::string& launcher, const std::string& answer) const {
        auto options = LauncherOptions(world, launcher, {"/uninstall"});
        options.stdinText = answer;
        return options;
    }

    std::vector<std::string> ErrorReports() const { return server.ReportQueries(kErrorPath); }
    bool Reported(const char* end) const {
        return std::ranges::any_of(ErrorReports(), [&](const std::string& q) { return EndsWith(q, end); });
    }

    std::string client() const { return world.clientDir(); }
    std::string installed() const { return world.dataDir() + "/Valdrune"; }
    std::string menuFolder() const { return world.dataHome() + "/applications/Apps/drevoline"; }
    std::string desktopEntry() const { return world.home() + "/Desktop/Valdrune.desktop"; }

    OperatorServer server;
    TempHome world;
    std::string exe = CopyLauncherTo(world.root() + "/app");
    std::string log = world.root() + "/app/valdrune.log";
};

// Event 1 of every start stalls at the server, so each launcher spends its last 3 s waiting for
// it: an uninstall is then over while its process still runs.
class UninstallWithSlowExit : public UninstallProcess {
protected:
    UninstallWithSlowExit() : UninstallProcess({"--rule", kInfoPath, "stall"}) {}
};

}  // namespace

TEST_F(UninstallProcess, YesFromTheInstalledCopyTakesTheGameThenItsOwnFolderButNothingALinkLeadsTo) {
    ASSERT_NO_FATAL_FAILURE(Install());
    // The player's own things, linked into the client folder.
    const std::string mine = world.root() + "/mine";
    MakeDirs(mine + "/saves");
    WriteFile(mine + "/notes.txt", "keep");
    WriteFile(mine + "/saves/slot1", "keep");
    fs::create_symlink(mine + "/notes.txt", client() + "/notes.txt");
    fs::create_directory_symlink(mine + "/saves", client() + "/zavo/saves");

    ChildProcess uninstall(Uninstall(installed(), "y\n"));
    EXPECT_EQ(uninstall.Wait(), 0);
    EXPECT_EQ(uninstall.Stderr(), "Valdrune: 确定要卸载吗? [y/N] ");

    EXPECT_FALSE(fs::exists(client()));
    EXPECT_FALSE(fs::exists(menuFolder()));
    EXPECT_FALSE(fs::exists(desktopEntry()));
    EXPECT_FALSE(KeyExists(platform::RegistryHive::CurrentUser, kUninstallKey));
    EXPECT_FALSE(KeyExists(platform::RegistryHive::ClassesRoot, kClassKey));
    EXPECT_TRUE(Reported(kUninstallStart));
    EXPECT_TRUE(Reported(kUninstallSuccess));
    // The data folder, the running copy and its log in it, goes once the launcher has ended.
    EXPECT_TRUE(WaitFor([&] { return !fs::exists(world.dataDir()); }, 10s));

    EXPECT_EQ(ReadFile(mine + "/notes.txt"), "keep");
    EXPECT_EQ(ReadFile(mine + "/saves/slot1"), "keep");
    EXPECT_TRUE(fs::is_directory(world.dataHome() + "/applications/Apps"));
    EXPECT_TRUE(fs::is_directory(world.home() + "/Desktop"));
}

TEST_F(UninstallProcess, InstallThenUninstallLeavesTheHomeAsItWasWithValidEntriesAndIconsBetween) {
    MakeDirs(world.dataHome() + "/applications/Apps");  // the player's own, before the launcher came
    MakeDirs(world.dataHome() + "/icons/hicolor/48x48/apps");
    WriteFile(world.dataHome() + "/icons/hicolor/48x48/apps/other-game.png", "another program's icon");
    const auto before = Listing(world.home());
    ASSERT_NO_FATAL_FAILURE(Install(/*readOnlyProgramFolder=*/true));

    for (const auto& entry : {menuFolder() + "/Valdrune.desktop", menuFolder() + "/Valdrune-卸载.desktop",
                              desktopEntry(), world.dataDir() + "/Valdrune-卸载.desktop"}) {
        ChildProcess validate({{"/usr/bin/desktop-file-validate", entry}, world.Environment(), {}, {}});
        EXPECT_EQ(validate.Wait(), 0) << entry << "\n" << validate.Stdout() << validate.Stderr();
        EXPECT_NE(ReadFile(entry).find("\nIcon=io.valdrune.Launcher\n"), std::string::npos) << entry;
    }
    const std::string theme = world.dataHome() + "/icons/hicolor/";
    for (const std::string size : {"48x48", "64x64", "128x128", "256x256"}) {
        EXPECT_EQ(PngSize(theme + size + "/apps/io.valdrune.Launcher.png"), size);
    }
    EXPECT_NE(ReadFile(theme + "scalable/apps/io.valdrune.Launcher.svg").find("<svg"), std::string::npos);
    EXPECT_TRUE(fs::exists(world.home() + "/.local/state/valdrune/valdrune.log"));

    ChildProcess uninstall(Uninstall(installed(), "y\n"));
    EXPECT_EQ(uninstall.Wait(), 0);
    EXPECT_TRUE(WaitFor([&] { return !fs::exists(world.dataDir()); }, 10s));
    EXPECT_EQ(Listing(world.home()), before);
}

TEST_F(UninstallWithSlowExit, TheLogEndsWithTheSuccessLineAndTheDataFolderOutlivesTheLauncher) {
    ASSERT_NO_FATAL_FAILURE(Install());
    // Removed by hand: the uninstall logs "not found" for it and goes on.
    ASSERT_EQ(platform::RegDeleteKey(platform::RegistryHive::CurrentUser, kUninstallKey), 0u);

    ChildProcess uninstall(Uninstall(exe, "y\n"));
    ASSERT_TRUE(WaitFor([&] {
        const auto entries = LogEntries(ReadFile(log));
        return !entries.empty() && entries.back() == "[ERROR][CWebApp::UnInstall] unistall succ";
    })) << ReadFile(log);
    const bool dataFolderStayed = fs::is_directory(world.dataDir());
    ASSERT_TRUE(uninstall.Running()) << "the launcher ended before its report wait was over";
    EXPECT_TRUE(dataFolderStayed);
    EXPECT_TRUE(fs::exists(installed()));

    EXPECT_EQ(uninstall.Wait(), 0);
    EXPECT_TRUE(WaitFor([&] { return !fs::exists(world.dataDir()); }, 10s));
    EXPECT_FALSE(KeyExists(platform::RegistryHive::ClassesRoot, kClassKey));

    // Nothing was written after the success line, not even the last report, which went out.
    const auto entries = LogEntries(ReadFile(log));
    const auto begin = std::ranges::find(entries, "[INFO][CWebApp::UnInstall] Begin uninstall");
    ASSERT_NE(begin, entries.end());
    ASSERT_NE(begin, entries.begin());
    EXPECT_TRUE(EndsWith(*(begin - 1), kUninstallStart)) << *(begin - 1);  // the start's report line
    std::vector<std::string> steps;
    std::vector<std::string> removed;
    for (auto it = begin; it != entries.end(); ++it) {
        (it->rfind("[INFO][CWebApp::DeleteNotNullDir] ", 0) == 0 ? removed : steps).push_back(*it);
    }
    EXPECT_EQ(steps, (std::vector<std::string>{"[INFO][CWebApp::UnInstall] Begin uninstall",
                                               "[INFO][CWebApp::UnInstall] " + client(),
                                               "[INFO][CWebApp::UnInstall] " + menuFolder(),
                                               "[INFO][CWebApp::UnInstall] " + desktopEntry(),
                                               "[INFO][CGameRemoteConfig::RemoveRegisties] lret:2",
                                               "[INFO][CGameRemoteConfig::RemoveRegisties] lret:0",
                                               "[ERROR][CWebApp::UnInstall] unistall succ"}));
    ASSERT_FALSE(removed.empty());
    EXPECT_EQ(removed.front(), "[INFO][CWebApp::DeleteNotNullDir] " + client());
    EXPECT_NE(std::ranges::find(removed, "[INFO][CWebApp::DeleteNotNullDir] " + menuFolder()), removed.end());
    EXPECT_TRUE(Reported(kUninstallSuccess));
}

TEST_F(UninstallProcess, NoRemovesNothingAndReportsNothingButTheStart) {
    ASSERT_NO_FATAL_FAILURE(Install());
    const size_t events = server.ReportQueries(kInfoPath).size();
    const size_t messages = ErrorReports().size();

    ChildProcess uninstall(Uninstall(exe, "n\n"));
    EXPECT_EQ(uninstall.Wait(), 0);
    EXPECT_EQ(uninstall.Stderr(), "valdrune: 确定要卸载吗? [y/N] ");

    EXPECT_TRUE(Installed());
    EXPECT_TRUE(KeyExists(platform::RegistryHive::ClassesRoot, kClassKey));
    // The exit waits for reports in flight, so this run's are all in by now.
    const auto infos = server.ReportQueries(kInfoPath);
    const auto errors = ErrorReports();
    ASSERT_EQ(infos.size(), events + 1);
    EXPECT_TRUE(EndsWith(infos.back(), "&ac=create"));
    ASSERT_EQ(errors.size(), messages + 1);
    EXPECT_TRUE(EndsWith(errors.back(), "&error_msg=launcher%20start"));
    EXPECT_EQ(ReadFile(log).find("Begin uninstall"), std::string::npos);
}

TEST_F(UninstallProcess, AnotherLauncherOrARunningGameRefusesWithoutAsking) {
    ASSERT_NO_FATAL_FAILURE(Install());
    {
        ChildProcess running(LauncherOptions(world, exe));
        ASSERT_TRUE(WaitFor([&] { return Printed(running, "更新已完成"); })) << running.Stderr();
        ChildProcess uninstall(Uninstall(installed(), "y\n"));
        EXPECT_EQ(uninstall.Wait(), 0);
        EXPECT_EQ(uninstall.Stderr(), "Valdrune: 游戏正在运行,请关闭游戏后重试\n");
        running.Signal(SIGTERM);
        EXPECT_EQ(running.Wait(), 0);
    }
    const std::string game = world.root() + "/bin/zavo.exe";
    MakeDirs(world.root() + "/bin");
    fs::copy_file("/bin/sleep", game);
    ChildProcess running({{game, "600"}, world.Environment(), {}, {}});
    const std::string comm = "/proc/" + std::to_string(running.pid()) + "/comm";
    ASSERT_TRUE(WaitFor([&] { return ReadFile(comm) == "zavo.exe\n"; }));
    ChildProcess uninstall(Uninstall(installed(), "y\n"));
    EXPECT_EQ(uninstall.Wait(), 0);
    EXPECT_EQ(uninstall.Stderr(), "Valdrune: 游戏正在运行,请关闭游戏后重试\n");

    EXPECT_TRUE(Installed());
    EXPECT_TRUE(KeyExists(platform::RegistryHive::ClassesRoot, kClassKey));
    EXPECT_FALSE(Reported(kUninstallStart));
}

TEST_F(UninstallProcess, AClientFileThatCannotGoStopsBeforeMenuEntryKeysAndDataFolder) {
    ASSERT_NO_FATAL_FAILURE(Install());
    ::chmod((client() + "/zavo/data").c_str(), 0555);
    auto options = Uninstall(exe, "y\n");
    options.withoutFileOverride = true;
    ChildProcess uninstall(options);
    EXPECT_EQ(uninstall.Wait(), 0);
    EXPECT_EQ(uninstall.Stderr(), "valdrune: 确定要卸载吗? [y/N] Valdrune: 卸载失败,请关闭游戏后重试.\n");

    EXPECT_EQ(ReadFile(client() + "/zavo/data/读我.txt"), "数据文件\n");
    EXPECT_FALSE(fs::exists(client() + "/zavo/zavo.exe"));
    EXPECT_FALSE(fs::exists(client() + "/readme.txt"));
    EXPECT_TRUE(fs::exists(menuFolder() + "/Valdrune.desktop"));
    EXPECT_TRUE(fs::exists(desktopEntry()));
    EXPECT_TRUE(KeyExists(platform::RegistryHive::CurrentUser, kUninstallKey));
    EXPECT_TRUE(KeyExists(platform::RegistryHive::ClassesRoot, kClassKey));
    EXPECT_TRUE(fs::exists(installed()));
    EXPECT_TRUE(Reported(kUninstallStart));
    EXPECT_FALSE(Reported(kUninstallSuccess));
    const std::string text = ReadFile(log);
    EXPECT_NE(text.find("[ERROR][CWebApp::UnInstall::"), std::string::npos);
    EXPECT_NE(text.find("] unistall error\n"), std::string::npos);
    EXPECT_EQ(text.find("lret:"), std::string::npos);
    EXPECT_EQ(text.find("unistall succ"), std::string::npos);
}
