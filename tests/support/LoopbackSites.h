#pragma once
// Small loopback servers for the network tests, on either system: a port that refuses, a port
// whose connections hang, and a site that answers each path with a fixed raw response.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <thread>

namespace testing_support {

// The threads of this process now; on Windows those it started itself (std::thread), not the
// system libraries' workers.
std::size_t ThreadCount();

// A loopback port on which nothing listens for as long as this lives: connecting is refused.
class ClosedPort {
public:
    ClosedPort();
    ~ClosedPort();
    ClosedPort(const ClosedPort&) = delete;
    ClosedPort& operator=(const ClosedPort&) = delete;
    int port() const { return m_port; }

private:
    std::intptr_t m_socket = -1;  // bound, never listening: no one else takes the port meanwhile
    int m_port = 0;
};

// A loopback port whose accept queue is full, so that a connection attempt to it hangs.
class HangingPort {
public:
    HangingPort();
    ~HangingPort();
    HangingPort(const HangingPort&) = delete;
    HangingPort& operator=(const HangingPort&) = delete;

    int port() const { return m_port; }
    // True while some socket of this machine waits for this port to answer its SYN.
    bool SomeoneWaits() const;

private:
    std::intptr_t m_listener = -1;
    std::intptr_t m_filler = -1;
    int m_port = 0;
};

// A loopback site that answers each path with a fixed raw response and closes the connection,
// for header texts the operator server never sends. One thread, one connection at a time.
class ScriptedSite {
public:
    explicit ScriptedSite(std::map<std::string, std::string> answers);
    ~ScriptedSite();
    ScriptedSite(const ScriptedSite&) = delete;
    ScriptedSite& operator=(const ScriptedSite&) = delete;

    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(m_port) + path; }

private:
    void Serve();

    const std::map<std::string, std::string> m_answers;
    std::intptr_t m_listener = -1;
    int m_port = 0;
    std::thread m_thread;
};

}  // namespace testing_support
