#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "ChildProcess.h"
#include "TempHome.h"
#include "platform/CrashSignals.h"
#include "platform/posix/CrashContext.h"

using namespace testing_support;
namespace safe = platform::signal_safe;

namespace {

struct ThreadFacts {
    bool altStack = false;
    std::size_t altStackSize = 0;
    bool segvBlocked = true;
    bool usr1Blocked = false;
};

ThreadFacts FactsOfThisThread() {
    ThreadFacts facts;
    stack_t stack{};
    ::sigaltstack(nullptr, &stack);
    facts.altStack = (stack.ss_flags & SS_DISABLE) == 0;
    facts.altStackSize = stack.ss_size;
    sigset_t mask;
    ::pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    facts.segvBlocked = sigismember(&mask, SIGSEGV) == 1;
    facts.usr1Blocked = sigismember(&mask, SIGUSR1) == 1;
    return facts;
}

void* RecordFacts(void* out) {
    *static_cast<ThreadFacts*>(out) = FactsOfThisThread();
    return nullptr;
}

}  // namespace

TEST(CrashSignals, EveryNewThreadGetsAnAlternateStackAndTheFaultSignalsUnblocked) {
    // Started the way GLib starts its helpers: with every signal blocked in the creating thread.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);

    ThreadFacts viaStd;
    std::thread([&] { viaStd = FactsOfThisThread(); }).join();
    ThreadFacts viaPthread;
    pthread_t thread;
    ASSERT_EQ(::pthread_create(&thread, nullptr, &RecordFacts, &viaPthread), 0);
    ::pthread_join(thread, nullptr);
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);

    for (const ThreadFacts& facts : {viaStd, viaPthread}) {
        EXPECT_TRUE(facts.altStack);
        EXPECT_GE(facts.altStackSize, 16 * 1024u);
        EXPECT_FALSE(facts.segvBlocked);
        EXPECT_TRUE(facts.usr1Blocked);  // only the fault signals are opened
    }
}

TEST(CrashSignals, OtherThreadsAreListedWithWhereTheyWait) {
    int wake[2];
    ASSERT_EQ(::pipe(wake), 0);
    std::atomic<std::uintptr_t> local{0};
    std::atomic<std::uint32_t> id{0};
    std::thread waiter([&] {
        char c = 0;
        local = reinterpret_cast<std::uintptr_t>(&c);
        id = safe::ThreadId();
        [[maybe_unused]] const auto n = ::read(wake[0], &c, 1);
    });

    safe::ThreadState states[64];
    const safe::ThreadState* found = nullptr;
    EXPECT_TRUE(WaitFor([&] {
        found = nullptr;
        const std::size_t count = safe::OtherThreads(safe::ThreadId(), states, 64);
        for (std::size_t i = 0; i < count; ++i) {
            EXPECT_NE(states[i].threadId, safe::ThreadId());
            if (id != 0 && states[i].threadId == id && states[i].registersKnown) {
                found = &states[i];
            }
        }
        return found != nullptr;
    }));
    if (found != nullptr) {
        // The waiter sits in read(), a little below its own local variable.
        EXPECT_LT(found->stackPointer, local.load());
        EXPECT_LT(local.load() - found->stackPointer, 64 * 1024u);
        EXPECT_NE(found->instructionPointer, 0u);
    }
    ASSERT_EQ(::write(wake[1], "x", 1), 1);
    waiter.join();
    ::close(wake[0]);
    ::close(wake[1]);
}

TEST(CrashSignals, SignalSafeFilesReplaceOldContentAndNeverFaultOnBadMemory) {
    TempDir dir;
    const std::string path = dir.path() + "/dump";
    WriteFile(path, "an older, longer dump");
    const int fd = safe::CreateReplacing(path.c_str());
    ASSERT_GE(fd, 0);

    // Two pages, the second unreadable: what can be read is written, then the write stops.
    const long page = ::sysconf(_SC_PAGESIZE);
    auto* memory = static_cast<char*>(
        ::mmap(nullptr, 2 * static_cast<std::size_t>(page), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(memory, MAP_FAILED);
    memory[page - 1] = 'p';
    ASSERT_EQ(::mprotect(memory + page, static_cast<std::size_t>(page), PROT_NONE), 0);
    EXPECT_EQ(safe::WriteFromMemory(fd, memory + page - 1, 100), 1u);
    EXPECT_EQ(safe::WriteFromMemory(fd, memory + page, 100), 0u);
    EXPECT_EQ(safe::WriteFromMemory(fd, "new", 3), 3u);
    EXPECT_TRUE(safe::WriteAt(fd, 0, "N", 1));
    safe::Close(fd);
    ::munmap(memory, 2 * static_cast<std::size_t>(page));

    EXPECT_EQ(ReadFile(path), "Nnew");
    EXPECT_EQ(safe::CreateReplacing((dir.path() + "/missing/dump").c_str()), -1);
}
