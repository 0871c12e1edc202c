#pragma once
// The network side of one request, shared between the request and its two threads: the
// connection stage, the request stage and what they produce. Each thread keeps its own
// reference, so a thread that outlives the request (left running after the manager's
// shut-down wait) touches nothing but this object and the event window's notifier.
// Which HTTP library does the work is the build's choice, made in CMake.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "telemetry/EventWindow.h"

namespace inner {

// CAutoCSec: one lock, owned for the object's life.
class CAutoCSec {
public:
    CAutoCSec() = default;
    virtual ~CAutoCSec() = default;
    CAutoCSec(const CAutoCSec&) = delete;
    CAutoCSec& operator=(const CAutoCSec&) = delete;

    void Lock() { m_cs.lock(); }
    void Unlock() { m_cs.unlock(); }

protected:
    std::mutex m_cs;
};

// The response body received so far; the transfer thread appends, anyone may copy it.
class CReceiveBuffer : public CAutoCSec {
public:
    void Append(const char* data, size_t size);
    std::string Contents();
    size_t Size();

private:
    std::string m_data;  // guarded by m_cs
};

// The texts of the four response headers the engine reports, from the final response.
struct CResponseHeaders {
    std::string statusCode;
    std::string contentLength;
    std::string lastModified;
    std::string server;
};

// A request thread's handle: tells without waiting whether the thread still runs, waits for
// it with a deadline, and lets it go when it must be left to end on its own.
class CStageThread {
public:
    CStageThread() = default;
    ~CStageThread() { Close(); }
    CStageThread(const CStageThread&) = delete;
    CStageThread& operator=(const CStageThread&) = delete;

    // False when no thread could be made; body has not run then.
    bool Start(std::function<void()> body);
    bool IsSet() const { return m_thread.joinable(); }
    bool IsRunning() const;  // the zero-time wait
    bool WaitUntil(std::chrono::steady_clock::time_point deadline) const;  // true once ended
    // Clears the handle: joins an ended thread (its last step is behind it), lets a running one go.
    void Close();

private:
    struct State {
        std::mutex mutex;
        std::condition_variable ended;
        bool done = false;
    };
    std::shared_ptr<State> m_state;
    std::thread m_thread;
};

// Where and how a request connects, fixed when it is constructed.
struct CTransferPlan {
    int scheme = -1;             // the scheme number (kSchemeHttps for https)
    std::string host;            // the url's host (an IPv6 address keeps its brackets)
    int port = 0;                // the url's port, else the scheme's
    std::string object;          // path and query
    std::string url;             // the whole address as requested (no user name or fragment)
    // The request's own proxy: "%s:%d" from its host and port, or empty for the system's settings.
    std::string proxy;
    std::string proxyHost;
    int proxyPort = 0;
    std::string proxyUserName;
    std::string proxyPassword;
    std::string userAgent;
};

// The network side of one request over the build's HTTP library (libcurl on Linux, WinINet on
// Windows; one source file each). The two stages run on the request's two threads; everything
// else runs on the manager's thread.
class CTransfer {
public:
    // Opens the root handle; a failed open shows up as a failed connection.
    CTransfer(int requestId, CEventWindow::Notifier notifier, CTransferPlan plan);
    ~CTransfer();
    CTransfer(const CTransfer&) = delete;
    CTransfer& operator=(const CTransfer&) = delete;

    static constexpr int kCodeConnected = 0;
    static constexpr int kCodeSent = 1;
    static constexpr int kCodeBodyEnded = 2;

    // Connect thread: opens the connection to the first hop (the url's host or the proxy), then
    // sends code 0.
    void RunConnectStage();
    // Manager's thread, after code 0: prepares the request on the connection with the request
    // flags. False (no request handle) when there is no connection or the request was cancelled.
    bool OpenRequest(const std::string& verb, const std::string& postData, std::uint32_t requestFlags);
    // Transfer thread: sends the request with the header lines, sends code 1 once the final
    // response's headers are in (or the request failed), reads the body, sends code 2.
    void RunTransferStage(const std::string& headerLines);

    // Any thread: makes the running stage return at once and every later stage fail. Closing
    // what a stage is blocked on, in the engine's terms.
    void Cancel();

    bool HasConnection() const;  // after code 0
    CResponseHeaders Headers();  // after code 1
    int EndedCleanly() const { return m_endedCleanly.load(); }
    int BytesReceived() const { return m_bytesReceived.load(); }
    CReceiveBuffer& Body() { return m_body; }

private:
    struct Backend;                    // the HTTP library's handles and state
    friend struct CTransferCallbacks;  // the library's callbacks, with its exact signatures

    // Transfer thread: a chunk of the body has arrived.
    void Received(const char* data, size_t size) {
        m_bytesReceived.fetch_add(static_cast<int>(size));
        m_body.Append(data, size);
    }
    void Notify(int code) const { m_notifier.Send(m_requestId, code); }

    const int m_requestId;
    const CEventWindow::Notifier m_notifier;
    const CTransferPlan m_plan;
    std::unique_ptr<Backend> m_backend;
    CReceiveBuffer m_body;
    std::atomic<int> m_bytesReceived{0};
    std::atomic<int> m_endedCleanly{0};
};

}  // namespace inner
