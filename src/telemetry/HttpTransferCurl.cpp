// The request's network side over libcurl: the connect stage opens the TCP connection to the
// first hop with a connect-only transfer and hands its socket to the request stage's transfer.
// The proxy is the request's own, else the one libcurl would take from the environment (the one
// the update's transfers follow), decided once here.

#include "telemetry/HttpTransfer.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string_view>

#include "platform/Env.h"
#include "telemetry/HttpRequest.h"
#include "telemetry/ProxyEnvironment.h"

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

std::string UrlPart(CURLU* url, CURLUPart part) {
    char* text = nullptr;
    if (curl_url_get(url, part, &text, 0) != CURLUE_OK || text == nullptr) {
        return {};
    }
    std::string value(text);
    curl_free(text);
    return value;
}

const char* SchemeText(int scheme) {
    return scheme == kSchemeHttps ? "https" : scheme == kSchemeHttp ? "http" : "";
}

}  // namespace


CUrlParts CrackUrl(const std::string& url) {
    CUrlParts parts;
    CURLU* handle = curl_url();
    if (handle == nullptr) {
        return parts;
    }
    if (curl_url_set(handle, CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME | CURLU_PATH_AS_IS) == CURLUE_OK) {
        const std::string scheme = UrlPart(handle, CURLUPART_SCHEME);
        parts.nScheme = scheme == "https" ? kSchemeHttps : scheme == "http" ? kSchemeHttp : kSchemeUnknown;
        parts.strHost = UrlPart(handle, CURLUPART_HOST);
        const std::string port = UrlPart(handle, CURLUPART_PORT);
        // The port written in the address is the one connected to; without one, the scheme's.
        parts.nPort = !port.empty() ? std::atoi(port.c_str()) : parts.nScheme == kSchemeHttps ? 443 : 80;
        const std::string query = UrlPart(handle, CURLUPART_QUERY);
        parts.strObject = UrlPart(handle, CURLUPART_PATH) + (query.empty() ? "" : "?" + query);
        curl_url_set(handle, CURLUPART_USER, nullptr, 0);
        curl_url_set(handle, CURLUPART_PASSWORD, nullptr, 0);
        curl_url_set(handle, CURLUPART_FRAGMENT, nullptr, 0);
        parts.strRequestUrl = UrlPart(handle, CURLUPART_URL);
    }
    curl_url_cleanup(handle);
    return parts;
}

// ---- the request's libcurl state

struct CTransfer::Backend {
    // The first hop and the proxy libcurl is told to use.
    std::string hopHost;
    int hopPort = 0;
    std::string proxy;

    CURL* easy = nullptr;  // root handle; request stage's transfer
    curl_slist* resolvePin = nullptr;  // set up with the request, freed with the handle

    mutable std::mutex mutex;        // guards the fields below it
    CURLM* activeMulti = nullptr;    // the stage now waiting in libcurl, to wake on Cancel
    int keptSocket = -1;             // the connect stage's socket, kept for the request stage
    int connection = -1;             // the connected socket: the connection handle
    std::string connectedAddress;    // where connection leads, to pin the request stage to it
    bool connectionHandedOver = false;
    CResponseHeaders published;      // the final response's headers

    std::atomic<bool> cancelled{false};
    bool requestOpen = false;  // written before the transfer thread starts

    // Transfer thread only while it runs.
    CResponseHeaders block;
    std::string blockLocation;
    bool followRedirects = true;
    bool hasBody = false;
    bool headersSent = false;

    bool IsCancelled() const { return cancelled.load(); }
};

// ---- libcurl's callbacks

struct CTransferCallbacks {
    static size_t OnHeaderLine(char* data, size_t size, size_t count, void* self) {
        auto& t = *static_cast<CTransfer*>(self);
        auto& b = *t.m_backend;
        const size_t length = size * count;
        if (b.IsCancelled()) {
            return 0;
        }
        std::string_view line(data, length);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
            line.remove_suffix(1);
        }
        if (line.starts_with("HTTP/")) {
            // A new response begins (an interim one, a redirect, or the final one).
            b.block = {};
            b.blockLocation.clear();
            const auto space = line.find(' ');
            if (space != std::string_view::npos) {
                const auto rest = line.substr(space + 1);
                b.block.statusCode = std::string(rest.substr(0, rest.find(' ')));
            }
        } else if (line.empty()) {
            const int status = std::atoi(b.block.statusCode.c_str());
            const bool interim = status >= 100 && status < 200;
            const bool followed = b.followRedirects && IsFollowedRedirect(status) && !b.blockLocation.empty();
            if (!interim && !followed && !b.headersSent) {
                PublishHeaders(t);
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
                take(b.block.contentLength);
            } else if (EqualsIgnoringCase(name, "Last-Modified")) {
                take(b.block.lastModified);
            } else if (EqualsIgnoringCase(name, "Server")) {
                take(b.block.server);
            } else if (EqualsIgnoringCase(name, "Location")) {
                take(b.blockLocation);
            }
        }
        return length;
    }

    static void PublishHeaders(CTransfer& t) {
        auto& b = *t.m_backend;
        {
            std::lock_guard lock(b.mutex);
            b.published = b.block;
        }
        b.headersSent = true;
        t.Notify(CTransfer::kCodeSent);
    }

    static size_t OnBodyData(char* data, size_t size, size_t count, void* self) {
        auto& t = *static_cast<CTransfer*>(self);
        const size_t length = size * count;
        if (t.m_backend->IsCancelled()) {
            return CURL_WRITEFUNC_ERROR;
        }
        t.Received(data, length);
        return length;
    }

    static int OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
        return static_cast<CTransfer*>(self)->m_backend->IsCancelled() ? 1 : 0;
    }

    // The request stage starts on the connection the connect stage made; any further socket
    // (a redirect to another host) is opened here as libcurl would.
    static curl_socket_t OpenSocket(void* self, curlsocktype purpose, curl_sockaddr* address) {
        auto& b = *static_cast<CTransfer*>(self)->m_backend;
        if (b.IsCancelled()) {
            return CURL_SOCKET_BAD;
        }
        if (purpose == CURLSOCKTYPE_IPCXN) {
            std::lock_guard lock(b.mutex);
            if (b.connection >= 0 && !b.connectionHandedOver) {
                b.connectionHandedOver = true;
                return b.connection;
            }
        }
        return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    }

    static int SetSocketOptions(void* self, curl_socket_t socket, curlsocktype) {
        auto& b = *static_cast<CTransfer*>(self)->m_backend;
        std::lock_guard lock(b.mutex);
        return b.connectionHandedOver && socket == b.connection ? CURL_SOCKOPT_ALREADY_CONNECTED : CURL_SOCKOPT_OK;
    }

    static int CloseSocket(void* self, curl_socket_t socket) {
        auto& b = *static_cast<CTransfer*>(self)->m_backend;
        {
            std::lock_guard lock(b.mutex);
            if (socket == b.keptSocket) {
                return 0;  // the connection the connect stage hands to the request stage
            }
            if (socket == b.connection) {
                b.connection = -1;
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

    // Runs one stage's transfer to its end and answers its CURLcode; beforeRemoval sees the
    // result while the transfer still holds its connection.
    static CURLcode Drive(CTransfer::Backend& b, CURL* easy, const std::function<void(CURLcode)>& beforeRemoval = {}) {
        CURLM* multi = curl_multi_init();
        if (multi == nullptr) {
            return CURLE_OUT_OF_MEMORY;
        }
        curl_multi_add_handle(multi, easy);
        bool cancelled;
        {
            std::lock_guard lock(b.mutex);
            cancelled = b.cancelled.load();
            if (!cancelled) {
                b.activeMulti = multi;
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
            // Woken by the network, by libcurl's own timers, or at once by Cancel. The long limit
            // is only a safety net; nothing here needs a periodic look.
            curl_multi_poll(multi, nullptr, 0, 60 * 1000, nullptr);
            cancelled = b.IsCancelled();
        }
        {
            std::lock_guard lock(b.mutex);
            b.activeMulti = nullptr;
        }
        if (beforeRemoval) {
            beforeRemoval(result);
        }
        curl_multi_remove_handle(multi, easy);
        curl_multi_cleanup(multi);
        return result;
    }
};

// ---- CTransfer

CTransfer::CTransfer(int requestId, CEventWindow::Notifier notifier, CTransferPlan plan)
    : m_requestId(requestId),
      m_notifier(std::move(notifier)),
      m_plan(std::move(plan)),
      m_backend(std::make_unique<Backend>()) {
    Backend& b = *m_backend;
    if (!m_plan.proxy.empty()) {
        b.proxy = m_plan.proxy;
        b.hopHost = m_plan.proxyHost;
        b.hopPort = m_plan.proxyPort;
    } else if (std::string proxy = ProxyFromEnvironment(SchemeText(m_plan.scheme), m_plan.host, platform::ProxyVariable);
               !proxy.empty()) {
        // No proxy of its own: the system's settings, which on this platform are the proxy
        // variables the update's transfers follow.
        const CProxyHop hop = ProxyHop(proxy);
        b.proxy = std::move(proxy);
        b.hopHost = hop.host;
        b.hopPort = hop.port;
    } else {
        b.hopHost = m_plan.host;
        b.hopPort = m_plan.port;
    }

    InitLibcurlOnce();
    b.easy = curl_easy_init();
    if (b.easy == nullptr) {
        return;
    }
    curl_easy_setopt(b.easy, CURLOPT_NOSIGNAL, 1L);  // transfers run on threads
    curl_easy_setopt(b.easy, CURLOPT_QUICK_EXIT, 1L);  // an abandoned name lookup is not waited for
    curl_easy_setopt(b.easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(b.easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    if (!m_plan.userAgent.empty()) {
        curl_easy_setopt(b.easy, CURLOPT_USERAGENT, m_plan.userAgent.c_str());
    }
    // The proxy was decided with the request (the connect stage has already gone to it): an
    // empty one keeps libcurl from taking one from the environment, and an empty exception list
    // keeps no_proxy from sending a proxied request straight to the host.
    curl_easy_setopt(b.easy, CURLOPT_PROXY, b.proxy.c_str());
    curl_easy_setopt(b.easy, CURLOPT_NOPROXY, "");
    if (!m_plan.proxyUserName.empty()) {
        curl_easy_setopt(b.easy, CURLOPT_PROXYUSERNAME, m_plan.proxyUserName.c_str());
    }
    if (!m_plan.proxyPassword.empty()) {
        curl_easy_setopt(b.easy, CURLOPT_PROXYPASSWORD, m_plan.proxyPassword.c_str());
    }
}

CTransfer::~CTransfer() {
    Backend& b = *m_backend;
    if (b.easy != nullptr) {
        curl_easy_cleanup(b.easy);
    }
    curl_slist_free_all(b.resolvePin);
    if (b.connection >= 0 && !b.connectionHandedOver) {
        ::close(b.connection);
    }
}

void CTransfer::RunConnectStage() {
    Backend& b = *m_backend;
    const bool possible =
        b.easy != nullptr && !b.hopHost.empty() && b.hopPort > 0 && !IsReservedInvalidName(b.hopHost);
    CURL* probe = possible && !b.IsCancelled() ? curl_easy_init() : nullptr;
    if (probe != nullptr) {
        // Connect only, as plain TCP to the first hop: TLS and any proxy talk belong to the request.
        const std::string url = "http://" + b.hopHost + ":" + std::to_string(b.hopPort) + "/";
        curl_easy_setopt(probe, CURLOPT_URL, url.c_str());
        curl_easy_setopt(probe, CURLOPT_CONNECT_ONLY, 1L);
        curl_easy_setopt(probe, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(probe, CURLOPT_QUICK_EXIT, 1L);
        curl_easy_setopt(probe, CURLOPT_PROXY, "");
        CTransferCallbacks::UseOurSockets(probe, this);
        CTransferCallbacks::Drive(b, probe, [&](CURLcode result) {
            // Still attached to its transfer: afterwards libcurl no longer tells the socket.
            curl_socket_t socket = CURL_SOCKET_BAD;
            char* address = nullptr;
            if (result != CURLE_OK || curl_easy_getinfo(probe, CURLINFO_ACTIVESOCKET, &socket) != CURLE_OK ||
                curl_easy_getinfo(probe, CURLINFO_PRIMARY_IP, &address) != CURLE_OK) {
                return;
            }
            std::lock_guard lock(b.mutex);
            if (socket != CURL_SOCKET_BAD && !b.cancelled) {
                b.keptSocket = socket;
                b.connection = socket;
                b.connectedAddress = address != nullptr ? address : "";
            }
        });
        curl_easy_cleanup(probe);  // closes every socket of the probe but the kept one
        std::lock_guard lock(b.mutex);
        b.keptSocket = -1;
    }
    Notify(kCodeConnected);
}

bool CTransfer::OpenRequest(const std::string& verb, const std::string& postData, std::uint32_t requestFlags) {
    Backend& b = *m_backend;
    std::string connectedAddress;
    {
        std::lock_guard lock(b.mutex);
        if (b.cancelled || b.connection < 0 || b.easy == nullptr) {
            return false;
        }
        connectedAddress = b.connectedAddress;
    }
    const bool followRedirects = (requestFlags & kInternetFlagNoAutoRedirect) == 0;
    CURL* easy = b.easy;
    curl_easy_setopt(easy, CURLOPT_URL, m_plan.url.c_str());
    if (!IsAddressLiteral(b.hopHost) && !connectedAddress.empty()) {
        // Pin the first hop's name to the address already connected, so nothing is looked up twice.
        const std::string address =
            connectedAddress.find(':') != std::string::npos ? "[" + connectedAddress + "]" : connectedAddress;
        curl_slist* pin =
            curl_slist_append(nullptr, (b.hopHost + ":" + std::to_string(b.hopPort) + ":" + address).c_str());
        curl_easy_setopt(easy, CURLOPT_RESOLVE, pin);
        b.resolvePin = pin;
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
    b.followRedirects = followRedirects;
    b.hasBody = !postData.empty();
    b.requestOpen = true;
    return true;
}

void CTransfer::RunTransferStage(const std::string& headerLines) {
    Backend& b = *m_backend;
    CURLcode result = CURLE_SEND_ERROR;  // no request handle: the send fails
    if (b.requestOpen && !b.IsCancelled()) {
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
        if (b.hasBody && !hasContentType) {
            headers = curl_slist_append(headers, "Content-Type:");
        }
        curl_easy_setopt(b.easy, CURLOPT_HTTPHEADER, headers);
        result = CTransferCallbacks::Drive(b, b.easy);
        curl_easy_setopt(b.easy, CURLOPT_HTTPHEADER, nullptr);
        curl_slist_free_all(headers);
    }
    if (!b.headersSent) {
        // No final response arrived: the header queries answer empty.
        b.headersSent = true;
        Notify(kCodeSent);
    }
    m_endedCleanly = result == CURLE_OK ? 1 : 0;
    Notify(kCodeBodyEnded);
}

void CTransfer::Cancel() {
    Backend& b = *m_backend;
    std::lock_guard lock(b.mutex);
    if (b.cancelled) {
        return;
    }
    b.cancelled = true;
    if (b.activeMulti != nullptr) {
        curl_multi_wakeup(b.activeMulti);
    }
}

bool CTransfer::HasConnection() const {
    std::lock_guard lock(m_backend->mutex);
    return m_backend->connection >= 0;
}

CResponseHeaders CTransfer::Headers() {
    std::lock_guard lock(m_backend->mutex);
    return m_backend->published;
}

}  // namespace inner
