#include "platform/Process.h"

#include <map>
#include <mutex>

#include "platform/win32/CommandLine.h"
#include "platform/win32/Wide.h"

namespace platform {
namespace {

// The children started here and not yet waited for, by process id: a process id alone cannot be
// waited on safely (it may be reused once its process is gone), the handle can.
std::mutex g_childrenMutex;
std::map<int, HANDLE> g_children;

// One argument as the C runtime's command-line parsing (and CommandLineToArgvW) reads it back:
// quoted when it is empty or holds a blank or a quote, with backslashes doubled only where they
// come before a quote.
void AppendArgument(std::wstring& line, const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line += arg;
        return;
    }
    line += L'"';
    std::size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            line.append(backslashes * 2 + 1, L'\\');
        } else {
            line.append(backslashes, L'\\');
        }
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, L'\\');  // the closing quote must stay a quote
    line += L'"';
}

// The program name is read with quotes only, no backslash escapes: quoted whole when needed.
void AppendProgramName(std::wstring& line, const std::wstring& name) {
    if (!name.empty() && name.find_first_of(L" \t") == std::wstring::npos) {
        line += name;
    } else {
        line += L'"' + name + L'"';
    }
}

HANDLE OpenNul(DWORD access) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return ::CreateFileW(L"NUL", access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
}

HANDLE InheritableCopy(HANDLE handle) {
    HANDLE copy = nullptr;
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE ||
        !::DuplicateHandle(::GetCurrentProcess(), handle, ::GetCurrentProcess(), &copy, 0, TRUE,
                           DUPLICATE_SAME_ACCESS)) {
        return nullptr;
    }
    return copy;
}

// "NAME=value" entries as CreateProcessW's environment block: each terminated, then one more.
std::wstring EnvironmentBlock(const std::vector<std::string>& entries) {
    std::wstring block;
    for (const std::string& entry : entries) {
        block += win32::Widen(entry);
        block += L'\0';
    }
    block += L'\0';
    return block;
}

}  // namespace

std::wstring win32::CommandLineFor(const std::vector<std::string>& argv) {
    std::wstring line;
    for (std::size_t i = 0; i < argv.size(); ++i) {
        if (i == 0) {
            AppendProgramName(line, win32::Widen(argv[0]));
        } else {
            line += L' ';
            AppendArgument(line, win32::Widen(argv[i]));
        }
    }
    return line;
}

StartedProcess StartProcess(const ProcessStart& start) {
    // The child's three standard handles, and nothing else of the launcher's, are inherited.
    win32::Handle input(OpenNul(GENERIC_READ));
    win32::Handle output(start.silent ? OpenNul(GENERIC_WRITE) : InheritableCopy(::GetStdHandle(STD_OUTPUT_HANDLE)));
    win32::Handle error(start.silent ? OpenNul(GENERIC_WRITE) : InheritableCopy(::GetStdHandle(STD_ERROR_HANDLE)));
    HANDLE handles[3];
    DWORD handleCount = 0;
    for (const win32::Handle* h : {&input, &output, &error}) {
        if (*h) {
            handles[handleCount++] = h->get();
        }
    }

    SIZE_T attributeSize = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &attributeSize);
    std::vector<unsigned char> attributeBuffer(attributeSize);
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributeBuffer.data());
    const bool listed = ::InitializeProcThreadAttributeList(attributes, 1, 0, &attributeSize) &&
                        (handleCount == 0 || ::UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                                                         handles, handleCount * sizeof(HANDLE),
                                                                         nullptr, nullptr));

    STARTUPINFOEXW info{};
    info.StartupInfo.cb = sizeof(info);
    info.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    info.StartupInfo.hStdInput = input.get();
    info.StartupInfo.hStdOutput = output.get();
    info.StartupInfo.hStdError = error.get();
    info.lpAttributeList = listed ? attributes : nullptr;

    std::wstring commandLine = win32::CommandLineFor(start.argv);
    const std::wstring program = win32::WidePath(start.program);
    const std::wstring folder = win32::WidePath(start.workingDir);
    DWORD flags = CREATE_UNICODE_ENVIRONMENT | (listed ? EXTENDED_STARTUPINFO_PRESENT : 0);
    if (start.silent) {
        flags |= CREATE_NO_WINDOW;
    }
    std::wstring environment = start.environment ? EnvironmentBlock(*start.environment) : std::wstring();
    PROCESS_INFORMATION process{};
    const BOOL created = ::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, handleCount > 0,
                                          flags, start.environment ? environment.data() : nullptr,
                                          folder.empty() ? nullptr : folder.c_str(), &info.StartupInfo, &process);
    const std::uint32_t failure = created ? 0 : win32::LastError();
    if (listed) {
        ::DeleteProcThreadAttributeList(attributes);
    }
    if (!created) {
        return {-1, failure};
    }
    ::CloseHandle(process.hThread);
    const int pid = static_cast<int>(process.dwProcessId);
    std::lock_guard lock(g_childrenMutex);
    g_children[pid] = process.hProcess;
    return {pid, 0};
}

int WaitForProcess(int pid) {
    HANDLE handle = nullptr;
    {
        std::lock_guard lock(g_childrenMutex);
        const auto it = g_children.find(pid);
        if (it == g_children.end()) {
            return -1;
        }
        handle = it->second;
        g_children.erase(it);
    }
    win32::Handle process(handle);
    DWORD code = 0;
    if (::WaitForSingleObject(process.get(), INFINITE) != WAIT_OBJECT_0 || !::GetExitCodeProcess(process.get(), &code)) {
        return -1;
    }
    return static_cast<int>(code);
}

}  // namespace platform
