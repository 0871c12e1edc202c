// The launcher executable updating for real against the operator server on its origin port:
// closed in the middle of a download, started again, and started from its installed copy.

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <regex>

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

std::vector<std::string> PackageRequests(const OperatorServer& server) {
    std::vector<std::string> requests;
    for (const auto& request : server.Requests()) {
        if (request.find(" /files/") != std::string::npos) {
            requests.push_back(request);
        }
    }
    return requests;
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
    const std::vector<std::string> packageRequests = PackageRequests(server);
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

TEST(UpdateProcess, AKilledDownloadResumesFromItsLastRecordInsteadOfStartingOver) {
    TempHome world;
    OperatorServer server(OperatorServer::OriginPort());
    std::string big(20 << 20, '\0');
    std::mt19937 random(12);
    std::generate(big.begin(), big.end(), [&] { return static_cast<char>(random()); });
    const std::string package = GamePackage().StoredFile("zavo/data/big.dat", big).Bytes();
    WriteFile(server.FilesDir() + "/zavo.zip", package);
    server.SetConfig("ClientVersion=1.0.0.1\nClientMiniUpdateVersion=1.0.0.1\nClientDownloadUrl=" + server.PackageUrl() +
                     "\nClient32DownloadUrl=" + server.PackageUrl() + "\n");
    const std::string exe = CopyLauncherTo(world.root() + "/app");
    const std::string packageFile = world.dataDir() + "/zavo.zip";
    const std::string record = world.dataDir() + "/tempdownload.dat";
    const auto recordedOffset = [&]() -> long long {
        std::smatch m;
        const std::string text = ReadFile(record);
        return std::regex_match(text, m, std::regex("downloadVersion=1\\.0\\.0\\.1\noffset=(\\d+)\ntotalSize=" +
                                                    std::to_string(package.size()) + "\n"))
                   ? std::stoll(m[1])
                   : -1;
    };

    // The server holds the body after a chosen number of bytes of the run's answer until the
    // test has killed the launcher there.
    struct Moment {
        size_t holdAfter;
        bool recorded;  // wait for the record to reach it, or kill as soon as the bytes are on disk
    };
    const size_t mib = 1 << 20;
    const std::vector<Moment> moments = {
        {8 * mib + 4096, true},  // past the 8 MiB record, the rest recorded after 2 seconds
        {8 * mib, true},         // exactly 8 MiB more: recorded at once
        {300000, false},         // killed before the record need have caught up
    };
    std::vector<std::string> expectedRanges;
    long long resumeFrom = 0;
    for (const Moment& moment : moments) {
        const size_t holdAt = static_cast<size_t>(resumeFrom) + moment.holdAfter;
        SCOPED_TRACE(holdAt);
        server.SetRule("/files/zavo.zip", "stall-after=" + std::to_string(moment.holdAfter));
        ChildProcess launcher(LauncherOptions(world, exe));
        expectedRanges.push_back("GET /files/zavo.zip range=" +
                                 (resumeFrom == 0 ? std::string("-") : "bytes=" + std::to_string(resumeFrom) + "-"));
        ASSERT_TRUE(WaitFor([&] {
            return moment.recorded ? recordedOffset() == static_cast<long long>(holdAt)
                                   : fs::exists(packageFile) && fs::file_size(packageFile) >= holdAt;
        }, 90s)) << "record: " << ReadFile(record) << launcher.Stdout() << launcher.Stderr();
        launcher.Signal(SIGKILL);
        EXPECT_EQ(launcher.Wait(), 128 + SIGKILL);
        // The record never names more than is on disk, and never less than it named before.
        const long long recorded = recordedOffset();
        EXPECT_GE(recorded, resumeFrom);
        const std::string held = ReadFile(packageFile);
        ASSERT_GE(held.size(), static_cast<size_t>(recorded));
        EXPECT_TRUE(held.compare(0, recorded, package, 0, recorded) == 0);
        resumeFrom = recorded;
    }

    server.ClearRules();
    ChildProcess launcher(LauncherOptions(world, exe));
    ASSERT_TRUE(WaitFor([&] { return Printed(launcher, "更新已完成"); }, 90s)) << launcher.Stdout() << launcher.Stderr();
    launcher.Signal(SIGTERM);
    EXPECT_EQ(launcher.Wait(), 0);
    expectedRanges.push_back("GET /files/zavo.zip range=bytes=" + std::to_string(resumeFrom) + "-");
    EXPECT_EQ(PackageRequests(server), expectedRanges);
    EXPECT_EQ(ReadFile(world.clientDir() + "/zavo/data/big.dat"), big);
}
