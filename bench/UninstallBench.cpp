// uninstall-bench: the uninstall's removal of a client folder, timed, for bench/uninstall_run.sh
// to compare with rm -rf on the same tree.
//
//   uninstall-bench <folder> <log file>
//       removes the folder with CWebApp::DeleteNotNullDir, logging to the file as the launcher
//       does; prints "seconds=<time> removed=<1|0>"

#include <chrono>
#include <cstdio>
#include <string>

#include "core/CWebApp.h"
#include "core/Logger.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: uninstall-bench <folder> <log file>\n");
        return 2;
    }
    Logger log(argv[2]);
    Logger::Redirect(&log);
    const auto start = std::chrono::steady_clock::now();
    const bool removed = CWebApp::DeleteNotNullDir(argv[1]);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    Logger::Redirect(nullptr);
    std::printf("seconds=%.4f removed=%d\n", elapsed.count(), removed ? 1 : 0);
    return removed ? 0 : 1;
}
