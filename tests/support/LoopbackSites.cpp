#include "LoopbackSites.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
#include <process.h>
#include <tlhelp32.h>
#include <winternl.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

namespace testing_support {
namespace {

#ifdef _WIN32
using Socket = SOCKET;
constexpr int kShutBoth = SD_BOTH;
constexpr int kNoSignal = 0;
void CloseSocket(Socket s) { ::closesocket(s); }
// Winsock is started once for the process and never stopped: the sites may live until its end.
void StartSockets() {
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
}
#else
using Socket = int;
constexpr int kShutBoth = SHUT_RDWR;
constexpr int kNoSignal = MSG_NOSIGNAL;
void CloseSocket(Socket s) { ::close(s); }
void StartSockets() {}
#endif

Socket AsSocket(std::intptr_t s) { return static_cast<Socket>(s); }

// A socket bound to a free loopback port, and that port.
std::pair<Socket, int> Bind() {
    StartSockets();
    const Socket s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    return {s, ntohs(address.sin_port)};
}

// A socket listening on a free loopback port with the given accept queue, and that port.
std::pair<Socket, int> Listen(int backlog) {
    const auto bound = Bind();
    ::listen(bound.first, backlog);
    return bound;
}

}  // namespace

ClosedPort::ClosedPort() {
    const auto [bound, port] = Bind();
    m_socket = static_cast<std::intptr_t>(bound);
    m_port = port;
}

ClosedPort::~ClosedPort() { CloseSocket(AsSocket(m_socket)); }

#ifdef _WIN32
namespace {

// The module that holds code at address, or null.
HMODULE ModuleOf(const void* address) {
    HMODULE module = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         static_cast<LPCWSTR>(address), &module);
    return module;
}

// True for a thread that starts in the C runtime's thread start, as every std::thread does.
bool StartedThroughTheRuntime(DWORD threadId) {
    static const HMODULE runtime = ModuleOf(reinterpret_cast<const void*>(&::_beginthreadex));
    const HANDLE thread = ::OpenThread(THREAD_QUERY_INFORMATION, FALSE, threadId);
    if (thread == nullptr) {
        return false;  // it has just ended
    }
    void* start = nullptr;
    const NTSTATUS status = ::NtQueryInformationThread(thread, ThreadQuerySetWin32StartAddress, &start,
                                                       sizeof start, nullptr);
    ::CloseHandle(thread);
    return status == 0 && runtime != nullptr && ModuleOf(start) == runtime;
}

}  // namespace
#endif

std::size_t ThreadCount() {
#ifdef _WIN32
    // The threads the program made: WinINet and the system's thread pool keep workers of their
    // own for a while after the last request, which no request of ours can end.
    std::size_t count = 0;
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry)) {
        count += entry.th32OwnerProcessID == ::GetCurrentProcessId() && StartedThroughTheRuntime(entry.th32ThreadID);
    }
    ::CloseHandle(snapshot);
    return count;
#else
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                                                  std::filesystem::directory_iterator()));
#endif
}

HangingPort::HangingPort() {
    const auto [listener, port] = Listen(0);
    m_listener = static_cast<std::intptr_t>(listener);
    m_port = port;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(m_port));
    const Socket filler = ::socket(AF_INET, SOCK_STREAM, 0);
    ::connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);  // fills the queue
    m_filler = static_cast<std::intptr_t>(filler);
}

HangingPort::~HangingPort() {
    CloseSocket(AsSocket(m_filler));
    CloseSocket(AsSocket(m_listener));
}

bool HangingPort::SomeoneWaits() const {
#ifdef _WIN32
    ULONG size = 0;
    ::GetTcpTable(nullptr, &size, FALSE);
    std::vector<char> buffer(size + 1024);
    size = static_cast<ULONG>(buffer.size());
    if (::GetTcpTable(reinterpret_cast<PMIB_TCPTABLE>(buffer.data()), &size, FALSE) != NO_ERROR) {
        return false;
    }
    const auto* table = reinterpret_cast<const MIB_TCPTABLE*>(buffer.data());
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        const MIB_TCPROW& row = table->table[i];
        if (row.dwState == MIB_TCP_STATE_SYN_SENT && ntohs(static_cast<u_short>(row.dwRemotePort)) == m_port) {
            return true;
        }
    }
    return false;
#else
    char remote[16];
    std::snprintf(remote, sizeof remote, "0100007F:%04X", m_port);
    std::ifstream table("/proc/net/tcp");
    for (std::string line; std::getline(table, line);) {
        if (line.find(std::string(" ") + remote + " 02 ") != std::string::npos) {
            return true;
        }
    }
    return false;
#endif
}

ScriptedSite::ScriptedSite(std::map<std::string, std::string> answers) : m_answers(std::move(answers)) {
    const auto [listener, port] = Listen(16);
    m_listener = static_cast<std::intptr_t>(listener);
    m_port = port;
    m_thread = std::thread([this] { Serve(); });
}

ScriptedSite::~ScriptedSite() {
    ::shutdown(AsSocket(m_listener), kShutBoth);  // ends the accept loop
#ifdef _WIN32
    CloseSocket(AsSocket(m_listener));  // Winsock wakes a waiting accept only by closing
    m_thread.join();
#else
    m_thread.join();
    CloseSocket(AsSocket(m_listener));
#endif
}

void ScriptedSite::Serve() {
    for (;;) {
        const Socket connection = ::accept(AsSocket(m_listener), nullptr, nullptr);
#ifdef _WIN32
        if (connection == INVALID_SOCKET) {
            return;
        }
#else
        if (connection < 0) {
            return;
        }
#endif
        std::string head;
        char buffer[1024];
        while (head.find("\r\n\r\n") == std::string::npos) {
            const auto n = ::recv(connection, buffer, sizeof buffer, 0);
            if (n <= 0) {
                break;
            }
            head.append(buffer, static_cast<size_t>(n));
        }
        const auto start = head.find(' ') + 1;
        const auto it = m_answers.find(head.substr(start, head.find(' ', start) - start));
        const std::string answer = it != m_answers.end() ? it->second : "HTTP/1.1 404 Not Found\r\n\r\n";
        ::send(connection, answer.data(), static_cast<int>(answer.size()), kNoSignal);
        CloseSocket(connection);
    }
}

}  // namespace testing_support
