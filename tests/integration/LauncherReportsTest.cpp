// The launcher executable reports its start and its failures to the operator's server (the
// loopback server on the configured origin's port) and gives its last reports time at exit.

#include <gtest/gtest.h>

#include <regex>
#include <signal.h>

#include "ChildProcess.h"
#include "Launcher.h"
#include "OperatorServer.h"
#include "TempHome.h"

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

constexpr const char* kInfoPath = "/api/laucher_info.php";
constexpr const char* kErrorPath = "/api/laucher_error.php";

bool Printed(const ChildProcess& p, const std::string& text) { return p.Stdout().find(text) != std::string::npos; }

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

class LauncherReports : public ::testing::Test {
protected:
    OperatorServer server{OperatorServer::OriginPort()};
    TempHome world;
    std::string exe = CopyLauncherTo(world.root() + "/app");
};

}  // namespace

TEST_F(LauncherReports, TheStartIsReportedAsEventOneThenLauncherStart) {
    ChildProcess launcher(LauncherOptions(world, exe));
    ASSERT_TRUE(WaitFor([&] { return Printed(launcher, kConsoleRunningLine); })) << launcher.Stderr();
    ASSERT_TRUE(WaitFor([&] { return server.ReportQueries(kErrorPath).size() == 1; }));
    launcher.Signal(SIGTERM);
    EXPECT_EQ(launcher.Wait(), 0);

    const auto events = server.ReportQueries(kInfoPath);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].rfind("client_uid=", 0), 0u) << events[0];
    EXPECT_NE(events[0].find("&ditch_name=drevoline&mac="), std::string::npos);
    EXPECT_NE(events[0].find("&os_version=Version%20major:"), std::string::npos);
    // The page engine's major version stands where the browser version stood.
    EXPECT_TRUE(std::regex_search(events[0], std::regex("%7Cie_version=[1-9][0-9]*&ac=create$"))) << events[0];
    EXPECT_TRUE(std::regex_search(server.ReportQueries(kErrorPath)[0],
                                  std::regex("%20ie_version:[1-9][0-9]*&error_msg=launcher%20start$")));

    const std::string log = ReadFile(world.root() + "/app/valdrune.log");
    EXPECT_NE(log.find("[INFO][WebLogger::LogEvent::53] " + server.Url(kInfoPath) + "?" + events[0] + "\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("[INFO][WebLogger::Log::79] " + server.Url(kErrorPath) + "?"), std::string::npos);
}

TEST_F(LauncherReports, TheFolderErrorIsOnTheServerByTheTimeTheLauncherHasEnded) {
    auto options = LauncherOptions(world, exe);
    options.env.erase("HOME");
    options.env.erase("XDG_DATA_HOME");
    ChildProcess launcher(options);
    EXPECT_EQ(launcher.Wait(), 255);
    // No waiting here: the exit itself waited for the report.
    const auto errors = server.ReportQueries(kErrorPath);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(EndsWith(errors[0], "&error_msg=%E5%88%9B%E5%BB%BA%E6%95%B0%E6%8D%AE%E7%9B%AE%E5%BD%95"
                                    "%E5%A4%B1%E8%B4%A5,%E9%94%99%E8%AF%AFid:3"))
        << errors[0];
    EXPECT_TRUE(server.ReportQueries(kInfoPath).empty());
}

// The rule is given at start: a control request to a server on the origin port would leave
// that port in TIME_WAIT on the server's side, and the next server there could not listen.
TEST(LauncherReportsStalled, AStalledServerHoldsTheExitForTheShutdownWaitAndNoLonger) {
    OperatorServer server(OperatorServer::OriginPort(), {"--rule", kInfoPath, "stall"});
    TempHome world;
    ChildProcess launcher(LauncherOptions(world, CopyLauncherTo(world.root() + "/app")));
    ASSERT_TRUE(WaitFor([&] { return Printed(launcher, kConsoleRunningLine); })) << launcher.Stderr();
    const auto start = std::chrono::steady_clock::now();
    launcher.Signal(SIGTERM);
    EXPECT_EQ(launcher.Wait(10s), 0);
    // Event 1 is stalled on its way (connecting, sending or waiting), so the exit waits for it.
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, 2900ms);
    EXPECT_LT(elapsed, 3000ms + 1500ms);
}
