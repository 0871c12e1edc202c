// The update pipeline in-process with the system's HTTP library (libcurl on Linux, WinINet under
// Wine) against tools/operator-server on 127.0.0.1, real archives and real files in a private
// HOME; the main window is a recorder. The cases marked Linux's own are switched off in the
// Windows build (tests/windows/CMakeLists.txt) with the reason there.

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include "LogEntries.h"
#include "LoopbackSites.h"
#include "OperatorServer.h"
#include "RecordingMainWindow.h"
#include "RecordingReports.h"
#include "TempHome.h"
#include "ZipBuilder.h"
#include "core/DataPaths.h"
#include "core/Logger.h"
#include "platform/Registry.h"
#include "update/CGameRemoteConfig.h"
#ifdef _WIN32
#include "update/PackageIntegrity.h"
#else
#include "ChildProcess.h"
#endif

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

constexpr const char* kPackageName = "drevoline-1.0.2.7.zip";
constexpr const char* kConfigPath = "/api/morvast/ditches/drevoline/client_config_drevoline.php";
constexpr const char* kWorker = "[INFO][CGameRemoteConfig::InitRemoteConfig] ";
constexpr const char* kDownload = "[INFO][CGameRemoteConfig::OnDownLoad] ";
constexpr const char* kUnzip = "[INFO][CGameRemoteConfig::OnUnzipFile] ";
constexpr const char* kParse = "[INFO][CGameRemoteConfig::CStringToLocalClientVersion] local_client_version:";

// How each system's HTTP library numbers the failures these tests provoke, and how its text
// in the log begins.
#ifdef _WIN32
constexpr long kConnectionRefused = 12029;  // ERROR_INTERNET_CANNOT_CONNECT
// Wine ends a request whose server stays silent past the time-out as an aborted connection
// (ERROR_INTERNET_CONNECTION_ABORTED); Windows itself names it ERROR_INTERNET_TIMEOUT (12002).
constexpr long kTimedOut = 12030;
constexpr long kTooLong = 0;                // refused on its announced length, before any read
constexpr long kNotTaken = 0;               // the sink took less than it was given
constexpr long kNotHttp = 12006;            // ERROR_INTERNET_UNRECOGNIZED_SCHEME
constexpr const char* kLibrary = "WinINet ";
#else
constexpr long kConnectionRefused = 7;  // CURLE_COULDNT_CONNECT
constexpr long kTimedOut = 28;          // CURLE_OPERATION_TIMEDOUT
constexpr long kTooLong = 63;           // CURLE_FILESIZE_EXCEEDED
constexpr long kNotTaken = 23;          // CURLE_WRITE_ERROR
constexpr long kNotHttp = 1;            // CURLE_UNSUPPORTED_PROTOCOL
constexpr const char* kLibrary = "libcurl ";
#endif

std::string Outcome(long result, long status) {
    return "res:" + std::to_string(result) + ", httpStatusCode:" + std::to_string(status);
}

#ifndef _WIN32
// A desktop entry as the registration writes it: menus show the launcher's icon from the theme
// and file it under games.
std::string DesktopEntry(const std::string& name, const std::string& exec, const std::string& comment) {
    return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + exec + "\nComment=" + comment +
           "\nIcon=io.valdrune.Launcher\nCategories=Game;\nStartupWMClass=Valdrune\n";
}

std::string PlayEntry(const std::string& data) {
    return DesktopEntry("Valdrune", "\"" + data + "/Valdrune\"", "Valdrune 游戏启动器");
}
#endif

std::string Bytes(size_t size, unsigned variant) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 131 + variant * 7 + i / 251) % 256);
    }
    return bytes;
}

#ifndef _WIN32
unsigned Mode(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 0777;
}
#endif

#ifndef _WIN32  // for the install cases of Linux's own
std::string RegistryText(const std::string& name) {
    platform::RegistryKey key;
    platform::RegistryValue value;
    if (platform::RegOpenKeyEx(platform::RegistryHive::CurrentUser, std::string(ProductConstants::kUninstallKey), key) ||
        platform::RegQueryValueEx(key, name, value)) {
        return "<absent>";
    }
    return value.text;
}
#endif

// What the configuration document of a test says.
struct Document {
    std::string version = "1.0.2.7";
    std::string minimum = "1.0.0.0";
    bool backup = true;
};

class UpdatePipeline : public ::testing::Test {
protected:
    void SetUp() override {
        MakeDirs(world.clientDir());
        MakeDirs(world.root() + "/app");
        WriteFile(launcher, "launcher executable bytes");
        WriteFile(world.root() + "/app/libvaldrune-webext.so", "page bridge bytes");
        Logger::Redirect(&log);
        g_bFirstInstall = false;
    }
    void TearDown() override { Logger::Redirect(nullptr); }

    CGameRemoteConfig::Settings Settings() const {
        CGameRemoteConfig::Settings settings;
        settings.configUrl = server.ConfigUrl();
        settings.dataDir = world.dataDir();
        settings.clientDir = world.clientDir();
        settings.executablePath = launcher;
        settings.is64Bit = true;
        settings.stallTimeoutSeconds = 2;
        return settings;
    }

    // One launcher run's update, start to end, with a fresh pipeline and window.
    void RunUpdate(const CGameRemoteConfig::Settings& settings) {
        window = std::make_unique<RecordingMainWindow>();
        config = std::make_unique<CGameRemoteConfig>(settings);
        EXPECT_EQ(config->InitRemoteConfig(window.get()), 0);
    }
    void RunUpdate() { RunUpdate(Settings()); }

    std::string Config(const Document& d = {}) const {
        return "EntryUrl=" + server.Url("/www/index.html") + "\nCustomParameters=zone=1\nClientVersion=" + d.version +
               "\nClientMiniUpdateVersion=" + d.minimum + "\nClientDownloadUrl=" + server.Origin() +
               "/files/{ditch_name}-{version}.zip\nClient32DownloadUrl=" + server.PackageUrl("wrong.zip") + "\n" +
               (d.backup ? "ClientDownloadUrl2=" + server.PackageUrl("backup.zip") + "\n" : "");
    }
    std::string Primary() const { return server.PackageUrl(kPackageName); }
    std::string Backup() const { return server.PackageUrl("backup.zip"); }
    std::string PackagePath() const { return DataPaths::Package(world.dataDir()); }  // with the system's separator
    std::string VersionFile() const { return world.clientDir() + "/game_client_version.txt"; }

    // Unpacks an archive alone (no download, no completing steps) with a fresh window.
    bool Unzip(const ZipBuilder& zip) {
        if (!config) {
            config = std::make_unique<CGameRemoteConfig>(Settings());
        }
        zip.WriteTo(archive);
        window = std::make_unique<RecordingMainWindow>();
        return config->OnUnzipFile(archive, window.get());
    }

    void Publish(const std::string& name, const std::string& bytes) const { WriteFile(server.FilesDir() + "/" + name, bytes); }
    std::vector<std::string> Log() const { return LogEntries(ReadFile(logPath)); }
    std::vector<std::string> LogFrom(const std::string& entry) const {
        auto lines = Log();
        const auto at = std::find(lines.begin(), lines.end(), entry);
        return {at, lines.end()};
    }
    // Whether some entry so far starts with start.
    bool Logged(const std::string& start) const {
        const auto lines = Log();
        return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) { return line.starts_with(start); });
    }
    // From the last occurrence of entry on (the log holds every run of a test).
    std::vector<std::string> LogFromLast(const std::string& entry) const {
        auto lines = Log();
        const auto at = std::find(lines.rbegin(), lines.rend(), entry);
        return {at == lines.rend() ? lines.end() : std::prev(at.base()), lines.end()};
    }
    std::vector<std::string> PackageRequests() const {
        std::vector<std::string> requests;
        for (const auto& r : server.Requests()) {
            if (r.find(" /files/") != std::string::npos) {
                requests.push_back(r);
            }
        }
        return requests;
    }

    TempHome world;
    OperatorServer server;
    RecordingReports reports;
    TempDir logDir;
    std::string logPath = logDir.path() + "/update.log";
    Logger log{logPath};
    std::string launcher = world.root() + "/app/valdrune";
    std::string archive = world.root() + "/a.zip";
    std::unique_ptr<RecordingMainWindow> window;
    std::unique_ptr<CGameRemoteConfig> config;
};

#ifndef _WIN32  // for the install cases of Linux's own
// The window calls with each run of download progress (a ShowProgress with downloading 1 and
// its ShowProgressState) folded into one "download progress" entry: libcurl decides how often.
std::vector<std::string> FoldDownloadProgress(const std::vector<std::string>& calls) {
    std::vector<std::string> folded;
    for (size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].starts_with("ShowProgress(|") && calls[i].ends_with("|1)")) {
            if (folded.empty() || folded.back() != "download progress") {
                folded.push_back("download progress");
            }
            ++i;  // its ShowProgressState
            continue;
        }
        folded.push_back(calls[i]);
    }
    return folded;
}

std::vector<std::string> ShortcutLog(const std::string& folder, const std::string& arguments, const std::string& failure = "") {
    std::vector<std::string> lines = {
        "[INFO][CGameRemoteConfig::CreateShortcut] Begin CreateShortcut",
        "[INFO][CGameRemoteConfig::CreateShortcut] " + folder,
        "[INFO][CGameRemoteConfig::CreateShortcut] " + arguments,
        "[INFO][CGameRemoteConfig::CreateLink] Begin CreateLink",
    };
    lines.push_back(failure.empty() ? "[INFO][CGameRemoteConfig::CreateLink] End CreateLink"
                                    : "[ERROR][CGameRemoteConfig::CreateLink] " + failure);
    lines.push_back("[INFO][CGameRemoteConfig::CreateShortcut] End CreateShortcut");
    return lines;
}

void Append(std::vector<std::string>& to, const std::vector<std::string>& more) { to.insert(to.end(), more.begin(), more.end()); }
#endif

#ifdef _WIN32
// The digest's known answers are checked on both systems by the unit tests of the package checks.
std::string Sha256Hex(const std::string& bytes) {
    PackageDigest digest;
    digest.Update(bytes.data(), bytes.size());
    return digest.FinishHex();
}
#else
// What a command-line tool prints (the standard tools check the launcher, not the other way round).
std::string ToolOutput(std::vector<std::string> argv, const std::string& input = "") {
    ChildProcess tool({std::move(argv), {{"PATH", "/usr/bin:/bin"}}, "", input});
    EXPECT_EQ(tool.Wait(), 0) << tool.Stderr();
    return tool.Stdout();
}

std::string Sha256Hex(const std::string& bytes) {
    TempDir dir;
    WriteFile(dir.path() + "/f", bytes);
    return ToolOutput({"/usr/bin/sha256sum", dir.path() + "/f"}).substr(0, 64);
}
#endif

}  // namespace

#ifndef _WIN32  // desktop entries and file modes; Windows installs .lnk shortcuts
TEST_F(UpdatePipeline, FirstInstallEndToEnd) {
    server.SetConfig(Config());
    Publish(kPackageName, GamePackage().Bytes());
    MakeDirs(world.dataHome() + "/applications/Apps");
    RunUpdate();

    const std::string data = world.dataDir();
    const std::string startMenu = world.dataHome() + "/applications/Apps/drevoline";
    std::vector<std::string> expected = {
        kWorker + server.ConfigUrl(),
        kWorker + VersionFile(),
        std::string(kParse),  // no resume record: the held package's version is empty text
        kParse + std::string("1.0.2.7"),
        kParse + std::string("1.0.0.0"),
        kDownload + std::string("OnDownLoad begin"),
        kDownload + PackagePath(),
        kDownload + Primary(),
        kDownload + Backup(),
        // Nothing held: its version 0.0.0.0 is below the minimum, so the download starts afresh.
        kDownload + std::string("Download version is elder than mini update version. Restart downloading resources."),
        kDownload + std::string("download is finish"),
        kUnzip + ("unzip file:" + PackagePath() + " begin"),
    };
    for (const char* entry : {"zavo/", "zavo/zavo.exe", "zavo/data/", "zavo/data/world.dat", "zavo/data/读我.txt", "readme.txt"}) {
        expected.push_back(kUnzip + std::string(entry));
    }
    Append(expected, {kUnzip + std::string("unzip is finish!"), "[INFO][CGameRemoteConfig::UnzipFile] " + launcher,
                      "[INFO][CGameRemoteConfig::CreateShortcuts] Begin CreateShortcuts"});
    Append(expected, ShortcutLog(startMenu, ""));
    Append(expected, ShortcutLog(startMenu, "/uninstall"));
    Append(expected, ShortcutLog(world.home() + "/Desktop", ""));
    Append(expected, ShortcutLog(data, "/uninstall"));
    Append(expected, {"[INFO][CGameRemoteConfig::CreateShortcuts] End CreateShortcuts",
                      "[INFO][CGameRemoteConfig::UnzipFile] unzip is finish!"});
    EXPECT_EQ(Log(), expected);

    std::vector<std::string> calls = {"InitWebBrower", "download progress"};
    for (int j = 1; j <= 6; ++j) {
        Append(calls, {"ShowProgress(|" + std::to_string(j) + "/6|" + std::to_string(100 * j / 6) + "|0)", "ShowProgressState"});
    }
    Append(calls, {"ShowProgress(更新已完成||0|0)", "ShowMessageState", "SetReady"});
    EXPECT_EQ(FoldDownloadProgress(window->Calls()), calls);
    const auto percents = window->ProgressTexts(1);
    EXPECT_EQ(percents.back(), "100%");
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end(), [](const std::string& a, const std::string& b) {
        return std::stoi(a) < std::stoi(b);
    }));

    EXPECT_EQ(reports.Entries(), (std::vector<std::string>{"event 2", "game download start, download url:" + Primary(),
                                                           "event 3", "game download success",
                                                           "game unzip start", "event 6", "game unzip success"}));
    EXPECT_EQ(PackageRequests(), std::vector<std::string>{"GET /files/" + std::string(kPackageName) + " range=-"});
    EXPECT_TRUE(g_bFirstInstall);

    // The client, the version file's exact bytes, and no package left behind.
    EXPECT_EQ(ReadFile(world.clientDir() + "/zavo/zavo.exe"), SampleGameBytes());
    EXPECT_EQ(Mode(world.clientDir() + "/zavo/zavo.exe"), 0755u);
    EXPECT_EQ(ReadFile(world.clientDir() + "/zavo/data/读我.txt"), "数据文件\n");
    EXPECT_EQ(ReadFile(world.clientDir() + "/readme.txt"), "Valdrune client\r\n");
    EXPECT_EQ(ReadFile(VersionFile()), "1.0.2.7");
    EXPECT_FALSE(fs::exists(PackagePath()));

    // Registration: uninstall entry, launcher copy with its page bridge, four shortcuts.
    EXPECT_EQ(RegistryText("DisplayIcon"), data + "/Valdrune");
    EXPECT_EQ(RegistryText("DisplayName"), "Valdrune");
    EXPECT_EQ(RegistryText("DisplayVersion"), "0.0.0.1");
    EXPECT_EQ(RegistryText("UninstallString"), data + "/Valdrune /uninstall");
    EXPECT_EQ(RegistryText("InstallPath"), data);
    EXPECT_EQ(ReadFile(data + "/Valdrune"), "launcher executable bytes");
    EXPECT_EQ(ReadFile(data + "/libvaldrune-webext.so"), "page bridge bytes");
    const std::string uninstall =
        DesktopEntry("Valdrune-卸载", "\"" + data + "/Valdrune\" /uninstall", "卸载 Valdrune 和它的游戏客户端");
    EXPECT_EQ(ReadFile(startMenu + "/Valdrune.desktop"), PlayEntry(data));
    EXPECT_EQ(ReadFile(startMenu + "/Valdrune-卸载.desktop"), uninstall);
    EXPECT_EQ(ReadFile(world.home() + "/Desktop/Valdrune.desktop"), PlayEntry(data));
    EXPECT_EQ(ReadFile(data + "/Valdrune-卸载.desktop"), uninstall);
    EXPECT_EQ(Mode(world.home() + "/Desktop/Valdrune.desktop"), 0755u);

    EXPECT_EQ(config->GetEntryUrl(), server.Url("/www/index.html"));
    EXPECT_EQ(config->GetCustomParameters(), "zone");  // a value ends at its second "="
}
#endif

#ifndef _WIN32  // desktop entries
TEST_F(UpdatePipeline, AnInstalledClientAtTheMinimumIsOnlyRegistered) {
    WriteFile(VersionFile(), "1.0.0.5\r\nignored second line");
    server.SetConfig(Config({.version = "3.0.0.0", .minimum = "1.0.0.5"}));
    platform::RegistryKey key;
    ASSERT_EQ(platform::RegCreateKeyEx(platform::RegistryHive::CurrentUser, std::string(ProductConstants::kUninstallKey), key), 0u);
    platform::RegSetStringValue(key, "DisplayName", "stale");
    platform::RegSetStringValue(key, "InstallPath", "/stale");
    WriteFile(world.home() + "/Desktop/Valdrune.desktop", "stale shortcut");
    // No "Apps" folder in the menu folder: the two menu shortcuts fail, the others are made.
    RunUpdate();

    const std::string data = world.dataDir();
    const std::string startMenu = world.dataHome() + "/applications/Apps/drevoline";
    std::vector<std::string> expected = {
        kWorker + server.ConfigUrl(),
        kWorker + VersionFile(),
        kParse + std::string("1.0.0.5\n"),  // the line feed of the first line stays
        std::string(kParse),
        kParse + std::string("3.0.0.0"),
        kParse + std::string("1.0.0.5"),
        kWorker + ("work_path:" + launcher),
        kWorker + ("dest_path:" + data + "/Valdrune"),
        kWorker + std::string("创建桌面快捷方式..."),
        "[INFO][CGameRemoteConfig::CreateShortcuts] Begin CreateShortcuts",
    };
    Append(expected, ShortcutLog(startMenu, "", "CreateLink ret:3 hRes:-2147024893"));
    Append(expected, ShortcutLog(startMenu, "/uninstall", "CreateLink ret:3 hRes:-2147024893"));
    Append(expected, ShortcutLog(world.home() + "/Desktop", ""));
    Append(expected, ShortcutLog(data, "/uninstall"));
    Append(expected, {"[INFO][CGameRemoteConfig::CreateShortcuts] End CreateShortcuts", kWorker + std::string("update finish!")});
    EXPECT_EQ(Log(), expected);
    EXPECT_EQ(window->Calls(), (std::vector<std::string>{"InitWebBrower", "ShowProgress(更新已完成||0|0)",
                                                         "ShowMessageState", "SetReady"}));
    EXPECT_EQ(config->LocalVersion(), (LocalClientVersion{1, 0, 0, 5}));
    EXPECT_FALSE(g_bFirstInstall);
    EXPECT_TRUE(PackageRequests().empty());
    EXPECT_TRUE(reports.Entries().empty());
    EXPECT_EQ(RegistryText("DisplayName"), "Valdrune");  // every value overwritten
    EXPECT_EQ(RegistryText("InstallPath"), data);
    EXPECT_EQ(ReadFile(world.home() + "/Desktop/Valdrune.desktop"),
              PlayEntry(data));
    EXPECT_FALSE(fs::exists(startMenu));
    EXPECT_EQ(ReadFile(VersionFile()), "1.0.0.5\r\nignored second line");  // never written on this path
}
#endif

#ifndef _WIN32  // desktop entries
TEST_F(UpdatePipeline, TheNoIconSwitchKeepsAnUpToDateRunFromMakingShortcuts) {
    WriteFile(VersionFile(), "1.0.0.5");
    server.SetConfig(Config({.version = "1.0.0.5", .minimum = "1.0.0.5"}));
    auto settings = Settings();
    settings.noicon = "1";
    RunUpdate(settings);

    const std::vector<std::string> lines = Log();
    EXPECT_NE(std::find(lines.begin(), lines.end(), kWorker + std::string("不需要创建桌面快捷方式: noicon=1")), lines.end());
    EXPECT_EQ(std::find(lines.begin(), lines.end(), kWorker + std::string("创建桌面快捷方式...")), lines.end());
    EXPECT_FALSE(fs::exists(world.home() + "/Desktop/Valdrune.desktop"));
    EXPECT_TRUE(fs::exists(world.dataDir() + "/Valdrune"));  // the copy is still made
    EXPECT_EQ(window->Calls().back(), "SetReady");
}
#endif

TEST_F(UpdatePipeline, OnlyTheMinimumVersionDecidesWhetherToUpdate) {
    struct Case {
        const char* installed;  // nullptr: no version file
        const char* minimum;    // nullptr: no such key
        bool updates;
    };
    for (const Case c : {Case{nullptr, "1.0.0.0", true}, Case{"2.0.0.0", "1.9.9.9", false},
                         Case{"1.0.0.4", "1.0.0.5", true}, Case{"1.0.0.5", nullptr, true}, Case{"-1.0.0.0", "0.0.0.0", true}}) {
        SCOPED_TRACE(std::string(c.installed ? c.installed : "none") + " / " + (c.minimum ? c.minimum : "none"));
        fs::remove(VersionFile());
        if (c.installed) {
            WriteFile(VersionFile(), c.installed);
        }
        // "ClientVersion" 3.0.0.0 is offered, but only the minimum counts; no package is served.
        std::string document = "ClientVersion=3.0.0.0\nClientDownloadUrl=" + server.PackageUrl("none.zip") + "\n";
        if (c.minimum) {
            document += "ClientMiniUpdateVersion=" + std::string(c.minimum) + "\n";
        }
        server.SetConfig(document);
        const size_t before = PackageRequests().size();
        RunUpdate();
        EXPECT_EQ(PackageRequests().size() > before, c.updates);
        EXPECT_EQ(window->IsReady(), !c.updates);
    }
}

TEST_F(UpdatePipeline, AFailedConfigurationFetchShows102AndNeverRequestsThePage) {
    const auto expectFailure = [&](const std::string& logLine) {
        EXPECT_EQ(window->Calls(), (std::vector<std::string>{"ShowProgress(更新失败,请检查网络,ErrorCode:102||0|0)",
                                                             "ShowMessageState"}));
        const auto lines = Log();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), "[ERROR][CGameRemoteConfig::InitRemoteConfig] " + logLine);
        EXPECT_EQ(config->GetEntryUrl(), "");
        EXPECT_FALSE(g_bFirstInstall);  // the run ended before the version file was looked at
    };
    server.RemoveConfig();
    RunUpdate();
    expectFailure(Outcome(0, 404));

    server.SetConfig(Config());
    server.SetRule("/api/morvast/ditches/drevoline/client_config_drevoline.php", "redirect=/moved");
    server.SetRule("/moved", "status=404");
    RunUpdate();
    expectFailure(Outcome(0, 404));  // the final answer's status decides

    server.SetRule("/api/morvast/ditches/drevoline/client_config_drevoline.php", "status=204");
    RunUpdate();
    expectFailure(Outcome(0, 204));

    ClosedPort closed;
    auto refused = Settings();
    refused.configUrl = "http://127.0.0.1:" + std::to_string(closed.port()) + "/config";
    RunUpdate(refused);
    expectFailure(Outcome(kConnectionRefused, 0));

    // A server that accepts and never answers no longer holds the update forever.
    server.SetRule("/api/morvast/ditches/drevoline/client_config_drevoline.php", "stall");
    RunUpdate();
    expectFailure(Outcome(kTimedOut, 0));
    EXPECT_TRUE(reports.Entries().empty());
}

TEST_F(UpdatePipeline, AFollowedRedirectAndAnEmptyDocumentAreNoFailure) {
    server.SetRule("/api/morvast/ditches/drevoline/client_config_drevoline.php",
                   "status=301,redirect=" + server.ConfigUrl() + "?moved=1,times=1");
    server.SetConfig("");
    RunUpdate();
    // An empty table: the page is still asked for (with no address), and the download lacks its key.
    EXPECT_EQ(window->Calls(), (std::vector<std::string>{"InitWebBrower", "ShowProgress(更新失败,请检查网络,ErrorCode:102||0|0)",
                                                         "ShowMessageState"}));
    EXPECT_EQ(config->GetEntryUrl(), "");
    EXPECT_EQ(LogFrom(kDownload + std::string("OnDownLoad begin")),
              (std::vector<std::string>{kDownload + std::string("OnDownLoad begin"), kDownload + PackagePath(),
                                        "[ERROR][CGameRemoteConfig::OnDownLoad] ClientDownloadUrl is NotFound!",
                                        "[ERROR][CGameRemoteConfig::InitRemoteConfig] download error:102"}));
}

TEST_F(UpdatePipeline, ACutDownloadResumesFromItsRecordAndEndsByteIdentical) {
    const std::string package = ZipBuilder()
                                    .Directory("zavo/")
                                    .File("zavo/zavo.exe", SampleGameBytes(), 0755)
                                    .StoredFile("zavo/big.dat", Bytes(3 << 20, 1))
                                    .Bytes();
    constexpr size_t kCut = 1 << 20;
    Publish(kPackageName, package);
    server.SetConfig(Config({.backup = false}));
    server.SetRule("/files/" + std::string(kPackageName), "cut=" + std::to_string(kCut) + ",times=1");
    RunUpdate();
    EXPECT_EQ(window->Messages(), std::vector<std::string>{"更新失败,请检查下载链接"});
    EXPECT_FALSE(window->IsReady());
    EXPECT_EQ(ReadFile(PackagePath()), package.substr(0, kCut));
    config->WriteResumeRecord();  // the player closes the launcher
    EXPECT_EQ(ReadFile(world.dataDir() + "/tempdownload.dat"),
              "downloadVersion=1.0.2.7\noffset=" + std::to_string(kCut) + "\ntotalSize=" + std::to_string(package.size()) + "\n");

    // The next run asks for the rest only and shows the percent of all bytes held (the rest
    // comes slowly enough for several progress reports).
    server.SetRule("/files/" + std::string(kPackageName), "rate=4000000");
    RunUpdate();
    EXPECT_EQ(LogFrom(kDownload + std::string("Try Resuming download from break point.")).at(1),
              kDownload + std::string("download is finish"));
    EXPECT_EQ(PackageRequests().back(), "GET /files/" + std::string(kPackageName) + " range=bytes=" + std::to_string(kCut) + "-");
    const auto percents = window->ProgressTexts(1);
    ASSERT_GE(percents.size(), 4u);
    EXPECT_EQ(percents.front(), "0%");  // before the size is known
    for (size_t i = 1; i < percents.size(); ++i) {
        EXPECT_GE(std::stoi(percents[i]), static_cast<int>(kCut * 100 / package.size())) << percents[i];
    }
    EXPECT_EQ(percents.back(), "100%");
    EXPECT_TRUE(window->IsReady());
    EXPECT_EQ(ReadFile(world.clientDir() + "/zavo/big.dat"), Bytes(3 << 20, 1));
    EXPECT_EQ(ReadFile(world.clientDir() + "/zavo/zavo.exe"), SampleGameBytes());
    config->WriteResumeRecord();
    EXPECT_EQ(ReadFile(world.dataDir() + "/tempdownload.dat"), "downloadVersion=1.0.2.7\noffset=" +
                                                                   std::to_string(package.size()) + "\ntotalSize=" +
                                                                   std::to_string(package.size()) + "\n");
}

TEST_F(UpdatePipeline, ExtraBytesFromAFailedAttemptAreCutBeforeResuming) {
    const std::string package = ZipBuilder().StoredFile("big.dat", Bytes(1 << 20, 2)).Bytes();
    Publish(kPackageName, package);
    Publish("backup.zip", package);
    server.SetConfig(Config());
    // The record says 300 of the package are held, but the file holds 300 good and 5000 stray bytes.
    WriteFile(PackagePath(), package.substr(0, 300) + std::string(5000, 'x'));
    WriteFile(world.dataDir() + "/tempdownload.dat",
              "downloadVersion=1.0.2.7\noffset=300\ntotalSize=" + std::to_string(package.size()) + "\n");
    server.SetRule("/files/" + std::string(kPackageName), "cut=20000");  // the primary breaks off
    RunUpdate();
    EXPECT_EQ(PackageRequests(), (std::vector<std::string>{"GET /files/" + std::string(kPackageName) + " range=bytes=300-",
                                                           "GET /files/backup.zip range=bytes=300-"}));
    EXPECT_TRUE(window->IsReady());
    EXPECT_EQ(ReadFile(world.clientDir() + "/big.dat"), Bytes(1 << 20, 2));

    // A record claiming more than the file holds continues from the file's own end.
    fs::remove(world.clientDir() + "/big.dat");
    fs::remove(VersionFile());
    WriteFile(PackagePath(), package.substr(0, 1000));
    WriteFile(world.dataDir() + "/tempdownload.dat",
              "downloadVersion=1.0.2.7\noffset=5000\ntotalSize=" + std::to_string(package.size()) + "\n");
    server.ClearRules();
    RunUpdate();
    EXPECT_EQ(PackageRequests().back(), "GET /files/" + std::string(kPackageName) + " range=bytes=1000-");
    EXPECT_EQ(ReadFile(world.clientDir() + "/big.dat"), Bytes(1 << 20, 2));
}

TEST_F(UpdatePipeline, AServerRefusingRangesDoesNotWedgeLaterRuns) {
    const std::string package = GamePackage().Bytes();
    Publish(kPackageName, package);
    server.SetConfig(Config({.backup = false}));
    WriteFile(PackagePath(), package.substr(0, 300));
    WriteFile(world.dataDir() + "/tempdownload.dat",
              "downloadVersion=1.0.2.7\noffset=300\ntotalSize=" + std::to_string(package.size()) + "\n");
    server.SetRule("/files/" + std::string(kPackageName), "ignore-ranges");

    RunUpdate();  // the whole file with 200 while a range was asked: refused
    EXPECT_EQ(window->Messages(), std::vector<std::string>{"更新失败,请检查下载链接"});
    const auto lines = LogFrom(kDownload + std::string("Try Resuming download from break point."));
    ASSERT_GE(lines.size(), 4u);
#ifdef _WIN32
    const std::string cause = "WinINet 0 (the server did not answer the range asked for), HTTP status 200";
#else
    const std::string cause = "libcurl 33 (Requested range was not delivered by the server: HTTP server doesn't seem to "
                              "support byte ranges. Cannot resume.), HTTP status 200";
#endif
    EXPECT_EQ(lines[1], "[ERROR][CGameRemoteConfig::OnDownLoad] package download failed: " + Primary() + ": " + cause);
    EXPECT_EQ(lines[2], kDownload + std::string("download is error!"));
    EXPECT_EQ(lines[3], kDownload + std::string("The server refused to resume from break point. The next download starts from the beginning."));
    config->WriteResumeRecord();
    EXPECT_EQ(ReadFile(world.dataDir() + "/tempdownload.dat"), "downloadVersion=1.0.2.7\noffset=0\ntotalSize=0\n");

    RunUpdate();  // the server still ignores ranges, and the next run no longer asks for one
    EXPECT_EQ(PackageRequests().back(), "GET /files/" + std::string(kPackageName) + " range=-");
    EXPECT_TRUE(window->IsReady());
    EXPECT_EQ(ReadFile(world.clientDir() + "/zavo/zavo.exe"), SampleGameBytes());

    // A range beyond the server's file (416) is refused the same way, and the backup starts over.
    server.ClearRules();
    Publish("backup.zip", package);
    server.SetConfig(Config());
    fs::remove(VersionFile());
    WriteFile(PackagePath(), std::string(5000, 'x'));
    WriteFile(world.dataDir() + "/tempdownload.dat",
              "downloadVersion=1.0.2.7\noffset=4000\ntotalSize=" + std::to_string(package.size() + 9000) + "\n");
    Publish(kPackageName, package.substr(0, 2000));
    RunUpdate();
    EXPECT_EQ(PackageRequests().back(), "GET /files/backup.zip range=-");
    EXPECT_TRUE(window->IsReady());
}

TEST_F(UpdatePipeline, APrimaryAddressThatFailsFallsBackToTheBackup) {
    const std::string package = GamePackage().Bytes();
    Publish("backup.zip", package);
    server.SetConfig(Config());
    server.SetRule("/files/" + std::string(kPackageName), "status=500");
    RunUpdate();
    EXPECT_EQ(PackageRequests(), (std::vector<std::string>{"GET /files/" + std::string(kPackageName) + " range=-",
                                                           "GET /files/backup.zip range=-"}));
    EXPECT_TRUE(window->IsReady());
    EXPECT_EQ(window->Messages(), std::vector<std::string>{"更新已完成"});
    const auto lines = Log();
    const auto failed = std::find(lines.begin(), lines.end(), kDownload + std::string("download is error!"));
    ASSERT_NE(failed, lines.end());
    EXPECT_EQ(*(failed + 1), "[ERROR][CGameRemoteConfig::InitRemoteConfig] download error: try backup download_url ");
    EXPECT_EQ(*(failed + 2), kDownload + std::string("OnDownLoad begin"));
    const auto entries = reports.Entries();
    EXPECT_EQ(std::count(entries.begin(), entries.end(), "game download failed"), 1);
    EXPECT_EQ(std::count(entries.begin(), entries.end(), "event 2"), 2);  // each attempt reports its start

    // A primary that stalls mid-transfer is given up after the stall time, then the backup serves.
    fs::remove(VersionFile());
    fs::remove_all(world.clientDir() + "/zavo");
    Publish(kPackageName, package);
    server.SetRule("/files/" + std::string(kPackageName), "stall-after=1");
    RunUpdate();
    EXPECT_TRUE(window->IsReady());
    EXPECT_EQ(PackageRequests().back(), "GET /files/backup.zip range=-");
    EXPECT_EQ(ReadFile(world.clientDir() + "/zavo/zavo.exe"), SampleGameBytes());
}

TEST_F(UpdatePipeline, WhileTheServerFallsSilentTheResumeRecordCatchesUpWithTheDisk) {
    // A launcher closed or killed during a long silence must find its bytes named by the record.
    const std::string package = GamePackage().Bytes();
    Publish(kPackageName, package);
    server.SetConfig(Config({.backup = false}));
    server.SetRule("/files/" + std::string(kPackageName), "stall-after=20000");
    auto patient = Settings();
    patient.stallTimeoutSeconds = 120;
    std::thread update([&] { RunUpdate(patient); });
    const std::string record =
        "downloadVersion=1.0.2.7\noffset=20000\ntotalSize=" + std::to_string(package.size()) + "\n";
    const bool recorded = WaitFor([&] { return ReadFile(world.dataDir() + "/tempdownload.dat") == record; });
    server.ClearRules();  // the silent answer then ends short of its length
    update.join();
    EXPECT_TRUE(recorded) << ReadFile(world.dataDir() + "/tempdownload.dat");
}

TEST_F(UpdatePipeline, WithoutABackupAddressTheFailureAsksToCheckTheLink) {
    server.SetConfig(Config({.backup = false}));
    RunUpdate();  // nothing published: the primary answers 404
    EXPECT_EQ(window->Messages(), std::vector<std::string>{"更新失败,请检查下载链接"});
    EXPECT_FALSE(window->IsReady());
    const auto lines = LogFrom("[ERROR][CGameRemoteConfig::OnDownLoad] ClientDownloadUrl2 is NotFound!");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "[ERROR][CGameRemoteConfig::InitRemoteConfig] download error: backup download_url error");
    EXPECT_EQ(PackageRequests().size(), 1u);  // the second attempt has no address and makes no transfer
}

TEST_F(UpdatePipeline, A32BitSystemUsesItsOwnKey) {
    auto settings = Settings();
    settings.is64Bit = false;
    Publish("wrong.zip", GamePackage().Bytes());
    server.SetConfig(Config());
    RunUpdate(settings);
    EXPECT_EQ(PackageRequests(), std::vector<std::string>{"GET /files/wrong.zip range=-"});
    EXPECT_TRUE(window->IsReady());

    server.SetConfig("ClientVersion=1.0.2.7\nClientDownloadUrl=" + Primary() + "\n");
    RunUpdate(settings);
    EXPECT_EQ(window->Messages(), std::vector<std::string>{"更新失败,请检查网络,ErrorCode:102"});
    const auto lines = Log();
    EXPECT_EQ(lines[lines.size() - 2], "[ERROR][CGameRemoteConfig::OnDownLoad] ClientDownloadUrl is NotFound!");
    EXPECT_EQ(lines.back(), "[ERROR][CGameRemoteConfig::InitRemoteConfig] download error:102");
}

TEST_F(UpdatePipeline, ADamagedPackageShows104AndStaysOnDisk) {
    const std::string good = GamePackage().Bytes();
    const std::vector<std::pair<std::string, std::string>> damaged = {
        {"not an archive", Bytes(50000, 3)},
        {"cut short", good.substr(0, good.size() - 100)},
        {"wrong checksum", ZipBuilder().Directory("zavo/").FileWithWrongChecksum("zavo/zavo.exe", "MZ game").Bytes()},
    };
    server.SetConfig(Config());
    for (const auto& [what, bytes] : damaged) {
        SCOPED_TRACE(what);
        Publish(kPackageName, bytes);
        RunUpdate();
        EXPECT_EQ(window->Messages(), std::vector<std::string>{"解压失败,ErrorCode:104"});
        EXPECT_FALSE(window->IsReady());
        EXPECT_EQ(ReadFile(PackagePath()), bytes);
        EXPECT_EQ(Log().back(), kDownload + std::string("unzip is error!"));
        EXPECT_EQ(reports.Entries().back(), "unzip failed");
        EXPECT_FALSE(fs::exists(VersionFile()));
    }
    const auto lines = Log();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "[ERROR][CGameRemoteConfig::OnUnzipFile] zipfile is NULL!"), lines.end());
}

TEST_F(UpdatePipeline, EntriesEscapingTheClientFolderAreRefused) {
    server.SetConfig(Config());
    const std::string outside = world.root() + "/escaped.txt";
    for (const std::string& name : std::vector<std::string>{"../escaped.txt", "zavo/../../../escaped.txt", outside}) {
        SCOPED_TRACE(name);
        Publish(kPackageName, ZipBuilder().Directory("zavo/").File("zavo/ok.txt", "ok").File(name, "evil").Bytes());
        RunUpdate();
        EXPECT_EQ(window->Messages(), std::vector<std::string>{"解压失败,ErrorCode:104"});
        EXPECT_FALSE(fs::exists(outside));
        EXPECT_FALSE(fs::exists(world.dataDir() + "/escaped.txt"));
        EXPECT_FALSE(fs::exists(world.clientDir() + "/zavo"));  // nor do the entries before the bad one
        EXPECT_FALSE(fs::exists(world.dataDir() + "/client.unpacking"));
        const auto lines = Log();
        EXPECT_EQ(lines[lines.size() - 2], "[ERROR][CGameRemoteConfig::OnUnzipFile] entry outside the client folder refused: " + name);
    }
}

TEST_F(UpdatePipeline, ExtractionEntryRulesAndProgress) {

    ZipBuilder thousand;
    thousand.Directory("many/");
    for (int i = 1; i < 1000; ++i) {
        thousand.File("many/f" + std::to_string(i), std::to_string(i));
    }
    ASSERT_TRUE(Unzip(thousand));
    std::vector<std::string> texts;
    for (int j = 1; j <= 1000; ++j) {
        texts.push_back(std::to_string(j) + "/1000");
    }
    EXPECT_EQ(window->ProgressTexts(0), texts);
    const auto calls = window->Calls();
    ASSERT_EQ(calls.size(), 2000u);  // once per entry, not per buffer
    EXPECT_EQ(calls[0], "ShowProgress(|1/1000|0|0)");
    EXPECT_EQ(calls[2 * 9], "ShowProgress(|10/1000|1|0)");
    EXPECT_EQ(calls[2 * 998], "ShowProgress(|999/1000|99|0)");
    EXPECT_EQ(calls[1999], "ShowProgressState");
    EXPECT_EQ(ReadFile(world.clientDir() + "/many/f999"), "999");

    ASSERT_TRUE(Unzip(ZipBuilder().Directory("data/").File("data/a.txt", "a").File("data/b.bin", "b")));
    EXPECT_EQ(window->Calls(), (std::vector<std::string>{"ShowProgress(|1/3|33|0)", "ShowProgressState",
                                                         "ShowProgress(|2/3|66|0)", "ShowProgressState",
                                                         "ShowProgress(|3/3|100|0)", "ShowProgressState"}));
    WriteFile(world.clientDir() + "/data/a.txt", "a much longer older content");
    ASSERT_TRUE(Unzip(ZipBuilder().Directory("data/").File("data/a.txt", "new")));  // existing folder, file overwritten
    EXPECT_EQ(ReadFile(world.clientDir() + "/data/a.txt"), "new");

    EXPECT_FALSE(Unzip(ZipBuilder().File("nofolder/a.txt", "a")));  // its folder was never listed
    EXPECT_FALSE(fs::exists(world.clientDir() + "/nofolder"));
    EXPECT_TRUE(Unzip(ZipBuilder()));  // no entries: done at once
    EXPECT_TRUE(window->Calls().empty());
    EXPECT_FALSE(Unzip(ZipBuilder().File(std::string(600, 'n'), "long name")));
}

TEST_F(UpdatePipeline, AHeldCompletePackageIsInstalledWithoutATransferUnlessItIsTooOld) {
    const std::string package = GamePackage().Bytes();
    server.SetConfig(Config());
    WriteFile(PackagePath(), package);
    WriteFile(world.dataDir() + "/tempdownload.dat", "downloadVersion=1.0.2.7\noffset=" + std::to_string(package.size()) +
                                                         "\ntotalSize=" + std::to_string(package.size()) + "\n");
    RunUpdate();
    EXPECT_TRUE(PackageRequests().empty());
    EXPECT_TRUE(window->IsReady());
    EXPECT_EQ(ReadFile(VersionFile()), "1.0.2.7");
    EXPECT_EQ(LogFrom(kDownload + std::string("Try unzipping old resource...")).back(), kDownload + std::string("Unzip success!"));

    // Bytes of a version below the minimum are fetched anew, even when complete.
    fs::remove(VersionFile());
    WriteFile(PackagePath(), Bytes(100, 4));
    WriteFile(world.dataDir() + "/tempdownload.dat", "downloadVersion=0.9.0.0\noffset=100\ntotalSize=100\n");
    Publish(kPackageName, package);
    RunUpdate();
    EXPECT_EQ(LogFrom(kDownload + std::string("Download version is elder than mini update version. Restart downloading resources.")).at(1),
              kDownload + std::string("download is finish"));
    EXPECT_EQ(PackageRequests(), std::vector<std::string>{"GET /files/" + std::string(kPackageName) + " range=-"});
    EXPECT_TRUE(window->IsReady());
}

TEST_F(UpdatePipeline, TheResumeRecordReadsWhatItWrote) {
    config = std::make_unique<CGameRemoteConfig>(Settings());
    EXPECT_EQ(config->ReadResumeValue("offset"), "");
    config->WriteResumeRecord();  // closed before the worker read anything: there is nothing to write back
    EXPECT_FALSE(fs::exists(world.dataDir() + "/tempdownload.dat"));
    WriteFile(world.dataDir() + "/tempdownload.dat", "downloadVersion=1.2.3.4\r\noffset=-300\r\ntotalSize=900\r\n");
    EXPECT_EQ(config->ReadResumeValue("offset"), "-300");
    EXPECT_EQ(config->ReadResumeValue("downloadVersion"), "1.2.3.4");

    // A run whose configuration fails writes back what it read: nothing of the download is lost.
    server.RemoveConfig();
    WriteFile(world.dataDir() + "/tempdownload.dat", "downloadVersion=1.2.3.4\noffset=300\ntotalSize=900\n");
    RunUpdate();
    config->WriteResumeRecord();
    EXPECT_EQ(ReadFile(world.dataDir() + "/tempdownload.dat"), "downloadVersion=1.2.3.4\noffset=300\ntotalSize=900\n");
}

// ---- What a misbehaving or hostile server can no longer do to the update ----

TEST_F(UpdatePipeline, ATricklingServerNoLongerHoldsTheFetchOrTheDownloadForever) {
    // The test's limit: less than 1 KiB in 2 seconds gives up (the launcher's is 60 seconds).
    server.SetConfig(Config());
    server.SetRule(kConfigPath, "rate=40");
    RunUpdate();
    EXPECT_EQ(window->Messages(), std::vector<std::string>{"更新失败,请检查网络,ErrorCode:102"});
#ifdef _WIN32
    const std::string cause = "WinINet 12002 (less than 1024 bytes arrived in 2 seconds), HTTP status 200";
#else
    const std::string cause = "libcurl 28 (Timeout was reached: Operation too slow. Less than 512 bytes/sec "
                              "transferred the last 2 seconds), HTTP status 200";
#endif
    EXPECT_EQ(Log().end()[-2], "[ERROR][CGameRemoteConfig::InitRemoteConfig] configuration fetch failed: " +
                                   server.ConfigUrl() + ": " + cause);

    server.ClearRules();  // a trickling primary gives way to the backup
    Publish(kPackageName, ZipBuilder().StoredFile("a.dat", Bytes(1500, 5)).Bytes());
    Publish("backup.zip", GamePackage().Bytes());
    server.SetRule("/files/" + std::string(kPackageName), "rate=20");
    RunUpdate();
    EXPECT_TRUE(window->IsReady());
    EXPECT_EQ(PackageRequests().back(), "GET /files/backup.zip range=-");
}

TEST_F(UpdatePipeline, AConfigurationBodyOverOneMebibyteFailsAs102InsteadOfFillingTheMemory) {
    server.SetConfig(Config() + std::string(CGameRemoteConfig::kLongestConfigBody, 'x'));  // its length announced
    RunUpdate();
    ASSERT_EQ(window->Messages(), std::vector<std::string>{"更新失败,请检查网络,ErrorCode:102"});
    EXPECT_EQ(Log().back(), "[ERROR][CGameRemoteConfig::InitRemoteConfig] " + Outcome(kTooLong, 200));

}

#ifndef _WIN32  // Wine's WinINet reads a body it is left with to its end before it closes the
                // connection, and this one has none (Windows' own closes it)
TEST_F(UpdatePipeline, AConfigurationBodyWithoutLengthOrEndFailsAs102AtOneMebibyte) {
    server.SetConfig(Config());
    server.SetRule(kConfigPath, "endless");  // no length and no end
    RunUpdate();
    EXPECT_EQ(window->Messages(), std::vector<std::string>{"更新失败,请检查网络,ErrorCode:102"});
    EXPECT_EQ(Log().back(), "[ERROR][CGameRemoteConfig::InitRemoteConfig] " + Outcome(kNotTaken, 200));
    EXPECT_NE(Log().end()[-2].find("the document is longer than 1048576 bytes"), std::string::npos);
}
#endif

TEST_F(UpdatePipeline, ADocumentSavedOnWindowsNoLongerDisablesUpdates) {
    Publish(kPackageName, GamePackage().Bytes());
    server.SetConfig(Config());
    server.SetRule(kConfigPath, "crlf,bom");
    RunUpdate();
    EXPECT_EQ(config->GetEntryUrl(), server.Url("/www/index.html"));  // the first key, without its CR
    EXPECT_EQ(PackageRequests(), std::vector<std::string>{"GET /files/" + std::string(kPackageName) + " range=-"});
    EXPECT_TRUE(window->IsReady());
}

TEST_F(UpdatePipeline, AnErrorAnswersBodyIsNeverTakenAsPackageData) {
    const std::string package = GamePackage().Bytes();
    const std::string failed = "[ERROR][CGameRemoteConfig::OnDownLoad] package download failed: " + Primary() + ": " + kLibrary;
    Publish(kPackageName, package);
    server.SetConfig(Config({.backup = false}));
    // Both answers carry the whole package as their body.
    server.SetRule("/files/" + std::string(kPackageName), "status-body=203,times=1");  // a success, but no package answer
    RunUpdate();
    EXPECT_EQ(ReadFile(PackagePath()), "");
#ifdef _WIN32
    const std::string refused = "0 (the body was refused)";
    const std::string errorStatus = "0 (the answer is an error status)";
#else
    const std::string refused = "23 (Failed writing received data to disk/application: Failure writing output to destination)";
    const std::string errorStatus = "22 (HTTP response code said error: The requested URL returned error: 500)";
#endif
    EXPECT_TRUE(Logged(failed + refused + ", HTTP status 203; the body of the 203 answer was not taken as package data"));

    const std::string record = "downloadVersion=1.0.2.7\noffset=300\ntotalSize=" + std::to_string(package.size()) + "\n";
    WriteFile(PackagePath(), package.substr(0, 300));
    WriteFile(world.dataDir() + "/tempdownload.dat", record);
    server.SetRule("/files/" + std::string(kPackageName), "status-body=500,times=1");
    RunUpdate();
    EXPECT_EQ(ReadFile(PackagePath()), package.substr(0, 300));
    EXPECT_TRUE(Logged(failed + errorStatus + ", HTTP status 500"));
    config->WriteResumeRecord();
    EXPECT_EQ(ReadFile(world.dataDir() + "/tempdownload.dat"), record);
    RunUpdate();  // the held bytes are still good for resuming
    EXPECT_EQ(PackageRequests().back(), "GET /files/" + std::string(kPackageName) + " range=bytes=300-");
    EXPECT_TRUE(window->IsReady());
}

TEST_F(UpdatePipeline, AddressesOtherThanHttpAreRefused) {
    const std::string local = world.root() + "/local.zip";
    GamePackage().WriteTo(local);
    server.SetConfig("ClientVersion=1.0.2.7\nClientDownloadUrl=file://" + local + "\n");
    RunUpdate();
    EXPECT_EQ(window->Messages(), std::vector<std::string>{"更新失败,请检查下载链接"});
    EXPECT_FALSE(fs::exists(world.clientDir() + "/zavo"));
    EXPECT_TRUE(Logged("[ERROR][CGameRemoteConfig::OnDownLoad] package download failed: file://" + local + ": " +
                       kLibrary + std::to_string(kNotHttp) + " ("));

    auto settings = Settings();
    settings.configUrl = "file://" + local;
    RunUpdate(settings);
    EXPECT_EQ(Log().back(), "[ERROR][CGameRemoteConfig::InitRemoteConfig] " + Outcome(kNotHttp, 0));
}

// ---- The package's digest and the operator's signature ----

TEST_F(UpdatePipeline, APackageThatDoesNotMatchItsDigestIsNeverUnpacked) {
    const std::string good = GamePackage().Bytes();
    const std::string tampered = GamePackage().File("zavo/extra.dll", "planted").Bytes();
    server.SetConfig(Config({.backup = false}) + "ClientPackageSha256=" + Sha256Hex(good) + "\n");
    Publish(kPackageName, tampered);
    RunUpdate();
    EXPECT_EQ(window->Messages(), std::vector<std::string>{"解压失败,ErrorCode:104"});
    EXPECT_FALSE(fs::exists(world.clientDir() + "/zavo"));  // not a single entry written
    EXPECT_FALSE(fs::exists(PackagePath()));
    const std::string mismatch = "package digest mismatch: expected sha256 " + Sha256Hex(good) + ", got " + Sha256Hex(tampered);
    EXPECT_EQ(Log().back(), "[ERROR][CGameRemoteConfig::OnDownLoad] " + PackagePath() + ": " + mismatch);
    EXPECT_EQ(reports.Entries().back(), "game package check failed: " + mismatch);

    // A resumed download counts the bytes it kept: good ones pass, altered ones do not.
    Publish(kPackageName, good);
    for (const bool keptIntact : {true, false}) {
        SCOPED_TRACE(keptIntact);
        fs::remove(VersionFile());
        std::string kept = good.substr(0, 4000);
        kept[100] = static_cast<char>(kept[100] ^ (keptIntact ? 0 : 1));
        WriteFile(PackagePath(), kept);
        WriteFile(world.dataDir() + "/tempdownload.dat",
                  "downloadVersion=1.0.2.7\noffset=4000\ntotalSize=" + std::to_string(good.size()) + "\n");
        RunUpdate();
        EXPECT_EQ(PackageRequests().back(), "GET /files/" + std::string(kPackageName) + " range=bytes=4000-");
        EXPECT_EQ(window->IsReady(), keptIntact);
    }

    // A complete package held from an earlier run is checked too, then fetched anew.
    WriteFile(PackagePath(), tampered);
    WriteFile(world.dataDir() + "/tempdownload.dat", "downloadVersion=1.0.2.7\noffset=10\ntotalSize=10\n");
    RunUpdate();
    EXPECT_EQ(LogFromLast(kDownload + std::string("Try unzipping old resource...")).at(2),
              kDownload + std::string("Unzip failed, and restart downloading game resource!"));
    EXPECT_TRUE(window->IsReady());
    EXPECT_FALSE(fs::exists(world.clientDir() + "/zavo/extra.dll"));
}

#ifndef _WIN32  // keys and signatures made with the openssl tool
TEST_F(UpdatePipeline, WithTheOperatorsKeyOnlySignedPackagesAreUnpacked) {
    TempDir keys;
    const std::string key = keys.path() + "/operator.pem";
    const std::string other = keys.path() + "/other.pem";
    for (const auto& pem : {key, other}) {
        ToolOutput({"/usr/bin/openssl", "genpkey", "-algorithm", "ed25519", "-out", pem});
    }
    auto settings = Settings();
    settings.packagePublicKey = ToolOutput({"/bin/sh", "-c", "openssl pkey -in \"$0\" -pubout -outform DER | tail -c 32 | base64", key});
    settings.packagePublicKey.pop_back();
    const std::string package = GamePackage().Bytes();
    Publish(kPackageName, package);
    const std::string digest = Sha256Hex(package);
    WriteFile(keys.path() + "/digest.txt", digest);
    const auto signedBy = [&](const std::string& pem) {  // as the openssl tool signs
        const std::string raw = ToolOutput({"/usr/bin/openssl", "pkeyutl", "-sign", "-rawin", "-inkey", pem, "-in", keys.path() + "/digest.txt"});
        return "ClientPackageSha256=" + digest + "\nClientPackageSignature=" + ToolOutput({"/usr/bin/base64", "-w0"}, raw) + "\n";
    };
    for (const auto& [lines, unpacked] : std::vector<std::pair<std::string, bool>>{
             {"", false},
             {signedBy(other), false},
             {signedBy(key), true},
             {ToolOutput({VALDRUNE_SIGN_PACKAGE, server.FilesDir() + "/" + kPackageName, key}), true}}) {
        SCOPED_TRACE(lines);
        fs::remove(VersionFile());
        server.SetConfig(Config({.backup = false}) + lines);
        RunUpdate(settings);
        EXPECT_EQ(window->IsReady(), unpacked);
        EXPECT_EQ(Log().back().find(": package signature ") != std::string::npos, !unpacked) << Log().back();
    }
}
#endif

TEST_F(UpdatePipeline, AFailedUnpackingNeitherMixesTheInstalledClientNorLeavesItTakenForCurrent) {
    const auto versionA = ZipBuilder().Directory("zavo/").File("zavo/zavo.exe", "game A", 0755).File("zavo/a.dat", "A");
    Publish("drevoline-1.0.0.1.zip", versionA.Bytes());
    server.SetConfig(Config({.version = "1.0.0.1", .minimum = "1.0.0.1", .backup = false}));
    RunUpdate();
    ASSERT_EQ(ReadFile(VersionFile()), "1.0.0.1");

    // The next version's package: two good entries, then one whose data fails its checksum.
    Publish(kPackageName, ZipBuilder()
                              .Directory("zavo/")
                              .File("zavo/zavo.exe", "game B", 0755)
                              .File("zavo/b.dat", "B")
                              .FileWithWrongChecksum("zavo/c.dat", "C")
                              .Bytes());
    server.SetConfig(Config({.minimum = "1.0.2.7", .backup = false}));
    RunUpdate();
    EXPECT_EQ(window->Messages(), std::vector<std::string>{"解压失败,ErrorCode:104"});
    EXPECT_EQ(ReadFile(world.clientDir() + "/zavo/zavo.exe"), "game A");
    EXPECT_FALSE(fs::exists(world.clientDir() + "/zavo/b.dat"));
    EXPECT_FALSE(fs::exists(VersionFile()));
    EXPECT_FALSE(fs::exists(world.dataDir() + "/client.unpacking"));
    const auto lines = Log();
    EXPECT_EQ(lines[lines.size() - 2],
              "[ERROR][CGameRemoteConfig::OnUnzipFile] unzip error: " + PackagePath() + " [zavo/c.dat]: CRC error");
    config->WriteResumeRecord();

    // The operator goes back to the old version, and a killed run left half a staging folder:
    // the client is not declared current but repaired.
    MakeDirs(world.dataDir() + "/client.unpacking/zavo");
    WriteFile(world.dataDir() + "/client.unpacking/zavo/zavo.exe", "half");
    server.SetConfig(Config({.version = "1.0.0.1", .minimum = "1.0.0.1", .backup = false}));
    RunUpdate();
    EXPECT_TRUE(window->IsReady());
    EXPECT_EQ(PackageRequests().back(), "GET /files/drevoline-1.0.0.1.zip range=-");
    EXPECT_EQ(ReadFile(world.clientDir() + "/zavo/zavo.exe"), "game A");
    EXPECT_EQ(ReadFile(VersionFile()), "1.0.0.1");
    EXPECT_FALSE(fs::exists(world.dataDir() + "/client.unpacking"));
}

TEST_F(UpdatePipeline, EntriesThatLieAboutTheirSizeWriteNothingAndTheLogSaysWhy) {
    server.SetConfig(Config({.backup = false}));
    const std::vector<std::pair<ZipBuilder, std::string>> liars = {
        {ZipBuilder().Directory("zavo/").FileDeclaring("zavo/big.dat", std::string(4 << 20, 'z'), 1000),
         "[zavo/big.dat]: more data than the declared 1000 bytes"},
        {ZipBuilder().Directory("zavo/").FileDeclaring("zavo/short.dat", "short", 5000),
         "[zavo/short.dat]: less data than the declared 5000 bytes"},
    };
    for (const auto& [zip, cause] : liars) {
        SCOPED_TRACE(cause);
        Publish(kPackageName, zip.Bytes());
        RunUpdate();
        EXPECT_EQ(window->Messages(), std::vector<std::string>{"解压失败,ErrorCode:104"});
        EXPECT_FALSE(fs::exists(world.clientDir() + "/zavo"));
        EXPECT_FALSE(fs::exists(world.dataDir() + "/client.unpacking"));
        const auto lines = Log();
        EXPECT_EQ(lines[lines.size() - 2], "[ERROR][CGameRemoteConfig::OnUnzipFile] unzip error: " + PackagePath() + " " + cause);
    }
}

#ifndef _WIN32  // folder permissions
TEST_F(UpdatePipeline, ADiskThatRefusesTheFilesKeepsThePackageInsteadOfDownloadingItEveryRun) {
    const std::string package = GamePackage().Bytes();
    Publish(kPackageName, package);
    server.SetConfig(Config({.backup = false}));
    std::uint64_t tinyDisk = 0;  // 0: the real disk
    auto settings = Settings();
    settings.freeSpace = [&](const std::string& path) {
        return tinyDisk != 0 ? std::optional<platform::DiskSpace>({tinyDisk, 4096}) : platform::FreeDiskSpace(path);
    };
    const std::string client = world.clientDir();
    const std::string staging = world.dataDir() + "/client.unpacking";
    size_t unpacked = 0;  // every file in whole blocks of 4096 bytes
    for (const size_t size : {SampleGameBytes().size(), size_t{100012}, std::string("数据文件\n").size(), size_t{17}}) {
        unpacked += (size + 4095) / 4096 * 4096;
    }
    struct Case {
        const char* what;
        std::function<void()> breakDisk;
        std::function<void()> mendDisk;
        std::string error;  // the start of the ERROR line's text
    };
    const Case cases[] = {
        {"read-only client folder", [&] { WriteFile(VersionFile(), "0.9.0.0"), ::chmod(client.c_str(), 0555); },
         [&] { ::chmod(client.c_str(), 0755); }, VersionFile() + ": Permission denied"},
        {"a folder where the version file goes", [&] { MakeDirs(VersionFile()); }, [&] { fs::remove(VersionFile()); },
         VersionFile() + ": Is a directory"},
        {"a file where the package has a folder", [&] { WriteFile(client + "/zavo", "x"); },
         [&] { fs::remove(client + "/zavo"); }, client + "/zavo: a file is in the way of a folder of the package"},
        {"a disk too small", [&] { tinyDisk = 64 * 1024; }, [&] { tinyDisk = 0; },
         staging + ": the package unpacks to " + std::to_string(unpacked) + " bytes and the disk has 65536 bytes free"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(client);
        MakeDirs(client);
        fs::remove(PackagePath());
        fs::remove(world.dataDir() + "/tempdownload.dat");
        c.breakDisk();
        const size_t requests = PackageRequests().size();
        for (int run = 1; run <= 2; ++run) {
            {
                WithoutFileOverride obeyPermissions;
                RunUpdate(settings);
            }
            config->WriteResumeRecord();
            EXPECT_EQ(window->Messages(), std::vector<std::string>{"解压失败,ErrorCode:104"});
            const auto lines = Log();
            EXPECT_EQ(lines[lines.size() - 2], "[ERROR][CGameRemoteConfig::OnUnzipFile] unzip error: " + c.error);
            EXPECT_EQ(ReadFile(PackagePath()), package);
            EXPECT_EQ(PackageRequests().size(), requests + 1);  // the second run downloads nothing
            EXPECT_FALSE(fs::exists(staging));
        }
        c.mendDisk();
        RunUpdate(settings);
        EXPECT_TRUE(window->IsReady());
        EXPECT_EQ(PackageRequests().size(), requests + 1);
        EXPECT_EQ(ReadFile(client + "/zavo/zavo.exe"), SampleGameBytes());
        EXPECT_FALSE(fs::exists(PackagePath()));
    }
}
#endif

TEST_F(UpdatePipeline, BackslashesAndChineseWindowsNamesBecomeFoldersAndReadableNames) {
    // "数据\" and "数据\读我.txt" in code page 936, as an archiver on Chinese Windows stores them.
    ASSERT_TRUE(Unzip(ZipBuilder()
                          .Directory("zavo\\")
                          .File("zavo\\a.txt", "a")
                          .Directory("\xca\xfd\xbe\xdd\\")
                          .File("\xca\xfd\xbe\xdd\\\xb6\xc1\xce\xd2.txt", "du wo")));
    EXPECT_EQ(ReadFile(world.clientDir() + "/zavo/a.txt"), "a");
    EXPECT_EQ(ReadFile(world.clientDir() + "/数据/读我.txt"), "du wo");
#ifndef _WIN32  // a backslash is Windows' own separator
    EXPECT_FALSE(fs::exists(world.clientDir() + "/zavo\\a.txt"));
#endif
    const auto lines = Log();
    EXPECT_NE(std::find(lines.begin(), lines.end(), kUnzip + std::string("数据\\读我.txt")), lines.end());

    // A name in neither encoding is refused rather than written as raw bytes.
    EXPECT_FALSE(Unzip(ZipBuilder().File("bad\xff.txt", "x")));
    EXPECT_EQ(Log().back(), "[ERROR][CGameRemoteConfig::OnUnzipFile] unzip error: " + archive + " [entry 1]: name neither UTF-8 nor GBK");
}
