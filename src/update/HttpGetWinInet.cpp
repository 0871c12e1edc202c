// The update's GET over WinINet, on the update worker: a connection and a request with the
// system's proxy settings, then reads until the body ends. WinINet follows redirects itself; the
// address is checked to be http or https before anything is sent, and WinINet follows no
// redirect to other protocols.
//
// The handles are asynchronous and every call is waited for here, a second at a time: the wait
// reports progress while nothing arrives and ends a stalled transfer itself. The body is read
// without waiting for more than has come (IRF_NO_WAIT), as much as a chunk at once: a plain read
// waits until its whole buffer is filled (a slow server could hold it past the stall time), and
// asking first how much has come makes every read as small as WinINet's own buffer (under Wine,
// 8 KiB: the download took eight times as long as libcurl's).

#include <windows.h>
#include <wininet.h>

#include <fmt/printf.h>

#include <chrono>
#include <charconv>
#include <optional>
#include <vector>

#include "platform/win32/InternetCalls.h"
#include "platform/win32/Wide.h"
#include "update/HttpGet.h"

using platform::win32::Narrow;
using platform::win32::PendingInternetCall;
using platform::win32::Widen;

namespace {

constexpr DWORD kReadChunk = 256 * 1024;  // fewer, larger writes
constexpr auto kProgressEvery = std::chrono::milliseconds(250);
constexpr auto kWaitTick = std::chrono::seconds(1);
using Clock = std::chrono::steady_clock;

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

// A failure's number and text for the log.
struct Failure {
    DWORD error = 0;
    std::string text;
};

// The calls of one request and their waits, on the update worker. While a call is pending it
// reports progress and applies the same rule as libcurl's low-speed limit: less than
// kSlowTransferBytes in a whole stall time ends the transfer.
class Transfer {
public:
    Transfer(HINTERNET file, DWORD_PTR context, const HttpGetRequest& request, HttpGetSink& sink)
        : m_file(file),
          m_context(context),
          m_sink(sink),
          m_stallWindow(std::chrono::seconds(request.stallSeconds > 0 ? request.stallSeconds : 1)) {}

    // Runs one call on the request and waits for it: nothing when it succeeded, else why not.
    // A call still pending when the stall rule is broken is given up; it keeps what WinINet may
    // still write to, and the caller's closing of the handles ends it.
    template <typename Start>
    std::optional<Failure> Call(const std::shared_ptr<PendingInternetCall>& call, const Start& start) {
        const DWORD started = platform::win32::StartInternetCall(m_context, call, [&] { return start(m_file); });
        if (started != ERROR_IO_PENDING) {
            return Failed(started);
        }
        while (!call->WaitUntil(Clock::now() + kWaitTick)) {
            if (auto stalled = Progress()) {
                return stalled;
            }
        }
        return Failed(call->Outcome());
    }

    // Waits until some of the body is in: its count, 0 at the body's end.
    std::optional<Failure> WaitForData(DWORD& available) {
        for (;;) {
            auto call = std::make_shared<PendingInternetCall>();
            bool answered = false;
            auto failure = Call(call, [&](HINTERNET file) {
                answered = ::InternetQueryDataAvailable(file, &call->available, 0, 0) != FALSE;
                return answered;
            });
            // Asked again once WinINet has reported data, the count answers at once.
            if (failure || answered) {
                available = call->available;
                return failure;
            }
        }
    }

    // Reads what has come, up to a chunk, into call's buffer: the count, 0 when nothing has come or
    // the body has ended. Windows answers such a read at once; Wine lets one that finds nothing
    // wait until data comes and reads nothing, so a read that had to wait counts as nothing
    // unless WinINet wrote a count of its own.
    std::optional<Failure> ReadSome(const std::shared_ptr<PendingInternetCall>& call, DWORD& count, bool& waited) {
        call->buffers.dwStructSize = sizeof call->buffers;
        call->buffers.lpvBuffer = call->buffer.data();
        call->buffers.dwBufferLength = static_cast<DWORD>(call->buffer.size());
        bool answered = false;
        auto failure = Call(call, [&](HINTERNET file) {
            answered = ::InternetReadFileExA(file, &call->buffers, IRF_NO_WAIT, 0) != FALSE;
            return answered;
        });
        waited = !answered;
        const DWORD written = call->buffers.dwBufferLength;
        count = failure || (waited && written == call->buffer.size()) ? 0 : written;
        return failure;
    }

    // The body's start: the stall rule counts from here.
    void Begin(std::int64_t announced) {
        m_announced = announced > 0 ? announced : 0;
        m_windowStart = m_progressAt = Clock::now();
    }

    // Hands a piece of the body on; progress now and then, and the stall rule between reads.
    std::optional<Failure> Take(const char* data, DWORD size) {
        m_received += size;
        if (m_sink.OnBody(data, size) < size) {
            return Failure{0, "the body was not taken whole"};
        }
        return Progress();
    }

    std::int64_t Received() const { return m_received; }

    void ReportProgress() { m_sink.OnProgress(m_received, m_announced); }

private:
    static std::optional<Failure> Failed(DWORD error) {
        if (error == 0) {
            return std::nullopt;
        }
        return Failure{error, ErrorText(error)};
    }

    std::optional<Failure> Progress() {
        const auto now = Clock::now();
        if (now - m_progressAt >= kProgressEvery) {
            m_progressAt = now;
            ReportProgress();
        }
        if (now - m_windowStart >= m_stallWindow) {
            if (m_received - m_windowStartBytes < kSlowTransferBytes) {
                const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(m_stallWindow).count();
                return Failure{ERROR_INTERNET_TIMEOUT,
                               fmt::format("less than {} bytes arrived in {} seconds", kSlowTransferBytes, seconds)};
            }
            m_windowStart = now;
            m_windowStartBytes = m_received;
        }
        return std::nullopt;
    }

    const HINTERNET m_file;
    const DWORD_PTR m_context;  // the request handle's, which its completions carry
    HttpGetSink& m_sink;
    const Clock::duration m_stallWindow;
    std::int64_t m_announced = 0;
    std::int64_t m_received = 0;
    Clock::time_point m_progressAt = Clock::now();
    Clock::time_point m_windowStart = m_progressAt;
    std::int64_t m_windowStartBytes = 0;
};

}  // namespace

HttpGetOutcome HttpGet(const HttpGetRequest& request, HttpGetSink& sink) {
    HttpGetOutcome outcome;
    const InternetHandle root(::InternetOpenW(L"Valdrune launcher", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr,
                                              INTERNET_FLAG_ASYNC));
    if (root.handle == nullptr) {
        Describe(outcome, ::GetLastError());
        return outcome;
    }
    outcome.started = true;
    platform::win32::WatchInternetCompletions(root.handle);
    const auto address = CrackWebAddress(Widen(request.url));
    if (!address) {
        Describe(outcome, ERROR_INTERNET_UNRECOGNIZED_SCHEME, "only http and https addresses are fetched");
        return outcome;
    }
    const DWORD connectMs = static_cast<DWORD>(request.connectSeconds > 0 ? request.connectSeconds * 1000 : 0);
    // The request handle takes the time-outs itself: Wine does not pass the root's on to it.
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
    const DWORD_PTR context = platform::win32::NewInternetContext();
    const InternetHandle file(::HttpOpenRequestW(connection.handle, L"GET", address->object.c_str(), nullptr, nullptr,
                                                 nullptr, flags, context));
    if (file.handle == nullptr) {
        Describe(outcome, ::GetLastError());
        return outcome;
    }
    SetTimeouts(file.handle, connectMs, stallMs);
    Transfer transfer(file.handle, context, request, sink);

    // A connection is never kept for another request: one whose answer was given up half-read
    // (a refused body, a range ignored) would hand its rest to the next request on it.
    auto send = std::make_shared<PendingInternetCall>();
    send->headers = L"Connection: close\r\n";
    if (request.resumeFrom > 0) {
        send->headers += Widen(fmt::format("Range: bytes={}-\r\n", request.resumeFrom));
    }
    sink.OnProgress(0, 0);  // the request is under way; nothing of the answer is known yet
    // Waiting for the answer's headers falls under the stall rule too, as under libcurl's
    // low-speed limit, besides WinINet's own time-outs.
    if (const auto failure = transfer.Call(send, [&](HINTERNET handle) {
            return ::HttpSendRequestW(handle, send->headers.c_str(), static_cast<DWORD>(send->headers.size()), nullptr,
                                      0) != FALSE;
        })) {
        Describe(outcome, failure->error, failure->text);
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

    transfer.Begin(announced);
    // The buffer goes from one read to the next; a read given up keeps its own.
    std::vector<char> buffer(kReadChunk);
    bool dataCame = false;  // the last read found some, or waited until some came
    for (;;) {
        if (!dataCame) {
            // Waits until some of the body is in, or tells its end (0).
            DWORD available = 0;
            if (const auto failure = transfer.WaitForData(available)) {
                Describe(outcome, failure->error, failure->text);
                return outcome;
            }
            if (available == 0) {
                break;
            }
        }
        auto read = std::make_shared<PendingInternetCall>();
        read->buffer = std::move(buffer);
        DWORD count = 0;
        bool waited = false;
        if (const auto failure = transfer.ReadSome(read, count, waited)) {
            Describe(outcome, failure->error, failure->text);
            return outcome;
        }
        buffer = std::move(read->buffer);
        dataCame = count > 0 || waited;
        if (count > 0) {
            if (const auto failure = transfer.Take(buffer.data(), count)) {
                Describe(outcome, failure->error, failure->text);
                return outcome;
            }
        }
    }
    transfer.ReportProgress();
    const std::int64_t received = transfer.Received();
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
