// The request's network side over WinINet: a root handle per request (InternetOpenW with the
// request's proxy, else the system's preconfigured settings), InternetConnectW on the connect
// thread, HttpOpenRequestW on the manager's thread, HttpSendRequestW and the body reads on the
// transfer thread, HttpQueryInfoW for the header texts.
//
// The handles are opened asynchronous (INTERNET_FLAG_ASYNC): a stage starts a call, and when
// WinINet answers ERROR_IO_PENDING the stage waits for the status callback's completion or for
// Cancel, whichever comes first. Closing a handle does not make a blocked synchronous call
// return everywhere (Wine keeps waiting for the server), so the stage's own wait is what Cancel
// ends; the handle is closed as well, which on Windows also stops WinINet's own work.

#include "telemetry/HttpTransfer.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <vector>

#include "platform/win32/InternetCalls.h"
#include "platform/win32/Wide.h"
#include "telemetry/HttpRequest.h"

using platform::win32::Narrow;
using platform::win32::PendingInternetCall;
using platform::win32::Widen;

namespace inner {
namespace {

constexpr DWORD kReadChunk = 8192;

// InternetConnectW takes an IPv6 address without its brackets.
std::wstring ConnectHost(const std::string& host) {
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        return Widen(host.substr(1, host.size() - 2));
    }
    return Widen(host);
}

int DefaultPort(int scheme) { return scheme == kSchemeHttps ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT; }

}  // namespace

CUrlParts CrackUrl(const std::string& url) {
    CUrlParts parts;
    const std::wstring wide = Widen(url);
    // Host and path buffers of the address's length and a little more, zero-filled; the scheme
    // text, user name, password and extra information are not asked for, so the path keeps the
    // query (and the fragment, which is never sent).
    std::vector<wchar_t> host(wide.size() + 8, L'\0');
    std::vector<wchar_t> path(wide.size() + 8, L'\0');
    URL_COMPONENTSW components{};
    components.dwStructSize = sizeof components;
    components.lpszHostName = host.data();
    components.dwHostNameLength = static_cast<DWORD>(host.size());
    components.lpszUrlPath = path.data();
    components.dwUrlPathLength = static_cast<DWORD>(path.size());
    if (wide.empty() || !::InternetCrackUrlW(wide.c_str(), static_cast<DWORD>(wide.size()), 0, &components)) {
        return parts;
    }
    parts.nScheme = components.nScheme == INTERNET_SCHEME_HTTPS  ? kSchemeHttps
                    : components.nScheme == INTERNET_SCHEME_HTTP ? kSchemeHttp
                                                                 : kSchemeUnknown;
    parts.strHost = Narrow(host.data());
    if (parts.strHost.find(':') != std::string::npos && !parts.strHost.starts_with('[')) {
        parts.strHost = "[" + parts.strHost + "]";
    }
    parts.nPort = components.nPort != 0 ? components.nPort : DefaultPort(parts.nScheme);
    std::string object = Narrow(path.data());
    object = object.substr(0, object.find('#'));
    parts.strObject = object.empty() ? "/" : object;
    if (parts.strHost.empty()) {
        parts.strObject.clear();
        return parts;
    }
    const std::string port = parts.nPort == DefaultPort(parts.nScheme) ? "" : ":" + std::to_string(parts.nPort);
    parts.strRequestUrl = (parts.nScheme == kSchemeHttps ? "https://" : "http://") + parts.strHost + port + parts.strObject;
    return parts;
}

// ---- the request's WinINet state

struct CTransfer::Backend {
    const DWORD_PTR context = platform::win32::NewInternetContext();

    mutable std::mutex mutex;  // guards the handles and the fields below: no handle is used while another thread closes it
    HINTERNET root = nullptr;
    HINTERNET connection = nullptr;
    HINTERNET request = nullptr;
    std::string postData;
    bool cancelled = false;
    std::shared_ptr<PendingInternetCall> waiting;  // the call a stage now waits for

    // The outcome of one call: 0, or the error it failed with.
    template <typename Start>
    DWORD Call(const std::shared_ptr<PendingInternetCall>& call, const Start& start) {
        std::unique_lock lock(mutex);
        if (cancelled || request == nullptr) {
            return ERROR_INTERNET_OPERATION_CANCELLED;
        }
        const DWORD started =
            platform::win32::StartInternetCall(context, call, [&] { return start(request) != FALSE; });
        if (started != ERROR_IO_PENDING) {
            return started;
        }
        waiting = call;
        lock.unlock();
        call->Wait();
        const DWORD outcome = call->Outcome();

        lock.lock();
        waiting.reset();
        return outcome;
    }

    // Waits until some of the body is in or it has ended: 0 and the count (0 at the end), or the
    // error. Asked again once WinINet has reported data, the count answers at once.
    DWORD WaitForData(DWORD& available) {
        for (;;) {
            auto call = std::make_shared<PendingInternetCall>();
            bool answered = false;
            const DWORD error = Call(call, [&](HINTERNET handle) {
                answered = ::InternetQueryDataAvailable(handle, &call->available, 0, 0) != FALSE;
                return answered;
            });
            if (error != 0 || answered) {
                available = call->available;
                return error;
            }
        }
    }

    // The text of one response header, empty when it is missing: its length first, then the
    // text in a zero-filled buffer of that length and two bytes more, up to its first NUL.
    std::string QueryHeader(DWORD level) const {
        std::lock_guard lock(mutex);
        if (request == nullptr) {
            return {};
        }
        DWORD length = 0;
        ::HttpQueryInfoW(request, level, nullptr, &length, nullptr);
        if (length == 0) {
            return {};
        }
        std::vector<wchar_t> buffer(length / sizeof(wchar_t) + 2, L'\0');
        DWORD size = length;
        if (!::HttpQueryInfoW(request, level, buffer.data(), &size, nullptr)) {
            return {};
        }
        return Narrow(buffer.data());
    }

    void CloseRequest() {
        if (request != nullptr) {
            ::InternetCloseHandle(request);
            request = nullptr;
        }
    }
};

CTransfer::CTransfer(int requestId, CEventWindow::Notifier notifier, CTransferPlan plan)
    : m_requestId(requestId),
      m_notifier(std::move(notifier)),
      m_plan(std::move(plan)),
      m_backend(std::make_unique<Backend>()) {
    Backend& b = *m_backend;
    const std::wstring agent = Widen(m_plan.userAgent);
    if (!m_plan.proxy.empty()) {
        b.root = ::InternetOpenW(agent.c_str(), INTERNET_OPEN_TYPE_PROXY, Widen(m_plan.proxy).c_str(), nullptr,
                                 INTERNET_FLAG_ASYNC);
    } else {
        b.root = ::InternetOpenW(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, INTERNET_FLAG_ASYNC);
    }
    if (b.root == nullptr) {
        return;
    }
    platform::win32::WatchInternetCompletions(b.root);
    for (const auto& [option, text] : {std::pair{INTERNET_OPTION_PROXY_USERNAME, &m_plan.proxyUserName},
                                       std::pair{INTERNET_OPTION_PROXY_PASSWORD, &m_plan.proxyPassword}}) {
        if (!text->empty()) {
            std::wstring value = Widen(*text);
            ::InternetSetOptionW(b.root, option, value.data(), static_cast<DWORD>(value.size()));
        }
    }
}

CTransfer::~CTransfer() {
    Backend& b = *m_backend;
    std::lock_guard lock(b.mutex);
    b.CloseRequest();
    for (HINTERNET* handle : {&b.connection, &b.root}) {
        if (*handle != nullptr) {
            ::InternetCloseHandle(*handle);
            *handle = nullptr;
        }
    }
}

void CTransfer::RunConnectStage() {
    Backend& b = *m_backend;
    {
        std::lock_guard lock(b.mutex);
        if (!b.cancelled && b.root != nullptr && !m_plan.host.empty()) {
            b.connection = ::InternetConnectW(b.root, ConnectHost(m_plan.host).c_str(),
                                              static_cast<INTERNET_PORT>(m_plan.port), nullptr, nullptr,
                                              INTERNET_SERVICE_HTTP, 0, 0);
        }
    }
    Notify(kCodeConnected);
}

bool CTransfer::OpenRequest(const std::string& verb, const std::string& postData, std::uint32_t requestFlags) {
    Backend& b = *m_backend;
    std::lock_guard lock(b.mutex);
    if (b.cancelled || b.connection == nullptr) {
        return false;
    }
    const std::wstring object = Widen(m_plan.object);
    b.request = ::HttpOpenRequestW(b.connection, Widen(verb).c_str(), object.c_str(), nullptr, nullptr, nullptr,
                                   requestFlags, b.context);
    b.postData = postData;
    return b.request != nullptr;
}

void CTransfer::RunTransferStage(const std::string& headerLines) {
    Backend& b = *m_backend;
    auto send = std::make_shared<PendingInternetCall>();
    send->headers = Widen(headerLines);
    {
        std::lock_guard lock(b.mutex);
        send->body = b.postData;
    }
    const DWORD sent = b.Call(send, [&](HINTERNET request) {
        return ::HttpSendRequestW(request, send->headers.empty() ? nullptr : send->headers.c_str(),
                                  static_cast<DWORD>(send->headers.size()),
                                  send->body.empty() ? nullptr : send->body.data(),
                                  static_cast<DWORD>(send->body.size()));
    });
    Notify(kCodeSent);

    bool clean = false;
    if (sent == 0) {
        for (;;) {
            DWORD available = 0;
            if (b.WaitForData(available) != 0) {
                break;
            }
            auto read = std::make_shared<PendingInternetCall>();
            read->buffer.resize(std::clamp<DWORD>(available, 1, kReadChunk));
            const DWORD error = b.Call(read, [&](HINTERNET request) {
                return ::InternetReadFile(request, read->buffer.data(), static_cast<DWORD>(read->buffer.size()),
                                          &read->read);
            });
            if (error != 0) {
                break;
            }
            if (read->read == 0) {
                clean = true;
                break;
            }
            Received(read->buffer.data(), read->read);
        }
        // A body the server ended before its announced length is not whole.
        const std::string length = b.QueryHeader(HTTP_QUERY_CONTENT_LENGTH);
        const int status = DecimalValue(b.QueryHeader(HTTP_QUERY_STATUS_CODE));
        if (clean && !length.empty() && status != 204 && status != 304 &&
            static_cast<long long>(BytesReceived()) < DecimalValue(length)) {
            clean = false;
        }
    }
    m_endedCleanly = clean ? 1 : 0;
    Notify(kCodeBodyEnded);
}

void CTransfer::Cancel() {
    Backend& b = *m_backend;
    std::shared_ptr<PendingInternetCall> waiting;
    {
        std::lock_guard lock(b.mutex);
        if (b.cancelled) {
            return;
        }
        b.cancelled = true;
        b.CloseRequest();
        waiting = b.waiting;
    }
    if (waiting) {
        waiting->Abandon();
    }
}

bool CTransfer::HasConnection() const {
    std::lock_guard lock(m_backend->mutex);
    return m_backend->connection != nullptr;
}

CResponseHeaders CTransfer::Headers() {
    const Backend& b = *m_backend;
    return {b.QueryHeader(HTTP_QUERY_STATUS_CODE), b.QueryHeader(HTTP_QUERY_CONTENT_LENGTH),
            b.QueryHeader(HTTP_QUERY_LAST_MODIFIED), b.QueryHeader(HTTP_QUERY_SERVER)};
}

}  // namespace inner
