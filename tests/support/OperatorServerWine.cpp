// The operator server for the Windows tests, which run under Wine: the Linux program started
// through Wine (which runs a Linux program when asked to start one, with the standard input and
// output given but no process handle), asked over WinINet on 127.0.0.1.

#include <winsock2.h>
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <memory>
#include <regex>
#include <stdexcept>

#include "OperatorServer.h"
#include "platform/win32/CommandLine.h"
#include "platform/win32/Wide.h"

using platform::win32::Widen;

namespace testing_support {
namespace {

// The Linux path of a Windows one (Wine's own conversion).
std::string UnixPath(const std::string& path) {
    using Convert = char*(CDECL*)(const wchar_t*);
    static const auto convert = reinterpret_cast<Convert>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (convert == nullptr) {
        throw std::runtime_error("not running under Wine");
    }
    char* unix = convert(Widen(path).c_str());
    if (unix == nullptr) {
        throw std::runtime_error("no Linux path for " + path);
    }
    std::string result(unix);
    ::HeapFree(::GetProcessHeap(), 0, unix);
    return result;
}

// The Windows path of a Linux one, through Wine's drive Z: (the Linux root).
std::string WindowsPath(const std::string& unixPath) {
    std::string path = "Z:" + unixPath;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

class Socket {
public:
    explicit Socket(SOCKET socket = INVALID_SOCKET) : m_socket(socket) {}
    ~Socket() {
        if (m_socket != INVALID_SOCKET) {
            ::closesocket(m_socket);
        }
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    SOCKET get() const { return m_socket; }

private:
    SOCKET m_socket;
};

// The two ends of a fresh loopback connection: the one kept and the one given away.
std::pair<std::unique_ptr<Socket>, std::unique_ptr<Socket>> LoopbackConnection() {
    // Started once for the process and never stopped: a lifeline may last until its end.
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    const Socket listener(started ? ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP) : INVALID_SOCKET);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    auto* raw = reinterpret_cast<sockaddr*>(&address);
    if (::bind(listener.get(), raw, sizeof address) != 0 || ::listen(listener.get(), 1) != 0 ||
        ::getsockname(listener.get(), raw, &length) != 0) {
        throw std::runtime_error("no loopback listener for the server's lifeline");
    }
    auto kept = std::make_unique<Socket>(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (::connect(kept->get(), raw, sizeof address) != 0) {
        throw std::runtime_error("the server's lifeline does not connect");
    }
    auto given = std::make_unique<Socket>(::accept(listener.get(), nullptr, nullptr));
    if (given->get() == INVALID_SOCKET) {
        throw std::runtime_error("the server's lifeline is not accepted");
    }
    return {std::move(kept), std::move(given)};
}

// Starts a Linux program through Wine with input as its standard input and its output into a
// file; nothing to wait for or end.
void StartLinuxProgram(const std::vector<std::string>& argv, HANDLE input, const std::string& output) {
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    const platform::win32::Handle out(::CreateFileW(Widen(output).c_str(), GENERIC_WRITE,
                                                    FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, CREATE_ALWAYS,
                                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = out.get();
    startup.hStdError = out.get();
    std::wstring line = platform::win32::CommandLineFor(argv);
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &started)) {
        throw std::runtime_error("cannot start " + argv[0]);
    }
    platform::win32::Handle process(started.hProcess);  // none for a Linux program
    platform::win32::Handle thread(started.hThread);
}

class InternetHandle {
public:
    explicit InternetHandle(HINTERNET handle) : m_handle(handle) {}
    ~InternetHandle() {
        if (m_handle != nullptr) {
            ::InternetCloseHandle(m_handle);
        }
    }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
    HINTERNET get() const { return m_handle; }

private:
    HINTERNET m_handle;
};

}  // namespace

struct OperatorServer::Process {
    TempDir io;
    // This end of the server's lifeline: closing it, or this process ending, ends the server.
    std::unique_ptr<Socket> lifeline;
};

int OperatorServer::Start(const std::vector<std::string>& arguments, int port) {
    m_process = std::make_shared<Process>();
    const std::string output = m_process->io.path() + "\\output";
    std::vector<std::string> argv = {WindowsPath("/bin/sh"), VALDRUNE_SOURCE_DIR "/tests/support/server-for-wine.sh",
                                     VALDRUNE_OPERATOR_SERVER, "--port", std::to_string(port)};
    for (const std::string& argument : arguments) {
        // Paths below this test's folders are handed over as Linux sees them.
        argv.push_back(argument.starts_with(m_dir.path()) ? UnixPath(argument) : argument);
    }
    auto [kept, given] = LoopbackConnection();
    StartLinuxProgram(argv, reinterpret_cast<HANDLE>(given->get()), output);
    m_process->lifeline = std::move(kept);

    const std::regex ready(R"(listening on 127\.0\.0\.1:(\d+))");
    std::smatch m;
    WaitFor([&] {
        const std::string out = ReadFile(output);
        return std::regex_search(out, m, ready) || out.find("operator-server:") != std::string::npos ||
               out.find("sh:") != std::string::npos;
    });
    const std::string out = ReadFile(output);
    if (!std::regex_search(out, m, ready)) {
        throw std::runtime_error("operator-server did not start: " + out);
    }
    return std::stoi(m[1]);
}

OperatorServer::~OperatorServer() = default;

std::string OperatorServer::Control(const std::string& method, const std::string& target) const {
    const InternetHandle root(::InternetOpenW(L"valdrune-tests", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    const InternetHandle connection(::InternetConnectW(root.get(), L"127.0.0.1", static_cast<INTERNET_PORT>(m_port),
                                                       nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    const InternetHandle request(::HttpOpenRequestW(connection.get(), Widen(method).c_str(), Widen(target).c_str(),
                                                    nullptr, nullptr, nullptr,
                                                    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0));
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!::HttpSendRequestW(request.get(), nullptr, 0, nullptr, 0) ||
        !::HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr) ||
        status != 200) {
        throw std::runtime_error("operator-server refused " + target);
    }
    std::string body;
    char buffer[4096];
    DWORD read = 0;
    while (::InternetReadFile(request.get(), buffer, sizeof buffer, &read) && read > 0) {
        body.append(buffer, read);
    }
    return body;
}

}  // namespace testing_support
