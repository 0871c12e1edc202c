// Real crashing processes: a helper installs the crash dump filter as start-up does and then
// faults or aborts; the dump it leaves is read back here by walking the minidump format itself.
//
// Sanitizer builds: the helper's __asan_default_options / __tsan_default_options turn the
// runtimes' own handling of the crash signals off, so the filter sees them as in a plain build.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <optional>
#include <regex>
#include <stdexcept>

#include "ChildProcess.h"
#include "Launcher.h"
#include "TempHome.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

// ---- a reader of the format, independent of the writer ----------------------------------------

class MinidumpFile {
public:
    explicit MinidumpFile(std::string bytes) : m_bytes(std::move(bytes)) {}

    std::size_t size() const { return m_bytes.size(); }

    template <typename T>
    T At(std::uint64_t offset) const {
        if (offset + sizeof(T) > m_bytes.size()) {
            throw std::out_of_range("read past the end of the dump at " + std::to_string(offset));
        }
        T value;
        std::memcpy(&value, m_bytes.data() + offset, sizeof(T));
        return value;
    }
    std::string Bytes(std::uint64_t offset, std::uint64_t size) const {
        if (offset + size > m_bytes.size()) {
            throw std::out_of_range("memory range past the end of the dump");
        }
        return m_bytes.substr(offset, size);
    }

    struct Location {
        std::uint32_t size;
        std::uint32_t rva;
    };
    // The directory entry of the one stream of that type; nullopt when there is none.
    std::optional<Location> Stream(std::uint32_t type) const {
        std::optional<Location> found;
        const auto count = At<std::uint32_t>(8);
        const auto directory = At<std::uint32_t>(12);
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint64_t entry = directory + i * 12ull;
            if (At<std::uint32_t>(entry) == type) {
                EXPECT_FALSE(found) << "stream " << type << " twice";
                found = Location{At<std::uint32_t>(entry + 4), At<std::uint32_t>(entry + 8)};
            }
        }
        return found;
    }
    // A length-prefixed UTF-16 string; this test's paths are ASCII.
    std::string String(std::uint32_t rva) const {
        const auto bytes = At<std::uint32_t>(rva);
        std::string text;
        for (std::uint32_t i = 0; i < bytes; i += 2) {
            text += static_cast<char>(At<std::uint16_t>(rva + 4 + i));
        }
        EXPECT_EQ(At<std::uint16_t>(rva + 4 + bytes), 0) << "string not terminated";
        return text;
    }

private:
    std::string m_bytes;
};

struct DumpedThread {
    std::uint32_t id = 0;
    std::uint64_t stackStart = 0;
    std::string stack;
    std::uint32_t contextFlags = 0;
    std::uint64_t rsp = 0;
    std::uint64_t rip = 0;
};

struct DumpedModule {
    std::string name;
    std::uint64_t base = 0;
    std::uint32_t size = 0;
};

struct Dump {
    std::vector<DumpedThread> threads;
    std::vector<DumpedModule> modules;
    std::uint32_t exceptionThread = 0;
    std::uint32_t exceptionCode = 0;
    std::uint32_t exceptionFlags = 0;
    std::uint64_t exceptionAddress = 0;
    std::uint32_t exceptionContextRva = 0;
    std::vector<std::uint32_t> threadContextRvas;

    const DumpedThread* Thread(std::uint32_t id) const {
        for (const auto& t : threads) {
            if (t.id == id) {
                return &t;
            }
        }
        return nullptr;
    }
    const DumpedModule* ModuleAt(std::uint64_t address) const {
        for (const auto& m : modules) {
            if (address >= m.base && address - m.base < m.size) {
                return &m;
            }
        }
        return nullptr;
    }
};

Dump ReadDump(const MinidumpFile& file) {
    Dump dump;
    EXPECT_EQ(file.At<std::uint32_t>(0), 0x504D444Du);  // "MDMP"
    EXPECT_EQ(file.At<std::uint32_t>(4) & 0xFFFF, 0xA793u);

    const auto system = file.Stream(7);
    EXPECT_TRUE(system);
    if (system) {
        EXPECT_EQ(system->size, 56u);
        EXPECT_EQ(file.At<std::uint16_t>(system->rva), 9);  // x86-64
        EXPECT_GE(file.At<std::uint8_t>(system->rva + 6), 1);  // processors
        EXPECT_EQ(file.String(file.At<std::uint32_t>(system->rva + 24)).rfind("Linux ", 0), 0u);
    }

    const auto threads = file.Stream(3);
    EXPECT_TRUE(threads);
    if (threads) {
        const auto count = file.At<std::uint32_t>(threads->rva);
        EXPECT_EQ(threads->size, 4 + 48 * count);
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint64_t entry = threads->rva + 4 + 48ull * i;
            DumpedThread t;
            t.id = file.At<std::uint32_t>(entry);
            t.stackStart = file.At<std::uint64_t>(entry + 24);
            t.stack = file.Bytes(file.At<std::uint32_t>(entry + 36), file.At<std::uint32_t>(entry + 32));
            const auto contextSize = file.At<std::uint32_t>(entry + 40);
            const auto context = file.At<std::uint32_t>(entry + 44);
            EXPECT_EQ(contextSize, 1232u);
            dump.threadContextRvas.push_back(context);
            t.contextFlags = file.At<std::uint32_t>(context + 0x30);
            t.rsp = file.At<std::uint64_t>(context + 0x98);
            t.rip = file.At<std::uint64_t>(context + 0xF8);
            dump.threads.push_back(t);
        }
    }

    const auto modules = file.Stream(4);
    EXPECT_TRUE(modules);
    if (modules) {
        const auto count = file.At<std::uint32_t>(modules->rva);
        EXPECT_EQ(modules->size, 4 + 108 * count);
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint64_t entry = modules->rva + 4 + 108ull * i;
            dump.modules.push_back({file.String(file.At<std::uint32_t>(entry + 20)), file.At<std::uint64_t>(entry),
                                    file.At<std::uint32_t>(entry + 8)});
        }
    }

    const auto exception = file.Stream(6);
    EXPECT_TRUE(exception);
    if (exception) {
        EXPECT_EQ(exception->size, 168u);
        dump.exceptionThread = file.At<std::uint32_t>(exception->rva);
        dump.exceptionCode = file.At<std::uint32_t>(exception->rva + 8);
        dump.exceptionFlags = file.At<std::uint32_t>(exception->rva + 12);
        dump.exceptionAddress = file.At<std::uint64_t>(exception->rva + 24);
        dump.exceptionContextRva = file.At<std::uint32_t>(exception->rva + 164);
    }

    const auto user = file.Stream(0x10001);
    EXPECT_TRUE(user);
    if (user) {
        EXPECT_EQ(user->size, 0u);
    }
    return dump;
}

// ---- running the helper ------------------------------------------------------------------------

constexpr const char* kHelper = CRASH_DUMP_HELPER;
constexpr const char* kStackMarker = "valdrune-crash-stack-marker";
// A zone with a half-hour offset and no daylight saving: a name formed in UTC, or with the
// offset rounded to hours, shows.
constexpr const char* kZone = "IST-5:30";
constexpr std::int64_t kZoneOffset = 5 * 3600 + 30 * 60;

class CrashingHelper : public ::testing::Test {
protected:
    CrashingHelper() { MakeDirs(world.dataDir()); }

    ChildProcess::Options Options(const std::string& how, const std::vector<std::string>& extra = {}) {
        auto env = world.Environment();
        env["TZ"] = kZone;
        std::vector<std::string> argv{kHelper, prefix(), how};
        argv.insert(argv.end(), extra.begin(), extra.end());
        return {argv, env, {}, {}};
    }

    // Runs the helper to its end: its exit code (128 + signal when killed) and what it printed.
    int Run(const std::string& how, const std::vector<std::string>& extra = {}) {
        started = std::time(nullptr);
        ChildProcess helper(Options(how, extra));
        const auto code = helper.Wait();
        ended = std::time(nullptr);
        out = helper.Stdout();
        err = helper.Stderr();
        return code.value_or(-1);
    }

    std::string prefix() const { return world.dataDir() + "/Valdrune"; }

    std::uint32_t PrintedThread() const {
        std::smatch m;
        const bool found = std::regex_search(out, m, std::regex("thread ([0-9]+)"));
        EXPECT_TRUE(found) << out;
        return found ? static_cast<std::uint32_t>(std::stoul(m[1])) : 0;
    }

    // Every file whose name ends in ".dmp" anywhere below the private world.
    std::vector<fs::path> Dumps() const {
        std::vector<fs::path> found;
        for (const auto& entry : fs::recursive_directory_iterator(world.root())) {
            if (entry.path().extension() == ".dmp") {
                found.push_back(entry.path());
            }
        }
        return found;
    }

    // The one dump of the run: its name is the prefix and the local time of the crash.
    MinidumpFile TheDump(const std::string& appName = "Valdrune") {
        const auto dumps = Dumps();
        EXPECT_EQ(dumps.size(), 1u);
        if (dumps.empty()) {
            throw std::runtime_error("no dump");
        }
        const fs::path& path = dumps.front();
        EXPECT_EQ(path.parent_path(), fs::path(world.dataDir()));
        std::smatch m;
        const std::string name = path.filename().string();
        const std::regex pattern(appName + R"(_(\d{4})_(\d{2})_(\d{2})_(\d{2})_(\d{2})_(\d{2})\.dmp)");
        EXPECT_TRUE(std::regex_match(name, m, pattern)) << name;
        if (m.size() == 7) {
            std::tm local{};
            local.tm_year = std::stoi(m[1]) - 1900;
            local.tm_mon = std::stoi(m[2]) - 1;
            local.tm_mday = std::stoi(m[3]);
            local.tm_hour = std::stoi(m[4]);
            local.tm_min = std::stoi(m[5]);
            local.tm_sec = std::stoi(m[6]);
            const std::int64_t utc = ::timegm(&local) - kZoneOffset;
            EXPECT_GE(utc, started) << name;
            EXPECT_LE(utc, ended) << name;
        }
        EXPECT_EQ(fs::status(path).permissions() & (fs::perms::group_all | fs::perms::others_all), fs::perms::none);
        return MinidumpFile(ReadFile(path.string()));
    }

    // The checks every dump of a crash must pass; the crashing thread's record.
    DumpedThread CheckCrash(const Dump& dump, std::uint32_t crashingThread, std::uint32_t signal) {
        EXPECT_EQ(dump.exceptionThread, crashingThread);
        EXPECT_EQ(dump.exceptionCode, signal);
        const DumpedThread* thread = dump.Thread(crashingThread);
        EXPECT_NE(thread, nullptr) << "the crashing thread is not in the thread list";
        if (thread == nullptr) {
            return {};
        }
        EXPECT_EQ(&dump.threads.front(), thread) << "the crashing thread comes first";
        EXPECT_EQ(dump.exceptionContextRva, dump.threadContextRvas.front());
        EXPECT_EQ(thread->contextFlags & 0x0010000F, 0x0010000Fu);  // control, integer, segments, floating point
        EXPECT_LE(thread->stackStart, thread->rsp);
        EXPECT_LT(thread->rsp, thread->stackStart + thread->stack.size()) << "the stack does not cover rsp";

        // Modules are whole files: one that overlaps another was grouped wrongly.
        for (std::size_t i = 0; i < dump.modules.size(); ++i) {
            for (std::size_t j = i + 1; j < dump.modules.size(); ++j) {
                const auto& a = dump.modules[i];
                const auto& b = dump.modules[j];
                EXPECT_TRUE(a.base + a.size <= b.base || b.base + b.size <= a.base) << a.name << " overlaps " << b.name;
            }
        }
        return *thread;
    }

    TempHome world;
    std::time_t started = 0;
    std::time_t ended = 0;
    std::string out;
    std::string err;
};

bool HasModule(const Dump& dump, const std::string& name) {
    for (const auto& m : dump.modules) {
        if (m.name == name) {
            return true;
        }
    }
    return false;
}

}  // namespace

TEST_F(CrashingHelper, ANullWriteOnTheMainThreadLeavesADumpOfThatThreadAndItsStack) {
    EXPECT_EQ(Run("segv-main"), 128 + SIGSEGV) << err;
    const Dump dump = ReadDump(TheDump());
    const DumpedThread crashing = CheckCrash(dump, PrintedThread(), SIGSEGV);

    EXPECT_EQ(dump.exceptionAddress, 0u);  // the null pointer
    EXPECT_EQ(dump.exceptionFlags, static_cast<std::uint32_t>(SEGV_MAPERR));
    const DumpedModule* faulting = dump.ModuleAt(crashing.rip);
    ASSERT_NE(faulting, nullptr) << "no module holds the faulting instruction";
    EXPECT_EQ(fs::path(faulting->name), fs::canonical(kHelper));
    EXPECT_TRUE(HasModule(dump, "[vdso]"));
    EXPECT_NE(crashing.stack.find(kStackMarker), std::string::npos) << "the caller's frame is not in the stack memory";
}

TEST_F(CrashingHelper, ANullWriteOnASecondThreadDumpsThatThreadAndTheWaitingMainThread) {
    EXPECT_EQ(Run("segv-thread"), 128 + SIGSEGV) << err;
    const Dump dump = ReadDump(TheDump());
    const std::uint32_t crashingId = PrintedThread();
    const DumpedThread crashing = CheckCrash(dump, crashingId, SIGSEGV);
    EXPECT_NE(crashing.stack.find(kStackMarker), std::string::npos);

    // The main thread (its id is the process id) waits in join: where it stopped is known.
    ASSERT_GE(dump.threads.size(), 2u);
    const DumpedThread* main = nullptr;
    for (const auto& t : dump.threads) {
        if (t.id != crashingId && (main == nullptr || t.id < main->id)) {
            main = &t;
        }
    }
    ASSERT_NE(main, nullptr);
    EXPECT_NE(main->contextFlags & 0x00100001, 0u);
    EXPECT_LE(main->stackStart, main->rsp);
    EXPECT_LT(main->rsp, main->stackStart + main->stack.size());
    EXPECT_NE(dump.ModuleAt(main->rip), nullptr);
}

TEST_F(CrashingHelper, AnAbortLeavesADumpWithTheSignalAsTheCode) {
    EXPECT_EQ(Run("abort"), 128 + SIGABRT) << err;
    const Dump dump = ReadDump(TheDump());
    const DumpedThread crashing = CheckCrash(dump, PrintedThread(), SIGABRT);
    EXPECT_EQ(dump.exceptionAddress, 0u);  // sent, not a fault: no address
    EXPECT_NE(crashing.stack.find(kStackMarker), std::string::npos);
}

TEST_F(CrashingHelper, AStackOverflowOnALibraryStyleThreadIsDumpedFromTheAlternateStack) {
    EXPECT_EQ(Run("overflow-thread"), 128 + SIGSEGV) << err;
    const Dump dump = ReadDump(TheDump());
    const DumpedThread crashing = CheckCrash(dump, PrintedThread(), SIGSEGV);
    // The faulting address is within a page of the stack pointer: the overflow ran into the guard.
    EXPECT_LT(crashing.rsp - dump.exceptionAddress + 4096, 2 * 4096u)
        << std::hex << crashing.rsp << " " << dump.exceptionAddress;
}

TEST_F(CrashingHelper, WithTheDataFolderGoneTheProcessEndsQuietlyWithoutAFile) {
    EXPECT_EQ(Run("segv-main", {world.dataDir()}), 128 + SIGSEGV);
    EXPECT_FALSE(fs::exists(world.dataDir()));
    EXPECT_TRUE(Dumps().empty());
    EXPECT_EQ(err, "");
}

TEST_F(CrashingHelper, UnderATracerNothingIsWrittenAndTheTracerSeesTheSignal) {
    // A minimal debugger: it passes every signal on, so the filter does run, under a tracer.
    const auto options = Options("segv-main");
    std::vector<std::string> envStrings;
    for (const auto& [name, value] : options.env) {
        envStrings.push_back(name + "=" + value);
    }
    std::vector<char*> argv;
    std::vector<char*> envp;
    auto args = options.argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    for (auto& e : envStrings) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
        const int quiet = ::open("/dev/null", O_WRONLY);
        ::dup2(quiet, 1);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }

    int segvStops = 0;
    int status = 0;
    const bool finished = WaitFor([&] {
        const pid_t done = ::waitpid(child, &status, WNOHANG);
        if (done != child) {
            return done < 0;
        }
        if (WIFSTOPPED(status)) {
            const int sig = WSTOPSIG(status);
            segvStops += sig == SIGSEGV ? 1 : 0;
            ::ptrace(PTRACE_CONT, child, nullptr, sig == SIGTRAP ? 0 : sig);  // SIGTRAP: the stop at exec
            return false;
        }
        return true;
    });
    if (!finished) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
    }
    ASSERT_TRUE(finished);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV) << status;
    EXPECT_GE(segvStops, 1);
    EXPECT_TRUE(Dumps().empty());
}

TEST_F(CrashingHelper, TheLauncherItselfLeavesADumpNamedAfterItInTheDataFolder) {
    const std::string exe = CopyLauncherTo(world.root() + "/app", "Valdrune");
    auto options = LauncherOptions(world, exe);
    options.env["TZ"] = kZone;
    started = std::time(nullptr);
    ChildProcess launcher(options);
    ASSERT_TRUE(WaitFor([&] { return launcher.Stdout().find(kConsoleRunningLine) != std::string::npos; }))
        << launcher.Stderr();
    launcher.Signal(SIGSEGV);
    EXPECT_EQ(launcher.Wait(), 128 + SIGSEGV);
    ended = std::time(nullptr);

    const Dump dump = ReadDump(TheDump("Valdrune"));
    CheckCrash(dump, dump.exceptionThread, SIGSEGV);
    EXPECT_EQ(dump.exceptionAddress, 0u);  // sent by another process: no faulting address
    EXPECT_TRUE(HasModule(dump, fs::canonical(exe).string()));
}
