// The launcher executable updating for real against the operator server on its origin port:
// closed in the middle of a download, started again, and started from its installed copy.

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>

#include "ChildProcess.h"
#include "Launcher.h"
#include "LogEntries.h"
#include "OperatorServer.h"
#include "TempHome.h"
#include "ZipBuilder.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

bool Printed(const ChildProcess& p, const std::string& text) { return p.Stdout().find(text) != std::string::npos; }

bool Logged(const std::string& logPath, const std::string& entry) {
    const auto entries = LogEntries(ReadFile(logPath));
    return std::find(entries.begin(), entries.end(), entry) != entries.end();
}

}  // namespace

TEST(UpdateProcess, AClosedDownloadResumesInTheNextRunAndTheInstalledCopyStartsUpToDate) {
    TempHome world;
    OperatorServer server(OperatorServer::OriginPort());
    const std::string big(3 << 20, 'b');
    const std::string package = GamePackage().StoredFile("zavo/data/big.dat", big).Bytes();
    WriteFile(server.FilesDir() + "/zavo.zip", package);
    server.SetConfig("EntryUrl=" + server.Url("/www/login.html") + "\nClientVersion=1.0.0.1\nClientMiniUpdateVersion=1.0.0.1\n" +
                     "ClientDownloadUrl=" + server.PackageUrl() + "\nClient32DownloadUrl=" + server.PackageUrl() + "\n");
    const size_t half = package.size() / 2;
    server.SetRule("/files/zavo.zip", "stall-after=" + std::to_string(half));

    const std::string exe = CopyLauncherTo(world.root() + "/app");
    const std::string log = world.root() + "/app/valdrune.log";
    const std::string packageFile = world.dataDir() + "/zavo.zip";
    {
        ChildProcess launcher(LauncherOptions(world, exe));
        // Half of the package is on disk and the progress shown has counted it.
        const std::string shown = "正在下载：" + std::to_string(half * 100 / package.size()) + "%";
        ASSERT_TRUE(WaitFor([&] { return Printed(launcher, shown); }))
            << launcher.Stdout() << launcher.Stderr() << " held " << ReadFile(packageFile).size() << " of " << half;
        EXPECT_TRUE(Printed(launcher, "page: " + server.Url("/www/login.html")));
        launcher.Signal(SIGTERM);  // the player closes the launcher
        EXPECT_EQ(launcher.Wait(), 0);
        EXPECT_EQ(launcher.Stderr(), "");  // no box, and nothing a sanitizer build would report
    }
    EXPECT_TRUE(Logged(log, "[INFO][CWebDlg::Close] Laucher Stop"));
    EXPECT_TRUE(Logged(log, "[INFO][CWebDlg::InitWebBrower] InitWebBrower"));
    EXPECT_EQ(ReadFile(packageFile), package.substr(0, half));
    EXPECT_EQ(ReadFile(world.dataDir() + "/tempdownload.dat"), "downloadVersion=1.0.0.1\noffset=" + std::to_string(half) +
                                                                   "\ntotalSize=" + std::to_string(package.size()) + "\n");
    server.ClearRules();

    {
        ChildProcess launcher(LauncherOptions(world, exe));
        ASSERT_TRUE(WaitFor([&] { return Printed(launcher, "更新已完成"); })) << launcher.Stdout() << launcher.Stderr();
        launcher.Signal(SIGINT);
        EXPECT_EQ(launcher.Wait(), 0);
        EXPECT_EQ(launcher.Stderr(), "");
    }
    std::vector<std::string> packageRequests;
    for (const auto& request : server.Requests()) {
        if (request.find(" /files/") != std::string::npos) {
            packageRequests.push_back(request);
        }
    }
    ASSERT_FALSE(packageRequests.empty());
    EXPECT_EQ(packageRequests.back(), "GET /files/zavo.zip range=bytes=" + std::to_string(half) + "-");
    EXPECT_TRUE(Logged(log, "[INFO][CGameRemoteConfig::OnDownLoad] Try Resuming download from break point."));
    EXPECT_EQ(ReadFile(world.clientDir() + "/zavo/data/big.dat"), big);
    EXPECT_EQ(ReadFile(world.clientDir() + "/zavo/zavo.exe"), SampleGameBytes());
    EXPECT_EQ(ReadFile(world.clientDir() + "/game_client_version.txt"), "1.0.0.1");
    EXPECT_FALSE(fs::exists(packageFile));
    EXPECT_EQ(ReadFile(world.dataDir() + "/Valdrune"), ReadFile(exe));
    EXPECT_TRUE(fs::exists(world.home() + "/Desktop/Valdrune.desktop"));

    // Started from its installed copy, the launcher cannot copy itself onto itself: no shortcut
    // is remade, and the client is still up to date and ready.
    fs::remove(world.home() + "/Desktop/Valdrune.desktop");
    const std::string installed = world.dataDir() + "/Valdrune";
    {
        ChildProcess launcher(LauncherOptions(world, installed));
        ASSERT_TRUE(WaitFor([&] { return Printed(launcher, "更新已完成"); })) << launcher.Stdout() << launcher.Stderr();
        launcher.Signal(SIGTERM);
        EXPECT_EQ(launcher.Wait(), 0);
        EXPECT_EQ(launcher.Stderr(), "");
    }
    const std::string copyLog = world.dataDir() + "/Valdrune.log";
    EXPECT_TRUE(Logged(copyLog, "[INFO][CGameRemoteConfig::InitRemoteConfig] work_path:" + installed));
    EXPECT_TRUE(Logged(copyLog, "[INFO][CGameRemoteConfig::InitRemoteConfig] update finish!"));
    EXPECT_FALSE(Logged(copyLog, "[INFO][CGameRemoteConfig::InitRemoteConfig] 创建桌面快捷方式..."));
    EXPECT_FALSE(fs::exists(world.home() + "/Desktop/Valdrune.desktop"));
    EXPECT_EQ(ReadFile(installed), ReadFile(exe));
}
