// The request to maximise the game's window, under a private Xvfb. No window manager runs
// there, so the test listens on the root window as one would and checks what arrives.

#include <gtest/gtest.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include "ChildProcess.h"
#include "TempHome.h"
#include "platform/GameWindow.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

template <typename T>
std::unique_ptr<T, decltype(&std::free)> Take(T* reply) {
    return {reply, &std::free};
}

xcb_atom_t Atom(xcb_connection_t* x, const char* name) {
    auto reply = Take(xcb_intern_atom_reply(x, xcb_intern_atom(x, 0, static_cast<uint16_t>(std::strlen(name)), name),
                                            nullptr));
    return reply ? reply->atom : 0;
}

class GameWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists("/usr/bin/Xvfb")) {
            GTEST_SKIP() << "Xvfb is not installed";
        }
        // -displayfd 1: Xvfb picks a free display and writes its number to stdout once it is ready.
        xvfb = std::make_unique<ChildProcess>(ChildProcess::Options{
            {"/usr/bin/Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"},
            world.Environment(), {}, {}});
        ASSERT_TRUE(WaitFor([&] { return xvfb->Stdout().find('\n') != std::string::npos; })) << xvfb->Stderr();
        display = ":" + xvfb->Stdout().substr(0, xvfb->Stdout().find('\n'));

        x = xcb_connect(display.c_str(), nullptr);
        ASSERT_EQ(xcb_connection_has_error(x), 0);
        root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(x, root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(x);
    }

    void TearDown() override {
        game.reset();
        if (x != nullptr) {
            xcb_disconnect(x);
        }
    }

    // The sample game showing its window, as zavo.exe in the client folder.
    void StartGameWithWindow() {
        const std::string gameDir = world.clientDir() + "/zavo";
        MakeDirs(gameDir);
        fs::copy_file(VALDRUNE_SAMPLE_GAME, gameDir + "/zavo.exe");
        WriteFile(gameDir + "/zavo.cfg", "window=1\nwait=60\n");
        auto env = world.Environment();
        env["DISPLAY"] = display;
        game = std::make_unique<ChildProcess>(ChildProcess::Options{{gameDir + "/zavo.exe"}, env, gameDir, {}});
    }

    // The requests to maximise a window (_NET_WM_STATE client messages about the maximised
    // states) that reached the root window so far. The toolkit sends state messages of its own.
    std::vector<xcb_client_message_event_t> MaximizeRequests() {
        const xcb_atom_t netWmState = Atom(x, "_NET_WM_STATE");
        const xcb_atom_t vertical = Atom(x, "_NET_WM_STATE_MAXIMIZED_VERT");
        while (auto event = Take(xcb_poll_for_event(x))) {
            if ((event->response_type & 0x7F) == XCB_CLIENT_MESSAGE) {
                const auto* message = reinterpret_cast<const xcb_client_message_event_t*>(event.get());
                if (message->type == netWmState && message->data.data32[1] == vertical) {
                    requests.push_back(*message);
                }
            }
        }
        return requests;
    }

    TempHome world;
    std::unique_ptr<ChildProcess> xvfb;
    std::unique_ptr<ChildProcess> game;
    std::string display;
    xcb_connection_t* x = nullptr;
    xcb_window_t root = 0;
    std::vector<xcb_client_message_event_t> requests;
};

}  // namespace

TEST_F(GameWindowTest, TheGamesVisibleWindowIsAskedToMaximiseOnce) {
    StartGameWithWindow();
    // Each call is one attempt; until the game has mapped its window there is nothing to ask for.
    ASSERT_TRUE(WaitFor([&] { return platform::MaximizeFirstWindowOf(game->pid(), display); }));

    ASSERT_TRUE(WaitFor([&] { return !MaximizeRequests().empty(); }));
    ASSERT_EQ(MaximizeRequests().size(), 1u);
    const xcb_client_message_event_t request = MaximizeRequests()[0];
    EXPECT_EQ(request.format, 32);
    EXPECT_EQ(request.data.data32[0], 1u);  // add
    EXPECT_EQ(request.data.data32[2], Atom(x, "_NET_WM_STATE_MAXIMIZED_HORZ"));

    // The window asked about is the game's visible one, not its toolkit's hidden leader window.
    auto attributes = Take(xcb_get_window_attributes_reply(x, xcb_get_window_attributes(x, request.window), nullptr));
    ASSERT_TRUE(attributes);
    EXPECT_EQ(attributes->map_state, XCB_MAP_STATE_VIEWABLE);
    auto pid = Take(xcb_get_property_reply(
        x, xcb_get_property(x, 0, request.window, Atom(x, "_NET_WM_PID"), XCB_ATOM_CARDINAL, 0, 1), nullptr));
    ASSERT_TRUE(pid && xcb_get_property_value_length(pid.get()) == 4);
    EXPECT_EQ(*static_cast<const uint32_t*>(xcb_get_property_value(pid.get())), static_cast<uint32_t>(game->pid()));
}

TEST_F(GameWindowTest, NoWindowOrNoDisplayMeansNothingIsSent) {
    EXPECT_FALSE(platform::MaximizeFirstWindowOf(static_cast<int>(::getpid()), display));  // this test has no window
    EXPECT_FALSE(platform::MaximizeFirstWindowOf(0, display));
    EXPECT_FALSE(platform::MaximizeFirstWindowOf(1, ":59999"));
    world.Set("DISPLAY", std::nullopt);
    EXPECT_FALSE(platform::MaximizeFirstWindowOf(1));
    std::free(xcb_get_input_focus_reply(x, xcb_get_input_focus(x), nullptr));  // all requests seen by now
    EXPECT_TRUE(MaximizeRequests().empty());
}
