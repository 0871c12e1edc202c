#pragma once
// The launcher's end of the page bridge. The page's window.external lives in the page engine's
// web process (libvaldrune-webext.so, beside the executable); every member read and every call
// it makes arrives here over a private local socket and is answered by a ScriptDispatcher on
// the thread that runs the channel's main context, the window thread.
//
// A call may take as long as its handler needs, and a handler may run a nested main loop (a
// message box): meanwhile the other web processes are still answered, and the caller waits.

#include <memory>
#include <string>

#include "webext/ScriptProtocol.h"

typedef struct _GMainContext GMainContext;
typedef struct _GVariant GVariant;
typedef struct _WebKitWebContext WebKitWebContext;

class ScriptChannel {
public:
    // Listens on "socket" in a fresh 0700 folder below $XDG_RUNTIME_DIR (else /tmp) and answers
    // on context (nullptr: the default main context, which the window thread runs).
    // dispatcher must outlive the channel.
    explicit ScriptChannel(ScriptDispatcher& dispatcher, GMainContext* context = nullptr);
    // On the thread that runs the context. Hangs up on every web process and removes the
    // socket and its folder.
    ~ScriptChannel();
    ScriptChannel(const ScriptChannel&) = delete;
    ScriptChannel& operator=(const ScriptChannel&) = delete;

    bool IsListening() const;
    const std::string& SocketPath() const;  // empty when not listening

    // Makes every web process that webContext starts load the extension from extensionsDir
    // (empty: the running executable's folder) and hands it this channel's socket path. Call
    // before the context loads its first page.
    void AttachTo(WebKitWebContext* webContext, const std::string& extensionsDir = {}) const;

    // The extension's initialisation data, for a page host that sets up its web processes
    // itself: this channel's socket path as a new floating GVariant string.
    GVariant* ExtensionData() const;

private:
    struct State;
    std::shared_ptr<State> m_state;  // shared with the main-loop sources, which may outlive a call
};
