// The launcher installed system-wide: `cmake --install` of this build into a private prefix, and
// the Debian package cpack makes, installed with dpkg, started against the operator server on the
// origin port and removed again (as root only, which CI's throw-away machine is).

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

// A tool's exit code (nullopt: still running at the deadline) and everything it printed.
std::pair<std::optional<int>, std::string> RunTool(std::vector<std::string> argv,
                                                   const std::map<std::string, std::string>& env) {
    ChildProcess tool({std::move(argv), env, {}, {}});
    const auto code = tool.Wait(120s);
    return {code, tool.Stdout() + tool.Stderr()};
}

class InstalledLauncher : public ::testing::Test {
protected:
    InstalledLauncher() {
        WriteFile(server.FilesDir() + "/zavo.zip", GamePackage().Bytes());
        server.SetConfig("ClientVersion=1.0.0.1\nClientMiniUpdateVersion=1.0.0.1\nClientDownloadUrl=" +
                         server.PackageUrl() + "\nClient32DownloadUrl=" + server.PackageUrl() + "\n");
    }

    // Runs launcher as a player (file permissions obeyed) until its update is through; its stderr.
    std::string RunUntilUpdated(const std::string& launcher) {
        auto options = LauncherOptions(world, launcher);
        options.withoutFileOverride = true;
        ChildProcess run(options);
        EXPECT_TRUE(WaitFor([&] { return run.Stdout().find("更新已完成") != std::string::npos; })) << run.Stderr();
        run.Signal(SIGTERM);
        EXPECT_EQ(run.Wait(), 0);
        return run.Stderr();
    }

    OperatorServer server{OperatorServer::OriginPort()};
    TempHome world;
    std::map<std::string, std::string> env = world.Environment();
    std::string copy = world.dataDir() + "/Valdrune";
};

}  // namespace

TEST_F(InstalledLauncher, InstallRulesGiveAValidEntryAndMetainfoAndALauncherThatCopiesItsExtension) {
    const std::string prefix = world.root() + "/prefix";
    const auto [installed, output] =
        RunTool({CMAKE_COMMAND, "--install", VALDRUNE_BINARY_DIR, "--prefix", prefix}, env);
    ASSERT_EQ(installed, 0) << output;
    EXPECT_EQ(fs::read_symlink(prefix + "/bin/valdrune"), "../lib/valdrune/valdrune");
    for (const std::string icon : {"48x48/apps/io.valdrune.Launcher.png", "256x256/apps/io.valdrune.Launcher.png",
                                   "scalable/apps/io.valdrune.Launcher.svg"}) {
        EXPECT_TRUE(fs::exists(prefix + "/share/icons/hicolor/" + icon)) << icon;
    }
    const std::string entry = prefix + "/share/applications/io.valdrune.Launcher.desktop";
    const auto [validEntry, entryReport] = RunTool({"/usr/bin/desktop-file-validate", entry}, env);
    EXPECT_EQ(validEntry, 0) << entryReport;
    EXPECT_NE(ReadFile(entry).find("\nStartupWMClass=Valdrune\n"), std::string::npos);  // the window's class
    const auto [validMetainfo, metainfoReport] =
        RunTool({"/usr/bin/appstreamcli", "validate", "--no-net", "--strict",
                 prefix + "/share/metainfo/io.valdrune.Launcher.metainfo.xml"},
                env);
    EXPECT_EQ(validMetainfo, 0) << metainfoReport;

    // The launcher there makes its copy in the data folder, page extension included.
    RunUntilUpdated(prefix + "/bin/valdrune");
    EXPECT_EQ(ReadFile(world.dataDir() + "/libvaldrune-webext.so"),
              ReadFile(prefix + "/lib/valdrune/libvaldrune-webext.so"));
}

TEST_F(InstalledLauncher, TheDebianPackageInstallsStartsUpgradesTheCopyAndRemovesCleanly) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "dpkg -i needs root (CI runs as root on a throw-away machine)";
    }
    if (fs::exists("/var/lib/dpkg/info/valdrune.list")) {
        GTEST_SKIP() << "a valdrune package is installed on this machine already; it is left alone";
    }
    env["PATH"] = "/usr/sbin:/usr/bin:/sbin:/bin";  // dpkg wants ldconfig, cpack dpkg-shlibdeps
    const std::string deb = world.root() + "/valdrune_0.0.0.1_amd64.deb";
    const auto [packed, packOutput] = RunTool(
        {CPACK_COMMAND, "-G", "DEB", "--config", VALDRUNE_BINARY_DIR "/CPackConfig.cmake", "-B", world.root()}, env);
    ASSERT_EQ(packed, 0) << packOutput;
    // Another package manager run may hold dpkg's lock for a moment: wait until it lets go.
    std::pair<std::optional<int>, std::string> install;
    WaitFor(
        [&] {
            install = RunTool({"/usr/bin/dpkg", "-i", deb}, env);
            return install.second.find("lock") == std::string::npos;
        },
        120s);
    ASSERT_EQ(install.first, 0) << install.second;
    struct Purge {  // whatever happens, the machine keeps no trace of the package
        std::map<std::string, std::string> env;
        ~Purge() { RunTool({"/usr/bin/dpkg", "--purge", "valdrune"}, env); }
    } purge{env};

    const std::string program = "/usr/lib/valdrune/valdrune";
    EXPECT_EQ(fs::canonical("/usr/bin/valdrune"), program);
    ::chmod("/usr/lib/valdrune", 0555);  // root, the tests' user, owns it; a player cannot write it
    const std::string firstStderr = RunUntilUpdated("/usr/bin/valdrune");
    EXPECT_EQ(firstStderr.substr(0, firstStderr.find('\n') + 1),
              "valdrune: the log is " + world.home() + "/.local/state/valdrune/valdrune.log\n");
    ASSERT_EQ(ReadFile(copy), ReadFile(program));

    // A copy from an older launcher (as after a package upgrade) hands its start over to the
    // installed one, which replaces it; the copy itself never ran, so it logged nothing.
    fs::last_write_time(copy, fs::last_write_time(program) - std::chrono::hours(24 * 365));
    RunUntilUpdated(copy);
    EXPECT_EQ(fs::last_write_time(copy), fs::last_write_time(program));
    EXPECT_FALSE(fs::exists(world.dataDir() + "/Valdrune.log"));
    ::chmod("/usr/lib/valdrune", 0755);

    const auto [removed, removeOutput] = RunTool({"/usr/bin/dpkg", "-r", "valdrune"}, env);
    EXPECT_EQ(removed, 0) << removeOutput;
    EXPECT_FALSE(fs::exists("/usr/lib/valdrune"));
    EXPECT_FALSE(fs::exists(fs::symlink_status("/usr/bin/valdrune")));
    EXPECT_FALSE(fs::exists("/usr/share/applications/io.valdrune.Launcher.desktop"));
}
