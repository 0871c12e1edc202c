#pragma once
// Starting another program and waiting for it to end (the Windows process creation and wait).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct ProcessStart {
    std::string program;            // path of the executable to run
    std::vector<std::string> argv;  // the whole argument vector, argv[0] included, each element passed as given
    std::string workingDir;         // empty: the caller's
    int stdinFd = -1;               // the child's stdin; -1: /dev/null
    bool silent = false;            // stdout and stderr to /dev/null instead of the caller's
    // The child's whole environment, "NAME=value" each; nullopt: the caller's.
    std::optional<std::vector<std::string>> environment = std::nullopt;
};

struct StartedProcess {
    int pid = -1;             // > 0 once started
    std::uint32_t error = 0;  // otherwise the Windows error number (2: no such program, 5: not runnable)
    explicit operator bool() const { return pid > 0; }
};

// Starts program as a new session leader with the caller's environment (or the one given). It
// starts clean of the caller's state: stdin from /dev/null (or stdinFd), stdout and stderr
// shared (or silenced), every other descriptor closed, no signal blocked and every signal at its
// default action. Safe from any thread.
StartedProcess StartProcess(const ProcessStart& start);

// Blocks until the child pid has ended and reaps it. Its exit code, 128 + the signal number
// when a signal ended it, or -1 when pid is not a child of this process.
int WaitForProcess(int pid);

}  // namespace platform
