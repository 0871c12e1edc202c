#include "platform/ProcessList.h"

#include <windows.h>
#include <tlhelp32.h>

#include "platform/win32/Wide.h"

namespace platform {

std::optional<std::vector<std::string>> RunningProcessNames() {
    win32::Handle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        return std::nullopt;
    }
    std::vector<std::string> names;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
        names.push_back(win32::Narrow(entry.szExeFile));
    }
    return names;
}

}  // namespace platform
