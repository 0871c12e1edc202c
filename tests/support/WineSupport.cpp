#include "WineSupport.h"

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
    for (const auto& entry : fs::directory_iterator("/proc")) {
        if (const int pid = std::atoi(entry.path().filename().c_str()); pid > 0) {
            pids.push_back(pid);
        }
    }
    return pids;
}

}  // namespace

void ShareWarmWinePrefix(const std::string& prefix) {
    MakeDirs(fs::path(prefix).parent_path());
    fs::create_directory_symlink(VALDRUNE_WARM_WINE_PREFIX, prefix);
}

void CopyWarmWinePrefix(const std::string& prefix) {
    MakeDirs(fs::path(prefix).parent_path());
    using enum fs::copy_options;
    fs::copy(VALDRUNE_WARM_WINE_PREFIX, prefix, recursive | create_hard_links | copy_symlinks);
}

void StartWineServer(const std::string& prefix) {
    platform::ProcessStart start{"/bin/sh", {"sh", "-c", "exec wineserver -p"}, {}, -1, true};
    start.environment = platform::WineEnvironmentFor(prefix);
    platform::WaitForProcess(platform::StartProcess(start).pid);  // the server detaches itself
}

std::vector<int> WineProcessesOf(const std::string& prefix) {
    std::vector<int> pids;
    for (const int pid : Pids()) {
        const std::string environ = '\0' + ReadFile("/proc/" + std::to_string(pid) + "/environ");
        if (environ.find('\0' + ("WINEPREFIX=" + prefix) + '\0') != std::string::npos) {
            pids.push_back(pid);
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

int RunningGameWithRecord(const std::string& gameDir, SampleGameRecord& record) {
    record = ReadSampleGameRecord(gameDir + "/zavo-launch.json");
    return record.pid > 0 ? RunningGamePid(gameDir) : 0;
}

std::string WindowsPath(const std::string& path) {
    std::string windows = "Z:" + path;
    std::replace(windows.begin(), windows.end(), '/', '\\');
    return windows;
}

std::string WindowsSampleGameBytes() { return ReadFile(VALDRUNE_WINDOWS_SAMPLE_GAME); }

}  // namespace testing_support
