// page-bridge-bench: what one window.external call costs between the web process and the
// launcher, without the page engine: the real client and the real channel over the real local
// socket, the channel answering on a main loop of its own thread as the window thread would.
//
//   page-bridge-bench [calls]
//       prints, for a member lookup followed by a call with two short arguments, the median and
//       99th-percentile round trip in microseconds, and the throughput of a 1 MiB string answer
//       in MiB/s.

#include <glib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "ui/ScriptChannel.h"
#include "webext/ScriptClient.h"

namespace {

using Clock = std::chrono::steady_clock;

class EchoDispatcher final : public ScriptDispatcher {
public:
    int Lookup(const std::string& name) override { return name == "Echo" ? 1 : name == "Large" ? 2 : -1; }
    ScriptValue Invoke(int id, const std::vector<std::string>& args) override {
        if (id == 2) {
            return ScriptValue(m_large);
        }
        return ScriptValue(args.empty() ? std::string() : args[0]);
    }

private:
    std::string m_large = std::string(1 << 20, 'x');
};

double Microseconds(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
    const int calls = argc > 1 ? std::atoi(argv[1]) : 20000;
    EchoDispatcher dispatcher;
    GMainContext* context = g_main_context_new();
    std::string path;
    std::atomic<bool> ready{false};
    std::atomic<bool> done{false};
    // The channel lives and answers on this thread, as it does on the window thread.
    std::thread window([&] {
        g_main_context_push_thread_default(context);
        {
            ScriptChannel channel(dispatcher, context);
            path = channel.SocketPath();
            ready = true;
            while (!done) {
                g_main_context_iteration(context, TRUE);
            }
        }
        g_main_context_pop_thread_default(context);
    });
    while (!ready) {
        std::this_thread::yield();
    }

    ScriptClient page(path);
    std::vector<double> trips;
    trips.reserve(static_cast<size_t>(calls));
    for (int i = 0; i < calls; ++i) {
        const auto start = Clock::now();
        const int id = page.Lookup("Echo");
        page.Call(id, {"LoginResult", "true|0123456789abcdef0123456789abcdef"});
        trips.push_back(Microseconds(Clock::now() - start));
    }
    std::sort(trips.begin(), trips.end());

    const int large = 200;
    const auto start = Clock::now();
    for (int i = 0; i < large; ++i) {
        page.Call(page.Lookup("Large"), {});
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

    std::printf("lookup+call round trip: median %.1f us, p99 %.1f us over %d calls\n", trips[trips.size() / 2],
                trips[trips.size() * 99 / 100], calls);
    std::printf("1 MiB string answer: %.0f MiB/s\n", large / seconds);

    done = true;
    g_main_context_wakeup(context);
    window.join();
    g_main_context_unref(context);
    return 0;
}
