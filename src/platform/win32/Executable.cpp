#include "platform/Executable.h"

#include <vector>

#include "platform/win32/Wide.h"

#include <shellapi.h>

namespace platform {
namespace {

std::string::size_type LastSeparator(const std::string& path) { return path.find_last_of("\\/"); }

}  // namespace

std::string ExecutablePath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) {
            return {};
        }
        if (n < buffer.size()) {
            return win32::Narrow(std::wstring_view(buffer.data(), n));
        }
        buffer.resize(buffer.size() * 2);  // cut short: the path is longer than MAX_PATH
    }
}

std::string FolderOf(const std::string& path) {
    const auto separator = LastSeparator(path);
    if (separator == std::string::npos) {
        return {};
    }
    // "C:\x" -> "C:\": a drive's root keeps its separator.
    if (separator == 2 && path[1] == ':') {
        return path.substr(0, 3);
    }
    return separator == 0 ? path.substr(0, 1) : path.substr(0, separator);
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) {
        return {argv, argv + argc};
    }
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) {
        arguments.push_back(win32::Narrow(wide[i]));
    }
    ::LocalFree(wide);
    return arguments;
}

}  // namespace platform
