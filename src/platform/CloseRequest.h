#pragma once
// The player's request to close a launcher that runs without a window: what the close button is
// to the window. Linux: SIGINT (Ctrl+C) or SIGTERM. Windows: the console's Ctrl+C, Ctrl+Break or
// its own close button.

namespace platform {

// Makes a close request wait for WaitForCloseRequest instead of ending the process, and readies
// the console for the launcher's texts (Windows: UTF-8 output). Call first thing in main, on the
// thread that will wait, before the launcher starts threads of its own. Linux: SIGINT and SIGTERM
// are blocked for this thread and every thread started after it; one that reaches a thread
// started earlier (by a library as it loaded) is handed on to this thread.
void PrepareCloseRequest();

// Blocks until the player asks to close (returns at once when that has already happened). Only
// on the thread that called PrepareCloseRequest.
void WaitForCloseRequest();

}  // namespace platform
