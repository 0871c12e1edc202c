#pragma once
// Real child processes for tests: started with a chosen environment and folder, their output
// captured to files, waited for with a deadline.

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "TempHome.h"

namespace testing_support {

using namespace std::chrono_literals;

// Root ignores file permissions; while this lives, the calling thread obeys them (a no-op for
// other users). Threads started meanwhile inherit the restriction.
class WithoutFileOverride {
public:
    WithoutFileOverride();
    ~WithoutFileOverride();
    WithoutFileOverride(const WithoutFileOverride&) = delete;
    WithoutFileOverride& operator=(const WithoutFileOverride&) = delete;

private:
    unsigned m_savedEffective[2] = {0, 0};
    bool m_changed = false;
};

class ChildProcess {
public:
    struct Options {
        std::vector<std::string> argv;             // argv[0] is the program's path
        std::map<std::string, std::string> env;    // the whole environment
        std::string cwd;                            // empty: inherit
        std::string stdinText;                      // fed to stdin, then end of input
        // Root ignores file permissions; this makes the child (and what it starts) obey them,
        // so "read-only folder" cases mean the same under CI's root as for a player.
        bool withoutFileOverride = false;
        // Killed when the test process dies without cleaning up (a crash, an X error's exit), so
        // that a server child never outlives it holding a port the next tests need.
        bool endsWithTest = false;
    };

    explicit ChildProcess(Options options);
    ~ChildProcess();  // kills a child that still runs
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return m_pid; }
    bool started() const { return m_pid > 0; }

    // The exit code (128 + signal for a signalled child), or nullopt when it still runs at the deadline.
    std::optional<int> Wait(std::chrono::milliseconds deadline = 30s);
    bool Running();
    void Signal(int signal);

    std::string Stdout() const { return ReadFile(m_stdoutPath); }
    std::string Stderr() const { return ReadFile(m_stderrPath); }

private:
    TempDir m_io;
    std::string m_stdoutPath;
    std::string m_stderrPath;
    pid_t m_pid = -1;
    std::optional<int> m_exitCode;
};

}  // namespace testing_support
