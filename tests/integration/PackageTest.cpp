// The launcher installed system-wide: `cmake --install` of this build into a private prefix,
// and the Debian package that cpack makes from it, installed with dpkg, started against the
// operator server on the origin port and removed again (as root only, which CI's throw-away
// machine is).

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "ChildProcess.h"
#include "Launcher.h"
#include "OperatorServer.h"
#include "TempHome.h"
#include "ZipBuilder.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

struct ToolRun {
    std::optional<int> exitCode;
    std::string output;
};

ToolRun RunTool(std::vector<std::string> argv, const std::map<std::string, std::string>& env,
            std::chrono::milliseconds deadline = 60s) {
    ChildProcess tool({std::move(argv), env, {}, {}});
    ToolRun run;
    run.exitCode = tool.Wait(deadline);
    run.output = tool.Stdout() + tool.Stderr();
    return run;
}

bool Printed(const ChildProcess& p, const std::string& text) { return p.Stdout().find(text) != std::string::npos; }

bool PackageInstalled() {
    return ReadFile("/var/lib/dpkg/info/valdrune.list").find("/usr/lib/valdrune") != std::string::npos;
}

class InstalledLauncher : public ::testing::Test {
protected:
    InstalledLauncher() {
        WriteFile(server.FilesDir() + "/zavo.zip", GamePackage().Bytes());
        server.SetConfig("EntryUrl=" + server.Url("/www/login.html") +
                         "\nClientVersion=1.0.0.1\nClientMiniUpdateVersion=1.0.0.1\nClientDownloadUrl=" +
                         server.PackageUrl() + "\nClient32DownloadUrl=" + server.PackageUrl() + "\n");
    }

    // Starts launcher as the player (file permissions obeyed), waits for the finished update and
    // ends it; its stderr.
    std::string RunUntilUpdated(const std::string& launcher) {
        auto options = LauncherOptions(world, launcher);
        options.withoutFileOverride = true;
        ChildProcess run(options);
        EXPECT_TRUE(WaitFor([&] { return Printed(run, "更新已完成"); })) << run.Stdout() << run.Stderr();
        run.Signal(SIGTERM);
        EXPECT_EQ(run.Wait(), 0);
        return run.Stderr();
    }

    OperatorServer server{OperatorServer::OriginPort()};
    TempHome world;
    std::map<std::string, std::string> env = world.Environment();
};

}  // namespace

TEST_F(InstalledLauncher, InstallRulesGiveValidEntryAndMetainfoAndTheInstalledLauncherMakesAWorkingCopy) {
    const std::string prefix = world.root() + "/prefix";
    const auto install = RunTool({CMAKE_COMMAND, "--install", VALDRUNE_BINARY_DIR, "--prefix", prefix}, env);
    ASSERT_EQ(install.exitCode, 0) << install.output;

    EXPECT_EQ(fs::read_symlink(prefix + "/bin/valdrune"), "../lib/valdrune/valdrune");
    EXPECT_TRUE(fs::exists(prefix + "/lib/valdrune/libvaldrune-webext.so"));
    for (const std::string size : {"48x48", "64x64", "128x128", "256x256"}) {
        EXPECT_TRUE(fs::exists(prefix + "/share/icons/hicolor/" + size + "/apps/io.valdrune.Launcher.png")) << size;
    }
    EXPECT_TRUE(fs::exists(prefix + "/share/icons/hicolor/scalable/apps/io.valdrune.Launcher.svg"));
    const std::string entry = prefix + "/share/applications/io.valdrune.Launcher.desktop";
    const auto validEntry = RunTool({"/usr/bin/desktop-file-validate", entry}, env);
    EXPECT_EQ(validEntry.exitCode, 0) << validEntry.output;
    // The window's class is "Valdrune": the desktop ties the running window to this entry.
    EXPECT_NE(ReadFile(entry).find("\nStartupWMClass=Valdrune\n"), std::string::npos);
    const auto validMetainfo = RunTool({"/usr/bin/appstreamcli", "validate", "--no-net", "--strict",
                                    prefix + "/share/metainfo/io.valdrune.Launcher.metainfo.xml"},
                                   env);
    EXPECT_EQ(validMetainfo.exitCode, 0) << validMetainfo.output;

    // Started through the link from a read-only prefix, as a player would: the copy in the data
    // folder takes the page's extension along and runs by itself.
    ::chmod((prefix + "/lib/valdrune").c_str(), 0555);
    RunUntilUpdated(prefix + "/bin/valdrune");
    const std::string copy = world.dataDir() + "/Valdrune";
    EXPECT_EQ(ReadFile(copy), ReadFile(prefix + "/lib/valdrune/valdrune"));
    EXPECT_TRUE(fs::exists(world.dataDir() + "/libvaldrune-webext.so"));
    EXPECT_NE(ReadFile(world.home() + "/.local/state/valdrune/valdrune.log").find("] Laucher Start\n"),
              std::string::npos);
    ::chmod((prefix + "/lib/valdrune").c_str(), 0755);
    RunUntilUpdated(copy);
    EXPECT_NE(ReadFile(world.dataDir() + "/Valdrune.log").find("] Laucher Start\n"), std::string::npos);
}

TEST_F(InstalledLauncher, TheDebianPackageInstallsStartsUpgradesTheCopyAndRemovesCleanly) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "dpkg -i needs root (CI runs as root on a throw-away machine)";
    }
    if (PackageInstalled()) {
        GTEST_SKIP() << "a valdrune package is installed on this machine already; it is left alone";
    }
    env["PATH"] = "/usr/sbin:/usr/bin:/sbin:/bin";  // dpkg wants ldconfig, cpack dpkg-shlibdeps
    const std::string output = world.root() + "/package";
    const auto pack = RunTool({CPACK_COMMAND, "-G", "DEB", "--config",
                           std::string(VALDRUNE_BINARY_DIR) + "/CPackConfig.cmake", "-B", output},
                          env, 120s);
    ASSERT_EQ(pack.exitCode, 0) << pack.output;
    const std::string deb = output + "/valdrune_0.0.0.1_amd64.deb";
    ASSERT_TRUE(fs::exists(deb)) << pack.output;

    // Another package manager run may hold dpkg's lock for a moment: wait for it to let go.
    ToolRun installed;
    ASSERT_TRUE(WaitFor(
        [&] {
            installed = RunTool({"/usr/bin/dpkg", "-i", deb}, env);
            return installed.exitCode == 0 || installed.output.find("lock") == std::string::npos;
        },
        120s));
    ASSERT_EQ(installed.exitCode, 0) << installed.output;
    struct Removal {
        std::map<std::string, std::string> env;
        // Purged in the end, whatever happened: the machine keeps no trace of the package.
        ~Removal() { RunTool({"/usr/bin/dpkg", "--purge", "valdrune"}, env); }
    } removal{env};

    const std::string program = "/usr/lib/valdrune/valdrune";
    EXPECT_EQ(fs::canonical("/usr/bin/valdrune"), program);
    // A player cannot write the program's folder (root, the tests' user, owns it).
    ::chmod("/usr/lib/valdrune", 0555);
    const std::string stderrText = RunUntilUpdated("/usr/bin/valdrune");
    EXPECT_EQ(stderrText.substr(0, stderrText.find('\n') + 1),
              "valdrune: the log is " + world.home() + "/.local/state/valdrune/valdrune.log\n");
    const std::string copy = world.dataDir() + "/Valdrune";
    ASSERT_EQ(ReadFile(copy), ReadFile(program));

    // A copy from an older launcher (as after a package upgrade) hands its start over to the
    // installed one, which replaces it.
    fs::last_write_time(copy, fs::last_write_time(program) - std::chrono::hours(24 * 365));
    RunUntilUpdated(copy);
    EXPECT_EQ(fs::last_write_time(copy), fs::last_write_time(program));
    EXPECT_FALSE(fs::exists(world.dataDir() + "/Valdrune.log"));  // the installed launcher ran, logging elsewhere
    ::chmod("/usr/lib/valdrune", 0755);

    const auto removed = RunTool({"/usr/bin/dpkg", "-r", "valdrune"}, env);
    EXPECT_EQ(removed.exitCode, 0) << removed.output;
    EXPECT_FALSE(fs::exists("/usr/lib/valdrune"));
    EXPECT_FALSE(fs::exists(fs::symlink_status("/usr/bin/valdrune")));
    EXPECT_FALSE(fs::exists("/usr/share/applications/io.valdrune.Launcher.desktop"));
}
