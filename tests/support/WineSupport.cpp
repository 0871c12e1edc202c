#include "WineSupport.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "TempHome.h"
#include "platform/Process.h"
#include "platform/Wine.h"

namespace testing_support {
namespace fs = std::filesystem;

namespace {

std::vector<int> Pids() {
    std::vector<int> pids;
    if (DIR* proc = ::opendir("/proc")) {
        while (const dirent* entry = ::readdir(proc)) {
            if (const int pid = std::atoi(entry->d_name); pid > 0) {
                pids.push_back(pid);
            }
        }
        ::closedir(proc);
    }
    return pids;
}

}  // namespace

std::string WarmWinePrefix() {
    return VALDRUNE_WARM_WINE_PREFIX;
}

void ShareWarmWinePrefix(const std::string& prefix) {
    MakeDirs(fs::path(prefix).parent_path());
    fs::create_directory_symlink(WarmWinePrefix(), prefix);
}

void CopyWarmWinePrefix(const std::string& prefix) {
    MakeDirs(fs::path(prefix).parent_path());
    fs::copy(
        WarmWinePrefix(), prefix,
        fs::copy_options::recursive | fs::copy_options::create_hard_links | fs::copy_options::copy_symlinks);
}

void StartWineServer(const std::string& prefix) {
    platform::ProcessStart start{"/bin/sh", {"sh", "-c", "exec wineserver -p"}, {}};
    start.silent = true;
    start.environment = platform::WineEnvironmentFor(prefix);
    // The server detaches itself once it serves; what is started here ends at once.
    platform::WaitForProcess(platform::StartProcess(start).pid);
}

std::vector<int> WineProcessesOf(const std::string& prefix) {
    const std::string entry = "WINEPREFIX=" + prefix;
    std::vector<int> pids;
    for (const int pid : Pids()) {
        const std::string environ = ReadFile("/proc/" + std::to_string(pid) + "/environ");
        for (std::size_t start = 0; start < environ.size();) {
            const std::size_t end = std::min(environ.find('\0', start), environ.size());
            if (environ.compare(start, end - start, entry) == 0) {
                pids.push_back(pid);
                break;
            }
            start = end + 1;
        }
    }
    return pids;
}

int RunningGamePid(const std::string& gameDir) {
    for (const int pid : Pids()) {
        const std::string proc = "/proc/" + std::to_string(pid);
        std::error_code error;
        if (ReadFile(proc + "/comm") == "zavo.exe\n" && fs::read_symlink(proc + "/cwd", error) == gameDir) {
            return pid;
        }
    }
    return 0;
}

std::string WindowsPath(const std::string& path) {
    std::string windows = "Z:" + path;
    std::replace(windows.begin(), windows.end(), '/', '\\');
    return windows;
}

std::string WindowsSampleGameBytes() {
    return ReadFile(VALDRUNE_WINDOWS_SAMPLE_GAME);
}

}  // namespace testing_support
