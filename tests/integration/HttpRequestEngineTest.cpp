// The request engine over the build's real HTTP library (libcurl, or WinINet under Wine)
// against the loopback operator server (and, for header texts that server never sends, a small
// in-test site).

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <numeric>
#include <regex>
#include <thread>

#include "LoopbackSites.h"
#include "OperatorServer.h"
#include "TempHome.h"
#include "telemetry/HttpRequest.h"

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

struct Seen {
    std::string what;  // "headers", "finished" or "timeout"
    int id = 0;
    CHttpResponseInfo info;
    std::string body;
    std::uint32_t flags = 0;
};

// Records every callback, on the manager's thread.
class RecordingManager final : public CHttpRequestManager {
public:
    using CHttpRequestManager::CHttpRequestManager;

    std::vector<Seen> seen;

    std::vector<std::string> Sequence(int id) const {
        std::vector<std::string> out;
        for (const auto& s : seen) {
            if (s.id == id) {
                out.push_back(s.what);
            }
        }
        return out;
    }
    const Seen* Find(const std::string& what, int id) const {
        for (const auto& s : seen) {
            if (s.what == what && s.id == id) {
                return &s;
            }
        }
        return nullptr;
    }

protected:
    void OnResponseHeaders(CHttpRequest& r) override { Record("headers", r); }
    void OnRequestFinished(CHttpRequest& r) override { Record("finished", r); }
    void OnRequestTimeout(CHttpRequest& r) override { Record("timeout", r); }

private:
    void Record(const char* what, CHttpRequest& r) {
        seen.push_back({what, r.RequestId(), r.Response(), r.Body().Contents(), r.Params().m_dwRequestFlags});
    }
};

std::string Package(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 131) % 251);
    }
    return bytes;
}

class HttpEngine : public ::testing::Test {
protected:
    OperatorServer server;
    StandaloneEventLoop loop;
    RecordingManager manager{loop};

    bool Pump(const std::function<bool()>& done, std::chrono::milliseconds limit = 20s) {
        return loop.RunUntil(done, EventLoop::Clock::now() + limit);
    }
    bool Idle() const { return manager.RunningCount() == 0 && manager.FinishedCount() == 0; }
    CHttpRequestParams Params(const std::string& url, int verb = 0) const {
        CHttpRequestParams params;
        params.m_strUrl = url;
        params.m_nVerb = verb;
        return params;
    }
    std::vector<std::string> RequestsTo(const std::string& prefix) const {
        std::vector<std::string> lines;
        for (const auto& line : server.Requests()) {
            if (line.find(" " + prefix) != std::string::npos) {
                lines.push_back(line);
            }
        }
        std::sort(lines.begin(), lines.end());
        return lines;
    }
};

}  // namespace

TEST_F(HttpEngine, RequestsAreNumberedFromOneHundredAndEachVerbCodeSendsItsVerb) {
    std::vector<int> ids;
    for (const int verb : {0, 1, 2, 3, 7}) {
        ids.push_back(manager.AddRequest(Params(server.Url("/verbs/" + std::to_string(verb)), verb)));
    }
    EXPECT_EQ(ids, (std::vector<int>{100, 101, 102, 103, 104}));
    ASSERT_TRUE(Pump([&] { return manager.seen.size() == 10; }));
    EXPECT_EQ(RequestsTo("/verbs/"), (std::vector<std::string>{
                                         "DELETE /verbs/3 range=-",
                                         "GET /verbs/0 range=-",
                                         "GET /verbs/7 range=-",
                                         "POST /verbs/1 range=-",
                                         "POST /verbs/2 range=-",
                                     }));
    for (const int id : ids) {
        EXPECT_EQ(manager.Sequence(id), (std::vector<std::string>{"headers", "finished"}));
        EXPECT_EQ(manager.Find("finished", id)->info.m_nStatusCode, 404);
        EXPECT_EQ(manager.Find("finished", id)->info.m_nEndedCleanly, 1);
    }
}

TEST_F(HttpEngine, ARangeStartAsksForTheRestAndTheResponseInfoAndBodyFollow) {
    const std::string package = Package(300000);
    WriteFile(server.FilesDir() + "/zavo.zip", package);

    auto ranged = Params(server.PackageUrl());
    ranged.m_nRangeStart = 5000;
    ranged.m_strExtraHeaders = "X-Trace: 1\r\n";
    const int rangedId = manager.AddRequest(ranged);
    const int wholeId = manager.AddRequest(Params(server.PackageUrl()));
    ASSERT_TRUE(Pump([&] { return manager.Find("finished", rangedId) && manager.Find("finished", wholeId); }));

    EXPECT_EQ(RequestsTo("/files/"), (std::vector<std::string>{"GET /files/zavo.zip range=-",
                                                                "GET /files/zavo.zip range=bytes=5000-"}));
    const Seen* headers = manager.Find("headers", rangedId);
    ASSERT_TRUE(headers);
    EXPECT_EQ(headers->info.m_nStatusCode, 206);
    EXPECT_EQ(headers->info.m_nContentLength, 295000);
    EXPECT_EQ(headers->info.m_nEndedCleanly, 0);  // not known before the body has ended
    const Seen* finished = manager.Find("finished", rangedId);
    EXPECT_EQ(finished->info.m_nEndedCleanly, 1);
    EXPECT_TRUE(finished->body == package.substr(5000));
    EXPECT_EQ(manager.Find("finished", wholeId)->info.m_nContentLength, 300000);
    EXPECT_TRUE(manager.Find("finished", wholeId)->body == package);

    // A body cut short ends unclean, with the bytes that came.
    server.SetRule("/files/zavo.zip", "cut=70000");
    const int cutId = manager.AddRequest(Params(server.PackageUrl()));
    ASSERT_TRUE(Pump([&] { return manager.Find("finished", cutId) != nullptr; }));
    EXPECT_EQ(manager.Find("finished", cutId)->info.m_nEndedCleanly, 0);
    EXPECT_TRUE(manager.Find("finished", cutId)->body == package.substr(0, 70000));
}

TEST_F(HttpEngine, HeaderTextsComeFromTheFinalResponse) {
    ScriptedSite site({
        {"/moved", "HTTP/1.1 302 Found\r\nLocation: /info\r\nServer: Redirector\r\nContent-Length: 0\r\n\r\n"},
        {"/info",
         "HTTP/1.1 200 OK\r\nserver: Valdrune-Test/1.0\r\nServer: second\r\n"
         "Last-Modified: Wed, 21 Oct 2015 07:28:00 GMT\r\nContent-Length: 5\r\n\r\nhello"},
    });
    const int followed = manager.AddRequest(Params(site.Url("/moved")));
    auto notFollowed = Params(site.Url("/moved"));
    notFollowed.m_dwRequestFlags |= kInternetFlagNoAutoRedirect;
    const int kept = manager.AddRequest(notFollowed);
    ASSERT_TRUE(Pump([&] { return manager.Find("finished", followed) && manager.Find("finished", kept); }));

    const CHttpResponseInfo& info = manager.Find("headers", followed)->info;
    EXPECT_EQ(info.m_nStatusCode, 200);
    EXPECT_EQ(info.m_nContentLength, 5);
    EXPECT_EQ(info.m_strServer, "Valdrune-Test/1.0");  // the first of its kind, any letter case
    EXPECT_EQ(info.m_strLastModified, "Wed, 21 Oct 2015 07:28:00 GMT");
    EXPECT_EQ(manager.Find("finished", followed)->body, "hello");
    EXPECT_EQ(manager.Find("headers", kept)->info.m_nStatusCode, 302);
    EXPECT_EQ(manager.Find("headers", kept)->info.m_strServer, "Redirector");
    EXPECT_EQ(manager.Find("headers", kept)->info.m_strLastModified, "");
}

TEST_F(HttpEngine, FailuresShowUpAsDataAndTheRequestIsStillCleanedUp) {
    // A host that does not resolve (a reserved name: nothing is asked of any name server).
    const int unresolved = manager.AddRequest(Params("http://reports.valdrune.invalid/api/laucher_info.php"));
    // A port where nothing listens.
    const int refused = manager.AddRequest(Params("http://127.0.0.1:1/x"));
    // https spoken to a plain HTTP server: the handshake fails.
    const int secure = manager.AddRequest(Params("https://127.0.0.1:" + std::to_string(server.port()) + "/x"));

    for (const int id : {unresolved, refused, secure}) {
        ASSERT_TRUE(Pump([&] { return manager.Find("finished", id) != nullptr; })) << id;
        EXPECT_EQ(manager.Sequence(id), (std::vector<std::string>{"headers", "finished"})) << id;
        EXPECT_EQ(manager.Find("headers", id)->info.m_nStatusCode, 0) << id;
        EXPECT_EQ(manager.Find("finished", id)->info.m_nEndedCleanly, 0) << id;
    }
    EXPECT_EQ(manager.Find("headers", secure)->flags, 0x84000000u | kInternetFlagSecure);
    EXPECT_EQ(manager.Find("headers", refused)->flags, 0x84000000u);

    EXPECT_TRUE(Pump([&] { return Idle(); }));  // destroyed by cleanup ticks
}

TEST_F(HttpEngine, AProxyCarriesTheWholeAddressSoItsNameIsNeverResolvedHere) {
    auto params = Params("http://reports.valdrune.invalid/api/laucher_info.php?via=proxy");
    params.m_strProxyHost = "127.0.0.1";
    params.m_nProxyPort = server.port();
    const int id = manager.AddRequest(params);
    ASSERT_TRUE(Pump([&] { return manager.Find("finished", id) != nullptr; }));
    // WinINet writes the scheme's port into the address; libcurl leaves it out.
    const auto proxied = RequestsTo("http://reports.valdrune.invalid");
    ASSERT_EQ(proxied.size(), 1u);
    EXPECT_TRUE(std::regex_match(proxied[0], std::regex(R"(GET http://reports\.valdrune\.invalid(:80)?)"
                                                        R"(/api/laucher_info\.php\?via=proxy range=-)")))
        << proxied[0];
}

TEST_F(HttpEngine, ATimeOutDuringAStalledReadAbortsItAndTheLateEndIsIgnored) {
    WriteFile(server.FilesDir() + "/zavo.zip", Package(100000));
    server.SetRule("/files/zavo.zip", "stall-after=1000");  // headers and 1000 bytes, then nothing
    auto params = Params(server.PackageUrl());
    params.m_nTimeout = 300;
    const int id = manager.AddRequest(params);

    ASSERT_TRUE(Pump([&] { return manager.Find("timeout", id) != nullptr; }));
    EXPECT_EQ(manager.Find("headers", id)->info.m_nStatusCode, 200);
    EXPECT_EQ(manager.RunningCount(), 0u);
    // The read was unblocked while the server still holds the connection, so the thread ends
    // and the request is destroyed; its last notification changed nothing.
    EXPECT_TRUE(Pump([&] { return Idle(); }));
    EXPECT_EQ(manager.Sequence(id), (std::vector<std::string>{"headers", "timeout"}));
}

TEST_F(HttpEngine, TheCleanupTimerStopsWhenIdleAndTheNextRequestArmsItAgain) {
    EXPECT_FALSE(manager.IsCleanupTimerArmed());
    manager.AddRequest(Params(server.Url("/api/laucher_info.php?n=1")));
    EXPECT_TRUE(manager.IsCleanupTimerArmed());
    EXPECT_TRUE(Pump([&] { return Idle() && !manager.IsCleanupTimerArmed(); }));

    const int id = manager.AddRequest(Params(server.Url("/api/laucher_info.php?n=2")));
    EXPECT_EQ(id, 101);
    EXPECT_TRUE(manager.IsCleanupTimerArmed());
    EXPECT_TRUE(Pump([&] { return Idle() && !manager.IsCleanupTimerArmed(); }));
    EXPECT_EQ(server.ReportQueries("/api/laucher_info.php"), (std::vector<std::string>{"n=1", "n=2"}));
}

TEST_F(HttpEngine, RequestsAddedFromTwoThreadsAtOnceAllRunWithTheirOwnIds) {
    constexpr int kEach = 30;
    std::vector<int> ids[2];
    std::atomic<int> adding{2};
    std::vector<std::thread> adders;
    for (int t = 0; t < 2; ++t) {
        adders.emplace_back([&, t] {
            for (int n = 0; n < kEach; ++n) {
                ids[t].push_back(manager.AddRequest(Params(
                    server.Url("/api/laucher_info.php?t=" + std::to_string(t) + "&n=" + std::to_string(n)))));
            }
            --adding;
        });
    }
    // This thread is the manager's: it keeps delivering while the others add.
    EXPECT_TRUE(Pump([&] { return adding == 0 && Idle(); }, 60s));
    for (auto& adder : adders) {
        adder.join();
    }
    std::vector<int> all(ids[0]);
    all.insert(all.end(), ids[1].begin(), ids[1].end());
    std::sort(all.begin(), all.end());
    std::vector<int> expected(2 * kEach);
    std::iota(expected.begin(), expected.end(), 100);
    EXPECT_EQ(all, expected);
    EXPECT_TRUE(std::is_sorted(ids[0].begin(), ids[0].end()));
    EXPECT_EQ(server.ReportQueries("/api/laucher_info.php").size(), 2u * kEach);
    EXPECT_EQ(manager.seen.size(), 4u * kEach);
}

TEST(HttpEngineShutdown, DestroyingTheManagerWhileConnectionsHangReturnsAtOnceAndEndsTheirThreads) {
    OperatorServer server;
    server.SetRule("/api/laucher_info.php", "stall");  // accepts the request, never answers
    HangingPort hanging;
    StandaloneEventLoop loop;
    std::thread([] {}).join();  // a sanitizer's helper thread, started with the first thread, counts as baseline
    const size_t baseline = ThreadCount();

    auto manager = std::make_unique<RecordingManager>(loop);
    CHttpRequestParams connecting;
    connecting.m_strUrl = "http://127.0.0.1:" + std::to_string(hanging.port()) + "/x";
    manager->AddRequest(connecting);
    CHttpRequestParams reading;
    reading.m_strUrl = server.Url("/api/laucher_info.php?stalled=1");
    manager->AddRequest(reading);
    ASSERT_TRUE(loop.RunUntil(
        [&] {
            const auto requests = server.Requests();
            return hanging.SomeoneWaits() && !requests.empty() && requests.back().find("stalled=1") != std::string::npos;
        },
        EventLoop::Clock::now() + 20s));
    ASSERT_GT(ThreadCount(), baseline);  // the count sees the requests' threads

    const auto start = std::chrono::steady_clock::now();
    manager.reset();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::milliseconds(CHttpRequestManager::kShutdownWaitMs) + 500ms);
    EXPECT_TRUE(WaitFor([&] { return ThreadCount() == baseline; }, 5s)) << ThreadCount() << " vs " << baseline;
}
