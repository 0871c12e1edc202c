// The Windows launcher without its window, started for real against the operator server on its
// origin port: the player's Ctrl+C, Ctrl+Break or the console's close button closes it in the
// middle of a download as the close button does.

#include <gtest/gtest.h>

#include <windows.h>
// Before the platform headers: it takes back the A/W names windows.h gives the registry calls.
#include "platform/win32/Wide.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "OperatorServer.h"
#include "TempHome.h"
#include "ZipBuilder.h"
#include "core/DataPaths.h"
#include "platform/Env.h"
#include "platform/Registry.h"
#include "platform/win32/CommandLine.h"

using namespace testing_support;
namespace fs = std::filesystem;
using platform::win32::Narrow;
using platform::win32::Widen;

namespace {

// The launcher started from a console: attached to the test's console, its output in files.
class LauncherRun {
public:
    LauncherRun(const std::string& exe, const std::string& outputFolder)
        : m_stdout(outputFolder + "\\stdout.txt"), m_stderr(outputFolder + "\\stderr.txt") {
        SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
        const auto open = [&](const std::string& path) {
            return platform::win32::Handle(::CreateFileW(Widen(path).c_str(), GENERIC_WRITE,
                                                         FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                                                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        };
        const platform::win32::Handle out = open(m_stdout);
        const platform::win32::Handle err = open(m_stderr);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = out.get();
        startup.hStdError = err.get();
        std::wstring line = platform::win32::CommandLineFor({exe});
        PROCESS_INFORMATION started{};
        if (::CreateProcessW(Widen(exe).c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                             &started)) {
            m_process.reset(started.hProcess);
            ::CloseHandle(started.hThread);
        }
    }
    ~LauncherRun() {
        if (m_process && ::WaitForSingleObject(m_process.get(), 0) == WAIT_TIMEOUT) {
            ::TerminateProcess(m_process.get(), 1);
        }
    }
    LauncherRun(const LauncherRun&) = delete;
    LauncherRun& operator=(const LauncherRun&) = delete;

    HANDLE process() const { return m_process.get(); }
    std::string Stdout() const { return ReadFile(m_stdout); }
    std::string Stderr() const { return ReadFile(m_stderr); }

    // The exit code, or -1 when it still runs after 30 s.
    long Wait() const {
        DWORD code = 0;
        if (::WaitForSingleObject(m_process.get(), 30000) != WAIT_OBJECT_0 ||
            !::GetExitCodeProcess(m_process.get(), &code)) {
            return -1;
        }
        return static_cast<long>(code);
    }

private:
    std::string m_stdout;
    std::string m_stderr;
    platform::win32::Handle m_process;
};

// The console the launcher runs in, shared with this test. Started from ctest, the test has
// none Wine can send an event through (the send fails with 12); one of its own has. This test
// takes the player's Ctrl+C too, without ending.
BOOL WINAPI IgnoreControl(DWORD) { return TRUE; }

bool OwnConsole() {
    static const bool console = [] {
        ::FreeConsole();
        return ::AllocConsole() && ::SetConsoleCtrlHandler(&IgnoreControl, TRUE);
    }();
    return console;
}

// The player's Ctrl+C: every process attached to the console gets it.
bool PressCtrlC() { return ::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) != FALSE; }

// Windows delivers every console event by starting a thread of the process at kernelbase's
// CtrlRoutine with the event as its argument. Wine's console sends only Ctrl+C (Ctrl+Break
// fails with 6) and has no close button here, so the test delivers those two just so.
bool RaiseConsoleEvent(HANDLE process, DWORD event) {
    const auto routine = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernelbase.dll"), "CtrlRoutine")));
    if (routine == nullptr) {
        return false;
    }
    const platform::win32::Handle thread(::CreateRemoteThread(
        process, nullptr, 0, routine, reinterpret_cast<void*>(static_cast<ULONG_PTR>(event)), 0, nullptr));
    return static_cast<bool>(thread);
}

// The built launcher, as Windows names the Linux path it was built at (Wine's drive Z:).
std::string BuiltLauncher() {
    std::string path = "Z:" VALDRUNE_EXE;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

class ConsoleLauncher : public ::testing::Test {
protected:
    // The data folder is C:\zavo-drevoline in the build's Wine prefix: each run starts without one.
    void SetUp() override {
        ASSERT_TRUE(OwnConsole());
        fs::remove_all(Widen(kDataDir));
    }
    void TearDown() override {
        fs::remove_all(Widen(kDataDir));
        // What an install leaves outside the data folder, for the prefix's next test.
        platform::RegDeleteKey(platform::RegistryHive::CurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\zavo");
        if (const auto desktop = platform::DesktopDir()) {
            fs::remove(Widen(DataPaths::DesktopShortcut(*desktop)));
        }
        if (const auto startMenu = platform::StartMenuDir()) {
            fs::remove_all(Widen(DataPaths::StartMenuFolder(*startMenu)));
        }
    }

    static constexpr const char* kDataDir = "C:\\zavo-drevoline";
    TempDir app;
    std::string exe = app.path() + "\\Valdrune.exe";
    std::string log = app.path() + "\\Valdrune.log";
};

TEST_F(ConsoleLauncher, CtrlCCtrlBreakOrClosingTheConsoleClosesItMidDownloadAsTheCloseButtonDoes) {
    fs::copy_file(BuiltLauncher(), exe);
    OperatorServer server(OperatorServer::OriginPort());
    const std::string package(2 << 20, 'p');
    WriteFile(server.FilesDir() + "\\zavo.zip", package);
    server.SetConfig("EntryUrl=" + server.Url("/www/login.html") +
                     "\nClientVersion=1.0.0.1\nClientMiniUpdateVersion=1.0.0.1\nClientDownloadUrl=" +
                     server.PackageUrl() + "\nClient32DownloadUrl=" + server.PackageUrl() + "\n");
    const std::size_t half = package.size() / 2;
    server.SetRule("/files/zavo.zip", "stall-after=" + std::to_string(half));

    const struct {
        const char* name;
        std::function<bool(HANDLE)> press;
    } closes[] = {
        {"Ctrl+C", [](HANDLE) { return PressCtrlC(); }},
        {"Ctrl+Break", [](HANDLE process) { return RaiseConsoleEvent(process, CTRL_BREAK_EVENT); }},
        {"the console's close button", [](HANDLE process) { return RaiseConsoleEvent(process, CTRL_CLOSE_EVENT); }},
    };
    for (const auto& close : closes) {
        SCOPED_TRACE(close.name);
        fs::remove_all(Widen(kDataDir));
        fs::remove(log);
        TempDir output;
        LauncherRun launcher(exe, output.path());
        ASSERT_NE(launcher.process(), nullptr);
        // The first status line: the configuration is in and the download on its way.
        ASSERT_TRUE(WaitFor([&] {
            return launcher.Stdout().find("page: " + server.Url("/www/login.html")) != std::string::npos;
        })) << launcher.Stdout() << launcher.Stderr();

        ASSERT_TRUE(close.press(launcher.process()));
        EXPECT_EQ(launcher.Wait(), 0) << launcher.Stdout() << launcher.Stderr();
        EXPECT_EQ(launcher.Stderr(), "");
        const std::string text = ReadFile(log);
        const auto stop = text.find("[INFO][CWebDlg::Close::");
        ASSERT_NE(stop, std::string::npos) << text;
        EXPECT_NE(text.find("] Laucher Stop", stop), std::string::npos) << text;
        // The next start resumes where this one stopped.
        const std::string record = ReadFile(std::string(kDataDir) + "\\tempdownload.dat");
        EXPECT_NE(record.find("offset="), std::string::npos) << record;
    }
}

TEST_F(ConsoleLauncher, AFirstStartInstallsTheClientRegistersItAndReportsToTheOperator) {
    fs::copy_file(BuiltLauncher(), exe);
    OperatorServer server(OperatorServer::OriginPort());
    WriteFile(server.FilesDir() + "\\zavo.zip", GamePackage().Bytes());
    server.SetConfig("EntryUrl=" + server.Url("/www/login.html") +
                     "\nClientVersion=1.0.0.1\nClientMiniUpdateVersion=1.0.0.1\nClientDownloadUrl=" +
                     server.PackageUrl() + "\nClient32DownloadUrl=" + server.PackageUrl() + "\n");
    TempDir output;
    LauncherRun launcher(exe, output.path());
    ASSERT_NE(launcher.process(), nullptr);
    ASSERT_TRUE(WaitFor([&] { return launcher.Stdout().find("更新已完成") != std::string::npos; }))
        << launcher.Stdout() << launcher.Stderr();
    ASSERT_TRUE(PressCtrlC());
    EXPECT_EQ(launcher.Wait(), 0) << launcher.Stdout() << launcher.Stderr();

    const std::string data = kDataDir;
    EXPECT_EQ(ReadFile(data + "\\client\\zavo\\zavo.exe"), SampleGameBytes());
    EXPECT_EQ(ReadFile(data + "\\client\\game_client_version.txt"), "1.0.0.1");
    EXPECT_FALSE(fs::exists(Widen(data + "\\zavo.zip")));
    EXPECT_EQ(ReadFile(DataPaths::LauncherCopy(data)), ReadFile(exe));

    platform::RegistryKey key;
    ASSERT_EQ(platform::RegOpenKeyEx(platform::RegistryHive::CurrentUser,
                                     "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\zavo", key),
              0u);
    platform::RegistryValue value;
    ASSERT_EQ(platform::RegQueryValueEx(key, "UninstallString", value), 0u);
    EXPECT_EQ(value.text, "C:\\zavo-drevoline\\Valdrune.exe /uninstall");
    platform::RegCloseKey(key);

    const auto desktop = platform::DesktopDir();
    const auto startMenu = platform::StartMenuDir();
    ASSERT_TRUE(desktop && startMenu);
    // (The Start menu's two links are not there under Wine yet; the desktop's and the data
    // folder's are.)
    EXPECT_TRUE(fs::exists(Widen(DataPaths::DesktopShortcut(*desktop))));
    EXPECT_TRUE(fs::exists(Widen(DataPaths::ShortcutFile(data, DataPaths::UninstallShortcutName()))));

    // The start went to the operator as event 1 and "launcher start", over WinINet.
    const auto events = server.ReportQueries("/api/laucher_info.php");
    ASSERT_FALSE(events.empty());
    EXPECT_NE(events[0].find("&ditch_name=drevoline&mac="), std::string::npos) << events[0];
    EXPECT_NE(events[0].find("&ac=create"), std::string::npos) << events[0];
    const auto messages = server.ReportQueries("/api/laucher_error.php");
    ASSERT_FALSE(messages.empty());
    EXPECT_NE(messages[0].find("&error_msg=launcher%20start"), std::string::npos) << messages[0];
}

TEST(LauncherFile, ItsPropertiesNameTheGameAndItAsksForAdministratorRights) {
    const std::wstring path = Widen(BuiltLauncher());
    DWORD unused = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &unused);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(::GetFileVersionInfoW(path.c_str(), 0, size, info.data()));
    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(info.data(), L"\\", &value, &length));
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);  // 1.0
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);  // .0.1
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
    ASSERT_TRUE(::VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", &value, &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(static_cast<const WORD*>(value)[0], 0x0804);  // Chinese (PRC)
    EXPECT_EQ(static_cast<const WORD*>(value)[1], 1200);    // UTF-16
    const auto text = [&](const std::wstring& name) -> std::string {
        const std::wstring key = L"\\StringFileInfo\\080404b0\\" + name;
        void* found = nullptr;
        UINT chars = 0;
        if (!::VerQueryValueW(info.data(), key.c_str(), &found, &chars) || chars == 0) {
            return "(none)";
        }
        return Narrow(static_cast<const wchar_t*>(found));
    };
    EXPECT_EQ(text(L"FileDescription"), "Valdrune");
    EXPECT_EQ(text(L"InternalName"), "Valdrune.exe");
    EXPECT_EQ(text(L"OriginalFilename"), "Valdrune.exe");
    EXPECT_EQ(text(L"ProductName"), "启动器");
    EXPECT_EQ(text(L"FileVersion"), "1.0.0.1");

    const HMODULE image = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(image, nullptr);
    const HRSRC resource = ::FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // the process's manifest
    ASSERT_NE(resource, nullptr);
    const std::string manifest(static_cast<const char*>(::LockResource(::LoadResource(image, resource))),
                               ::SizeofResource(image, resource));
    ::FreeLibrary(image);
    EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"requireAdministrator\""), std::string::npos) << manifest;
    EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos)
        << manifest;
}

}  // namespace
