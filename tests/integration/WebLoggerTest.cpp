// Reports as the operator's server receives them: the reporter in-process against the loopback
// server, with the machine facts of a made-up machine.

#include <gtest/gtest.h>

#include "OperatorServer.h"
#include "TempHome.h"
#include "core/Logger.h"
#include "platform/Paths.h"
#include "telemetry/BrowserInfo.h"
#include "telemetry/WebLogger.h"

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

constexpr const char* kInfoPath = "/api/laucher_info.php";
constexpr const char* kErrorPath = "/api/laucher_error.php";

// A typical machine: one adapter behind 192.168.1.1, 16 GB, the serials unreadable.
MachineSources TypicalMachine() {
    MachineSources sources;
    sources.processorName = [] { return std::optional<std::string>("Intel(R) Core(TM) i7 CPU @ 3.20GHz"); };
    sources.adapters = [] {
        return std::optional(std::vector<platform::NetworkAdapter>{
            {"enp3s0", {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e}, "192.168.1.1"}});
    };
    sources.systemVersion = [] { return std::optional<std::string>("6.1.0-18-amd64"); };
    sources.fallbackVersion = [] { return std::optional<std::string>(); };
    sources.physicalMemory = [] { return std::uint64_t{16310452} * 1024; };
    sources.addressSpace = [] { return std::uint64_t{0x7FFE0000}; };
    sources.serials = [] { return platform::MachineSerials{}; };
    return sources;
}

// Those facts as they travel.
const std::string kMachineKeys = "client_uid=unkown&ditch_name=drevoline&mac=00-1A-2B-3C-4D-5E&os_version=";
const std::string kSystemEscaped =
    "Version%20major:6%20minor:1%20build:0Intel(R)%20Core(TM)%20i7%20CPU%20@%203.20GHz"
    "physical%20memory:15928%20MB%20virtual%20memory:2047%20MB";

class Reporting : public ::testing::Test {
protected:
    Reporting() {
        profile = std::make_unique<MachineProfile>(TypicalMachine());
        Logger::Redirect(&log);
        BrowserInfo::SetVersionProvider([] { return 2; });
        reporter = std::make_unique<WebLogger>(loop, server.Url(kInfoPath), server.Url(kErrorPath), *profile);
    }
    ~Reporting() override {
        reporter.reset();
        Logger::Redirect(nullptr);
        BrowserInfo::SetVersionProvider(nullptr);
        BrowserInfo::SetDefaultUserAgent("");
    }

    std::vector<std::string> QueriesOnceThereAre(const char* path, size_t count) {
        loop.RunUntil([&] { return server.ReportQueries(path).size() >= count; }, EventLoop::Clock::now() + 20s);
        return server.ReportQueries(path);
    }
    std::string LogText() const { return ReadFile(logDir.path() + "/launcher.log"); }

    OperatorServer server;
    StandaloneEventLoop loop;
    std::unique_ptr<MachineProfile> profile;
    TempDir logDir;
    Logger log{logDir.path() + "/launcher.log"};
    std::unique_ptr<WebLogger> reporter;
};

}  // namespace

TEST_F(Reporting, EventReportsCarryTheKeysInOrderAndAnActionOnlyForTheNamedEvents) {
    std::vector<std::string> expected;
    for (const auto& [event, action] : std::vector<std::pair<int, std::string>>{
             {EventCreate, "&ac=create"},
             {EventDownloadStart, "&ac=download_start"},
             {EventUnzipStart, "&ac=unzip_start"},
             {EventUnzipFinish, ""},
             {EventGameStart, "&ac=game_start"},
             {4, ""}}) {
        reporter->LogEvent(event);
        expected.push_back(kMachineKeys + kSystemEscaped + "%7Cie_version=2" + action);
        // One at a time, so that the server's record keeps the order of sending.
        EXPECT_EQ(QueriesOnceThereAre(kInfoPath, expected.size()), expected);
    }
    EXPECT_TRUE(server.ReportQueries(kErrorPath).empty());
    EXPECT_NE(LogText().find("[INFO][WebLogger::LogEvent::53] " + server.Url(kInfoPath) + "?" + expected[0] +
                             std::string(platform::kTextLineEnd)),
              std::string::npos)
        << LogText();
}

TEST_F(Reporting, MessageReportsArriveAsOneEscapedValueWithTheEnginesUserAgent) {
    BrowserInfo::SetDefaultUserAgent("Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/605.1.15 (KHTML, like Gecko)");
    const std::vector<std::string> messages = {
        "game download start, download url:http://127.0.0.1:9/files/zavo.zip?v=1&t=2|x #y",
        "创建数据目录失败,错误id:5",
    };
    const std::vector<std::string> escaped = {
        "game%20download%20start,%20download%20url:http:%2F%2F127.0.0.1:9%2Ffiles%2Fzavo.zip%3Fv=1%26t=2%7Cx%20%23y",
        "%E5%88%9B%E5%BB%BA%E6%95%B0%E6%8D%AE%E7%9B%AE%E5%BD%95%E5%A4%B1%E8%B4%A5,%E9%94%99%E8%AF%AFid:5",
    };
    for (size_t i = 0; i < messages.size(); ++i) {
        reporter->Log(messages[i]);
        const auto queries = QueriesOnceThereAre(kErrorPath, i + 1);
        ASSERT_EQ(queries.size(), i + 1);
        EXPECT_EQ(queries[i], kMachineKeys + kSystemEscaped + "%20ie_version:2&error_msg=" + escaped[i]);
        EXPECT_EQ(PercentDecoded(queries[i].substr(queries[i].find("&error_msg=") + 11)), messages[i]);
    }
    for (const auto& line : server.ReportLines()) {
        EXPECT_NE(line.find("\"user_agent\":\"Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/605.1.15 (KHTML, like Gecko)\""),
                  std::string::npos)
            << line;
    }
    EXPECT_NE(LogText().find("[INFO][WebLogger::Log::79] " + server.Url(kErrorPath) + "?" + kMachineKeys),
              std::string::npos);
}

// libcurl's own: WinINet takes the system's preconfigured proxy instead, which a test cannot set
// without changing it for every other program of the Wine prefix.
#ifndef _WIN32
TEST_F(Reporting, ReportsBehindAProxyAreNotLostWhereTheUpdateFollowsTheEnvironmentsProxy) {
    OperatorServer proxy;  // answers a proxied request and records its whole address
    TempHome world;        // gives the variables back afterwards
    world.Set("no_proxy", std::nullopt);
    world.Set("NO_PROXY", std::nullopt);
    world.Set("http_proxy", proxy.Origin());
    reporter->Log("behind a proxy");
    const auto proxied = [&] {
        for (const std::string& line : proxy.Requests()) {
            if (line.starts_with("GET " + server.Url(kErrorPath) + "?")) {
                return line.find("&error_msg=behind%20a%20proxy range=-") != std::string::npos;
            }
        }
        return false;
    };
    EXPECT_TRUE(loop.RunUntil(proxied, EventLoop::Clock::now() + 20s))
        << ::testing::PrintToString(proxy.Requests());
    EXPECT_TRUE(server.ReportLines().empty());
}
#endif

TEST_F(Reporting, TheLastReportBeforeShutDownStillGoesOutAndLaterOnesDoNot) {
    reporter->Log("game unintall success");
    reporter->ShutDown();  // at once, as the process ends right after its last report
    EXPECT_EQ(server.ReportQueries(kErrorPath).size(), 1u);
    EXPECT_EQ(reporter->RunningCount() + reporter->FinishedCount(), 0u);

    reporter->LogEvent(EventGameStart);  // still logged for support, but nothing starts
    EXPECT_NE(LogText().find("&ac=game_start" + std::string(platform::kTextLineEnd)), std::string::npos);
    EXPECT_EQ(reporter->RunningCount(), 0u);
    CHttpRequestParams params;
    params.m_strUrl = server.Url(kInfoPath);
    EXPECT_EQ(reporter->AddRequest(params), 0);
}

TEST_F(Reporting, ShutDownWaitsForAStalledServerNoLongerThanTheShutdownWait) {
    server.SetRule(kInfoPath, "stall");
    reporter->LogEvent(EventCreate);
    ASSERT_TRUE(loop.RunUntil(
        [&] {
            const auto requests = server.Requests();
            return !requests.empty() && requests.back().find("&ac=create") != std::string::npos;
        },
        EventLoop::Clock::now() + 20s));
    const auto start = std::chrono::steady_clock::now();
    reporter->ShutDown();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, 2900ms);  // the report had its chance the whole time
    EXPECT_LT(elapsed, 4000ms);
}
