// update-bench: the update pipeline's own download and unpacking, timed, for bench/run.sh to
// compare with curl and unzip on the same machine and the same files.
//
//   update-bench download <configuration url> <work folder>
//       one update run against the configuration (which must ask for a download); prints
//       "seconds=<download time> start_kib=<peak RSS at its start> peak_kib=<peak RSS at its end>"
//   update-bench unzip <archive> <work folder>
//       unpacks the archive into <work folder>/client; prints "seconds=<time>"
//   update-bench update <configuration url> <work folder> [public key]
//       one whole update run (configuration, download, package check, unpacking, install),
//       with the operator's public key when given; prints "seconds=<time>"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/Logger.h"
#include "core/MainWindow.h"
#include "core/Reports.h"
#include "platform/Executable.h"
#include "update/CGameRemoteConfig.h"

namespace {

using Clock = std::chrono::steady_clock;

// What the launcher's window costs the worker is not measured here.
class NullWindow final : public MainWindow {
public:
    void ShowProgress(const std::string&, const std::string&, int, int) override {}
    void ShowProgressState() override {}
    void ShowMessageState() override {}
    void InitWebBrower() override {}
    void SetReady() override {}
};

// Knows whether the update declared the client ready.
class ReadyWatch final : public MainWindow {
public:
    void ShowProgress(const std::string&, const std::string&, int, int) override {}
    void ShowProgressState() override {}
    void ShowMessageState() override {}
    void InitWebBrower() override {}
    void SetReady() override { ready = true; }
    bool ready = false;
};

// -1 where the system has no /proc (Windows): the figure is Linux's.
long PeakResidentKib() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

// The download's start and end, as the pipeline reports them to the operator.
class DownloadClock final : public ReportSink {
public:
    void LogEvent(int event) override {
        if (event == EventDownloadStart) {
            start = Clock::now();
            startKib = PeakResidentKib();
        } else if (event == EventUnzipStart) {
            end = Clock::now();
            ended = true;
            endKib = PeakResidentKib();
        }
    }
    void Log(const std::string&) override {}

    Clock::time_point start, end;
    bool ended = false;
    long startKib = -1, endKib = -1;
};

CGameRemoteConfig::Settings SettingsFor(const std::string& work) {
    CGameRemoteConfig::Settings settings;
    settings.dataDir = work + "/data";
    settings.clientDir = work + "/data/client";
    settings.executablePath = platform::ExecutablePath();
    std::filesystem::create_directories(settings.clientDir);
    return settings;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 && !(argc == 5 && std::string(argv[1]) == "update")) {
        std::fprintf(stderr, "usage: update-bench download|unzip|update <configuration url|archive> <work folder> "
                             "[public key]\n");
        return 2;
    }
    const std::string mode = argv[1];
    const std::string work = argv[3];
    std::filesystem::create_directories(work);
    Logger log(work + "/update-bench.log");
    Logger::Redirect(&log);
    NullWindow window;

    if (mode == "download") {
        DownloadClock clock;
        SetReportSink(&clock);
        auto settings = SettingsFor(work);
        settings.configUrl = argv[2];
        CGameRemoteConfig config(settings);
        config.InitRemoteConfig(&window);
        SetReportSink(nullptr);
        if (!clock.ended) {
            std::fprintf(stderr, "update-bench: the download did not succeed; see %s/update-bench.log\n", work.c_str());
            return 1;
        }
        std::printf("seconds=%.3f start_kib=%ld peak_kib=%ld\n",
                    std::chrono::duration<double>(clock.end - clock.start).count(), clock.startKib, clock.endKib);
    } else if (mode == "update") {
        ReadyWatch ready;
        auto settings = SettingsFor(work);
        settings.configUrl = argv[2];
        settings.packagePublicKey = argc == 5 ? argv[4] : "";
        CGameRemoteConfig config(settings);
        const auto start = Clock::now();
        config.InitRemoteConfig(&ready);
        const auto end = Clock::now();
        if (!ready.ready) {
            std::fprintf(stderr, "update-bench: the update did not finish; see %s/update-bench.log\n", work.c_str());
            return 1;
        }
        std::printf("seconds=%.3f\n", std::chrono::duration<double>(end - start).count());
    } else if (mode == "unzip") {
        CGameRemoteConfig config(SettingsFor(work));
        const auto start = Clock::now();
        if (!config.OnUnzipFile(argv[2], &window)) {
            std::fprintf(stderr, "update-bench: unpacking failed; see %s/update-bench.log\n", work.c_str());
            return 1;
        }
        std::printf("seconds=%.3f\n", std::chrono::duration<double>(Clock::now() - start).count());
    } else {
        return 2;
    }
    Logger::Redirect(nullptr);
    return 0;
}
