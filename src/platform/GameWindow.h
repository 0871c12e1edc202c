#pragma once
// The one thing the launcher does to the game's window: ask the window manager to maximise it.

#include <string>

namespace platform {

// Finds the first top-level window, topmost first, whose _NET_WM_PID is pid (the windows the
// window manager lists, else the mapped children of the root window) and asks the window
// manager to maximise it (a _NET_WM_STATE client message to the root window). One attempt,
// no waiting for a window to appear. True when a window was found and the request sent; false
// without an X display or without such a window. display empty: $DISPLAY.
bool MaximizeFirstWindowOf(int pid, const std::string& display = {});

}  // namespace platform
