// The update's GET over WinINet, synchronous on the update worker: a connection and a request
// with the system's proxy settings, then InternetReadFile until the body ends. WinINet follows
// redirects itself; the address is checked to be http or https before anything is sent, and
// WinINet follows no redirect to other protocols.

#include <windows.h>
#include <wininet.h>

#include <fmt/printf.h>

#include <chrono>
#include <charconv>
#include <optional>
#include <vector>

#include "platform/win32/Wide.h"
#include "update/HttpGet.h"

using platform::win32::Narrow;
using platform::win32::Widen;

namespace {

constexpr DWORD kReadChunk = 256 * 1024;  // fewer, larger writes
constexpr auto kProgressEvery = std::chrono::milliseconds(250);

struct InternetHandle {
    HINTERNET handle = nullptr;
    explicit InternetHandle(HINTERNET h) : handle(h) {}
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
    ~InternetHandle() {
        if (handle != nullptr) {
            ::InternetCloseHandle(handle);
        }
    }
};

// WinINet's own text for its error numbers, the system's for the rest.
std::string ErrorText(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM |
            FORMAT_MESSAGE_IGNORE_INSERTS,
        ::GetModuleHandleW(L"wininet.dll"), error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string narrow = length > 0 && text != nullptr ? Narrow(std::wstring_view(text, length)) : "unknown error";
    ::LocalFree(text);
    while (!narrow.empty() && (narrow.back() == '\n' || narrow.back() == '\r' || narrow.back() == ' ' ||
                               narrow.back() == '.')) {
        narrow.pop_back();
    }
    return narrow;
}

void Describe(HttpGetOutcome& outcome, DWORD error, const std::string& text) {
    outcome.result = static_cast<long>(error);
    outcome.description = fmt::sprintf("WinINet %u (%s), HTTP status %d", static_cast<unsigned>(error), text,
                                       outcome.status);
}

void Describe(HttpGetOutcome& outcome, DWORD error) { Describe(outcome, error, ErrorText(error)); }

// The parts of an http or https address that the connection and the request take.
struct WebAddress {
    bool secure = false;
    INTERNET_PORT port = 0;
    std::wstring host;
    std::wstring object;  // path and query
};

std::optional<WebAddress> CrackWebAddress(const std::wstring& url) {
    std::vector<wchar_t> host(url.size() + 1, L'\0');
    std::vector<wchar_t> path(url.size() + 1, L'\0');
    std::vector<wchar_t> extra(url.size() + 1, L'\0');
    URL_COMPONENTSW parts{};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host.data();
    parts.dwHostNameLength = static_cast<DWORD>(host.size());
    parts.lpszUrlPath = path.data();
    parts.dwUrlPathLength = static_cast<DWORD>(path.size());
    parts.lpszExtraInfo = extra.data();
    parts.dwExtraInfoLength = static_cast<DWORD>(extra.size());
    if (url.empty() || !::InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts) ||
        (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) || host[0] == L'\0') {
        return std::nullopt;
    }
    WebAddress address;
    address.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    address.port = parts.nPort;
    address.host = host.data();
    std::wstring object = std::wstring(path.data()) + extra.data();
    object = object.substr(0, object.find(L'#'));  // the fragment is never sent
    address.object = object.empty() ? L"/" : object;
    return address;
}

void SetTimeouts(HINTERNET handle, DWORD connectMs, DWORD stallMs) {
    if (connectMs > 0) {
        ::InternetSetOptionW(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &connectMs, sizeof connectMs);
    }
    ::InternetSetOptionW(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &stallMs, sizeof stallMs);
    ::InternetSetOptionW(handle, INTERNET_OPTION_SEND_TIMEOUT, &stallMs, sizeof stallMs);
    ::InternetSetOptionW(handle, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, &stallMs, sizeof stallMs);
}

std::int64_t AnnouncedLength(HINTERNET file) {
    wchar_t text[32] = {};
    DWORD size = sizeof text;
    if (!::HttpQueryInfoW(file, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) {
        return -1;
    }
    const std::string narrow = Narrow(text);
    std::int64_t length = -1;
    const auto [end, error] = std::from_chars(narrow.data(), narrow.data() + narrow.size(), length);
    return error == std::errc() && end == narrow.data() + narrow.size() ? length : -1;
}

}  // namespace

HttpGetOutcome HttpGet(const HttpGetRequest& request, HttpGetSink& sink) {
    HttpGetOutcome outcome;
    const InternetHandle root(::InternetOpenW(L"Valdrune launcher", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (root.handle == nullptr) {
        Describe(outcome, ::GetLastError());
        return outcome;
    }
    outcome.started = true;
    const auto address = CrackWebAddress(Widen(request.url));
    if (!address) {
        Describe(outcome, ERROR_INTERNET_UNRECOGNIZED_SCHEME, "only http and https addresses are fetched");
        return outcome;
    }
    const DWORD connectMs = static_cast<DWORD>(request.connectSeconds > 0 ? request.connectSeconds * 1000 : 0);
    // A read that gets nothing for the whole stall time fails; a trickle is caught below. The
    // request handle takes the time-outs itself: Wine does not pass the root's on to it.
    const DWORD stallMs = static_cast<DWORD>((request.stallSeconds > 0 ? request.stallSeconds : 1) * 1000);
    SetTimeouts(root.handle, connectMs, stallMs);
    const InternetHandle connection(::InternetConnectW(root.handle, address->host.c_str(), address->port, nullptr,
                                                       nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    if (connection.handle == nullptr) {
        Describe(outcome, ::GetLastError());
        return outcome;
    }
    SetTimeouts(connection.handle, connectMs, stallMs);
    const DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                        INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_AUTH |
                        INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP | INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS |
                        (address->secure ? INTERNET_FLAG_SECURE : 0);
    const InternetHandle file(::HttpOpenRequestW(connection.handle, L"GET", address->object.c_str(), nullptr, nullptr,
                                                 nullptr, flags, 0));
    if (file.handle == nullptr) {
        Describe(outcome, ::GetLastError());
        return outcome;
    }
    SetTimeouts(file.handle, connectMs, stallMs);
    // A connection is never kept for another request: one whose answer was given up half-read
    // (a refused body, a range ignored) would hand its rest to the next request on it.
    std::wstring headers = L"Connection: close\r\n";
    if (request.resumeFrom > 0) {
        headers += Widen(fmt::format("Range: bytes={}-\r\n", request.resumeFrom));
    }
    sink.OnProgress(0, 0);  // the request is under way; nothing of the answer is known yet
    if (!::HttpSendRequestW(file.handle, headers.empty() ? nullptr : headers.c_str(), static_cast<DWORD>(headers.size()),
                            nullptr, 0)) {
        Describe(outcome, ::GetLastError());
        return outcome;
    }
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!::HttpQueryInfoW(file.handle, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) {
        Describe(outcome, ::GetLastError());
        return outcome;
    }
    outcome.status = static_cast<long>(status);
    if (request.failOnErrorStatus && status >= 400) {
        Describe(outcome, 0, "the answer is an error status");
        return outcome;
    }
    // A server that ignores the range sends the whole file again: appended, it would spoil the package.
    if (request.resumeFrom > 0 && status == 200) {
        outcome.rangeRefused = true;
        Describe(outcome, 0, "the server did not answer the range asked for");
        return outcome;
    }
    const std::int64_t announced = AnnouncedLength(file.handle);
    if (request.longestBody >= 0 && announced > request.longestBody) {
        outcome.tooLarge = true;
        Describe(outcome, 0, fmt::format("the body of {} bytes is longer than {} bytes", announced, request.longestBody));
        return outcome;
    }
    if (!sink.OnAnswer(outcome.status, announced)) {
        Describe(outcome, 0, "the body was refused");
        return outcome;
    }

    using Clock = std::chrono::steady_clock;
    std::vector<char> buffer(kReadChunk);
    std::int64_t received = 0;
    auto progressAt = Clock::now();
    auto windowStart = progressAt;
    std::int64_t windowStartBytes = 0;
    const auto stallWindow = std::chrono::seconds(request.stallSeconds > 0 ? request.stallSeconds : 1);
    for (;;) {
        // A synchronous read waits until its whole buffer is filled: asking only for what has
        // arrived keeps a trickle from hiding behind a read that never returns.
        DWORD available = 0;
        if (!::InternetQueryDataAvailable(file.handle, &available, 0, 0)) {
            Describe(outcome, ::GetLastError());
            return outcome;
        }
        DWORD read = 0;
        if (available > 0 &&
            !::InternetReadFile(file.handle, buffer.data(), available < kReadChunk ? available : kReadChunk, &read)) {
            Describe(outcome, ::GetLastError());
            return outcome;
        }
        if (read == 0) {
            break;
        }
        received += read;
        if (sink.OnBody(buffer.data(), read) < read) {
            Describe(outcome, 0, "the body was not taken whole");
            return outcome;
        }
        const auto now = Clock::now();
        if (now - progressAt >= kProgressEvery) {
            progressAt = now;
            sink.OnProgress(received, announced > 0 ? announced : 0);
        }
        // The same rule as libcurl's low-speed limit: less than kSlowTransferBytes in a whole window.
        if (now - windowStart >= stallWindow) {
            if (received - windowStartBytes < kSlowTransferBytes) {
                Describe(outcome, ERROR_INTERNET_TIMEOUT,
                     fmt::format("less than {} bytes arrived in {} seconds", kSlowTransferBytes, stallWindow.count()));
                return outcome;
            }
            windowStart = now;
            windowStartBytes = received;
        }
    }
    sink.OnProgress(received, announced > 0 ? announced : 0);
    const bool bodiless = status == 204 || status == 304;  // whatever length they announce
    if (announced >= 0 && received != announced && !bodiless) {
        Describe(outcome, ERROR_INTERNET_CONNECTION_ABORTED,
             fmt::format("the connection ended after {} of {} bytes", received, announced));
        return outcome;
    }
    outcome.transferred = true;
    Describe(outcome, 0, "the transfer succeeded");
    return outcome;
}
