#include "platform/CpuInfo.h"

#include "platform/win32/Wide.h"

namespace platform {

std::optional<std::string> ProcessorName() {
    // Read access is enough: the machine hive refuses anything more to a user without elevation.
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", 0,
                        KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    wchar_t buffer[256] = {};
    DWORD type = 0;
    DWORD size = sizeof(buffer);
    const LSTATUS rc =
        ::RegQueryValueExW(key, L"ProcessorNameString", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    ::RegCloseKey(key);
    // Taken only when whole: a text type, and empty or ending in its NUL inside what was read.
    const bool text = type == REG_SZ || type == REG_EXPAND_SZ;
    const bool terminated = size == 0 || (size % 2 == 0 && buffer[size / 2 - 1] == L'\0');
    if (rc != ERROR_SUCCESS || !text || !terminated) {
        return std::nullopt;
    }
    return win32::Narrow(buffer);
}

}  // namespace platform
