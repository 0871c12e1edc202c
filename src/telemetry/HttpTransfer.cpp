#include "telemetry/HttpTransfer.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string_view>
#include <system_error>

namespace inner {
namespace {

void InitLibcurlOnce() {
    static const bool ready = [] { return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; }();
    (void)ready;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

// Names under the reserved "invalid" domain never resolve (RFC 6761, 6.4), so they are refused
// here without asking a name server.
bool IsReservedInvalidName(std::string host) {
    while (!host.empty() && host.back() == '.') {
        host.pop_back();
    }
    constexpr std::string_view kSuffix = ".invalid";
    return EqualsIgnoringCase(host, "invalid") ||
           (host.size() > kSuffix.size() &&
            EqualsIgnoringCase(std::string_view(host).substr(host.size() - kSuffix.size()), kSuffix));
}

bool IsAddressLiteral(const std::string& host) {
    unsigned char buffer[sizeof(in6_addr)];
    return host.starts_with('[') || ::inet_pton(AF_INET, host.c_str(), buffer) == 1;
}

std::string Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r\n");
    return std::string(text.substr(first, last - first + 1));
}

bool IsFollowedRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

}  // namespace

// ---- CReceiveBuffer

void CReceiveBuffer::Append(const char* data, size_t size) {
    std::lock_guard lock(m_cs);
    m_data.append(data, size);
}

std::string CReceiveBuffer::Contents() {
    std::lock_guard lock(m_cs);
    return m_data;
}

size_t CReceiveBuffer::Size() {
    std::lock_guard lock(m_cs);
    return m_data.size();
}

// ---- CStageThread

bool CStageThread::Start(std::function<void()> body) {
    auto state = std::make_shared<State>();
    try {
        m_thread = std::thread([state, body = std::move(body)]() mutable {
            body();
            body = nullptr;  // drop what the stage held before it counts as ended
            {
                std::lock_guard lock(state->mutex);
                state->done = true;
            }
            state->ended.notify_all();
        });
    } catch (const std::system_error&) {
        return false;  // out of threads
    }
    m_state = std::move(state);
    return true;
}

bool CStageThread::IsRunning() const {
    if (!m_state) {
        return false;
    }
    std::lock_guard lock(m_state->mutex);
    return !m_state->done;
}

bool CStageThread::WaitUntil(std::chrono::steady_clock::time_point deadline) const {
    if (!m_state) {
        return true;
    }
    std::unique_lock lock(m_state->mutex);
    return m_state->ended.wait_until(lock, deadline, [&] { return m_state->done; });
}

void CStageThread::Close() {
    if (m_thread.joinable()) {
        if (IsRunning()) {
            m_thread.detach();  // it holds its own references and ends on its own
        } else {
            m_thread.join();
        }
    }
    m_state.reset();
}

// ---- libcurl's callbacks

struct CTransferCallbacks {
    static size_t OnHeaderLine(char* data, size_t size, size_t count, void* self) {
        auto& t = *static_cast<CTransfer*>(self);
        const size_t length = size * count;
        if (t.IsCancelled()) {
            return 0;
        }
        std::string_view line(data, length);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
            line.remove_suffix(1);
        }
        if (line.starts_with("HTTP/")) {
            // A new response begins (an interim one, a redirect, or the final one).
            t.m_block = {};
            t.m_blockLocation.clear();
            const auto space = line.find(' ');
            if (space != std::string_view::npos) {
                const auto rest = line.substr(space + 1);
                t.m_block.statusCode = std::string(rest.substr(0, rest.find(' ')));
            }
        } else if (line.empty()) {
            const int status = std::atoi(t.m_block.statusCode.c_str());
            const bool interim = status >= 100 && status < 200;
            const bool followed = t.m_followRedirects && IsFollowedRedirect(status) && !t.m_blockLocation.empty();
            if (!interim && !followed && !t.m_headersSent) {
                t.PublishHeaders();
            }
        } else if (const auto colon = line.find(':'); colon != std::string_view::npos) {
            // The first occurrence of a header counts, as the query by name answers it.
            const auto name = line.substr(0, colon);
            const std::string value = Trimmed(line.substr(colon + 1));
            const auto take = [&](std::string& field) {
                if (field.empty()) {
                    field = value;
                }
            };
            if (EqualsIgnoringCase(name, "Content-Length")) {
                take(t.m_block.contentLength);
            } else if (EqualsIgnoringCase(name, "Last-Modified")) {
                take(t.m_block.lastModified);
            } else if (EqualsIgnoringCase(name, "Server")) {
                take(t.m_block.server);
            } else if (EqualsIgnoringCase(name, "Location")) {
                take(t.m_blockLocation);
            }
        }
        return length;
    }

    static size_t OnBodyData(char* data, size_t size, size_t count, void* self) {
        auto& t = *static_cast<CTransfer*>(self);
        const size_t length = size * count;
        if (t.IsCancelled()) {
            return CURL_WRITEFUNC_ERROR;
        }
        t.m_bytesReceived.fetch_add(static_cast<int>(length));
        t.m_body.Append(data, length);
        return length;
    }

    static int OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
        return static_cast<CTransfer*>(self)->IsCancelled() ? 1 : 0;
    }

    // The request stage starts on the connection the connect stage made; any further socket
    // (a redirect to another host) is opened here as libcurl would.
    static curl_socket_t OpenSocket(void* self, curlsocktype purpose, curl_sockaddr* address) {
        auto& t = *static_cast<CTransfer*>(self);
        if (t.IsCancelled()) {
            return CURL_SOCKET_BAD;
        }
        if (purpose == CURLSOCKTYPE_IPCXN) {
            std::lock_guard lock(t.m_mutex);
            if (t.m_connection >= 0 && !t.m_connectionHandedOver) {
                t.m_connectionHandedOver = true;
                return t.m_connection;
            }
        }
        return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    }

    static int SetSocketOptions(void* self, curl_socket_t socket, curlsocktype) {
        auto& t = *static_cast<CTransfer*>(self);
        std::lock_guard lock(t.m_mutex);
        return t.m_connectionHandedOver && socket == t.m_connection ? CURL_SOCKOPT_ALREADY_CONNECTED
                                                                      : CURL_SOCKOPT_OK;
    }

    static int CloseSocket(void* self, curl_socket_t socket) {
        auto& t = *static_cast<CTransfer*>(self);
        {
            std::lock_guard lock(t.m_mutex);
            if (socket == t.m_keptSocket) {
                return 0;  // the connection the connect stage hands to the request stage
            }
            if (socket == t.m_connection) {
                t.m_connection = -1;
            }
        }
        return ::close(socket);
    }

    static void UseOurSockets(CURL* easy, CTransfer* t) {
        curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, &OpenSocket);
        curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, t);
        curl_easy_setopt(easy, CURLOPT_SOCKOPTFUNCTION, &SetSocketOptions);
        curl_easy_setopt(easy, CURLOPT_SOCKOPTDATA, t);
        curl_easy_setopt(easy, CURLOPT_CLOSESOCKETFUNCTION, &CloseSocket);
        curl_easy_setopt(easy, CURLOPT_CLOSESOCKETDATA, t);
        curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &OnProgress);
        curl_easy_setopt(easy, CURLOPT_XFERINFODATA, t);
    }
};

// ---- CTransfer

CTransfer::CTransfer(int requestId, CEventWindow::Notifier notifier, CTransferPlan plan)
    : m_requestId(requestId), m_notifier(std::move(notifier)), m_plan(std::move(plan)) {
    InitLibcurlOnce();
    m_easy = curl_easy_init();
    if (m_easy == nullptr) {
        return;
    }
    curl_easy_setopt(m_easy, CURLOPT_NOSIGNAL, 1L);  // transfers run on threads
    curl_easy_setopt(m_easy, CURLOPT_QUICK_EXIT, 1L);  // an abandoned name lookup is not waited for
    curl_easy_setopt(m_easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(m_easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    if (!m_plan.userAgent.empty()) {
        curl_easy_setopt(m_easy, CURLOPT_USERAGENT, m_plan.userAgent.c_str());
    }
    // The proxy was decided with the request (the connect stage has already gone to it): an
    // empty one keeps libcurl from taking one from the environment, and an empty exception list
    // keeps no_proxy from sending a proxied request straight to the host.
    curl_easy_setopt(m_easy, CURLOPT_PROXY, m_plan.proxy.c_str());
    curl_easy_setopt(m_easy, CURLOPT_NOPROXY, "");
    if (!m_plan.proxyUserName.empty()) {
        curl_easy_setopt(m_easy, CURLOPT_PROXYUSERNAME, m_plan.proxyUserName.c_str());
    }
    if (!m_plan.proxyPassword.empty()) {
        curl_easy_setopt(m_easy, CURLOPT_PROXYPASSWORD, m_plan.proxyPassword.c_str());
    }
}

CTransfer::~CTransfer() {
    if (m_easy != nullptr) {
        curl_easy_cleanup(m_easy);
    }
    curl_slist_free_all(m_resolvePin);
    if (m_connection >= 0 && !m_connectionHandedOver) {
        ::close(m_connection);
    }
}

int CTransfer::Drive(CURL* easy, const std::function<void(int)>& beforeRemoval) {
    CURLM* multi = curl_multi_init();
    if (multi == nullptr) {
        return CURLE_OUT_OF_MEMORY;
    }
    curl_multi_add_handle(multi, easy);
    bool cancelled;
    {
        std::lock_guard lock(m_mutex);
        cancelled = m_cancelled.load();
        if (!cancelled) {
            m_activeMulti = multi;
        }
    }
    CURLcode result = CURLE_ABORTED_BY_CALLBACK;
    while (!cancelled) {
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            result = CURLE_RECV_ERROR;
            break;
        }
        if (running == 0) {
            int queued = 0;
            while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
                if (message->msg == CURLMSG_DONE) {
                    result = message->data.result;
                }
            }
            break;
        }
        // Woken by the network, by libcurl's own timers, or at once by Cancel. The long limit is
        // only a safety net; nothing here needs a periodic look.
        curl_multi_poll(multi, nullptr, 0, 60 * 1000, nullptr);
        cancelled = IsCancelled();
    }
    {
        std::lock_guard lock(m_mutex);
        m_activeMulti = nullptr;
    }
    if (beforeRemoval) {
        beforeRemoval(result);
    }
    curl_multi_remove_handle(multi, easy);
    curl_multi_cleanup(multi);
    return result;
}

void CTransfer::RunConnectStage() {
    const bool possible = m_easy != nullptr && !m_plan.hopHost.empty() && m_plan.hopPort > 0 &&
                          !IsReservedInvalidName(m_plan.hopHost);
    CURL* probe = possible && !IsCancelled() ? curl_easy_init() : nullptr;
    if (probe != nullptr) {
        // Connect only, as plain TCP to the first hop: TLS and any proxy talk belong to the request.
        const std::string url = "http://" + m_plan.hopHost + ":" + std::to_string(m_plan.hopPort) + "/";
        curl_easy_setopt(probe, CURLOPT_URL, url.c_str());
        curl_easy_setopt(probe, CURLOPT_CONNECT_ONLY, 1L);
        curl_easy_setopt(probe, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(probe, CURLOPT_QUICK_EXIT, 1L);
        curl_easy_setopt(probe, CURLOPT_PROXY, "");
        CTransferCallbacks::UseOurSockets(probe, this);
        Drive(probe, [&](int result) {
            // Still attached to its transfer: afterwards libcurl no longer tells the socket.
            curl_socket_t socket = CURL_SOCKET_BAD;
            char* address = nullptr;
            if (result != CURLE_OK || curl_easy_getinfo(probe, CURLINFO_ACTIVESOCKET, &socket) != CURLE_OK ||
                curl_easy_getinfo(probe, CURLINFO_PRIMARY_IP, &address) != CURLE_OK) {
                return;
            }
            std::lock_guard lock(m_mutex);
            if (socket != CURL_SOCKET_BAD && !m_cancelled) {
                m_keptSocket = socket;
                m_connection = socket;
                m_connectedAddress = address != nullptr ? address : "";
            }
        });
        curl_easy_cleanup(probe);  // closes every socket of the probe but the kept one
        std::lock_guard lock(m_mutex);
        m_keptSocket = -1;
    }
    m_notifier.Send(m_requestId, kCodeConnected);
}

bool CTransfer::OpenRequest(const std::string& verb, const std::string& postData, bool followRedirects) {
    std::string connectedAddress;
    {
        std::lock_guard lock(m_mutex);
        if (m_cancelled || m_connection < 0 || m_easy == nullptr) {
            return false;
        }
        connectedAddress = m_connectedAddress;
    }
    CURL* easy = m_easy;
    curl_easy_setopt(easy, CURLOPT_URL, m_plan.url.c_str());
    if (!IsAddressLiteral(m_plan.hopHost) && !connectedAddress.empty()) {
        // Pin the first hop's name to the address already connected, so nothing is looked up twice.
        const std::string address =
            connectedAddress.find(':') != std::string::npos ? "[" + connectedAddress + "]" : connectedAddress;
        curl_slist* pin = curl_slist_append(
            nullptr, (m_plan.hopHost + ":" + std::to_string(m_plan.hopPort) + ":" + address).c_str());
        curl_easy_setopt(easy, CURLOPT_RESOLVE, pin);
        m_resolvePin = pin;
    }
    CTransferCallbacks::UseOurSockets(easy, this);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &CTransferCallbacks::OnHeaderLine);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CTransferCallbacks::OnBodyData);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, followRedirects ? 1L : 0L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 30L);
    if (!postData.empty() || verb == "POST") {
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(postData.size()));
        curl_easy_setopt(easy, CURLOPT_COPYPOSTFIELDS, postData.c_str());
        if (verb != "POST") {
            curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, verb.c_str());
        }
    } else {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
        if (verb != "GET") {
            curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, verb.c_str());
        }
    }
    m_followRedirects = followRedirects;
    m_hasBody = !postData.empty();
    m_requestOpen = true;
    return true;
}

void CTransfer::RunTransferStage(const std::string& headerLines) {
    CURLcode result = CURLE_SEND_ERROR;  // no request handle: the send fails
    if (m_requestOpen && !IsCancelled()) {
        curl_slist* headers = nullptr;
        bool hasAccept = false;
        bool hasContentType = false;
        bool hasExpect = false;
        size_t start = 0;
        while (start < headerLines.size()) {
            size_t end = headerLines.find('\n', start);
            if (end == std::string::npos) {
                end = headerLines.size();
            }
            std::string line = headerLines.substr(start, end - start);
            start = end + 1;
            while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) {
                line.pop_back();
            }
            if (line.empty()) {
                continue;
            }
            const std::string_view name = std::string_view(line).substr(0, line.find(':'));
            hasAccept |= EqualsIgnoringCase(name, "Accept");
            hasContentType |= EqualsIgnoringCase(name, "Content-Type");
            hasExpect |= EqualsIgnoringCase(name, "Expect");
            headers = curl_slist_append(headers, line.c_str());
        }
        // Only what the caller asked for: libcurl's own defaults of these headers are left out.
        if (!hasAccept) {
            headers = curl_slist_append(headers, "Accept:");
        }
        if (!hasExpect) {
            headers = curl_slist_append(headers, "Expect:");
        }
        if (m_hasBody && !hasContentType) {
            headers = curl_slist_append(headers, "Content-Type:");
        }
        curl_easy_setopt(m_easy, CURLOPT_HTTPHEADER, headers);
        result = static_cast<CURLcode>(Drive(m_easy));
        curl_easy_setopt(m_easy, CURLOPT_HTTPHEADER, nullptr);
        curl_slist_free_all(headers);
    }
    if (!m_headersSent) {
        // No final response arrived: the header queries answer empty.
        m_headersSent = true;
        m_notifier.Send(m_requestId, kCodeSent);
    }
    m_endedCleanly = result == CURLE_OK ? 1 : 0;
    m_notifier.Send(m_requestId, kCodeBodyEnded);
}

void CTransfer::PublishHeaders() {
    {
        std::lock_guard lock(m_mutex);
        m_published = m_block;
    }
    m_headersSent = true;
    m_notifier.Send(m_requestId, kCodeSent);
}

void CTransfer::Cancel() {
    std::lock_guard lock(m_mutex);
    if (m_cancelled) {
        return;
    }
    m_cancelled = true;
    if (m_activeMulti != nullptr) {
        curl_multi_wakeup(m_activeMulti);
    }
}

bool CTransfer::HasConnection() const {
    std::lock_guard lock(m_mutex);
    return m_connection >= 0;
}

CResponseHeaders CTransfer::Headers() {
    std::lock_guard lock(m_mutex);
    return m_published;
}

}  // namespace inner
