#pragma once
// Asynchronous HTTP requests: a caller describes a request (CHttpRequestParams) and hands it
// to a CHttpRequestManager, which answers its id at once. Each request does its blocking
// network work on two short-lived threads of its own, one that connects and one that sends the
// request and reads the answer; they notify the manager's event window, so every state change
// and every callback happens on the event loop's thread. Finished and aborted requests wait in
// a second list until a cleanup timer finds both of their threads ended.

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "telemetry/EventLoop.h"
#include "telemetry/EventWindow.h"
#include "telemetry/HttpTransfer.h"

// Request flags (WinINet's values, kept because callers pass them on).
inline constexpr std::uint32_t kInternetFlagReload = 0x80000000;         // never answered from a cache
inline constexpr std::uint32_t kInternetFlagNoCacheWrite = 0x04000000;   // never written to one
inline constexpr std::uint32_t kInternetFlagSecure = 0x00800000;         // added for https
inline constexpr std::uint32_t kInternetFlagNoAutoRedirect = 0x00200000; // redirects are not followed

// Scheme numbers of a split address.
inline constexpr int kSchemeUnknown = -1;
inline constexpr int kSchemeHttp = 3;
inline constexpr int kSchemeHttps = 4;

struct CHttpRequestParams {
    CHttpRequestParams();  // the user agent starts as BrowserInfo::DefaultUserAgent()

    std::string m_strPostData;  // sent only when not empty
    int m_nVerb = 0;            // 0 "GET", 1 and 2 "POST", 3 "DELETE", anything else "GET"
    std::string m_strUrl;       // "http://..." or "https://..."
    int m_nRangeStart = 0;      // not 0: ask for the body from this byte on
    std::string m_strUserAgent;
    std::string m_strExtraHeaders;  // header lines, each ended by "\r\n"
    std::uint32_t m_dwRequestFlags = kInternetFlagReload | kInternetFlagNoCacheWrite;
    int m_nTimeout = 0;  // milliseconds; 0: no time-out of the engine's own
    // Not empty: all traffic of the request goes through this proxy. Empty: the system's proxy
    // settings (WinINet's preconfigured ones; on Linux the environment's proxy variables as
    // libcurl reads them, ProxyEnvironment.h).
    std::string m_strProxyHost;
    int m_nProxyPort = 80;
    std::string m_strProxyUserName;
    std::string m_strProxyPassword;
};

// Filled on the manager's thread when the response headers are in; zero or empty before.
struct CHttpResponseInfo {
    int m_nStatusCode = 0;
    int m_nContentLength = 0;
    std::string m_strLastModified;
    std::string m_strServer;
    int m_nEndedCleanly = 0;  // 1: the body was read to its end; 0: a read failed
};

namespace inner {

// An address split the way the engine uses it.
struct CUrlParts {
    int nScheme = kSchemeUnknown;
    std::string strHost;    // an IPv6 address keeps its brackets
    int nPort = 0;          // the port written in the address, else 443 for https and 80 otherwise
    std::string strObject;  // everything after the host: path and query
    std::string strRequestUrl;  // the address as requested: no user name, password or fragment
};

// Host and object stay empty when the address cannot be split. The build's HTTP library splits
// it (libcurl's URL parser, WinINet's InternetCrackUrlW), so that what is connected to is what
// that library would make of the address.
CUrlParts CrackUrl(const std::string& url);

// The verb text of a verb code.
const char* VerbText(int verb);

// The decimal value of a header text, the way the C runtime converts it (leading blanks and a
// sign allowed, stops at the first other character, clamped to the int range); 0 without digits.
int DecimalValue(const std::string& text);

}  // namespace inner

class CHttpRequest {
public:
    // Caller's thread: splits the address, opens the root handle, starts the connect thread and
    // arms the time-out timer (timer id = request id) when the params ask for one.
    CHttpRequest(int requestId, inner::CEventWindow& eventWindow, const CHttpRequestParams& params);
    virtual ~CHttpRequest();
    CHttpRequest(const CHttpRequest&) = delete;
    CHttpRequest& operator=(const CHttpRequest&) = delete;

    int RequestId() const { return m_nRequestId; }
    const CHttpRequestParams& Params() const { return m_params; }
    int Scheme() const { return m_nScheme; }
    const std::string& Host() const { return m_strHost; }
    int Port() const { return m_nPort; }
    const std::string& Object() const { return m_strObject; }
    const CHttpResponseInfo& Response() const { return m_response; }
    // The body received so far; take its lock (or use Contents()) while the transfer runs.
    inner::CReceiveBuffer& Body() { return m_transfer->Body(); }
    int BytesReceived() const { return m_transfer->BytesReceived(); }

    // Manager's thread.
    void OnConnected();
    // Unblocks the stage still running and answers its thread, or nullptr when neither runs.
    inner::CStageThread* Abort();
    bool ThreadsEnded() const;
    void FillResponseInfo();
    void TakeEndedCleanly();

private:
    int m_nRequestId;
    inner::CEventWindow& m_eventWindow;
    CHttpRequestParams m_params;
    int m_nScheme = kSchemeUnknown;
    std::string m_strHost;
    int m_nPort = 0;
    std::string m_strObject;
    CHttpResponseInfo m_response;
    // The handles, the body and the byte count, shared with the two threads so that a thread
    // that outlives this request never touches it.
    std::shared_ptr<inner::CTransfer> m_transfer;
    inner::CStageThread m_connectThread;   // cleared once the connection stage has reported
    inner::CStageThread m_transferThread;
};

class CHttpRequestManager : private inner::CEventWindow::Handler {
public:
    static constexpr std::uint32_t kShutdownWaitMs = 3000;
    static constexpr int kFirstRequestId = 100;
    static constexpr unsigned kCleanupTimerId = 30;
    static constexpr std::chrono::milliseconds kCleanupPeriod{100};

    // loop delivers the notifications and timers and must outlive the manager. Everything but
    // AddRequest runs on the loop's thread, the destructor included.
    explicit CHttpRequestManager(EventLoop& loop);
    virtual ~CHttpRequestManager();
    CHttpRequestManager(const CHttpRequestManager&) = delete;
    CHttpRequestManager& operator=(const CHttpRequestManager&) = delete;

    // Any thread; never waits for the network. The request's id, or 0 once shut down.
    int AddRequest(const CHttpRequestParams& params);
    // The running request with this id; the finished list is never searched.
    CHttpRequest* FindRequest(int requestId);
    // A running request is aborted and moved to the finished list; otherwise nothing.
    void DeleteRequest(int requestId);

    // The event window's procedure.
    void OnHttpEvent(int requestId, int code) override;
    void OnTimer(unsigned timerId) override;

    // Handles events until no request runs or the wait is over; true when none runs.
    bool WaitForRunning(std::chrono::milliseconds wait);
    // The destructor's work ahead of time: the event window goes, running requests are aborted,
    // their threads get up to kShutdownWaitMs to end, every request is destroyed. Later
    // AddRequest calls start nothing.
    void Shutdown();

    size_t RunningCount() const;
    size_t FinishedCount() const;
    bool IsCleanupTimerArmed() const { return m_eventWindow.HasTimer(kCleanupTimerId); }

protected:
    // Called on the manager's thread without the lists' lock; they do nothing here.
    virtual void OnResponseHeaders(CHttpRequest& request);
    // The request is still in the running list during both of these and is moved right after.
    virtual void OnRequestFinished(CHttpRequest& request);
    virtual void OnRequestTimeout(CHttpRequest& request);

private:
    void CleanUp();

    mutable std::mutex m_listsLock;  // guards the two lists, the id counter and m_bShutDown
    std::deque<std::unique_ptr<CHttpRequest>> m_running;
    std::deque<std::unique_ptr<CHttpRequest>> m_finished;
    inner::CEventWindow m_eventWindow;
    std::uint32_t m_dwShutdownWait = kShutdownWaitMs;
    int m_nNextRequestId = kFirstRequestId;
    bool m_bShutDown = false;
};
