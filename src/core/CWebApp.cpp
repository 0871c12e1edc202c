#include "core/CWebApp.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include <fmt/printf.h>

#include "core/DataPaths.h"
#include "core/Logger.h"
#include "core/ProductConstants.h"
#include "core/Reports.h"
#include "platform/Env.h"
#include "platform/Executable.h"
#include "platform/MessageBox.h"

std::string g_strDumpPrefix;

namespace {

CWebApp* g_app = nullptr;

template <typename F, typename... Args>
void Call(const F& seam, Args&&... args) {
    if (seam) {
        seam(std::forward<Args>(args)...);
    }
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

void ShowAlreadyRunning() {
    platform::MessageBox("游戏已启动", std::string(ProductConstants::kGameTitle), platform::kMbIconInformation);
}

}  // namespace

CWebApp::CWebApp(std::vector<std::string> argv, Seams seams) : m_argv(std::move(argv)), m_seams(std::move(seams)) {
    g_app = this;
}

CWebApp::~CWebApp() {
    if (g_app == this) {
        g_app = nullptr;
    }
}

CWebApp* CWebApp::Current() { return g_app; }

int CWebApp::Run() {
    if (!InitApplication()) {
        return -1;
    }
    if (const auto code = InitInstance()) {
        return *code;
    }
    return ExitInstance();
}

bool CWebApp::InitApplication() {
    Call(m_seams.applyBrowserEmulation);

    const DataFolders folders = BuildDataPaths(platform::DataHome());
    m_strDataDir = folders.dataDir;
    m_strClientDir = folders.clientDir;
    if (const auto code = CreateDataFolders(folders)) {
        const std::string message = fmt::sprintf("创建数据目录失败,错误id:%d", code);
        Reports().Log(message);
        platform::AfxMessageBox(message, platform::kMbOk);
        return false;
    }

    g_strDumpPrefix = DataPaths::DumpPrefix(m_strDataDir, platform::ApplicationName());
    Call(m_seams.installCrashFilter, g_strDumpPrefix);

    Reports().LogEvent(EventCreate);
    Reports().Log("launcher start");

    LOG_INFO("CWebApp::InitApplication", m_strDataDir);
    LOG_INFO("CWebApp::InitApplication", m_strClientDir);
    return true;
}

std::optional<int> CWebApp::InitInstance() {
    Call(m_seams.createScriptBridge);

    if (IsUninstallSwitch()) {
        UnInstall();
        m_hMutex.Close();
        return 0;
    }

    m_hMutex = platform::NamedMutex::Create(DataPaths::MutexName());
    if (m_hMutex.state() == platform::NamedMutex::State::AlreadyExists) {
        ShowAlreadyRunning();
        return 0;
    }
    if (IsGameRunning()) {
        ShowAlreadyRunning();
        return 0;
    }

    LOG_INFO("CWebApp::InitInstance", "Laucher Start");
    Call(m_seams.runMainWindow, *this);
    return std::nullopt;
}

int CWebApp::ExitInstance() {
    Call(m_seams.destroyScriptBridge);
    Call(m_seams.restoreCrashFilter);
    return 0;
}

bool CWebApp::IsGameRunning() {
    const auto names = m_seams.runningProcesses ? m_seams.runningProcesses() : std::nullopt;
    if (!names) {
        LOG_ERROR("CWebApp::IsGameRunning", "get snapshot error");
        return true;
    }
    return std::ranges::find(*names, DataPaths::kGameProcessName) != names->end();
}

bool CWebApp::IsUninstallSwitch() const {
    // The whole command line after the program name, in any letter case, and nothing else.
    return m_argv.size() == 2 && EqualsIgnoringCase(m_argv[1], "/uninstall");
}
