// Starting and waiting for real programs the way the game is started.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <sstream>

#include "ChildProcess.h"
#include "TempHome.h"
#include "platform/Process.h"

using namespace testing_support;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// One "Name:\tvalue" line of /proc/<pid>/status.
std::string StatusField(int pid, const std::string& name) {
    std::istringstream status(ReadFile("/proc/" + std::to_string(pid) + "/status"));
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(name + ":\t", 0) == 0) {
            return line.substr(name.size() + 2);
        }
    }
    return {};
}

}  // namespace

TEST(ProcessStart, TheChildStartsCleanInItsOwnSessionAndFolder) {
    TempDir folder;
    // State of the launcher that must not reach the game: a descriptor without close-on-exec,
    // blocked close signals (the windowless launcher blocks them), an ignored signal.
    const int leaked = ::open(folder.path().c_str(), O_RDONLY);
    ASSERT_GE(leaked, 3);
    sigset_t closeSignals;
    sigemptyset(&closeSignals);
    sigaddset(&closeSignals, SIGTERM);
    sigset_t saved;
    pthread_sigmask(SIG_BLOCK, &closeSignals, &saved);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction previous {};
    sigaction(SIGPIPE, &ignore, &previous);

    const auto child = platform::StartProcess({"/bin/sleep", {"sleep", "60"}, folder.path()});

    sigaction(SIGPIPE, &previous, nullptr);
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    ::close(leaked);
    ASSERT_TRUE(child) << child.error;

    // The start returns once the program runs, so its folder and signal state are already its own.
    const std::string proc = "/proc/" + std::to_string(child.pid);
    EXPECT_EQ(fs::read_symlink(proc + "/cwd").string(), folder.path());
    // The program's own start-up (the loader, the locale) opens and closes files of its own for a
    // moment; a descriptor handed down by the start would stay.
    std::set<std::string> fds;
    WaitFor([&] {
        fds.clear();
        for (const auto& entry : fs::directory_iterator(proc + "/fd")) {
            fds.insert(entry.path().filename().string());
        }
        return fds == std::set<std::string>{"0", "1", "2"};
    }, 5s);
    EXPECT_EQ(fds, (std::set<std::string>{"0", "1", "2"}));
    EXPECT_EQ(fs::read_symlink(proc + "/fd/0").string(), "/dev/null");
    EXPECT_EQ(StatusField(child.pid, "SigBlk"), "0000000000000000");
    // Nothing ignored among the ordinary signals; glibc keeps its own two internal ones ignored.
    EXPECT_EQ(std::stoull(StatusField(child.pid, "SigIgn"), nullptr, 16) & 0x7FFFFFFFull, 0u);
    EXPECT_EQ(StatusField(child.pid, "NSsid"), std::to_string(child.pid));  // a session of its own

    ::kill(child.pid, SIGTERM);  // delivered: neither blocked nor ignored in the child
    EXPECT_EQ(platform::WaitForProcess(child.pid), 128 + SIGTERM);
}

TEST(ProcessStart, ArgumentsArriveWholeAndTheWaitGivesTheExitCode) {
    TempDir folder;
    const std::string odd = "a b \"c\" $HOME\n" + std::string(5000, 'x');
    const auto started =
        platform::StartProcess({"/bin/sh", {"/any/name", "-c", "printf '%s|' \"$0\" \"$1\" > out; exit 7", "zero", odd},
                                folder.path()});
    ASSERT_TRUE(started);
    EXPECT_EQ(platform::WaitForProcess(started.pid), 7);
    EXPECT_EQ(ReadFile(folder.path() + "/out"), "zero|" + odd + "|");

    const auto killed = platform::StartProcess({"/bin/sh", {"sh", "-c", "kill -9 $$"}, {}});
    ASSERT_TRUE(killed);
    EXPECT_EQ(platform::WaitForProcess(killed.pid), 128 + SIGKILL);
    EXPECT_EQ(platform::WaitForProcess(killed.pid), -1);  // reaped already
}

TEST(ProcessStart, WhatCannotStartGivesTheWindowsErrorNumber) {
    TempDir folder;
    const auto missing = platform::StartProcess({folder.path() + "/zavo.exe", {"zavo.exe"}, folder.path()});
    EXPECT_FALSE(missing);
    EXPECT_EQ(missing.error, 2u);

    WriteFile(folder.path() + "/plain.txt", "not a program");
    const auto notRunnable = platform::StartProcess({folder.path() + "/plain.txt", {"plain.txt"}, {}});
    EXPECT_FALSE(notRunnable);
    EXPECT_EQ(notRunnable.error, 5u);

    const auto noFolder = platform::StartProcess({"/bin/sh", {"sh", "-c", "true"}, folder.path() + "/gone"});
    EXPECT_FALSE(noFolder);
    EXPECT_EQ(noFolder.error, 2u);
}
