// A program that installs the launcher's crash dump filter, as start-up does, and then crashes
// the way it is asked to. For the crash dump process tests.
//
//   crash_dump_helper <dump prefix> <how> [folder to remove before crashing]
//
// how: segv-main       null-pointer write on the main thread
//      segv-thread     null-pointer write on a second thread while the main thread waits for it
//      abort           abort() on the main thread
//      overflow-thread stack overflow on a thread started with plain pthread_create
//
// Before crashing it prints "thread <id>" (the crashing thread) and flushes, so a test can find
// that thread in the dump. The crashing frames keep kStackMarker on the stack.

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "core/CrashDumpFilter.h"

// The sanitizer runtimes handle these signals themselves by default; the filter is what is
// under test, so they are told to leave them alone. (Only read when built with a sanitizer.)
extern "C" __attribute__((used, visibility("default"))) const char* __asan_default_options() {
    return "handle_segv=0:handle_sigbus=0:handle_sigill=0:handle_sigfpe=0:handle_abort=0";
}
extern "C" __attribute__((used, visibility("default"))) const char* __tsan_default_options() {
    return "handle_segv=0:handle_sigbus=0:handle_sigill=0:handle_sigfpe=0:handle_abort=0";
}

namespace {

constexpr char kStackMarker[] = "valdrune-crash-stack-marker";
volatile int g_depthLimit = INT_MAX;

// True once the thread is asleep (state S in its stat line), as the main thread is inside join.
bool ThreadSleeps(long id) {
    std::FILE* stat = std::fopen(("/proc/self/task/" + std::to_string(id) + "/stat").c_str(), "r");
    if (stat == nullptr) {
        return false;
    }
    char line[512] = {};
    const bool read = std::fgets(line, sizeof(line), stat) != nullptr;
    std::fclose(stat);
    const char* state = read ? std::strrchr(line, ')') : nullptr;
    return state != nullptr && state[1] == ' ' && state[2] == 'S';
}

void ReportCrashingThread() {
    std::printf("thread %ld\n", static_cast<long>(::syscall(SYS_gettid)));
    std::fflush(stdout);
}

// Not instrumented: the sanitizers would report the null pointer themselves instead of letting
// the processor fault.
__attribute__((noinline, no_sanitize("address", "thread", "undefined"))) void WriteThroughNull() {
    volatile int* volatile target = nullptr;
    *target = 42;
}

__attribute__((noinline)) void CrashWithMarker(void (*crash)()) {
    volatile char marker[sizeof(kStackMarker)];
    for (std::size_t i = 0; i < sizeof(kStackMarker); ++i) {
        marker[i] = kStackMarker[i];
    }
    ReportCrashingThread();
    crash();
    marker[0] = marker[1];
}

__attribute__((noinline, no_sanitize("address", "thread", "undefined"))) int Recurse(int depth) {
    volatile char frame[1024];
    frame[0] = static_cast<char>(depth);
    if (depth == g_depthLimit) {
        return 0;
    }
    return Recurse(depth + 1) + frame[0];
}

void* OverflowStack(void*) {
    ReportCrashingThread();
    return reinterpret_cast<void*>(static_cast<long>(Recurse(0)));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <dump prefix> <how> [folder to remove]\n", argv[0]);
        return 2;
    }
    const std::string how = argv[2];
    if (!InstallCrashDumpFilter(argv[1])) {
        std::fprintf(stderr, "the crash dump filter could not be installed\n");
        return 3;
    }
    if (argc > 3) {
        std::filesystem::remove_all(argv[3]);
    }

    if (how == "segv-main") {
        CrashWithMarker(&WriteThroughNull);
    } else if (how == "segv-thread") {
        const long mainThread = ::syscall(SYS_gettid);
        std::thread crashing([mainThread] {
            // Crash only once the main thread waits in join, so that where it stopped is known.
            while (!ThreadSleeps(mainThread)) {
                std::this_thread::yield();
            }
            CrashWithMarker(&WriteThroughNull);
        });
        crashing.join();
    } else if (how == "abort") {
        CrashWithMarker([] { std::abort(); });
    } else if (how == "overflow-thread") {
        pthread_attr_t attributes;
        pthread_attr_init(&attributes);
        pthread_attr_setstacksize(&attributes, 256 * 1024);
        pthread_t thread;
        if (pthread_create(&thread, &attributes, &OverflowStack, nullptr) == 0) {
            pthread_join(thread, nullptr);
        }
    }
    std::fprintf(stderr, "still running after \"%s\"\n", how.c_str());
    return 1;
}
