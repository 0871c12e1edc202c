#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include <fmt/printf.h>

#include "TempHome.h"
#include "core/CrashDumpFilter.h"
#include "core/CrashDumpName.h"
#include "platform/posix/MinidumpWriter.h"

using namespace testing_support;

namespace {

// Sets TZ for one test and puts the old value back.
class ZoneOverride {
public:
    explicit ZoneOverride(const char* zone) {
        if (const char* old = std::getenv("TZ")) {
            m_old = old;
        }
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ZoneOverride() {
        if (m_old) {
            ::setenv("TZ", m_old->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }

private:
    std::optional<std::string> m_old;
};

std::string NameAt(std::int64_t utc, const UtcOffsets& offsets) {
    char name[128];
    EXPECT_TRUE(FormatDumpFileName(name, sizeof(name), "/d/Valdrune", CivilFromSeconds(utc + offsets.At(utc))));
    return name;
}

}  // namespace

TEST(CrashDumpName, CalendarConversionAgreesWithTheCLibraryAcrossCenturies) {
    // Leap days of 2000 and 2024, the missing one of 2100, times before 1970, far future.
    std::vector<std::int64_t> times = {0, -1, 951782400, 951868799, 1709164800, 4107542400, 4107628800, -2208988800};
    for (std::int64_t t = -3'000'000'000; t < 13'000'000'000; t += 7'777'777) {
        times.push_back(t);
    }
    for (const std::int64_t t : times) {
        const auto clock = static_cast<std::time_t>(t);
        std::tm expected{};
        ASSERT_NE(::gmtime_r(&clock, &expected), nullptr);
        const CivilTime civil = CivilFromSeconds(t);
        ASSERT_EQ(civil.year, expected.tm_year + 1900) << t;
        ASSERT_EQ(civil.month, expected.tm_mon + 1) << t;
        ASSERT_EQ(civil.day, expected.tm_mday) << t;
        ASSERT_EQ(civil.hour, expected.tm_hour) << t;
        ASSERT_EQ(civil.minute, expected.tm_min) << t;
        ASSERT_EQ(civil.second, expected.tm_sec) << t;
    }
}

TEST(CrashDumpName, TheNameIsTheSystemFormatAndNeverOverrunsItsBuffer) {
    const std::string prefix = "/home/p/.local/share/zavo-drevoline/Valdrune";
    for (const CivilTime time : {CivilTime{2025, 12, 8, 9, 5, 3}, CivilTime{987, 1, 1, 0, 0, 0},
                                 CivilTime{12345, 10, 31, 23, 59, 59}}) {
        const std::string expected = fmt::sprintf("%s_%0.4d_%0.2d_%0.2d_%0.2d_%0.2d_%0.2d.dmp", prefix, time.year,
                                                  time.month, time.day, time.hour, time.minute, time.second);
        char name[256];
        ASSERT_TRUE(FormatDumpFileName(name, sizeof(name), prefix.c_str(), time));
        EXPECT_EQ(name, expected);

        // Exactly room for the name and its terminator, then one byte less.
        std::vector<char> exact(expected.size() + 1, 'x');
        EXPECT_TRUE(FormatDumpFileName(exact.data(), exact.size(), prefix.c_str(), time));
        EXPECT_EQ(std::string(exact.data()), expected);
        std::vector<char> tight(expected.size() + 1, 'x');
        EXPECT_FALSE(FormatDumpFileName(tight.data(), tight.size() - 1, prefix.c_str(), time));
        EXPECT_EQ(tight[0], '\0');
        EXPECT_EQ(tight.back(), 'x');
    }
}

TEST(CrashDumpName, LocalTimeFollowsDaylightSavingChangesPreparedInAdvance) {
    // Central Europe (changes at 01:00 UTC) and the US east coast (behind UTC, other dates).
    for (const char* zone : {"CET-1CEST,M3.5.0,M10.5.0/3", "EST5EDT,M3.2.0,M11.1.0"}) {
        SCOPED_TRACE(zone);
        const ZoneOverride override(zone);
        UtcOffsets offsets;
        const std::int64_t from = 1767225600;  // 2026-01-01 00:00 UTC
        offsets.Prepare(from);
        for (std::int64_t t = from; t < from + UtcOffsets::kStretch; t += 37 * 60 + 11) {
            const auto clock = static_cast<std::time_t>(t);
            std::tm local{};
            ::localtime_r(&clock, &local);
            ASSERT_EQ(offsets.At(t), local.tm_gmtoff) << t;
        }
    }

    const ZoneOverride override("CET-1CEST,M3.5.0,M10.5.0/3");
    UtcOffsets offsets;
    offsets.Prepare(1767225600);
    // 07:04:09 local time on 5 March 2026 (winter time, UTC+1).
    EXPECT_EQ(NameAt(1772690649, offsets), "/d/Valdrune_2026_03_05_07_04_09.dmp");
    // The second before and the second of the change to summer time on 29 March 2026.
    EXPECT_EQ(NameAt(1774745999, offsets), "/d/Valdrune_2026_03_29_01_59_59.dmp");
    EXPECT_EQ(NameAt(1774746000, offsets), "/d/Valdrune_2026_03_29_03_00_00.dmp");
}

TEST(MinidumpModules, TheMemoryMapBecomesOneModulePerExecutableFile) {
    const std::string longPath = "/opt/" + std::string(300, 'a') + ".so";
    const std::string maps =
        "55d4a5e3c000-55d4a5e3e000 r--p 00000000 fe:01 1234       /opt/valdrune/valdrune\n"
        "55d4a5e3e000-55d4a5e43000 r-xp 00002000 fe:01 1234       /opt/valdrune/valdrune\n"
        "55d4a5e46000-55d4a5e47000 rw-p 00009000 fe:01 1234       /opt/valdrune/valdrune\n"
        "55d4a6000000-55d4a6021000 rw-p 00000000 00:00 0          [heap]\n"
        "7f0000000000-7f0000100000 r--p 00000000 fe:01 99         /usr/lib/locale/locale-archive\n"
        "7f0000200000-7f0000228000 r--p 00000000 fe:01 77         /usr/lib/x86_64-linux-gnu/libc.so.6\n"
        "7f0000228000-7f00003bd000 r-xp 00028000 fe:01 77         /usr/lib/x86_64-linux-gnu/libc.so.6\n"
        "7f0000419000-7f000041b000 rw-p 00218000 fe:01 77         /usr/lib/x86_64-linux-gnu/libc.so.6\n"
        "7f000041b000-7f0000428000 rw-p 00000000 00:00 0 \n"
        "7f0000430000-7f0000431000 r-xp 00000000 fe:01 78         " + longPath + "\n"
        "not a maps line\n"
        "7f0000500000-7f0000501000 r-xp 00000000 00:05 12         /tmp/my lib.so (deleted)\n"
        "7fff00000000-7fff00021000 rw-p 00000000 00:00 0          [stack]\n"
        "7fff00100000-7fff00102000 r-xp 00000000 00:00 0          [vdso]\n"
        "ffffffffff600000-ffffffffff601000 --xp 00000000 00:00 0  [vsyscall]";  // no final line feed

    TempDir dir;
    WriteFile(dir.path() + "/maps", maps);
    const int fd = ::open((dir.path() + "/maps").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    char buffer[128];  // smaller than the long line: it is cut, the lines after it are whole
    minidump::LineReader lines(fd, buffer, sizeof(buffer));
    minidump::ModuleCollector collector;
    struct Found {
        std::uint64_t base, size;
        std::string path;
    };
    std::vector<Found> modules;
    const char* line = nullptr;
    std::size_t length = 0;
    minidump::ModuleCollector::Module module;
    int parsed = 0;
    while (lines.Next(line, length)) {
        minidump::MapsEntry entry;
        if (!minidump::ParseMapsLine(line, length, entry)) {
            continue;
        }
        ++parsed;
        if (collector.Add(entry, module)) {
            modules.push_back({module.base, module.size, std::string(module.path, module.pathLength)});
        }
    }
    if (collector.Finish(module)) {
        modules.push_back({module.base, module.size, std::string(module.path, module.pathLength)});
    }
    ::close(fd);

    EXPECT_EQ(parsed, 14);  // all but the line that is not one
    ASSERT_EQ(modules.size(), 5u);
    EXPECT_EQ(modules[0].path, "/opt/valdrune/valdrune");
    EXPECT_EQ(modules[0].base, 0x55d4a5e3c000u);
    EXPECT_EQ(modules[0].size, 0x55d4a5e47000u - 0x55d4a5e3c000u);
    EXPECT_EQ(modules[1].path, "/usr/lib/x86_64-linux-gnu/libc.so.6");
    EXPECT_EQ(modules[1].base, 0x7f0000200000u);
    EXPECT_EQ(modules[1].size, 0x21b000u);
    EXPECT_EQ(modules[2].path, longPath.substr(0, modules[2].path.size()));  // cut with its line
    EXPECT_EQ(modules[3].path, "/tmp/my lib.so (deleted)");
    EXPECT_EQ(modules[4].path, "[vdso]");
    EXPECT_EQ(modules[4].size, 0x2000u);
}

TEST(MinidumpText, Utf8BecomesUtf16WithReplacementsAndWithoutSplitPairs) {
    auto convert = [](const std::string& text, std::size_t capacity = 64) {
        std::vector<std::uint16_t> out(capacity);
        out.resize(minidump::Utf8ToUtf16(text.data(), text.size(), out.data(), capacity));
        return out;
    };
    using Units = std::vector<std::uint16_t>;
    EXPECT_EQ(convert("/a/启动器/\xF0\x9F\x98\x80"),
              (Units{'/', 'a', '/', 0x542F, 0x52A8, 0x5668, '/', 0xD83D, 0xDE00}));
    // A stray byte, an overlong '/', an encoded surrogate, a sequence cut at the end.
    EXPECT_EQ(convert("x\xFFy\xC0\xAFz\xED\xA0\x80w\xE5\x90"),
              (Units{'x', 0xFFFD, 'y', 0xFFFD, 0xFFFD, 'z', 0xFFFD, 0xFFFD, 0xFFFD, 'w', 0xFFFD, 0xFFFD}));
    EXPECT_EQ(convert("ab\xF0\x9F\x98\x80", 3), (Units{'a', 'b'}));
}

TEST(CrashDumpFilterInstall, RestoringPutsBackExactlyTheActionsFromBeforeEvenAfterASecondInstall) {
    const int signals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
    struct sigaction original[5];
    for (int i = 0; i < 5; ++i) {
        ::sigaction(signals[i], nullptr, &original[i]);
    }

    // Actions of someone else's: a handler with its own flags and mask, and an ignored signal.
    struct sigaction theirs{};
    theirs.sa_sigaction = [](int, siginfo_t*, void*) {};
    theirs.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&theirs.sa_mask);
    sigaddset(&theirs.sa_mask, SIGUSR1);
    ::sigaction(SIGSEGV, &theirs, nullptr);
    struct sigaction ignore{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGFPE, &ignore, nullptr);

    struct sigaction before[5];
    for (int i = 0; i < 5; ++i) {
        ::sigaction(signals[i], nullptr, &before[i]);
    }

    TempDir dir;
    ASSERT_TRUE(InstallCrashDumpFilter(dir.path() + "/Valdrune"));
    ASSERT_TRUE(InstallCrashDumpFilter(dir.path() + "/Again"));  // start-up installs once; this changes nothing
    for (const int sig : signals) {
        struct sigaction now{};
        ::sigaction(sig, nullptr, &now);
        EXPECT_NE(now.sa_sigaction, theirs.sa_sigaction);
        EXPECT_EQ(now.sa_flags & (SA_SIGINFO | SA_ONSTACK), SA_SIGINFO | SA_ONSTACK) << sig;
        for (const int masked : signals) {
            EXPECT_TRUE(sigismember(&now.sa_mask, masked)) << sig << " leaves " << masked << " open";
        }
    }
    stack_t altStack{};
    ::sigaltstack(nullptr, &altStack);
    EXPECT_EQ(altStack.ss_flags & SS_DISABLE, 0);

    RestoreCrashDumpFilter();
    // The C library adds its own SA_RESTORER flag to every action it hands the kernel.
    constexpr int kRestorerFlag = 0x04000000;
    for (int i = 0; i < 5; ++i) {
        struct sigaction after{};
        ::sigaction(signals[i], nullptr, &after);
        EXPECT_EQ(after.sa_sigaction, before[i].sa_sigaction) << signals[i];
        EXPECT_EQ(after.sa_flags & ~kRestorerFlag, before[i].sa_flags & ~kRestorerFlag) << signals[i];
        // A mask only means something for a handler (the thread sanitizer reports others filled).
        if (before[i].sa_handler != SIG_DFL && before[i].sa_handler != SIG_IGN) {
            for (int s = 1; s < NSIG; ++s) {
                EXPECT_EQ(sigismember(&after.sa_mask, s), sigismember(&before[i].sa_mask, s)) << signals[i];
            }
        }
    }

    // After a restore a new start-up can install again.
    ASSERT_TRUE(InstallCrashDumpFilter(dir.path() + "/Valdrune"));
    RestoreCrashDumpFilter();
    for (int i = 0; i < 5; ++i) {
        ::sigaction(signals[i], &original[i], nullptr);
    }
}
