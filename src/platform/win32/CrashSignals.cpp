#include "platform/CrashSignals.h"

#include <windows.h>
#include <dbghelp.h>

#include <atomic>
#include <mutex>

#include "platform/win32/Wide.h"

namespace platform {
namespace {

std::atomic<CrashFilter> g_filter{nullptr};
std::mutex g_installMutex;  // guards the two below (start-up and shut-down, never the filter)
bool g_installed = false;
LPTOP_LEVEL_EXCEPTION_FILTER g_previous = nullptr;

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* exception) {
    const CrashFilter filter = g_filter.load();
    if (filter == nullptr) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    CrashEvent crash;
    if (exception != nullptr && exception->ExceptionRecord != nullptr) {
        crash.signal = static_cast<int>(exception->ExceptionRecord->ExceptionCode);
        crash.address = reinterpret_cast<std::uintptr_t>(exception->ExceptionRecord->ExceptionAddress);
    }
    crash.threadId = ::GetCurrentThreadId();
    crash.systemState = exception;
    // The verdicts are the filter's own: 0 continue the search, 1 execute the handler.
    return filter(crash);
}

}  // namespace

bool InstallCrashFilter(CrashFilter filter) {
    const std::lock_guard lock(g_installMutex);
    if (g_installed || filter == nullptr) {
        return false;
    }
    g_filter.store(filter);
    ::SetErrorMode(SEM_NOGPFAULTERRORBOX);  // no system fault dialog: the dump stands in for it
    g_previous = ::SetUnhandledExceptionFilter(&OnUnhandledException);
    g_installed = true;
    return true;
}

void RestoreCrashFilter() {
    const std::lock_guard lock(g_installMutex);
    if (!g_installed) {
        return;
    }
    ::SetUnhandledExceptionFilter(g_previous);
    ::SetErrorMode(0);
    g_filter.store(nullptr);
    g_previous = nullptr;
    g_installed = false;
}

bool EnsureAlternateSignalStack() { return true; }

namespace signal_safe {

CrashFile CreateReplacing(const char* path) {
    // Converted on the stack: the filter runs with the process in pieces.
    wchar_t wide[2048];
    const int units = ::MultiByteToWideChar(CP_UTF8, 0, path, -1, wide, 2048);
    if (units == 0) {
        return kNoCrashFile;
    }
    for (int i = 0; i < units; ++i) {
        if (wide[i] == L'/') {
            wide[i] = L'\\';
        }
    }
    // Read and write, no sharing while the dump is written, always created anew.
    const HANDLE file = ::CreateFileW(wide, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? kNoCrashFile : reinterpret_cast<CrashFile>(file);
}

void Close(CrashFile file) {
    if (file != kNoCrashFile) {
        ::CloseHandle(reinterpret_cast<HANDLE>(file));
    }
}

// timeStamp: the system writes its own into the header.
bool WriteMinidump(CrashFile file, const CrashEvent& crash, std::int64_t /*timeStamp*/) {
    MINIDUMP_EXCEPTION_INFORMATION exception{};
    exception.ThreadId = crash.threadId;
    exception.ExceptionPointers = static_cast<EXCEPTION_POINTERS*>(const_cast<void*>(crash.systemState));
    exception.ClientPointers = FALSE;  // the pointers are this process's own
    MINIDUMP_USER_STREAM marker{0x10001, 0, nullptr};
    MINIDUMP_USER_STREAM_INFORMATION streams{1, &marker};
    return ::MiniDumpWriteDump(::GetCurrentProcess(), ::GetCurrentProcessId(), reinterpret_cast<HANDLE>(file),
                               MiniDumpNormal, exception.ExceptionPointers != nullptr ? &exception : nullptr,
                               &streams, nullptr) != FALSE;
}

std::int64_t WallClockSeconds() {
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    const std::uint64_t ticks = static_cast<std::uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime;
    constexpr std::uint64_t kTicksTo1970 = 116444736000000000ull;  // 100 ns ticks from 1601 to 1970
    return static_cast<std::int64_t>((ticks - kTicksTo1970) / 10000000ull);
}

std::uint32_t ProcessId() { return ::GetCurrentProcessId(); }

std::uint32_t ThreadId() { return ::GetCurrentThreadId(); }

bool TracerAttached() { return ::IsDebuggerPresent() != FALSE; }

}  // namespace signal_safe
}  // namespace platform
