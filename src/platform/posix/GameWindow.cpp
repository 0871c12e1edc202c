#include "platform/GameWindow.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

// XCB rather than Xlib: a window that closes while it is being looked at answers with an error
// reply here, whereas Xlib sends errors to a process-wide handler that GTK owns on the window
// thread (and Xlib's default handler ends the process).

namespace platform {
namespace {

constexpr xcb_window_t kNoWindow = XCB_WINDOW_NONE;
constexpr xcb_atom_t kNoAtom = XCB_ATOM_NONE;

template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T>
Reply<T> Take(T* reply) {
    return Reply<T>(reply, &std::free);
}

class Connection {
public:
    explicit Connection(const std::string& display)
        : m_connection(xcb_connect(display.empty() ? nullptr : display.c_str(), &m_screen)) {}
    ~Connection() { xcb_disconnect(m_connection); }  // also required after a failed connect
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool ok() const { return xcb_connection_has_error(m_connection) == 0; }
    xcb_connection_t* get() const { return m_connection; }

    xcb_window_t Root() const {
        auto screens = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
        for (int i = 0; i < m_screen && screens.rem > 0; ++i) {
            xcb_screen_next(&screens);
        }
        return screens.rem > 0 ? screens.data->root : kNoWindow;
    }

    xcb_atom_t Atom(const char* name) const {
        const auto cookie = xcb_intern_atom(m_connection, 0, static_cast<uint16_t>(std::strlen(name)), name);
        const auto reply = Take(xcb_intern_atom_reply(m_connection, cookie, nullptr));
        return reply ? reply->atom : kNoAtom;
    }

private:
    int m_screen = 0;
    xcb_connection_t* m_connection;
};

// The window manager's client list, bottom to top; empty without a window manager.
std::vector<xcb_window_t> ManagedWindows(const Connection& x, xcb_window_t root) {
    const auto cookie = xcb_get_property(x.get(), 0, root, x.Atom("_NET_CLIENT_LIST_STACKING"), XCB_ATOM_WINDOW, 0,
                                         1u << 16);
    const auto reply = Take(xcb_get_property_reply(x.get(), cookie, nullptr));
    if (!reply || reply->format != 32) {
        return {};
    }
    const auto* first = static_cast<const xcb_window_t*>(xcb_get_property_value(reply.get()));
    return {first, first + xcb_get_property_value_length(reply.get()) / 4};
}

// The mapped children of the root window, bottom to top. Unmapped ones are helpers that no one
// sees (a toolkit's client leader window carries the process id too).
std::vector<xcb_window_t> MappedRootChildren(const Connection& x, xcb_window_t root) {
    const auto tree = Take(xcb_query_tree_reply(x.get(), xcb_query_tree(x.get(), root), nullptr));
    if (!tree) {
        return {};
    }
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    const int count = xcb_query_tree_children_length(tree.get());
    std::vector<xcb_get_window_attributes_cookie_t> cookies;
    for (int i = 0; i < count; ++i) {
        cookies.push_back(xcb_get_window_attributes(x.get(), children[i]));
    }
    std::vector<xcb_window_t> mapped;
    for (int i = 0; i < count; ++i) {
        xcb_generic_error_t* error = nullptr;
        const auto attributes = Take(xcb_get_window_attributes_reply(x.get(), cookies[i], &error));
        std::free(error);
        if (attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE) {
            mapped.push_back(children[i]);
        }
    }
    return mapped;
}

xcb_window_t FirstWindowOf(const Connection& x, const std::vector<xcb_window_t>& topFirst, uint32_t pid) {
    const xcb_atom_t netWmPid = x.Atom("_NET_WM_PID");
    std::vector<xcb_get_property_cookie_t> cookies;
    for (const xcb_window_t window : topFirst) {
        cookies.push_back(xcb_get_property(x.get(), 0, window, netWmPid, XCB_ATOM_CARDINAL, 0, 1));
    }
    xcb_window_t found = kNoWindow;
    for (size_t i = 0; i < cookies.size(); ++i) {
        xcb_generic_error_t* error = nullptr;  // BadWindow when it closed meanwhile
        const auto reply = Take(xcb_get_property_reply(x.get(), cookies[i], &error));
        std::free(error);
        if (found == kNoWindow && reply && reply->format == 32 &&
            xcb_get_property_value_length(reply.get()) >= 4 &&
            *static_cast<const uint32_t*>(xcb_get_property_value(reply.get())) == pid) {
            found = topFirst[i];  // keep reading: every reply must be collected
        }
    }
    return found;
}

}  // namespace

bool MaximizeFirstWindowOf(int pid, const std::string& display) {
    if (pid <= 0) {
        return false;
    }
    const Connection x(display);
    if (!x.ok()) {
        return false;
    }
    const xcb_window_t root = x.Root();
    std::vector<xcb_window_t> windows = ManagedWindows(x, root);
    if (windows.empty()) {
        windows = MappedRootChildren(x, root);
    }
    std::reverse(windows.begin(), windows.end());  // topmost first, as the system enumerates them
    const xcb_window_t window = FirstWindowOf(x, windows, static_cast<uint32_t>(pid));
    if (window == kNoWindow) {
        return false;
    }

    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = x.Atom("_NET_WM_STATE");
    message.data.data32[0] = 1;  // _NET_WM_STATE_ADD
    message.data.data32[1] = x.Atom("_NET_WM_STATE_MAXIMIZED_VERT");
    message.data.data32[2] = x.Atom("_NET_WM_STATE_MAXIMIZED_HORZ");
    message.data.data32[3] = 1;  // from a normal application
    xcb_send_event(x.get(), 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&message));
    // A round trip, so the request has reached the server before the connection closes.
    std::free(xcb_get_input_focus_reply(x.get(), xcb_get_input_focus(x.get()), nullptr));
    return true;
}

}  // namespace platform
