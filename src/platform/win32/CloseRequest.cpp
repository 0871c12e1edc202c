#include "platform/CloseRequest.h"

#include "platform/win32/Wide.h"

namespace platform {
namespace {

// Manual-reset: once the player has asked, every later wait returns at once.
HANDLE CloseRequested() {
    static const HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return event;
}

// Runs on a thread the system makes for the event, while the launcher goes on.
BOOL WINAPI OnConsoleControl(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
        ::SetEvent(CloseRequested());
        if (event == CTRL_CLOSE_EVENT) {
            // The system ends the process as soon as this returns: held here, the launcher
            // closes first and ends the process itself (within the few seconds the system
            // grants a closing console).
            ::Sleep(INFINITE);
        }
        return TRUE;  // handled: the process is not ended at once
    default:
        return FALSE;  // logoff and shutdown take their default course
    }
}

}  // namespace

void PrepareCloseRequest() {
    // The status texts are UTF-8 (Chinese among them); the console shows them as such.
    ::SetConsoleOutputCP(CP_UTF8);
    CloseRequested();
    // A start in a new process group comes with Ctrl+C ignored; the player's Ctrl+C closes the
    // launcher however it was started.
    ::SetConsoleCtrlHandler(nullptr, FALSE);
    ::SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
}

void WaitForCloseRequest() { ::WaitForSingleObject(CloseRequested(), INFINITE); }

}  // namespace platform
