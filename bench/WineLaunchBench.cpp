// wine-launch-bench: how long the Windows sample game takes to start through the launcher, from
// the login call to the game's record on disk, against `wine` starting the same game by hand
// until its record is on disk; both with a warm prefix (made first when missing, its server
// then kept running, as a player's is after the first start), in turns.
//
//   wine-launch-bench <windows zavo.exe> <work folder> [runs]
//       prints each kind's median in milliseconds and the ratio launcher / by hand

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bridge/LoginLaunch.h"
#include "core/Logger.h"
#include "platform/Process.h"
#include "platform/Wine.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

class NoWindow final : public LaunchWindow {
  public:
    void HideMainWindow() override {}
    void ShowStatus(const std::string&) override {}
    void Cancel() override {}
};

// The game writes its record in one piece ending in a line feed.
bool RecordWritten(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return !text.empty() && text.back() == '\n';
}

// Milliseconds from start until the record is on disk.
double UntilRecord(const std::string& record, Clock::time_point start) {
    while (!RecordWritten(record)) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int RunWine(const std::string& loader, std::vector<std::string> args, const std::string& prefix,
            const std::string& dir) {
    platform::ProcessStart start{loader, std::move(args), dir};
    start.silent = true;
    start.environment = platform::WineEnvironmentFor(prefix);
    const platform::StartedProcess process = platform::StartProcess(start);
    return process ? platform::WaitForProcess(process.pid) : -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: wine-launch-bench <windows zavo.exe> <work folder> [runs]\n");
        return 2;
    }
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 10;
    const std::string work = fs::absolute(argv[2]).string();
    const std::string clientDir = work + "/client";
    const std::string gameDir = clientDir + "/zavo";
    const std::string prefix = work + "/wine";
    const std::string record = gameDir + "/zavo-launch.json";
    fs::create_directories(gameDir);
    fs::copy_file(argv[1], gameDir + "/zavo.exe", fs::copy_options::overwrite_existing);
    Logger log(work + "/bench.log");
    Logger::Redirect(&log);

    const auto loader = platform::FindWineLoader();
    if (!loader) {
        std::fprintf(stderr, "wine-launch-bench: no wine found\n");
        return 1;
    }
    if (!fs::is_directory(prefix)) {
        std::printf("bench: making the prefix (not timed)\n");
        std::fflush(stdout);
        if (!platform::MakeWinePrefix(*loader, prefix).made) {
            std::fprintf(stderr, "wine-launch-bench: the prefix could not be made\n");
            return 1;
        }
    }
    // Warm: the server kept running, its services started, and one start of the game done.
    RunWine("/bin/sh", {"sh", "-c", "exec wineserver -p"}, prefix, gameDir);
    RunWine(*loader, {*loader, "wineboot"}, prefix, gameDir);
    RunWine(*loader, {*loader, gameDir + "/zavo.exe"}, prefix, gameDir);

    LaunchSettings settings;
    settings.clientDir = clientDir;
    settings.winePrefix = prefix;
    settings.launcherArgv = {work + "/Valdrune"};
    settings.customParameters = [] { return std::string("zone 7"); };
    settings.firstInstall = [] { return false; };
    settings.luaPathFile = work + "/luapath.txt";

    std::vector<double> launcher;
    std::vector<double> byHand;
    for (int run = 0; run < runs; ++run) {
        for (const bool throughLauncher : {run % 2 == 0, run % 2 != 0}) {
            fs::remove(record);
            const auto start = Clock::now();
            if (throughLauncher) {
                NoWindow window;
                LoginLaunch launch(settings, window);
                launch.SetReady();
                std::thread page(
                    [&] { launch.OnLoginResult("true|tok en&x"); });  // returns once the game ended
                launcher.push_back(UntilRecord(record, start));
                page.join();
            } else {
                platform::ProcessStart game{
                    *loader,
                    {*loader, gameDir + "/zavo.exe", "--parameters=tok en&x", "--plat_extra=zone 7"},
                    gameDir};
                game.silent = true;
                game.environment = platform::WineEnvironmentFor(prefix);
                const platform::StartedProcess process = platform::StartProcess(game);
                byHand.push_back(UntilRecord(record, start));
                platform::WaitForProcess(process.pid);
            }
        }
    }
    platform::EndWineServer(prefix);
    Logger::Redirect(nullptr);

    const double ours = Median(launcher);
    const double theirs = Median(byHand);
    std::printf(
        "bench: Windows sample game, warm prefix, %d runs each: login call to record %.1f ms, "
        "wine by hand to record %.1f ms (medians), ratio launcher/by hand %.2f (goal <= 1.2)\n",
        runs, ours, theirs, ours / theirs);
    return 0;
}
