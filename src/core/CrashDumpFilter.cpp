#include "core/CrashDumpFilter.h"

#include <cstring>
#include <mutex>

#include "core/CrashDumpName.h"

namespace {

namespace safe = platform::signal_safe;

constexpr std::size_t kMaxPath = 4096;

// Written by InstallCrashDumpFilter before the filter is armed, only read by the filter.
char g_prefix[kMaxPath];
bool g_prefixFits = false;
UtcOffsets g_utcOffsets;

std::mutex g_installMutex;  // guards g_installed (start-up and shut-down, never the filter)
bool g_installed = false;

}  // namespace

bool InstallCrashDumpFilter(const std::string& dumpPrefix) {
    const std::lock_guard lock(g_installMutex);
    if (g_installed) {
        return true;
    }
    // A prefix that cannot become a path behaves like a folder that cannot be written to.
    g_prefixFits = dumpPrefix.size() < kMaxPath && dumpPrefix.find('\0') == std::string::npos;
    std::memcpy(g_prefix, dumpPrefix.c_str(), g_prefixFits ? dumpPrefix.size() + 1 : 1);
    g_utcOffsets.Prepare(safe::WallClockSeconds());
    g_installed = platform::InstallCrashFilter(&CrashDumpFilter);
    return g_installed;
}

void RestoreCrashDumpFilter() {
    const std::lock_guard lock(g_installMutex);
    platform::RestoreCrashFilter();
    g_installed = false;
}

int CrashDumpFilter(const platform::CrashEvent& crash) {
    if (safe::TracerAttached()) {
        return platform::kCrashContinueSearch;
    }
    const std::int64_t now = safe::WallClockSeconds();
    char path[kMaxPath + 32];
    if (g_prefixFits &&
        FormatDumpFileName(path, sizeof(path), g_prefix, CivilFromSeconds(now + g_utcOffsets.At(now)))) {
        const safe::CrashFile file = safe::CreateReplacing(path);
        if (file != safe::kNoCrashFile) {
            safe::WriteMinidump(file, crash, now);  // the outcome changes nothing: the process ends either way
            safe::Close(file);
        }
    }
    return platform::kCrashExecuteHandler;
}
