#pragma once
// The network side of one request, shared between the request and its two threads: the
// connection stage, the request stage and what they produce. Each thread keeps its own
// reference, so a thread that outlives the request (left running after the manager's
// shut-down wait) touches nothing but this object and the event window's notifier.

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

typedef void CURL;
typedef void CURLM;
struct curl_slist;

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
    std::string url;             // what the request stage asks for (without user name or fragment)
    std::string hopHost;         // the first hop: the url's host, or the proxy
    int hopPort = 0;
    std::string proxy;           // libcurl's proxy text; empty for a direct connection
    std::string proxyUserName;
    std::string proxyPassword;
    std::string userAgent;
};

class CTransfer {
public:
    CTransfer(int requestId, CEventWindow::Notifier notifier, CTransferPlan plan);
    ~CTransfer();
    CTransfer(const CTransfer&) = delete;
    CTransfer& operator=(const CTransfer&) = delete;

    static constexpr int kCodeConnected = 0;
    static constexpr int kCodeSent = 1;
    static constexpr int kCodeBodyEnded = 2;

    // The root handle: false when libcurl could not give one.
    bool HasRoot() const { return m_easy != nullptr; }

    // Connect thread: resolves and connects to the first hop, then sends code 0.
    void RunConnectStage();
    // Manager's thread, after code 0: prepares the request on the connection. False (no request
    // handle) when there is no connection or the request was cancelled.
    bool OpenRequest(const std::string& verb, const std::string& postData, bool followRedirects);
    // Transfer thread: sends the request with the header lines, sends code 1 once the final
    // response's headers are in (or the request failed), reads the body, sends code 2.
    void RunTransferStage(const std::string& headerLines);

    // Any thread: makes the running stage return at once (its wait is woken and it fails) and
    // every later stage fail. Closing what a stage is blocked on, in this engine's terms.
    void Cancel();

    bool HasConnection() const;  // after code 0
    CResponseHeaders Headers();  // after code 1
    int EndedCleanly() const { return m_endedCleanly.load(); }
    int BytesReceived() const { return m_bytesReceived.load(); }
    CReceiveBuffer& Body() { return m_body; }

private:
    friend struct CTransferCallbacks;  // libcurl's callbacks, with libcurl's exact signatures

    // Runs one stage's transfer to its end and answers its CURLcode; beforeRemoval sees the
    // result while the transfer still holds its connection.
    int Drive(CURL* easy, const std::function<void(int)>& beforeRemoval = {});
    void PublishHeaders();
    bool IsCancelled() const { return m_cancelled.load(); }

    const int m_requestId;
    const CEventWindow::Notifier m_notifier;
    const CTransferPlan m_plan;
    CURL* m_easy = nullptr;  // root handle; request stage's transfer
    curl_slist* m_resolvePin = nullptr;  // set up with the request, freed with the handle

    mutable std::mutex m_mutex;        // guards the fields below it
    CURLM* m_activeMulti = nullptr;    // the stage now waiting in libcurl, to wake on Cancel
    int m_keptSocket = -1;             // the connect stage's socket, kept for the request stage
    int m_connection = -1;             // the connected socket: the connection handle
    std::string m_connectedAddress;    // where m_connection leads, to pin the request stage to it
    bool m_connectionHandedOver = false;
    CResponseHeaders m_published;      // the final response's headers

    std::atomic<bool> m_cancelled{false};
    bool m_requestOpen = false;  // written before the transfer thread starts

    // Transfer thread only while it runs.
    CResponseHeaders m_block;
    std::string m_blockLocation;
    bool m_followRedirects = true;
    bool m_hasBody = false;
    bool m_headersSent = false;

    CReceiveBuffer m_body;
    std::atomic<int> m_bytesReceived{0};
    std::atomic<int> m_endedCleanly{0};
};

}  // namespace inner
