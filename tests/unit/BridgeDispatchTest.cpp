// What the page can do through window.external: the automation object's calling convention,
// the adapter the page's calls arrive through, and the dispatcher behind the main window.

#include <gtest/gtest.h>

#include "LaunchFakes.h"
#include "LogCapture.h"
#include "RecordingReports.h"
#include "bridge/CImpIDispatch.h"
#include "bridge/MainWindowBridge.h"
#include "bridge/ScriptCalls.h"
#include "platform/Executable.h"

using namespace automation;
using namespace testing_support;
using Strings = std::vector<std::string>;

namespace {

class RecordingHost final : public ScriptHost {
public:
    std::string JavascriptToCPLUSPLUS(const std::string& method, const std::string& parameters) override {
        calls.push_back(method + "(" + parameters + ")");
        return answer;
    }
    bool IsDownLoadComplete() override { return ready; }

    Strings calls;
    std::string answer = "answer";
    bool ready = false;
};

DISPPARAMS Args(std::vector<VARIANT> lastFirst) { return DISPPARAMS{std::move(lastFirst)}; }

class DispatchTest : public ::testing::Test {
protected:
    DispatchTest() { object.SetMainWindow(&host); }

    HRESULT Call(DISPID id, const DISPPARAMS& params, VARIANT* result) {
        return object.Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, result, nullptr, nullptr);
    }

    RecordingHost host;
    CImpIDispatch object;
    const VARIANT untouched = VARIANT::String("untouched");
};

}  // namespace

TEST_F(DispatchTest, OnlyTheAutomationInterfaceIsAnsweredAndCountsAReference) {
    void* out = &host;
    EXPECT_EQ(object.QueryInterface(IID_IUnknown, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    out = &host;
    EXPECT_EQ(object.QueryInterface(IID{0x00020400, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x47}}, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(object.RefCount(), 0);

    EXPECT_EQ(object.QueryInterface(IID_IDispatch, &out), S_OK);
    EXPECT_EQ(out, static_cast<IDispatch*>(&object));
    EXPECT_EQ(object.RefCount(), 1);
    EXPECT_EQ(object.QueryInterface(IID_IDispatch, nullptr), E_POINTER);

    unsigned count = 7;
    EXPECT_EQ(object.GetTypeInfoCount(&count), E_NOTIMPL);
    EXPECT_EQ(object.GetTypeInfo(0, 0, nullptr), E_NOTIMPL);
}

TEST_F(DispatchTest, ReleasingPastZeroLeavesTheObjectAliveAndUsable) {
    EXPECT_EQ(object.AddRef(), 1u);
    EXPECT_EQ(object.AddRef(), 2u);
    EXPECT_EQ(object.Release(), 1u);
    EXPECT_EQ(object.Release(), 0u);
    object.Release();
    EXPECT_EQ(object.RefCount(), -1);
    EXPECT_EQ(LookUpScriptName(object, "AppLogin"), kDispAppLogin);
    EXPECT_EQ(InvokeScriptMember(object, kDispJavascriptToCsharp, {"m", "p"}), ScriptValue("answer"));
}

TEST_F(DispatchTest, NamesAreLookedUpExactlyAndTheFirstNameDecidesEverySlot) {
    const std::pair<std::string, DISPID> known[] = {
        {"JavascriptToCsharp", 1}, {"AppLogin", 2}, {"IsDownLoadComplete", 3}};
    for (const auto& [name, id] : known) {
        DISPID got = 0;
        EXPECT_EQ(object.GetIDsOfNames(IID_NULL, &name, 1, 0, &got), S_OK);
        EXPECT_EQ(got, id);
    }
    for (const std::string name : {"applogin", "AppLogin ", "", "toString", "AppLogin2"}) {
        DISPID got = 0;
        EXPECT_EQ(object.GetIDsOfNames(IID_NULL, &name, 1, 0, &got), DISP_E_UNKNOWNNAME) << name;
        EXPECT_EQ(got, DISPID_UNKNOWN);
    }

    const std::string loginFirst[] = {"AppLogin", "whatever"};
    DISPID ids[2] = {};
    EXPECT_EQ(object.GetIDsOfNames(IID_NULL, loginFirst, 2, 0, ids), S_OK);
    EXPECT_EQ(ids[0], 2);
    EXPECT_EQ(ids[1], 2);
    const std::string unknownFirst[] = {"nothing", "AppLogin"};
    EXPECT_EQ(object.GetIDsOfNames(IID_NULL, unknownFirst, 2, 0, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], DISPID_UNKNOWN);
    EXPECT_EQ(ids[1], DISPID_UNKNOWN);
}

TEST_F(DispatchTest, JavascriptToCsharpNeedsTwoArgumentsAndReadsThemLastFirst) {
    VARIANT result = untouched;
    EXPECT_EQ(Call(kDispJavascriptToCsharp, Args({}), &result), S_OK);
    EXPECT_EQ(Call(kDispJavascriptToCsharp, Args({VARIANT::String("LoginResult")}), &result), S_OK);
    EXPECT_EQ(result, untouched);
    EXPECT_TRUE(host.calls.empty());

    EXPECT_EQ(Call(kDispJavascriptToCsharp, Args({VARIANT::String("params"), VARIANT::String("method")}), &result),
              S_OK);
    EXPECT_EQ(result, VARIANT::String("answer"));
    // A third script argument is ignored; the first two keep their meaning.
    Call(kDispJavascriptToCsharp,
         Args({VARIANT::String("third"), VARIANT::String("second"), VARIANT::String("first")}), &result);
    // No result wanted: the call still happens.
    Call(kDispJavascriptToCsharp, Args({VARIANT::String("p"), VARIANT::String("m")}), nullptr);
    // A value that is not a string reads as an empty text.
    Call(kDispJavascriptToCsharp, Args({VARIANT::Bool(1), VARIANT()}), &result);
    EXPECT_EQ(host.calls, (Strings{"method(params)", "first(second)", "m(p)", "()"}));
}

TEST_F(DispatchTest, AppLoginHandsTheLastScriptArgumentToTheLoginResult) {
    VARIANT result = untouched;
    EXPECT_EQ(Call(kDispAppLogin, Args({}), &result), S_OK);
    EXPECT_EQ(result, untouched);

    host.answer = "";
    Call(kDispAppLogin, Args({VARIANT::String("true|abc")}), &result);
    EXPECT_EQ(result, VARIANT::String(""));
    Call(kDispAppLogin, Args({VARIANT::String("true|second"), VARIANT::String("true|first")}), &result);
    EXPECT_EQ(host.calls, (Strings{"LoginResult(true|abc)", "LoginResult(true|second)"}));
}

TEST_F(DispatchTest, IsDownLoadCompleteAnswersTheReadyFlagAndUnknownIdsDoNothing) {
    VARIANT result = untouched;
    Call(kDispIsDownLoadComplete, Args({}), &result);
    EXPECT_EQ(result, VARIANT::Bool(0));
    host.ready = true;
    Call(kDispIsDownLoadComplete, Args({VARIANT::String("ignored")}), &result);
    EXPECT_EQ(result, VARIANT::Bool(1));

    for (const DISPID id : {0, 4, -1}) {
        result = untouched;
        EXPECT_EQ(Call(id, Args({VARIANT::String("p"), VARIANT::String("m")}), &result), S_OK);
        EXPECT_EQ(result, untouched);
    }
    EXPECT_TRUE(host.calls.empty());
}

TEST_F(DispatchTest, WithoutAMainWindowThePageGetsEmptyAnswers) {
    object.SetMainWindow(nullptr);
    EXPECT_EQ(InvokeScriptMember(object, kDispJavascriptToCsharp, {"GetCommandLine", ""}), ScriptValue(""));
    EXPECT_EQ(InvokeScriptMember(object, kDispAppLogin, {"true|abc"}), ScriptValue(""));
    EXPECT_EQ(InvokeScriptMember(object, kDispIsDownLoadComplete, {}), ScriptValue(false));
}

namespace {

// The whole chain the page reaches: object -> main window -> overlay, with a recorded game.
class PageChainTest : public ::testing::Test {
protected:
    PageChainTest() {
        LaunchSettings settings;
        settings.clientDir = "/c";
        settings.launcherArgv = {"/opt/Valdrune"};
        settings.luaPathFile = "/nonexistent/luapath.txt";
        overlay = std::make_unique<LoginLaunch>(std::move(settings), game, game);
        object.SetMainWindow(&mainWindow);
    }

    ScriptValue Page(const std::string& member, const Strings& args) {
        const auto id = LookUpScriptName(object, member);
        return id ? InvokeScriptMember(object, *id, args) : ScriptValue();
    }

    LogCapture log;
    RecordingReports reports;
    RecordingLaunchTarget game;
    std::unique_ptr<LoginLaunch> overlay;
    MainWindowBridge mainWindow;
    CImpIDispatch object;
};

}  // namespace

TEST_F(PageChainTest, ThePageLogsInAsksForThePathAndSeesReadiness) {
    mainWindow.SetOverlay(overlay.get());
    EXPECT_EQ(LookUpScriptName(object, "appLogin"), std::nullopt);  // undefined for the page
    EXPECT_EQ(InvokeScriptMember(object, 9, {"a", "b"}), ScriptValue());
    EXPECT_EQ(Page("IsDownLoadComplete", {}), ScriptValue(false));
    EXPECT_EQ(Page("JavascriptToCsharp", {"GetCommandLine", ""}), ScriptValue(platform::ExecutablePath()));
    EXPECT_EQ(Page("JavascriptToCsharp", {"getcommandline", "x"}), ScriptValue(""));
    EXPECT_EQ(Page("JavascriptToCsharp", {"LoginResult"}), ScriptValue());  // one argument: nothing happens
    EXPECT_EQ(Page("JavascriptToCsharp", {"LoginResult", "true|tok"}), ScriptValue(""));
    EXPECT_TRUE(game.Steps().empty());

    mainWindow.SetReady();  // the update worker's call; completes the pair and starts the game
    EXPECT_EQ(Page("IsDownLoadComplete", {}), ScriptValue(true));
    EXPECT_EQ(game.Steps(), (Strings{"start", "hide", "wait 4242", "cancel"}));
    EXPECT_EQ(game.Commands().at(0).argv, (Strings{"/opt/Valdrune", "--parameters=tok", "--plat_extra="}));

    EXPECT_EQ(Page("AppLogin", {"ignored", "true|again"}), ScriptValue(""));
    EXPECT_EQ(log.Messages("CWebCDlg::JavascriptToCPLUSPLUS"),
              (Strings{"method:GetCommandLine,paramters:", "method:getcommandline,paramters:x",
                       "method:LoginResult,paramters:true|tok", "method:LoginResult,paramters:true|again"}));
    EXPECT_EQ(log.Messages("CWebDlg::SetReady"), Strings{"SetReady"});
    EXPECT_EQ(log.Messages("CWebCDlg::OnLoginResult"), (Strings{"is logic suc!", "already login"}));
}

TEST_F(PageChainTest, WithoutAnOverlayNothingIsLoggedOrStarted) {
    mainWindow.SetReady();
    EXPECT_EQ(Page("JavascriptToCsharp", {"LoginResult", "true|tok"}), ScriptValue(""));
    EXPECT_EQ(Page("AppLogin", {"true|tok"}), ScriptValue(""));
    EXPECT_EQ(Page("IsDownLoadComplete", {}), ScriptValue(false));
    EXPECT_TRUE(log.Entries().empty());
    EXPECT_TRUE(game.Steps().empty());
}

TEST_F(PageChainTest, TheCallLogLineStopsAt2047Characters) {
    mainWindow.SetOverlay(overlay.get());
    const std::string prefix = "method:m,paramters:";
    // Characters, not bytes: the wide one counts once. (The whole line stays below the log's
    // own 4 KiB cap on a line, which would cut a line of 2047 wide characters earlier.)
    const std::string parameters = "登" + std::string(3000, 'a');
    Page("JavascriptToCsharp", {"m", parameters});
    const std::string expected = prefix + "登" + std::string(2047 - prefix.size() - 1, 'a');
    EXPECT_EQ(log.Messages("CWebCDlg::JavascriptToCPLUSPLUS"), Strings{expected});
}
