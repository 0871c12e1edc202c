// window-download-bench: the package download with the launcher's window attached, against the
// same download without a display: the window's progress must not slow the transfer.
//
//   window-download-bench [runs] [MiB]        (default 5 runs of each, a 512 MiB package)
//
// Serves one package of random bytes from tools/operator-server on the launcher's configured
// port (nothing else may use that port meanwhile), and runs the built launcher in turns without
// a display and with one (a private Xvfb), each run in a fresh private HOME. The package's first
// address holds its answer until the launcher is up (its window on screen with the page painted,
// or the console line); released, it fails and the backup address serves the package whole. A
// run's time goes from that release until the package file holds every byte. Prints each run, the
// best and the median throughput of each way, and their ratios (goal: window / headless >= 0.9).

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.h"
#include "GuiSupport.h"
#include "Launcher.h"
#include "OperatorServer.h"
#include "TempHome.h"
#include "ZipBuilder.h"
#include "ui/Layout.h"

using namespace gui_testing;
using namespace testing_support;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

constexpr const char* kPackagePath = "/files/zavo.zip";
constexpr Rgb kPageColour{0x2e, 0x8b, 0x57};

std::string RandomBytes(size_t size) {
    std::string bytes(size, '\0');
    std::mt19937_64 engine(7);
    for (size_t i = 0; i + 8 <= size; i += 8) {
        const std::uint64_t word = engine();
        std::memcpy(bytes.data() + i, &word, 8);
    }
    return bytes;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

class Bench {
public:
    Bench(size_t mebibytes) {
        const std::string package = m_server.FilesDir() + "/zavo.zip";
        ZipBuilder().StoredFile("zavo/data/big.dat", RandomBytes(mebibytes << 20)).WriteTo(package);
        m_packageSize = fs::file_size(package);
        WriteFile(m_server.WwwDir() + "/page.html", "<body style='background:#2e8b57'></body>");
        m_server.SetConfig("EntryUrl=" + m_server.Url("/www/page.html") +
                           "\nClientVersion=1.0.0.1\nClientMiniUpdateVersion=1.0.0.1\nClientDownloadUrl=" +
                           m_server.PackageUrl() + "\nClient32DownloadUrl=" + m_server.PackageUrl() +
                           "\nClientDownloadUrl2=" + m_server.PackageUrl() + "\n");
    }

    size_t packageSize() const { return m_packageSize; }

    // Seconds for the whole package to arrive; negative when the run failed.
    double Run(bool window) {
        ::sync();  // the previous run's writes are not this run's to wait for
        m_server.SetRule(kPackagePath, "stall");
        TempHome world;
        const std::string exe = CopyLauncherTo(world.root() + "/app");
        auto options = LauncherOptions(world, exe);
        if (window) {
            options.env["DISPLAY"] = m_xvfb.display();
        }
        ChildProcess launcher(options);
        const bool up = WaitFor([&] {
            if (!launcher.Running()) {
                return true;
            }
            const auto requests = m_server.Requests();
            const bool asked = std::any_of(requests.begin(), requests.end(), [](const std::string& line) {
                return line.rfind(std::string("GET ") + kPackagePath, 0) == 0;
            });
            return asked && (!window || PageShown());
        });
        if (!up || !launcher.Running()) {
            std::fprintf(stderr, "the launcher did not come up:\n%s", launcher.Stderr().c_str());
            return -1;
        }

        const std::string package = world.dataDir() + "/zavo.zip";
        const auto start = Clock::now();
        m_server.ClearRules();
        // Polled every millisecond: the figure is a fraction of a second.
        bool arrived = false;
        while (!arrived && Clock::now() - start < std::chrono::minutes(5)) {
            std::error_code error;
            arrived = fs::file_size(package, error) == m_packageSize && !error;
            if (!arrived) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        launcher.Signal(SIGTERM);
        launcher.Wait();
        if (!arrived) {
            std::fprintf(stderr, "the package did not arrive\n");
            return -1;
        }
        return seconds;
    }

private:
    // The launcher's window on screen with its page painted in the page square.
    bool PageShown() {
        const unsigned long window = m_screen.FindWindow("Valdrune");
        const auto at = window != 0 ? m_screen.Position(window) : std::nullopt;
        return at && m_screen.Pixel(at->x + layout::kPage.x + layout::kPage.width / 2,
                                    at->y + layout::kPage.y + layout::kPage.height / 2) == kPageColour;
    }

    Xvfb m_xvfb;
    XScreen m_screen{m_xvfb.display()};
    OperatorServer m_server{OperatorServer::OriginPort()};
    size_t m_packageSize = 0;
};

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const size_t mebibytes = argc > 2 ? static_cast<size_t>(std::max(1, std::atoi(argv[2]))) : 512;
    Bench bench(mebibytes);
    const double mib = static_cast<double>(bench.packageSize()) / (1 << 20);
    std::printf("package of %.0f MiB from the operator server on 127.0.0.1, %d runs each way, in turns\n", mib, runs);

    std::vector<double> headless;
    std::vector<double> window;
    for (int i = 0; i < runs; ++i) {
        for (const bool withWindow : {i % 2 == 1, i % 2 == 0}) {
            const double seconds = bench.Run(withWindow);
            if (seconds <= 0) {
                return 1;
            }
            (withWindow ? window : headless).push_back(mib / seconds);
            std::printf("run %d %-9s %7.3f s  %7.0f MiB/s\n", i + 1, withWindow ? "window" : "headless", seconds,
                        mib / seconds);
            std::fflush(stdout);
        }
    }
    const double bestHeadless = *std::max_element(headless.begin(), headless.end());
    const double bestWindow = *std::max_element(window.begin(), window.end());
    std::printf("headless: best %.0f MiB/s, median %.0f MiB/s\n", bestHeadless, Median(headless));
    std::printf("window:   best %.0f MiB/s, median %.0f MiB/s\n", bestWindow, Median(window));
    std::printf("throughput ratio window/headless: best %.2f, median %.2f   (goal >= 0.9)\n", bestWindow / bestHeadless,
                Median(window) / Median(headless));
    return 0;
}
