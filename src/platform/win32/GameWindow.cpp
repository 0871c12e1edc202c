#include "platform/GameWindow.h"

#include <windows.h>

namespace platform {
namespace {

struct Search {
    DWORD pid = 0;
    HWND found = nullptr;
};

BOOL CALLBACK TakeFirstVisible(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<Search*>(parameter);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner == search->pid && ::IsWindowVisible(window) && ::GetWindow(window, GW_OWNER) == nullptr) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

// display: an X11 notion; Windows has one desktop per session.
bool MaximizeFirstWindowOf(int pid, const std::string& /*display*/) {
    Search search{static_cast<DWORD>(pid), nullptr};
    ::EnumWindows(&TakeFirstVisible, reinterpret_cast<LPARAM>(&search));  // topmost first
    if (search.found == nullptr) {
        return false;
    }
    ::ShowWindow(search.found, SW_MAXIMIZE);
    return true;
}

}  // namespace platform
