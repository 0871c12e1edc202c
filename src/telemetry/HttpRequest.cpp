#include "telemetry/HttpRequest.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <set>
#include <vector>

#include <fmt/printf.h>

#include "telemetry/BrowserInfo.h"

CHttpRequestParams::CHttpRequestParams() : m_strUserAgent(BrowserInfo::DefaultUserAgent()) {}

namespace inner {

const char* VerbText(int verb) {
    switch (verb) {
        case 1:
        case 2:
            return "POST";
        case 3:
            return "DELETE";
        default:
            return "GET";
    }
}

int DecimalValue(const std::string& text) {
    size_t i = text.find_first_not_of(" \t\r\n\v\f");
    if (i == std::string::npos) {
        return 0;
    }
    const bool negative = text[i] == '-';
    if (text[i] == '-' || text[i] == '+') {
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        value = std::min<long long>(value * 10 + (text[i] - '0'), static_cast<long long>(INT_MAX) + 1);
    }
    value = negative ? -value : value;
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

}  // namespace inner

// ---- CHttpRequest

CHttpRequest::CHttpRequest(int requestId, inner::CEventWindow& eventWindow, const CHttpRequestParams& params)
    : m_nRequestId(requestId), m_eventWindow(eventWindow), m_params(params) {
    const inner::CUrlParts parts = inner::CrackUrl(m_params.m_strUrl);
    m_nScheme = parts.nScheme;
    m_strHost = parts.strHost;
    m_nPort = parts.nPort;
    m_strObject = parts.strObject;

    inner::CTransferPlan plan;
    plan.scheme = m_nScheme;
    plan.host = m_strHost;
    plan.port = m_nPort;
    plan.object = m_strObject;
    plan.url = parts.strRequestUrl;
    plan.userAgent = m_params.m_strUserAgent;
    if (!m_params.m_strProxyHost.empty()) {
        plan.proxy = fmt::sprintf("%s:%d", m_params.m_strProxyHost, m_params.m_nProxyPort);
        plan.proxyHost = m_params.m_strProxyHost;
        plan.proxyPort = m_params.m_nProxyPort;
        plan.proxyUserName = m_params.m_strProxyUserName;
        plan.proxyPassword = m_params.m_strProxyPassword;
    }
    m_transfer = std::make_shared<inner::CTransfer>(m_nRequestId, eventWindow.GetNotifier(), std::move(plan));

    if (!m_connectThread.Start([transfer = m_transfer] { transfer->RunConnectStage(); })) {
        // Without a thread the stage fails at once, here, and the request ends like any failure.
        m_transfer->Cancel();
        m_transfer->RunConnectStage();
    }
    if (m_params.m_nTimeout != 0) {
        m_eventWindow.SetTimer(static_cast<unsigned>(m_nRequestId), std::chrono::milliseconds(m_params.m_nTimeout));
    }
}

CHttpRequest::~CHttpRequest() {
    m_eventWindow.KillTimer(static_cast<unsigned>(m_nRequestId));
    m_transfer->Cancel();  // a thread still running fails at once and ends on its own
    m_transferThread.Close();
    m_connectThread.Close();
}

void CHttpRequest::OnConnected() {
    m_connectThread.Close();
    if (m_nScheme == kSchemeHttps) {
        m_params.m_dwRequestFlags |= kInternetFlagSecure;
    }
    m_transfer->OpenRequest(inner::VerbText(m_params.m_nVerb), m_params.m_strPostData, m_params.m_dwRequestFlags);

    std::string headers = m_params.m_strExtraHeaders;
    if (m_params.m_nRangeStart != 0) {
        headers += fmt::sprintf("Range: bytes=%d-\r\n", m_params.m_nRangeStart);
    }
    if (!m_transferThread.Start([transfer = m_transfer, headers] { transfer->RunTransferStage(headers); })) {
        m_transfer->Cancel();
        m_transfer->RunTransferStage(headers);
    }
}

inner::CStageThread* CHttpRequest::Abort() {
    if (m_transferThread.IsSet() && m_transferThread.IsRunning()) {
        m_transfer->Cancel();
        return &m_transferThread;
    }
    if (m_connectThread.IsSet() && m_connectThread.IsRunning()) {
        m_transfer->Cancel();
        return &m_connectThread;
    }
    return nullptr;
}

bool CHttpRequest::ThreadsEnded() const {
    return !m_connectThread.IsRunning() && !m_transferThread.IsRunning();
}

void CHttpRequest::FillResponseInfo() {
    const inner::CResponseHeaders headers = m_transfer->Headers();
    m_response.m_nStatusCode = inner::DecimalValue(headers.statusCode);
    m_response.m_nContentLength = inner::DecimalValue(headers.contentLength);
    m_response.m_strLastModified = headers.lastModified;
    m_response.m_strServer = headers.server;
}

void CHttpRequest::TakeEndedCleanly() { m_response.m_nEndedCleanly = m_transfer->EndedCleanly(); }

// ---- CHttpRequestManager

CHttpRequestManager::CHttpRequestManager(EventLoop& loop) : m_eventWindow(loop, *this) {}

CHttpRequestManager::~CHttpRequestManager() { Shutdown(); }

int CHttpRequestManager::AddRequest(const CHttpRequestParams& params) {
    int id = 0;
    {
        std::lock_guard lock(m_listsLock);
        if (m_bShutDown) {
            return 0;
        }
        id = m_nNextRequestId++;
        m_running.push_back(std::make_unique<CHttpRequest>(id, m_eventWindow, params));
    }
    // Armed after the append: a cleanup tick that found both lists empty just before cannot
    // stop the timer after this arming has taken effect.
    m_eventWindow.SetTimer(kCleanupTimerId, kCleanupPeriod);
    return id;
}

CHttpRequest* CHttpRequestManager::FindRequest(int requestId) {
    std::lock_guard lock(m_listsLock);
    for (const auto& request : m_running) {
        if (request->RequestId() == requestId) {
            return request.get();
        }
    }
    return nullptr;
}

void CHttpRequestManager::DeleteRequest(int requestId) {
    std::lock_guard lock(m_listsLock);
    const auto it = std::find_if(m_running.begin(), m_running.end(),
                                 [&](const auto& request) { return request->RequestId() == requestId; });
    if (it == m_running.end()) {
        return;
    }
    (*it)->Abort();
    m_finished.push_back(std::move(*it));
    m_running.erase(it);
}

void CHttpRequestManager::OnHttpEvent(int requestId, int code) {
    CHttpRequest* request = FindRequest(requestId);
    if (request == nullptr) {
        return;  // timed out or aborted meanwhile
    }
    switch (code) {
        case inner::CTransfer::kCodeConnected:
            request->OnConnected();
            break;
        case inner::CTransfer::kCodeSent:
            request->FillResponseInfo();
            OnResponseHeaders(*request);
            break;
        case inner::CTransfer::kCodeBodyEnded:
            request->TakeEndedCleanly();
            OnRequestFinished(*request);
            DeleteRequest(requestId);
            break;
        default:
            break;
    }
}

void CHttpRequestManager::OnTimer(unsigned timerId) {
    if (timerId != kCleanupTimerId) {
        m_eventWindow.KillTimer(timerId);
        const int requestId = static_cast<int>(timerId);
        if (CHttpRequest* request = FindRequest(requestId)) {
            OnRequestTimeout(*request);
            DeleteRequest(requestId);
        }
        return;
    }
    CleanUp();
}

void CHttpRequestManager::CleanUp() {
    std::vector<std::unique_ptr<CHttpRequest>> ended;
    {
        std::lock_guard lock(m_listsLock);
        if (m_running.empty() && m_finished.empty()) {
            m_eventWindow.KillTimer(kCleanupTimerId);
            return;
        }
        for (auto it = m_finished.begin(); it != m_finished.end();) {
            if ((*it)->ThreadsEnded()) {
                ended.push_back(std::move(*it));
                it = m_finished.erase(it);
            } else {
                ++it;
            }
        }
    }
    ended.clear();  // destroyed outside the lock; their threads have ended, so nothing waits
}

bool CHttpRequestManager::WaitForRunning(std::chrono::milliseconds wait) {
    return m_eventWindow.Loop().RunUntil([this] { return RunningCount() == 0; }, EventLoop::Clock::now() + wait);
}

void CHttpRequestManager::Shutdown() {
    std::deque<std::unique_ptr<CHttpRequest>> running;
    std::deque<std::unique_ptr<CHttpRequest>> finished;
    {
        std::lock_guard lock(m_listsLock);
        if (m_bShutDown) {
            return;
        }
        m_bShutDown = true;
        running.swap(m_running);
        finished.swap(m_finished);
    }
    m_eventWindow.Destroy();

    std::set<inner::CStageThread*> threads;
    for (auto* list : {&running, &finished}) {
        for (const auto& request : *list) {
            if (inner::CStageThread* thread = request->Abort()) {
                threads.insert(thread);
            }
        }
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_dwShutdownWait);
    for (inner::CStageThread* thread : threads) {
        thread->WaitUntil(deadline);
    }
    // A thread still running now is let go when its request is destroyed: it holds its own
    // references and never reaches the request or this manager again.
    running.clear();
    finished.clear();
}

size_t CHttpRequestManager::RunningCount() const {
    std::lock_guard lock(m_listsLock);
    return m_running.size();
}

size_t CHttpRequestManager::FinishedCount() const {
    std::lock_guard lock(m_listsLock);
    return m_finished.size();
}

void CHttpRequestManager::OnResponseHeaders(CHttpRequest&) {}

void CHttpRequestManager::OnRequestFinished(CHttpRequest&) {}

void CHttpRequestManager::OnRequestTimeout(CHttpRequest&) {}
