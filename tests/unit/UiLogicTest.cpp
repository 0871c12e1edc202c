// The window's logic that needs no display: the page's key filter, the addresses the page may
// hand to a browser, the engine settings choice and the hand-over of work to the window thread.

#include <gdk/gdkkeysyms.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <webkit2/webkit2.h>

#include <atomic>
#include <thread>
#include <vector>

#include "ChildProcess.h"
#include "ui/CWebBrowserHelper.h"
#include "ui/PageKeys.h"
#include "ui/WebAddress.h"
#include "ui/WindowThread.h"

using testing_support::WaitFor;

TEST(PageKeys, RefreshOpenPrintAndNewWindowNeverReachThePage) {
    PageKeyFilter keys;
    auto tap = [&](unsigned key, bool control) {
        const bool swallowed = keys.OnKeyPress(key, control);
        keys.OnKeyRelease(key);
        return swallowed;
    };
    EXPECT_TRUE(tap(GDK_KEY_F5, false));
    EXPECT_TRUE(tap(GDK_KEY_F5, true));
    for (const unsigned key : {GDK_KEY_o, GDK_KEY_O, GDK_KEY_p, GDK_KEY_n, GDK_KEY_N}) {
        EXPECT_TRUE(tap(key, true)) << key;
        EXPECT_FALSE(tap(key, false)) << key;  // plain letters are typing
    }
    for (const unsigned key : {GDK_KEY_c, GDK_KEY_v, GDK_KEY_a, GDK_KEY_x}) {
        EXPECT_FALSE(tap(key, true)) << key;  // copy, paste, select all, cut work
    }
    EXPECT_FALSE(tap(GDK_KEY_Return, false));
    EXPECT_FALSE(tap(GDK_KEY_Escape, false));
}

TEST(PageKeys, TheKeysHeldDownDecideNotTheKeyOfTheEvent) {
    PageKeyFilter keys;
    EXPECT_TRUE(keys.OnKeyPress(GDK_KEY_F5, false));
    EXPECT_TRUE(keys.OnKeyPress(GDK_KEY_a, false));  // F5 still held: every key is swallowed
    keys.OnKeyRelease(GDK_KEY_F5);
    EXPECT_FALSE(keys.OnKeyPress(GDK_KEY_a, false));

    EXPECT_FALSE(keys.OnKeyPress(GDK_KEY_o, false));  // O held, then Control+C
    EXPECT_TRUE(keys.OnKeyPress(GDK_KEY_c, true));
    keys.OnKeyRelease(GDK_KEY_O);  // released as the capital: the same key
    EXPECT_FALSE(keys.OnKeyPress(GDK_KEY_c, true));

    keys.OnKeyPress(GDK_KEY_F5, false);
    keys.OnFocusLost();  // its release went elsewhere
    EXPECT_FALSE(keys.OnKeyPress(GDK_KEY_a, false));
}

TEST(BrowserHelper, MajorVersionIsTheNumberBeforeTheFirstDot) {
    EXPECT_EQ(CWebBrowserHelper::MajorVersionOf("11.0.9600.19036"), 11);
    EXPECT_EQ(CWebBrowserHelper::MajorVersionOf("9.0.8112.16421"), 9);
    EXPECT_EQ(CWebBrowserHelper::MajorVersionOf("2.50.6"), 2);
    EXPECT_EQ(CWebBrowserHelper::MajorVersionOf(".5"), 0);  // a leading dot keeps the whole text
    EXPECT_EQ(CWebBrowserHelper::MajorVersionOf("5"), 5);
    EXPECT_EQ(CWebBrowserHelper::MajorVersionOf("  +12abc.3"), 12);
    EXPECT_EQ(CWebBrowserHelper::MajorVersionOf("-3.1"), -3);
    EXPECT_EQ(CWebBrowserHelper::MajorVersionOf(""), 0);
    EXPECT_EQ(CWebBrowserHelper::MajorVersionOf("x1.2"), 0);
    EXPECT_EQ(CWebBrowserHelper::MajorVersionOf("99999999999999999999"), 2147483647);
}

TEST(BrowserHelper, SettingsFollowTheEngineAndKeepTheInspectorOff) {
    const EngineSettings old = CWebBrowserHelper::SettingsFor({2, 40, 5});
    EXPECT_EQ(old.acceleration, HardwareAcceleration::OnDemand);
    for (const EngineVersion v : {EngineVersion{2, 42, 0}, EngineVersion{2, 50, 6}, EngineVersion{3, 0, 0}}) {
        const EngineSettings s = CWebBrowserHelper::SettingsFor(v);
        EXPECT_EQ(s.acceleration, HardwareAcceleration::Never) << v.major << "." << v.minor;
        EXPECT_FALSE(s.developerExtras);
        EXPECT_FALSE(s.consoleMessagesToStdout);
        EXPECT_EQ(s.defaultCharset, "GBK");
    }
    EXPECT_FALSE(old.developerExtras);

    auto& helper = CWebBrowserHelper::GetInstance();
    EXPECT_EQ(helper.GetBrowserVersion(), static_cast<int>(webkit_get_major_version()));
    EXPECT_FALSE(helper.ChosenSettings());  // pages keep the engine's defaults until chosen
    helper.FixBrowserVersion();
    ASSERT_TRUE(helper.ChosenSettings());
    EXPECT_EQ(*helper.ChosenSettings(), CWebBrowserHelper::SettingsFor(CWebBrowserHelper::RunningEngine()));
}

namespace {

// Iterates the default main context on this (the window) thread until done holds.
bool Pump(const std::function<bool()>& done) {
    return WaitFor([&] {
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        return done();
    });
}

}  // namespace

TEST(WindowThread, SendRunsOnTheWindowThreadWhileTheSenderWaits) {
    auto window = WindowThread::Create();
    const auto windowId = std::this_thread::get_id();
    std::thread::id ranOn;
    int value = 0;
    std::atomic<bool> senderDone{false};
    std::atomic<bool> sent{false};
    std::thread worker([&] {
        sent = window->Send([&] {
            ranOn = std::this_thread::get_id();
            value = 42;
        });
        EXPECT_EQ(value, 42);  // the work has run by the time Send returns
        senderDone = true;
    });
    ASSERT_TRUE(Pump([&] { return senderDone.load(); }));
    worker.join();
    EXPECT_TRUE(sent);
    EXPECT_EQ(ranOn, windowId);

    bool inline_run = false;  // on the window thread itself it runs at once
    EXPECT_TRUE(window->Send([&] { inline_run = true; }));
    EXPECT_TRUE(inline_run);
}

TEST(WindowThread, PostReturnsAtOnceAndRunsInOrderOnTheWindowThread) {
    auto window = WindowThread::Create();
    std::vector<int> order;
    std::thread worker([&] {
        window->Post([&] { order.push_back(1); });
        window->Post([&] { order.push_back(2); });
    });
    worker.join();  // the worker never waited for the window thread
    EXPECT_TRUE(order.empty());
    window->Post([&] { order.push_back(3); });  // also queued when posted on the window thread
    EXPECT_TRUE(order.empty());
    ASSERT_TRUE(Pump([&] { return order.size() == 3; }));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(WindowThread, ClosingReleasesAWaitingSenderAndDropsQueuedWork) {
    auto window = WindowThread::Create();
    std::atomic<bool> ran{false};
    std::atomic<int> result{-1};
    // The window thread is busy elsewhere (not iterating) while the worker sends.
    std::thread worker([&] { result = window->Send([&] { ran = true; }) ? 1 : 0; });
    ASSERT_TRUE(WaitFor([&] { return g_main_context_pending(nullptr); }));  // the worker's send is queued
    window->Post([&] { ran = true; });
    window->Close();
    worker.join();  // released without the work having run
    EXPECT_EQ(result, 0);
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    EXPECT_FALSE(ran);  // what was queued before the close never runs
    EXPECT_FALSE(window->Send([&] { ran = true; }));
    EXPECT_FALSE(ran);
}

TEST(WebAddress, OnlyHttpAndHttpsLeaveForABrowserWhateverTheSpellingTricks) {
    EXPECT_EQ(WebAddress("HTTPS://example.com/a?b=1"), "HTTPS://example.com/a?b=1");
    // As the engine reads it: blanks and controls around the address, tabs and breaks inside.
    EXPECT_EQ(WebAddress(" \t\x01ht\ttp://example.com/ \n"), "http://example.com/");
    for (const char* refused :
         {"javascript:alert(1)", "  JavaScript:alert(1)", "java\nscript:alert(1)", "FILE:///etc/passwd",
          "data:text/html,<script>1</script>", "steam://run/1", "httpx://example.com", "1http://x",
          "/http://x", "", "\xE2\x80\x8Bhttp://example.com"}) {
        EXPECT_EQ(WebAddress(refused), std::nullopt) << refused;
    }
    // Log lines keep a long address short and its characters whole.
    EXPECT_EQ(AddressForLog("data:" + std::string(250, 'a') + "中文"), "data:" + std::string(250, 'a') + "...");
}
