#include "platform/Process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/ErrorCodes.h"
#include "platform/posix/Linux.h"

extern char** environ;

namespace platform {
namespace {

class SpawnSetup {
public:
    SpawnSetup() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSetup() {
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
};

}  // namespace

StartedProcess StartProcess(const ProcessStart& start) { return StartProcess(start, -1); }

StartedProcess StartProcess(const ProcessStart& start, int stdinFd) {
    SpawnSetup setup;
    // The launcher's descriptors (its log, its instance lock, sockets of reports still in flight)
    // are nothing the child should hold: a child keeping the lock would refuse the next launcher.
    if (stdinFd >= 0) {
        posix_spawn_file_actions_adddup2(&setup.actions, stdinFd, 0);
    } else {
        posix_spawn_file_actions_addopen(&setup.actions, 0, "/dev/null", O_RDONLY, 0);
    }
    if (start.silent) {
        posix_spawn_file_actions_addopen(&setup.actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&setup.actions, 1, 2);
    }
    posix_spawn_file_actions_addclosefrom_np(&setup.actions, 3);
    if (!start.workingDir.empty()) {
        posix_spawn_file_actions_addchdir_np(&setup.actions, start.workingDir.c_str());
    }
    // The launcher blocks SIGINT and SIGTERM to take them synchronously; the child must not
    // inherit that mask, nor any signal the launcher ignores.
    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigmask(&setup.attributes, &none);
    posix_spawnattr_setsigdefault(&setup.attributes, &all);
    posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    const auto pointers = [](const std::vector<std::string>& texts) {
        std::vector<char*> array;
        array.reserve(texts.size() + 1);
        for (const auto& text : texts) {
            array.push_back(const_cast<char*>(text.c_str()));
        }
        array.push_back(nullptr);
        return array;
    };
    std::vector<char*> argv = pointers(start.argv);
    std::vector<char*> envp = start.environment ? pointers(*start.environment) : std::vector<char*>();

    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, start.program.c_str(), &setup.actions, &setup.attributes, argv.data(),
                                 start.environment ? envp.data() : environ);
    if (rc != 0) {
        return {-1, WinErrorFromErrno(rc)};
    }
    return {pid, kErrorSuccess};
}

int WaitForProcess(int pid) {
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, 0);
        if (done == pid) {
            break;
        }
        if (done < 0 && errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::uint32_t ReplaceProcess(const std::string& program, const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    ::execv(program.c_str(), args.data());
    return WinErrorFromErrno(errno);
}

}  // namespace platform
