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
    bool silent = false;            // stdout and stderr discarded instead of shared with the caller
    // The child's whole environment, "NAME=value" each; nullopt: the caller's.
    std::optional<std::vector<std::string>> environment = std::nullopt;
};

struct StartedProcess {
    int pid = -1;             // the process id, > 0 once started
    std::uint32_t error = 0;  // otherwise the Windows error number (2: no such program, 5: not runnable)
    explicit operator bool() const { return pid > 0; }
};

// Starts program with the caller's environment (or the one given), clean of the caller's state:
// no input, stdout and stderr shared (or silenced), no other handle or descriptor inherited (the
// launcher's log, its instance lock and report connections stay its own). Linux: a new session leader with no
// signal blocked and every signal at its default action. Windows: CreateProcessW with a command
// line quoted so that the program's argument parsing gives back argv exactly. Safe from any thread.
StartedProcess StartProcess(const ProcessStart& start);

// Runs program in place of this process with argv and the same environment. Returns only when
// that fails, with the Windows error number.
std::uint32_t ReplaceProcess(const std::string& program, const std::vector<std::string>& argv);

// Blocks until the child pid (started by StartProcess) has ended and reaps it. Its exit code
// (Linux: 128 + the signal number when a signal ended it), or -1 when pid is not a child that
// this process started and has not waited for yet.
int WaitForProcess(int pid);

}  // namespace platform
