// How long the window thread spends handing one report to the engine while the operator's
// server is slow, and whether every request thread is gone once the engine is destroyed.
//
//   reports_add_request [count]     (default 1000)
//
// Starts the loopback operator server with the event report path stalled (requests are
// accepted and never answered; past the server's pool they wait in its accept queue), then
// adds count reports one after another from this thread, which also runs the engine's loop
// between them as the window thread would. Prints the median, 99th percentile and largest
// time of one AddRequest, the thread count before, at the peak and after the manager is
// destroyed, and how long the destruction took.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "ChildProcess.h"
#include "OperatorServer.h"
#include "telemetry/EventLoop.h"
#include "telemetry/MachineProfile.h"
#include "telemetry/WebLogger.h"

using namespace std::chrono;

namespace {

size_t ThreadCount() {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                                             std::filesystem::directory_iterator()));
}

double Micro(steady_clock::duration d) { return duration<double, std::micro>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 1000;
    testing_support::OperatorServer server;
    server.SetRule("/api/laucher_info.php", "stall");

    StandaloneEventLoop loop;  // this thread plays the window thread
    const MachineProfile& profile = MachineProfile::GetInstance();
    const size_t baseline = ThreadCount();

    auto reporter = std::make_unique<WebLogger>(loop, server.Url("/api/laucher_info.php"),
                                                server.Url("/api/laucher_error.php"), profile);
    CHttpRequestParams params;
    params.m_strUrl = reporter->EventReportUrl(EventDownloadStart);

    std::vector<steady_clock::duration> times;
    times.reserve(static_cast<size_t>(count));
    size_t peak = baseline;
    for (int i = 0; i < count; ++i) {
        const auto start = steady_clock::now();
        reporter->AddRequest(params);
        times.push_back(steady_clock::now() - start);
        loop.RunUntil({}, steady_clock::now());  // handle what has arrived meanwhile, without waiting
        if (i % 50 == 0) {
            peak = std::max(peak, ThreadCount());
        }
    }
    peak = std::max(peak, ThreadCount());
    const size_t running = reporter->RunningCount();

    const auto destroyStart = steady_clock::now();
    reporter.reset();
    const auto destroyed = steady_clock::now() - destroyStart;
    const bool back = testing_support::WaitFor([&] { return ThreadCount() == baseline; }, seconds(10));

    std::sort(times.begin(), times.end());
    const auto at = [&](double q) { return times[std::min(times.size() - 1, static_cast<size_t>(q * times.size()))]; };
    std::printf("AddRequest x%d with the server stalled: median %.1f us, p99 %.1f us, max %.1f us\n", count,
                Micro(at(0.5)), Micro(at(0.99)), Micro(times.back()));
    std::printf("requests still running when the manager was destroyed: %zu\n", running);
    std::printf("threads: %zu before, %zu at the peak, %zu after destruction (%s)\n", baseline, peak, ThreadCount(),
                back ? "back to the baseline" : "NOT back to the baseline");
    std::printf("destroying the manager took %.1f ms\n", Micro(destroyed) / 1000.0);
    return back && Micro(at(0.5)) < 200.0 ? 0 : 1;
}
