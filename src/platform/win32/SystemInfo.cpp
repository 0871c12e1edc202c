#include "platform/SystemInfo.h"

#include <windows.h>

#include <string>

namespace platform {
namespace {

using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, BOOL*);

// GetProcAddress gives a generic function pointer; the real type is known from the name.
template <typename Function>
Function Lookup(const wchar_t* module, const char* name) {
    const HMODULE handle = ::GetModuleHandleW(module);
    if (handle == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(handle, name)));
}

bool AtLeast(int major, int minor, int servicePack) {
    OSVERSIONINFOEXW wanted{};
    wanted.dwOSVersionInfoSize = sizeof(wanted);
    wanted.dwMajorVersion = static_cast<DWORD>(major);
    wanted.dwMinorVersion = static_cast<DWORD>(minor);
    wanted.wServicePackMajor = static_cast<WORD>(servicePack);
    ULONGLONG mask = 0;
    mask = ::VerSetConditionMask(mask, VER_MAJORVERSION, VER_GREATER_EQUAL);
    mask = ::VerSetConditionMask(mask, VER_MINORVERSION, VER_GREATER_EQUAL);
    mask = ::VerSetConditionMask(mask, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
    return ::VerifyVersionInfoW(&wanted, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR, mask) != FALSE;
}

}  // namespace

bool OperatingSystemIs64Bit() {
    if (sizeof(void*) == 8) {
        return true;
    }
    // A 32-bit process on 64-bit Windows runs under WOW64; the call is missing on old systems.
    const auto isWow64 = Lookup<IsWow64ProcessFunction>(L"kernel32", "IsWow64Process");
    BOOL wow64 = FALSE;
    return isWow64 != nullptr && isWow64(::GetCurrentProcess(), &wow64) && wow64;
}

std::optional<std::string> SystemVersion() {
    const auto rtlGetVersion = Lookup<RtlGetVersionFunction>(L"ntdll.dll", "RtlGetVersion");
    if (rtlGetVersion == nullptr) {
        return std::nullopt;
    }
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (rtlGetVersion(&info) != 0) {
        return std::nullopt;
    }
    return std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion) + "." +
           std::to_string(info.dwBuildNumber);
}

std::optional<std::string> FallbackSystemVersion() {
    // The ladder's rows, highest first; the first the system confirms is its version.
    static constexpr int kRows[][3] = {{10, 0, 0}, {6, 3, 0}, {6, 2, 0}, {6, 1, 1},
                                       {6, 1, 0},  {6, 0, 2}, {6, 0, 1}, {6, 0, 0}};
    for (const auto& row : kRows) {
        if (AtLeast(row[0], row[1], row[2])) {
            return std::to_string(row[0]) + "." + std::to_string(row[1]) + "." + std::to_string(row[2]);
        }
    }
    return std::nullopt;
}

}  // namespace platform
