// The log on either system: lines as they reach the file, each line feed as the system's line
// end (CR LF on Windows).

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>

#include "ChildProcess.h"
#endif
#include "TempHome.h"
#include "core/Logger.h"
#include "platform/Paths.h"

using namespace testing_support;

namespace {

std::tm FixedClock() {
    std::tm t{};
    t.tm_year = 2025 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 8;
    t.tm_wday = 1;
    t.tm_hour = 9;
    t.tm_min = 5;
    t.tm_sec = 3;
    return t;
}

const std::string kEnd(platform::kTextLineEnd);

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find(kEnd, start), text.size());
        lines.push_back(text.substr(start, end - start));
        start = end + kEnd.size();
    }
    return lines;
}

}  // namespace

TEST(Logger, LineBytesForAFixedClock) {
    TempDir dir;
    const std::string path = dir.path() + "/launcher.log";
    {
        Logger log(path, &FixedClock);
        log.Write("Laucher Start", "CWebApp::InitInstance", 131, "INFO");
        log.Write("", "CWebDlg::Close", 7, "ERROR");
        log.Write("创建数据目录失败,错误id:5 and after", "CWebApp::InitApplication", 42, "ERROR");
    }
    EXPECT_EQ(ReadFile(path),
              "[Mon Dec 08 09:05:03 2025][INFO][CWebApp::InitInstance::131] Laucher Start" + kEnd +
                  "[Mon Dec 08 09:05:03 2025][ERROR][CWebDlg::Close::7] " + kEnd +
                  "[Mon Dec 08 09:05:03 2025][ERROR][CWebApp::InitApplication::42] 创建数据目录失败,错误id:5 and after" +
                  kEnd);
}

// A message of several lines (a server's error body, a page's stack) reads as lines on the
// system, and the 4 KiB cut counts each line end by the bytes it takes in the file.
TEST(Logger, AMessagesOwnLineFeedsReachTheFileAsTheSystemsLineEnd) {
    EXPECT_EQ(Logger::FormatLine(FixedClock(), "ERROR", "F::f", 1, "first\nsecond"),
              "[Mon Dec 08 09:05:03 2025][ERROR][F::f::1] first" + kEnd + "second" + kEnd);

    std::string cut = Logger::FormatLine(FixedClock(), "ERROR", "F::f", 1, std::string(Logger::kMaxLineBytes, '\n'));
    EXPECT_LE(cut.size(), Logger::kMaxLineBytes);
    EXPECT_GT(cut.size(), Logger::kMaxLineBytes - kEnd.size());  // as many whole line ends as fit
    EXPECT_TRUE(cut.ends_with(" bytes]" + kEnd));
    for (auto at = cut.find(kEnd); at != std::string::npos; at = cut.find(kEnd, at)) {
        cut.erase(at, kEnd.size());
    }
    EXPECT_EQ(cut.find('\n'), std::string::npos);  // never half a line end
}

TEST(Logger, TimeTextIsCtimeShapedWithEnglishNames) {
    std::tm t = FixedClock();
    t.tm_mday = 28;
    t.tm_mon = 0;
    t.tm_wday = 3;
    t.tm_hour = 23;
    EXPECT_EQ(Logger::FormatTime(t), "Wed Jan 28 23:05:03 2025");
    EXPECT_EQ(Logger::FormatTime(Logger::SystemLocalTime()).size(), 24u);
}

TEST(Logger, EachOpeningKeepsExactlyThePreviousRunAsDotOne) {
    TempDir dir;
    const std::string path = dir.path() + "/launcher.log";
    for (const char* run : {"first run", "second run", "third run"}) {
        Logger log(path, &FixedClock);
        log.Write(run, "F::f", 1, "INFO");
    }
    EXPECT_EQ(ReadFile(path), "[Mon Dec 08 09:05:03 2025][INFO][F::f::1] third run" + kEnd);
    EXPECT_EQ(ReadFile(path + ".1"), "[Mon Dec 08 09:05:03 2025][INFO][F::f::1] second run" + kEnd);
    EXPECT_FALSE(std::filesystem::exists(path + ".new"));
}

TEST(Logger, ASecondLoggerOnAFileInUseTouchesNeitherFileAndDropsItsLines) {
    TempDir dir;
    const std::string path = dir.path() + "/launcher.log";
    Logger(path, &FixedClock).Write("previous run", "F::f", 1, "INFO");
    Logger running(path, &FixedClock);
    running.Write("running", "F::f", 1, "INFO");
    const std::string kept = ReadFile(path + ".1");
    Logger latecomer(path, &FixedClock);
    EXPECT_FALSE(latecomer.IsOpen());
    latecomer.Write("late", "F::f", 2, "INFO");
    running.Write("still running", "F::f", 3, "INFO");
    EXPECT_EQ(Lines(ReadFile(path)).size(), 2u);
    EXPECT_EQ(ReadFile(path).find("late"), std::string::npos);
    EXPECT_EQ(ReadFile(path + ".1"), kept);
    EXPECT_NE(kept.find("previous run"), std::string::npos);
}

// What a page calling JavascriptToCsharp in a loop with a huge text would do to the disk.
TEST(Logger, AFloodStopsEachLineAt4KiBOnACharacterAndTheRunAt32MiB) {
    TempDir dir;
    const std::string path = dir.path() + "/launcher.log";
    Logger log(path, &FixedClock);
    std::string huge = "x";
    while (huge.size() < (7u << 20)) {
        huge += "启动器";  // three bytes each: a cut lands inside one unless it backs off
    }
    log.Write(huge, "F::f", 9, "INFO");
    const std::string first = ReadFile(path);
    const std::string header = "[Mon Dec 08 09:05:03 2025][INFO][F::f::9] ";
    const std::string marker = "...[cut, " + std::to_string(huge.size()) + " bytes]" + kEnd;
    ASSERT_TRUE(first.starts_with(header) && first.ends_with(marker)) << first.substr(0, 80);
    EXPECT_GE(first.size(), Logger::kMaxLineBytes - 2);  // as much as fits...
    EXPECT_LE(first.size(), Logger::kMaxLineBytes);
    const std::size_t kept = first.size() - header.size() - marker.size();
    EXPECT_EQ(first.substr(header.size(), kept), huge.substr(0, kept));
    EXPECT_EQ((kept - 1) % 3, 0u);  // ...of whole characters

    const std::string line(1000, 'y');
    for (int i = 0; i < 40000; ++i) {
        log.Write(line, "Flood::Write", i, "INFO");
    }
    log.Write("after", "F::f", 1, "ERROR");
    const std::string text = ReadFile(path);
    EXPECT_LE(text.size(), Logger::kMaxRunBytes);
    EXPECT_GT(text.size(), Logger::kMaxRunBytes - 2048);
    const auto lines = Lines(text);
    EXPECT_EQ(lines[lines.size() - 2], "[Mon Dec 08 09:05:03 2025][INFO][Flood::Write::" +
                                           std::to_string(lines.size() - 3) + "] " + line);
    EXPECT_TRUE(lines.back().starts_with("[Mon Dec 08 09:05:03 2025][ERROR][Logger::Write::")) << lines.back();
    EXPECT_NE(lines.back().find("] the log is full"), std::string::npos) << lines.back();
}

TEST(Logger, AfterCloseWritesFromAnyThreadAreDropped) {
    TempDir dir;
    const std::string path = dir.path() + "/launcher.log";
    Logger log(path, &FixedClock);
    log.Write("before", "F::f", 1, "INFO");
    log.Close();
    std::thread other([&] { log.Write("from another thread", "F::f", 2, "INFO"); });
    other.join();
    log.Write("after", "F::f", 3, "INFO");
    log.Close();
    EXPECT_EQ(Lines(ReadFile(path)).size(), 1u);
}

TEST(Logger, ConcurrentWritersNeverInterleaveInsideALine) {
    TempDir dir;
    const std::string path = dir.path() + "/launcher.log";
    constexpr int kThreads = 8;
    constexpr int kLines = 1500;
    {
        Logger log(path, &FixedClock);
        std::vector<std::thread> writers;
        for (int t = 0; t < kThreads; ++t) {
            writers.emplace_back([&log, t] {
                const std::string body(200 + t * 37, static_cast<char>('a' + t));
                for (int i = 0; i < kLines; ++i) {
                    log.Write(body, "Writer::Run", t, "INFO");
                }
            });
        }
        for (auto& w : writers) {
            w.join();
        }
    }
    const auto lines = Lines(ReadFile(path));
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
    const std::regex prefix(R"(\[Mon Dec 08 09:05:03 2025\]\[INFO\]\[Writer::Run::(\d)\] )");
    std::vector<int> perThread(kThreads, 0);
    for (const auto& line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_search(line, m, prefix, std::regex_constants::match_continuous)) << line.substr(0, 80);
        const int t = std::stoi(m[1]);
        const std::string body = m.suffix();
        ASSERT_EQ(body, std::string(200 + t * 37, static_cast<char>('a' + t)));
        ++perThread[t];
    }
    EXPECT_EQ(perThread, std::vector<int>(kThreads, kLines));
}

// Windows lets a folder's read-only mark stand in the way of no new file.
#ifndef _WIN32
TEST(Logger, AReadOnlyFolderMeansNoLogAndNoFailure) {
    TempDir dir;
    ::chmod(dir.path().c_str(), 0555);
    WithoutFileOverride obeyPermissions;
    Logger log(dir.path() + "/launcher.log", &FixedClock);
    EXPECT_FALSE(log.IsOpen());
    log.Write("nowhere", "F::f", 1, "INFO");
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "/launcher.log"));
}
#endif

TEST(Logger, ARedirectedInstanceTakesTheProcessLinesUntilReleased) {
    TempDir dir;
    Logger mine(dir.path() + "/mine.log", &FixedClock);
    Logger::Redirect(&mine);
    LOG_INFO("CWebApp::InitInstance", "Laucher Start");
    LOG_ERROR("CWebApp::IsGameRunning", "get snapshot error");
    Logger::Redirect(nullptr);
    LOG_INFO("Elsewhere::f", "not mine");
    const auto lines = Lines(ReadFile(dir.path() + "/mine.log"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("[Mon Dec 08 09:05:03 2025][INFO][CWebApp::InitInstance::", 0), 0u);
    EXPECT_TRUE(lines[0].ends_with("] Laucher Start"));
    EXPECT_EQ(lines[1].rfind("[Mon Dec 08 09:05:03 2025][ERROR][CWebApp::IsGameRunning::", 0), 0u);
    EXPECT_NE(&Logger::GetInstance(), &mine);
}
