#include "core/LauncherUpgrade.h"

#include "core/InstallLocation.h"
#include "platform/FileSystem.h"

std::vector<std::string> InstalledLauncherPaths() { return {VALDRUNE_INSTALLED_LAUNCHERS}; }

std::optional<std::string> NewerInstalledLauncher(const std::string& running, const std::string& copy,
                                                  const std::vector<std::string>& installed) {
    if (copy.empty() || running != copy) {
        return std::nullopt;
    }
    const auto own = platform::FileModifiedTime(running);
    if (!own) {
        return std::nullopt;
    }
    for (const auto& candidate : installed) {
        if (const auto time = platform::FileModifiedTime(candidate); time && *time > *own) {
            return candidate;
        }
    }
    return std::nullopt;
}
