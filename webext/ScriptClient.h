#pragma once
// The web process's end of the page bridge: asks the launcher and waits for its answer, however
// long that takes (the login may start the game and answer only once the game has ended).
// Used from one thread only, the web process's main thread, which runs the page's script.

#include <string>
#include <variant>
#include <vector>

#include "platform/LocalSocket.h"
#include "webext/ScriptProtocol.h"

class ScriptClient {
public:
    using CallResult = std::variant<ScriptValue, ScriptWire::Failure>;

    explicit ScriptClient(std::string socketPath) : m_socketPath(std::move(socketPath)) {}

    // The member's dispatch id; -1 when the launcher knows no such member or cannot be asked.
    int Lookup(const std::string& name);

    // Calls member id with args in script order: the launcher's value, or why there is none.
    CallResult Call(int id, const std::vector<std::string>& args);

private:
    // One request and its reply. A broken or confused line is dropped; the next request
    // connects afresh. A request is never sent twice: it may have been acted on.
    std::variant<ScriptWire::Reply, ScriptWire::Failure> RoundTrip(const ScriptWire::Request& request);

    std::string m_socketPath;
    platform::LocalStream m_stream;
};
