#include "ChildProcess.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

namespace testing_support {
namespace {

constexpr int kFileOverrideCaps[] = {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER};

bool ThreadCaps(__user_cap_data_struct (&data)[2], bool set) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return ::syscall(set ? SYS_capset : SYS_capget, &header, data) == 0;
}

[[noreturn]] void ExecChild(const std::string& stdinPath, const std::string& stdoutPath,
                            const std::string& stderrPath, const std::string& cwd, bool withoutFileOverride,
                            pid_t endsWith, char* const* argv, char* const* envp) {
    // Only async-signal-safe calls between fork and exec.
    const int in = ::open(stdinPath.c_str(), O_RDONLY);
    const int out = ::open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) {
        ::_exit(126);
    }
    if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) {
        ::_exit(126);
    }
    if (endsWith > 0 && (::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0) != 0 || ::getppid() != endsWith)) {
        ::_exit(126);  // the test is already gone
    }
    if (withoutFileOverride) {
        for (const int cap : kFileOverrideCaps) {
            ::prctl(PR_CAPBSET_DROP, cap, 0, 0, 0);
        }
    }
    ::execve(argv[0], argv, envp);
    ::_exit(127);
}

}  // namespace

WithoutFileOverride::WithoutFileOverride() {
    __user_cap_data_struct data[2] = {};
    if (::geteuid() != 0 || !ThreadCaps(data, false)) {
        return;
    }
    m_savedEffective[0] = data[0].effective;
    m_savedEffective[1] = data[1].effective;
    for (const int cap : kFileOverrideCaps) {
        data[cap / 32].effective &= ~(1u << (cap % 32));
    }
    m_changed = ThreadCaps(data, true);
}

WithoutFileOverride::~WithoutFileOverride() {
    __user_cap_data_struct data[2] = {};
    if (m_changed && ThreadCaps(data, false)) {
        data[0].effective = m_savedEffective[0];
        data[1].effective = m_savedEffective[1];
        ThreadCaps(data, true);
    }
}

ChildProcess::ChildProcess(Options options)
    : m_stdoutPath(m_io.path() + "/stdout"), m_stderrPath(m_io.path() + "/stderr") {
    const std::string stdinPath = m_io.path() + "/stdin";
    WriteFile(stdinPath, options.stdinText);

    std::vector<char*> argv;
    for (auto& arg : options.argv) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> envStrings;
    for (const auto& [name, value] : options.env) {
        envStrings.push_back(name + "=" + value);
    }
    std::vector<char*> envp;
    for (auto& entry : envStrings) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    const pid_t self = options.endsWithTest ? ::getpid() : 0;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ExecChild(stdinPath, m_stdoutPath, m_stderrPath, options.cwd, options.withoutFileOverride, self, argv.data(),
                  envp.data());
    }
    m_pid = pid;
}

ChildProcess::~ChildProcess() {
    if (m_pid > 0 && !m_exitCode) {
        ::kill(m_pid, SIGKILL);
        Wait(10s);
    }
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds deadline) {
    if (m_pid <= 0 || m_exitCode) {
        return m_exitCode;
    }
    WaitFor(
        [&] {
            int status = 0;
            const pid_t done = ::waitpid(m_pid, &status, WNOHANG);
            if (done == m_pid) {
                m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            } else if (done < 0) {
                m_exitCode = -1;
            }
            return m_exitCode.has_value();
        },
        deadline);
    return m_exitCode;
}

bool ChildProcess::Running() { return m_pid > 0 && !Wait(0ms); }

void ChildProcess::Signal(int signal) {
    if (m_pid > 0 && !m_exitCode) {
        ::kill(m_pid, signal);
    }
}

}  // namespace testing_support
