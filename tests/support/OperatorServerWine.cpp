// The operator server for the Windows tests, which run under Wine: the Linux program started
// through Wine (which runs a Linux program when asked to start one, with the standard handles
// given but no process handle), asked over WinINet on 127.0.0.1.

#include <windows.h>
#include <wininet.h>

#include <fstream>
#include <regex>
#include <stdexcept>

#include "OperatorServer.h"
#include "platform/win32/CommandLine.h"
#include "platform/win32/Wide.h"

using platform::win32::Narrow;
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

// This process as Linux knows it.
std::string UnixProcessId() {
    std::ifstream stat(WindowsPath("/proc/self/stat"));
    std::string id;
    stat >> id;
    return id;
}

// Starts a Linux program through Wine with its output in files; nothing to wait for or end.
void StartLinuxProgram(const std::vector<std::string>& argv, const std::string& output, const std::string& errors) {
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    const auto open = [&](const std::string& path, DWORD access, DWORD disposition) {
        return platform::win32::Handle(::CreateFileW(Widen(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                     &inherited, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    };
    const auto in = open("NUL", GENERIC_READ, OPEN_EXISTING);
    const auto out = open(output, GENERIC_WRITE, CREATE_ALWAYS);
    const auto err = open(errors, GENERIC_WRITE, CREATE_ALWAYS);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in.get();
    startup.hStdOutput = out.get();
    startup.hStdError = err.get();
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
    std::string serverId;  // the Linux process id, to end it
};

int OperatorServer::Start(const std::vector<std::string>& arguments, int port) {
    m_process = std::make_shared<Process>();
    const std::string output = m_process->io.path() + "\\stdout";
    const std::string errors = m_process->io.path() + "\\stderr";
    std::vector<std::string> argv = {WindowsPath("/bin/sh"), VALDRUNE_SOURCE_DIR "/tests/support/server-for-wine.sh",
                                     UnixProcessId(), VALDRUNE_OPERATOR_SERVER, "--port", std::to_string(port)};
    for (const std::string& argument : arguments) {
        // Paths below this test's folders are handed over as Linux sees them.
        argv.push_back(argument.starts_with(m_dir.path()) ? UnixPath(argument) : argument);
    }
    StartLinuxProgram(argv, output, errors);

    const std::regex ready(R"(listening on 127\.0\.0\.1:(\d+))");
    const std::regex server(R"(server (\d+))");
    std::smatch m;
    const bool up = WaitFor([&] {
        const std::string out = ReadFile(output);
        return std::regex_search(out, m, ready) || ReadFile(errors).find("operator-server") != std::string::npos;
    });
    const std::string out = ReadFile(output);
    if (std::smatch id; std::regex_search(out, id, server)) {
        m_process->serverId = id[1];
    }
    if (!up || !std::regex_search(out, m, ready)) {
        throw std::runtime_error("operator-server did not start: " + ReadFile(errors));
    }
    return std::stoi(m[1]);
}

OperatorServer::~OperatorServer() {
    if (m_process && !m_process->serverId.empty()) {
        try {
            StartLinuxProgram({WindowsPath("/bin/kill"), m_process->serverId}, "NUL", "NUL");
        } catch (const std::exception&) {
            // The server still ends with this process.
        }
    }
}

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
