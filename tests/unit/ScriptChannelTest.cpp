// The launcher's end of the page bridge over its real local socket, served from a main context
// of the test's own, with the web process's real client on other threads: what a page can
// ask, what a slow or nested handler does to other pages, and what a confused or hostile peer
// can do to the launcher.

#include <glib.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <future>
#include <thread>

#include "ChildProcess.h"
#include "TempHome.h"
#include "core/Logger.h"
#include "platform/Executable.h"
#include "platform/LocalSocket.h"
#include "ui/ScriptChannel.h"
#include "webext/ScriptClient.h"

using namespace testing_support;
using namespace std::string_literals;
using Args = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

ScriptValue StringValue(std::string text) { return ScriptValue(std::move(text)); }

// Members answered through handlers the test chooses; records what arrived and on which thread.
class Dispatcher final : public ScriptDispatcher {
public:
    void Add(const std::string& name, std::function<ScriptValue(const Args&)> handler) {
        m_members.push_back({name, std::move(handler)});
    }
    int Lookup(const std::string& name) override {
        threads.push_back(std::this_thread::get_id());
        lookups.push_back(name);
        for (size_t i = 0; i < m_members.size(); ++i) {
            if (m_members[i].first == name) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }
    ScriptValue Invoke(int id, const Args& args) override {
        threads.push_back(std::this_thread::get_id());
        calls.push_back({id, args});
        return m_members.at(static_cast<size_t>(id)).second(args);
    }

    // Written and read only on the thread that runs the channel's context.
    std::vector<std::string> lookups;
    std::vector<std::pair<int, Args>> calls;
    std::vector<std::thread::id> threads;

private:
    std::vector<std::pair<std::string, std::function<ScriptValue(const Args&)>>> m_members;
};

ScriptValue Echo(const Args& args) { return StringValue(args.empty() ? "" : args[0]); }

class ScriptChannelTest : public ::testing::Test {
protected:
    ScriptChannelTest() : m_context(g_main_context_new()) {
        m_dispatcher.Add("Echo", Echo);
        m_channel = std::make_unique<ScriptChannel>(m_dispatcher, m_context);
    }
    ~ScriptChannelTest() override {
        m_channel.reset();
        g_main_context_unref(m_context);
    }

    // Serves the channel on this thread until condition holds; false at the deadline.
    bool Serve(const std::function<bool()>& condition, std::chrono::milliseconds deadline = 30s) {
        const auto end = std::chrono::steady_clock::now() + deadline;
        while (!condition()) {
            if (std::chrono::steady_clock::now() >= end) {
                return false;
            }
            g_main_context_iteration(m_context, FALSE);
            std::this_thread::yield();
        }
        return true;
    }

    // Runs work on another thread (as a web process would) while this thread serves the channel.
    template <typename Work>
    auto Client(Work work) {
        auto result = std::async(std::launch::async, work);
        EXPECT_TRUE(Serve([&] { return result.wait_for(0s) == std::future_status::ready; }));
        return result.get();
    }

    std::string SocketPath() const { return m_channel->SocketPath(); }

    TempHome m_world;
    GMainContext* m_context;
    Dispatcher m_dispatcher;
    std::unique_ptr<ScriptChannel> m_channel;
};

ScriptValue ValueOf(const ScriptClient::CallResult& result) {
    EXPECT_TRUE(std::holds_alternative<ScriptValue>(result))
        << std::get<ScriptWire::Failure>(result).message;
    return std::holds_alternative<ScriptValue>(result) ? std::get<ScriptValue>(result) : ScriptValue();
}

// A raw line to the channel that sends bytes, says it has nothing more to send, and reports
// whether the channel then hung up without answering.
bool HungUpAfter(const std::string& path, const std::string& bytes) {
    auto stream = platform::LocalStream::Connect(path);
    if (!stream.valid() || !stream.SendAll(bytes) || ::shutdown(stream.fd(), SHUT_WR) != 0) {
        return false;
    }
    char byte;
    return !stream.ReceiveExact(&byte, 1);
}

}  // namespace

TEST_F(ScriptChannelTest, ListensInAFolderOnlyItsUserMayEnterAndLeavesNothingBehind) {
    ASSERT_TRUE(m_channel->IsListening());
    const std::string folder = platform::FolderOf(SocketPath());
    EXPECT_EQ(platform::FolderOf(folder), m_world.runtimeDir());
    EXPECT_EQ(fs::path(folder).filename().string().rfind("valdrune-page-", 0), 0u);
    struct stat info{};
    ASSERT_EQ(::stat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(SocketPath().c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));

    // Every channel gets a folder of its own.
    ScriptChannel second(m_dispatcher, m_context);
    EXPECT_NE(platform::FolderOf(second.SocketPath()), folder);

    m_channel.reset();
    EXPECT_FALSE(fs::exists(folder));

    // A runtime folder too deep for a socket address, or none at all: /tmp.
    const std::string deep = m_world.root() + "/" + std::string(90, 'r');
    fs::create_directories(deep);
    m_world.Set("XDG_RUNTIME_DIR", deep);
    ScriptChannel fallback(m_dispatcher, m_context);
    EXPECT_EQ(fallback.SocketPath().rfind("/tmp/valdrune-page-", 0), 0u) << fallback.SocketPath();
    m_world.Set("XDG_RUNTIME_DIR", std::nullopt);
    ScriptChannel without(m_dispatcher, m_context);
    EXPECT_EQ(without.SocketPath().rfind("/tmp/valdrune-page-", 0), 0u) << without.SocketPath();
}

TEST_F(ScriptChannelTest, PagesGetIdsAndAnswersServedOnTheChannelsThread) {
    m_dispatcher.Add("Flag", [](const Args&) { return ScriptValue(true); });
    m_dispatcher.Add("Nothing", [](const Args&) { return ScriptValue{}; });
    const std::string path = SocketPath();

    struct Seen {
        int echo, flag, missing;
        ScriptClient::CallResult a, b, c;
    };
    const Seen seen = Client([path] {
        ScriptClient page(path);
        Seen s{page.Lookup("Echo"), page.Lookup("Flag"), page.Lookup("echo"), {}, {}, {}};
        s.a = page.Call(s.echo, {"first", "second"});
        s.b = page.Call(s.flag, {});
        s.c = page.Call(page.Lookup("Nothing"), {});
        return s;
    });
    EXPECT_EQ(seen.echo, 0);
    EXPECT_EQ(seen.flag, 1);
    EXPECT_EQ(seen.missing, -1);
    EXPECT_EQ(ValueOf(seen.a), StringValue("first"));
    EXPECT_EQ(ValueOf(seen.b), ScriptValue(true));
    EXPECT_EQ(ValueOf(seen.c), ScriptValue{});
    ASSERT_EQ(m_dispatcher.calls.size(), 3u);
    EXPECT_EQ(m_dispatcher.calls[0].second, (Args{"first", "second"}));
    for (const auto& thread : m_dispatcher.threads) {
        EXPECT_EQ(thread, std::this_thread::get_id());
    }

    // Several web processes at once, each on its own line.
    auto many = Client([path] {
        std::vector<std::future<ScriptClient::CallResult>> pages;
        for (int i = 0; i < 4; ++i) {
            pages.push_back(std::async(std::launch::async, [path, i] {
                ScriptClient page(path);
                return page.Call(page.Lookup("Echo"), {"page " + std::to_string(i)});
            }));
        }
        std::vector<ScriptClient::CallResult> results;
        for (auto& page : pages) {
            results.push_back(page.get());
        }
        return results;
    });
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(ValueOf(many[static_cast<size_t>(i)]), StringValue("page " + std::to_string(i)));
    }
}

TEST_F(ScriptChannelTest, AHandlerInANestedLoopLeavesOtherPagesServedAndGetsItsOwnAnswerBack) {
    const std::string path = SocketPath();
    std::future<ScriptClient::CallResult> second;
    m_dispatcher.Add("Nested", [&](const Args&) {
        // A message box's loop: meanwhile another page calls, and its call is answered.
        second = std::async(std::launch::async, [path] {
            ScriptClient page(path);
            return page.Call(page.Lookup("Echo"), {"from the second page"});
        });
        Serve([&] { return second.wait_for(0s) == std::future_status::ready; });
        return StringValue("the first page's answer");
    });

    const auto first = Client([path] {
        ScriptClient page(path);
        auto answer = page.Call(page.Lookup("Nested"), {});
        auto after = page.Call(page.Lookup("Echo"), {"after"});  // the same line, still in step
        return std::make_pair(answer, after);
    });
    EXPECT_EQ(ValueOf(first.first), StringValue("the first page's answer"));
    EXPECT_EQ(ValueOf(first.second), StringValue("after"));
    EXPECT_EQ(ValueOf(second.get()), StringValue("from the second page"));
}

TEST_F(ScriptChannelTest, ConfusedOrHostilePeersAreHungUpOnAndTheChannelCarriesOn) {
    const std::string path = SocketPath();
    const auto lookupEcho = *ScriptWire::EncodeRequest(ScriptWire::Lookup{"Echo"});

    // An announced length beyond the limit, a made-up kind, a malformed call, half a request.
    EXPECT_TRUE(Client([&] { return HungUpAfter(path, "\x7F\xFF\xFF\xFF"s + "N"); }));
    EXPECT_TRUE(Client([&] { return HungUpAfter(path, "\0\0\0\x01Z"s); }));
    EXPECT_TRUE(Client([&] { return HungUpAfter(path, "\0\0\0\x09" "C\0\0\0\0\0\0\0\x05"s); }));
    EXPECT_TRUE(Client([&] { return HungUpAfter(path, lookupEcho.substr(0, lookupEcho.size() - 2)); }));
    EXPECT_TRUE(m_dispatcher.lookups.empty());
    EXPECT_TRUE(m_dispatcher.calls.empty());

    // A page that goes away while its call runs: the long answer finds nobody, and the
    // launcher neither dies of the broken line nor stops serving.
    std::atomic<bool> started{false};
    std::atomic<bool> gone{false};
    m_dispatcher.Add("Long", [&](const Args&) {
        started = true;
        Serve([&] { return gone.load(); });
        return StringValue(std::string(4 << 20, 'x'));
    });
    Client([&] {
        auto stream = platform::LocalStream::Connect(path);
        stream.SendAll(*ScriptWire::EncodeRequest(ScriptWire::Call{1, {}}));
        WaitFor([&] { return started.load(); });  // the call is under way: leave
        stream.Close();
        gone = true;
        return true;
    });
    EXPECT_EQ(m_dispatcher.calls.size(), 1u);

    const auto answer = Client([path] {
        ScriptClient page(path);
        return page.Call(page.Lookup("Echo"), {"still here"});
    });
    EXPECT_EQ(ValueOf(answer), StringValue("still here"));
}

TEST_F(ScriptChannelTest, AChannelClosedDuringACallHangsUpAndThePageSeesAFailure) {
    const std::string path = SocketPath();
    m_dispatcher.Add("CloseAll", [&](const Args&) {
        m_channel.reset();  // the launcher shutting down inside a page's call
        return StringValue("never sent");
    });
    const auto result = Client([path] {
        ScriptClient page(path);
        return page.Call(page.Lookup("CloseAll"), {});
    });
    ASSERT_TRUE(std::holds_alternative<ScriptWire::Failure>(result));
    EXPECT_NE(std::get<ScriptWire::Failure>(result).message.find("cannot be reached"), std::string::npos);
    EXPECT_FALSE(fs::exists(path));
}

TEST_F(ScriptChannelTest, AProcessOfAnotherUserIsRefusedEvenWhenTheFolderLetsItIn) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to run a client as another user";
    }
    TempDir logDir;
    Logger log(logDir.path() + "/launcher.log");
    Logger::Redirect(&log);
    // Loosen what keeps strangers out, so only the check of the peer's user stands in the way.
    for (const auto& folder : {m_world.root(), m_world.runtimeDir(), platform::FolderOf(SocketPath())}) {
        ::chmod(folder.c_str(), 0755);
    }
    ::chmod(SocketPath().c_str(), 0777);
    const std::string path = SocketPath();
    const std::string request = *ScriptWire::EncodeRequest(ScriptWire::Lookup{"Echo"});

    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
            ::_exit(3);
        }
        platform::LocalStream stream = platform::LocalStream::Connect(path);
        if (!stream.valid()) {
            ::_exit(2);
        }
        char byte;
        const bool answered = stream.SendAll(request) && stream.ReceiveExact(&byte, 1);
        ::_exit(answered ? 1 : 0);
    }
    ASSERT_GT(child, 0);
    int status = -1;
    EXPECT_TRUE(Serve([&] { return ::waitpid(child, &status, WNOHANG) == child; }));
    Logger::Redirect(nullptr);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: answered, 2: could not connect, 3: could not change user";
    EXPECT_TRUE(m_dispatcher.lookups.empty());
    EXPECT_NE(ReadFile(logDir.path() + "/launcher.log").find("refused a page connection from user 65534"),
              std::string::npos);
}

TEST(ScriptClient, AnswersItCannotTrustFailTheCallAndTheNextCallStartsAfresh) {
    TempDir dir;
    ScriptClient nobody(dir.path() + "/nobody/socket");
    EXPECT_EQ(nobody.Lookup("Echo"), -1);
    const auto unreachable = nobody.Call(0, {});
    ASSERT_TRUE(std::holds_alternative<ScriptWire::Failure>(unreachable));

    auto listener = platform::LocalListener::Create(dir.path(), "fake");
    ASSERT_TRUE(listener.valid());
    // A launcher gone wrong: each connection gets one bad answer of its own, the last a good one.
    const std::vector<std::string> answers = {
        "\x7F\xFF\xFF\xFF"s,                                          // announces far too much
        "\0\0\0\x10S\0\0\0\x0B" "cut sh"s,                            // ends in the middle
        *ScriptWire::EncodeReply(StringValue("not an id")),  // out of step
        *ScriptWire::EncodeReply(ScriptWire::DispatchId{7}),
    };
    std::thread server([&] {
        for (const auto& answer : answers) {
            platform::LocalListener::Acceptance accepted;
            WaitFor([&] {
                accepted = listener.Accept();
                return accepted.outcome == platform::LocalListener::Outcome::Accepted;
            });
            accepted.stream.SetBlocking(true);
            char header[ScriptWire::kHeaderBytes];
            if (!accepted.stream.ReceiveExact(header, sizeof header)) {
                return;
            }
            std::string payload(ScriptWire::AnnouncedLength(header), '\0');
            accepted.stream.ReceiveExact(payload.data(), payload.size());
            accepted.stream.SendAll(answer);
        }
    });
    ScriptClient page(listener.path());
    const auto tooMuch = page.Call(1, {});
    ASSERT_TRUE(std::holds_alternative<ScriptWire::Failure>(tooMuch));
    EXPECT_NE(std::get<ScriptWire::Failure>(tooMuch).message.find("not understood"), std::string::npos);
    const auto cut = page.Call(1, {});
    ASSERT_TRUE(std::holds_alternative<ScriptWire::Failure>(cut));
    EXPECT_EQ(page.Lookup("Echo"), -1);
    EXPECT_EQ(page.Lookup("Echo"), 7);
    server.join();

    // Arguments too long to send are refused here, before anything is sent.
    const auto tooLong = page.Call(7, {std::string(ScriptWire::kMaxPayloadBytes, 'a')});
    ASSERT_TRUE(std::holds_alternative<ScriptWire::Failure>(tooLong));
    EXPECT_NE(std::get<ScriptWire::Failure>(tooLong).message.find("too long"), std::string::npos);
}
