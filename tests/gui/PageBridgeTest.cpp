// The page's window.external as the page itself sees it: bare WebKitWebViews on a private Xvfb,
// the real web-process extension and the real ScriptChannel in front of a recording
// dispatcher, pages served by tools/operator-server.

#include <glib.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "OperatorServer.h"
#include "TempHome.h"
#include "ui/ScriptChannel.h"

using namespace testing_support;
using Args = std::vector<std::string>;

namespace {

ScriptValue StringValue(std::string text) { return ScriptValue(std::move(text)); }

// A display of this test's own. Xvfb picks a free display number and names it on its stdout
// (-displayfd), so parallel tests never collide; no window manager is needed.
class PrivateDisplay {
public:
    PrivateDisplay() {
        gchar* xvfb = g_find_program_in_path("Xvfb");
        if (xvfb == nullptr) {
            throw std::runtime_error("Xvfb is not installed");
        }
        ChildProcess::Options options;
        options.argv = {xvfb, "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"};
        options.env = {{"PATH", "/usr/bin:/bin"}};
        g_free(xvfb);
        m_process = std::make_unique<ChildProcess>(options);
        if (!WaitFor([&] { return m_process->Stdout().find('\n') != std::string::npos || !m_process->Running(); })) {
            throw std::runtime_error("Xvfb did not start");
        }
        const std::string number = m_process->Stdout().substr(0, m_process->Stdout().find('\n'));
        if (number.empty()) {
            throw std::runtime_error("Xvfb did not start: " + m_process->Stderr());
        }
        m_name = ":" + number;
    }
    ~PrivateDisplay() {
        // A graceful end, so Xvfb removes its lock file and socket.
        m_process->Signal(SIGTERM);
        m_process->Wait(10s);
    }
    const std::string& name() const { return m_name; }

private:
    std::unique_ptr<ChildProcess> m_process;
    std::string m_name;
};

// Runs the default main context, the one the channel and the views live on, until condition
// holds; false at the deadline.
bool RunUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline = 30s) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    // Wakes the loop now and then, so the deadline is noticed even when nothing happens.
    const guint tick = g_timeout_add(20, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    bool held = condition();
    while (!held && std::chrono::steady_clock::now() < end) {
        g_main_context_iteration(nullptr, TRUE);
        held = condition();
    }
    g_source_remove(tick);
    return held;
}

// The page-side result of a script: its type and text, or the exception it threw.
struct Outcome {
    std::string type;  // "string", "boolean", "undefined", "number", "object" or "exception"
    std::string text;  // the string, "true"/"false", the number, or the exception's message
    bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Outcome& outcome) {
    return out << outcome.type << "(" << outcome.text << ")";
}

Outcome Str(const std::string& text) { return {"string", text}; }
Outcome Bool(bool flag) { return {"boolean", flag ? "true" : "false"}; }
const Outcome kUndefined{"undefined", ""};

// A JavaScript string literal for text: what the script sees is exactly text's bytes.
std::string JsLiteral(const std::string& text) {
    std::string out = "\"";
    for (const unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// Members that record each call and answer through a handler the test chooses.
class RecordingDispatcher final : public ScriptDispatcher {
public:
    struct Call {
        std::string member;
        Args args;
    };

    void Add(const std::string& name, std::function<ScriptValue(const Args&)> handler) {
        m_members.push_back({name, std::move(handler)});
    }

    int Lookup(const std::string& name) override {
        lookups.push_back(name);
        for (size_t i = 0; i < m_members.size(); ++i) {
            if (m_members[i].first == name) {
                return static_cast<int>(i) + 1;
            }
        }
        return -1;
    }

    ScriptValue Invoke(int id, const Args& args) override {
        if (id < 1 || id > static_cast<int>(m_members.size())) {
            calls.push_back({"?", args});
            return ScriptValue{};
        }
        const auto& member = m_members[static_cast<size_t>(id) - 1];
        calls.push_back({member.first, args});
        return member.second(args);
    }

    std::vector<Call> CallsOf(const std::string& member) const {
        std::vector<Call> found;
        for (const auto& call : calls) {
            if (call.member == member) {
                found.push_back(call);
            }
        }
        return found;
    }

    std::vector<std::string> lookups;
    std::vector<Call> calls;

private:
    std::vector<std::pair<std::string, std::function<ScriptValue(const Args&)>>> m_members;
};

// One bare page view in a window of its own, sized as the launcher's page square.
class PageView {
public:
    explicit PageView(WebKitWebContext* context) {
        m_window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_default_size(GTK_WINDOW(m_window), 460, 460);
        m_view = WEBKIT_WEB_VIEW(webkit_web_view_new_with_context(context));
        gtk_container_add(GTK_CONTAINER(m_window), GTK_WIDGET(m_view));
        g_signal_connect(m_view, "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer self) {
                             if (event == WEBKIT_LOAD_FINISHED) {
                                 static_cast<PageView*>(self)->m_loaded = true;
                             }
                         }),
                         this);
        gtk_widget_show_all(m_window);
    }
    ~PageView() { gtk_widget_destroy(m_window); }

    void Load(const std::string& url) {
        m_loaded = false;
        webkit_web_view_load_uri(m_view, url.c_str());
        ASSERT_TRUE(RunUntil([&] { return m_loaded; })) << "page did not load: " << url;
    }

    // Starts script in the page; done() tells when its outcome is in.
    void Start(const std::string& script) {
        m_pending.reset();
        m_done = false;
        webkit_web_view_evaluate_javascript(
            m_view, script.c_str(), -1, nullptr, nullptr, nullptr,
            [](GObject* view, GAsyncResult* result, gpointer self) {
                static_cast<PageView*>(self)->Finish(WEBKIT_WEB_VIEW(view), result);
            },
            this);
    }
    bool done() const { return m_done; }
    Outcome outcome() const { return m_pending.value_or(Outcome{"none", ""}); }

    // Runs script in the page and waits for its outcome.
    Outcome Run(const std::string& script) {
        Start(script);
        if (!RunUntil([&] { return m_done; })) {
            return {"timeout", script};
        }
        return outcome();
    }

    WebKitWebView* view() const { return m_view; }

private:
    void Finish(WebKitWebView* view, GAsyncResult* result) {
        GError* error = nullptr;
        JSCValue* value = webkit_web_view_evaluate_javascript_finish(view, result, &error);
        if (value == nullptr) {
            m_pending = Outcome{"exception", error != nullptr ? error->message : ""};
            g_clear_error(&error);
        } else {
            std::string type = jsc_value_is_string(value)      ? "string"
                               : jsc_value_is_boolean(value)   ? "boolean"
                               : jsc_value_is_undefined(value) ? "undefined"
                               : jsc_value_is_number(value)    ? "number"
                                                               : "object";
            std::string text;
            if (type != "undefined") {
                gchar* raw = jsc_value_to_string(value);
                text = raw != nullptr ? raw : "";
                g_free(raw);
            }
            m_pending = Outcome{type, text};
            g_object_unref(value);
        }
        m_done = true;
    }

    GtkWidget* m_window = nullptr;
    WebKitWebView* m_view = nullptr;
    bool m_loaded = false;
    bool m_done = false;
    std::optional<Outcome> m_pending;
};

// GTK connects to one display for the whole process, so the display lives as long as the tests.
class DisplayEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        m_display = std::make_unique<PrivateDisplay>();
        ::setenv("DISPLAY", m_display->name().c_str(), 1);
        ::setenv("NO_AT_BRIDGE", "1", 1);  // no accessibility bus on a private display
        ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "no display " << m_display->name();
    }
    void TearDown() override { m_display.reset(); }

private:
    std::unique_ptr<PrivateDisplay> m_display;
};

const auto* const g_displayEnvironment = ::testing::AddGlobalTestEnvironment(new DisplayEnvironment);

class PageBridgeTest : public ::testing::Test {
protected:
    explicit PageBridgeTest(std::vector<std::string> serverArgs = {}) : m_server(0, std::move(serverArgs)) {
        m_channel = std::make_unique<ScriptChannel>(m_dispatcher);
        m_context = webkit_web_context_new();
        m_channel->AttachTo(m_context, VALDRUNE_WEBEXT_DIR);
    }
    ~PageBridgeTest() override {
        m_views.clear();
        g_object_unref(m_context);
        m_channel.reset();
    }

    PageView& NewView() {
        m_views.push_back(std::make_unique<PageView>(m_context));
        return *m_views.back();
    }

    void AddPage(const std::string& name, const std::string& html) { WriteFile(m_server.WwwDir() + "/" + name, html); }
    std::string PageUrl(const std::string& name) const { return m_server.Url("/www/" + name); }

    TempHome m_world;  // the channel's socket folder goes below its runtime folder
    OperatorServer m_server;
    RecordingDispatcher m_dispatcher;
    std::unique_ptr<ScriptChannel> m_channel;
    WebKitWebContext* m_context = nullptr;
    std::vector<std::unique_ptr<PageView>> m_views;
};

constexpr const char* kPlainPage = "<!DOCTYPE html><html><body><p id=out></p></body></html>";

TEST_F(PageBridgeTest, MembersAnswerWithAStringABooleanOrNothingAndUnknownNamesAreUndefined) {
    bool flag = true;
    m_dispatcher.Add("Echo", [](const Args& args) { return StringValue(args.empty() ? "" : args[0]); });
    m_dispatcher.Add("Flag", [&](const Args&) { return ScriptValue(flag); });
    m_dispatcher.Add("Nothing", [](const Args&) { return ScriptValue{}; });
    AddPage("plain.html", kPlainPage);
    PageView& page = NewView();
    page.Load(PageUrl("plain.html"));

    EXPECT_EQ(page.Run("typeof window.external.Echo"), Str("function"));
    EXPECT_EQ(page.Run("window.external.Echo('abc')"), Str("abc"));
    EXPECT_EQ(page.Run("window.external.Flag()"), Bool(true));
    flag = false;
    EXPECT_EQ(page.Run("window.external.Flag()"), Bool(false));
    EXPECT_EQ(page.Run("window.external.Nothing()"), kUndefined);
    EXPECT_EQ(page.Run("window.external.Nothing() === undefined"), Bool(true));

    // Names are exact: no such member means undefined, and calling it throws in the page.
    EXPECT_EQ(page.Run("typeof window.external.Missing"), Str("undefined"));
    EXPECT_EQ(page.Run("typeof window.external.echo"), Str("undefined"));
    EXPECT_EQ(page.Run("'Missing' in window.external"), Bool(false));
    EXPECT_EQ(page.Run("'Echo' in window.external"), Bool(true));
    const Outcome thrown = page.Run("window.external.Missing('x')");
    EXPECT_EQ(thrown.type, "exception");
    EXPECT_NE(thrown.text.find("TypeError"), std::string::npos) << thrown.text;
    EXPECT_EQ(page.Run("try { window.external.Missing(); 'no' } catch (e) { e instanceof TypeError }"), Bool(true));
    EXPECT_NE(std::find(m_dispatcher.lookups.begin(), m_dispatcher.lookups.end(), "Missing"),
              m_dispatcher.lookups.end());
    EXPECT_TRUE(m_dispatcher.CallsOf("?").empty()) << "an unknown member must never be called";
}

TEST_F(PageBridgeTest, ArgumentsArriveInScriptOrderAndTextsCrossUnchangedBothWays) {
    m_dispatcher.Add("Args", [](const Args&) { return ScriptValue{}; });
    m_dispatcher.Add("Echo", [](const Args& args) { return StringValue(args.empty() ? "" : args[0]); });
    const std::string hostileAnswer =
        "</script><script>window.pwned = 1;</script>\"';window.pwned=1;//\n${window.pwned=1}`);window.pwned=1;(`";
    m_dispatcher.Add("Hostile", [&](const Args&) { return StringValue(hostileAnswer); });
    AddPage("plain.html", kPlainPage);
    PageView& page = NewView();
    page.Load(PageUrl("plain.html"));

    page.Run("window.external.Args('first', 'second', 'third')");
    page.Run("window.external.Args()");
    page.Run("window.external.Args(1, 2.5, -0, true, false, null, undefined, NaN, {toString() { return 'obj'; }})");
    const auto calls = m_dispatcher.CallsOf("Args");
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].args, (Args{"first", "second", "third"}));
    EXPECT_EQ(calls[1].args, Args{});
    EXPECT_EQ(calls[2].args, (Args{"1", "2.5", "0", "true", "false", "", "", "NaN", "obj"}));

    // An argument whose conversion throws stops the call: the page gets its own exception.
    const Outcome refused = page.Run("window.external.Args('a', {toString() { throw new RangeError('nope'); }})");
    EXPECT_EQ(refused.type, "exception");
    EXPECT_NE(refused.text.find("nope"), std::string::npos) << refused.text;
    EXPECT_EQ(m_dispatcher.CallsOf("Args").size(), 3u);

    const std::vector<std::string> hostile = {
        "it's \"quoted\"",
        "back\\slash \\\" \\u0041",
        "line\nbreak\r\nand\ttab",
        "\xE2\x80\xA8separators\xE2\x80\xA9",
        "</script><script>window.pwned = 1;</script>",
        "'); window.pwned = 1; ('",
        "${window.pwned = 1}",
        "登录验证 ✓ Ünïcødé 🎮",
        std::string("nul\0inside", 10),
        "",
    };
    for (const auto& text : hostile) {
        SCOPED_TRACE(text);
        const std::string literal = JsLiteral(text);
        EXPECT_EQ(page.Run("window.external.Echo(" + literal + ") === " + literal), Bool(true));
        ASSERT_FALSE(m_dispatcher.CallsOf("Echo").empty());
        EXPECT_EQ(m_dispatcher.CallsOf("Echo").back().args, Args{text});
    }
    EXPECT_EQ(page.Run("window.external.Hostile() === " + JsLiteral(hostileAnswer)), Bool(true));
    EXPECT_EQ(page.Run("document.getElementById('out').textContent = window.external.Hostile();"
                       "document.scripts.length"),
              (Outcome{"number", "0"}));
    EXPECT_EQ(page.Run("typeof window.pwned"), Str("undefined"));
}

TEST_F(PageBridgeTest, EveryFrameHasItsExternalBeforeItsOwnScriptsRun) {
    m_dispatcher.Add("Echo", [](const Args& args) { return StringValue(args.empty() ? "" : args[0]); });
    AddPage("outer.html",
            "<!DOCTYPE html><html><head><script>window.early = window.external.Echo('early');</script></head>"
            "<body><iframe src='inner.html'></iframe></body></html>");
    AddPage("inner.html",
            "<!DOCTYPE html><html><body><script>parent.fromFrame = window.external.Echo('frame');</script></body></html>");
    AddPage("next.html", kPlainPage);
    PageView& page = NewView();
    page.Load(PageUrl("outer.html"));

    EXPECT_EQ(page.Run("window.early + '/' + window.fromFrame"), Str("early/frame"));
    EXPECT_EQ(page.Run("window.frames[0].external !== window.external"), Bool(true));

    // The next document of the same frame gets its own.
    page.Load(PageUrl("next.html"));
    EXPECT_EQ(page.Run("window.external.Echo('again')"), Str("again"));
}

TEST_F(PageBridgeTest, ALongCallWithANestedMainLoopLeavesOtherPagesAnsweredAndGetsItsOwnAnswer) {
    AddPage("plain.html", kPlainPage);
    PageView& first = NewView();
    PageView& second = NewView();
    first.Load(PageUrl("plain.html"));
    second.Load(PageUrl("plain.html"));

    m_dispatcher.Add("Echo", [](const Args& args) { return StringValue(args.empty() ? "" : args[0]); });
    // Like a message box: a nested main loop that lasts longer than the page engine's
    // patience for a busy web process, while the second page makes its own call.
    m_dispatcher.Add("Nested", [&](const Args&) {
        second.Start("window.external.Echo('from the second page')");
        const auto until = std::chrono::steady_clock::now() + 4s;
        RunUntil([&] { return second.done() && std::chrono::steady_clock::now() >= until; });
        return StringValue("the first page's answer");
    });

    EXPECT_EQ(first.Run("window.external.Nested()"), Str("the first page's answer"));
    EXPECT_TRUE(second.done());
    EXPECT_EQ(second.outcome(), Str("from the second page"));
    EXPECT_EQ(first.Run("window.external.Echo('still answered')"), Str("still answered"));
}

// The demo channel page served by tools/operator-server, as the launcher shows it.
class DemoLoginPageTest : public PageBridgeTest {
protected:
    DemoLoginPageTest() : PageBridgeTest({"--www", VALDRUNE_SOURCE_DIR "/tools/operator-server/www"}) {
        m_dispatcher.Add("JavascriptToCsharp", [](const Args&) { return StringValue(""); });
        m_dispatcher.Add("AppLogin", [](const Args&) { return StringValue(""); });
        m_dispatcher.Add("IsDownLoadComplete", [&](const Args&) { return ScriptValue(m_ready); });
    }

    std::string ElementText(PageView& page, const std::string& id) {
        return page.Run("document.getElementById('" + id + "').textContent").text;
    }

    // The login results the page has reported so far.
    std::vector<std::string> Reports() const {
        std::vector<std::string> results;
        for (const auto& call : m_dispatcher.CallsOf("JavascriptToCsharp")) {
            if (call.args.size() == 2 && call.args[0] == "LoginResult") {
                results.push_back(call.args[1]);
            }
        }
        return results;
    }

    void Submit(PageView& page, const std::string& name, const std::string& password) {
        page.Run("document.getElementById('name').value = " + JsLiteral(name) +
                 "; document.getElementById('password').value = " + JsLiteral(password) +
                 "; document.getElementById('login').requestSubmit();");
    }

    bool m_ready = false;
};

TEST_F(DemoLoginPageTest, FitsTheSquareShowsTheClientStateAndReportsEachVerdict) {
    PageView& page = NewView();
    page.Load(m_server.Url("/www/login.html"));

    // The 460 x 460 square, dark, without anything to scroll.
    EXPECT_EQ(page.Run("document.documentElement.scrollWidth <= 460 && document.documentElement.scrollHeight <= 460"),
              Bool(true));
    EXPECT_EQ(page.Run("getComputedStyle(document.body).overflow"), Str("hidden"));
    EXPECT_EQ(page.Run("getComputedStyle(document.body).backgroundColor"), Str("rgb(18, 21, 27)"));
    EXPECT_NE(ElementText(page, "submit").find("登录"), std::string::npos);
    EXPECT_NE(ElementText(page, "submit").find("Log in"), std::string::npos);

    // While the launcher updates, the page keeps asking and says so.
    EXPECT_NE(ElementText(page, "client").find("正在更新游戏客户端"), std::string::npos) << ElementText(page, "client");
    const size_t asked = m_dispatcher.CallsOf("IsDownLoadComplete").size();
    m_ready = true;
    EXPECT_TRUE(RunUntil([&] { return ElementText(page, "client").find("游戏客户端已就绪") != std::string::npos; }));
    EXPECT_GT(m_dispatcher.CallsOf("IsDownLoadComplete").size(), asked);

    Submit(page, "player", "wrong");
    ASSERT_TRUE(RunUntil([&] { return !Reports().empty(); }));
    EXPECT_EQ(Reports()[0].rfind("false|", 0), 0u) << Reports()[0];
    EXPECT_NE(ElementText(page, "message").find("Wrong account or password"), std::string::npos);

    Submit(page, "玩家一", "valdrune");
    ASSERT_TRUE(RunUntil([&] { return Reports().size() == 2; }));
    EXPECT_TRUE(std::regex_match(Reports()[1], std::regex("true\\|[0-9a-f]{32}"))) << Reports()[1];
    EXPECT_EQ(page.Run("document.getElementById('submit').disabled"), Bool(true));
    const auto requests = m_server.Requests();
    EXPECT_EQ(std::count_if(requests.begin(), requests.end(),
                            [](const std::string& line) { return line.rfind("POST /api/login", 0) == 0; }),
              2);

    // Logged in: another submit reports nothing more.
    Submit(page, "玩家一", "valdrune");
    EXPECT_EQ(page.Run("window.external.IsDownLoadComplete()"), Bool(true));  // a round trip after it
    EXPECT_EQ(Reports().size(), 2u);
}

}  // namespace
