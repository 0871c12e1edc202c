// The "/uninstall" start of CWebApp. It runs on the main thread before any window or worker
// exists, so the log can be closed at its end without another thread writing to it.

#include <string>

#include "core/CWebApp.h"
#include "core/DataPaths.h"
#include "core/Logger.h"
#include "core/ProductConstants.h"
#include "core/Reports.h"
#include "platform/DelayedDeletion.h"
#include "platform/Env.h"
#include "platform/Executable.h"
#include "platform/FileSystem.h"
#include "platform/MessageBox.h"
#include "platform/Registry.h"
#include "platform/Wine.h"

namespace {

constexpr const char* kUnInstall = "CWebApp::UnInstall";
constexpr const char* kDeleteNotNullDir = "CWebApp::DeleteNotNullDir";

void ShowBox(const char* text) {
    platform::MessageBox(text, std::string(ProductConstants::kGameTitle), platform::kMbIconInformation);
}

void ShowUninstallFailed() { ShowBox("卸载失败,请关闭游戏后重试."); }

// The data folder goes whole only when it is the one this launcher derives from the user's
// data home, and never when it is the home or holds it (an odd XDG_DATA_HOME can arrange that).
bool MayDeleteWhole(const std::string& dataDir) {
    return !dataDir.empty() && dataDir == DataPaths::DataDir(platform::DataHome()) &&
           !platform::IsProtectedFolder(dataDir);
}

// The launcher's icon in the user's icon theme, with the theme folders that then hold nothing.
void RemoveIcons() {
    const auto dataHome = platform::DataHome();
    if (!dataHome) {
        return;
    }
    const std::string theme = DataPaths::IconTheme(*dataHome);
    for (const auto size : DataPaths::kIconThemeSizes) {
        const std::string icon = DataPaths::IconFile(theme, size);
        platform::DeleteFile(icon);
        platform::RemoveDirectory(platform::FolderOf(icon));
        platform::RemoveDirectory(platform::FolderOf(platform::FolderOf(icon)));
    }
    platform::RemoveDirectory(theme);
    platform::RemoveDirectory(platform::FolderOf(theme));
}

// A log that had to live in the user's state folder (the program's folder was read-only) goes
// as the one beside the data folder's copy does. The log is closed by now.
void RemoveStateFolderLog() {
    if (const auto state = platform::StateHome()) {
        CWebApp::DeleteNotNullDir(DataPaths::LogStateFolder(*state));
        platform::RemoveDirectory(*state);
    }
}

}  // namespace

void CWebApp::UnInstall() {
    m_hMutex = platform::NamedMutex::Create(DataPaths::MutexName());
    // The text names the game also when it is another launcher that holds the lock.
    if (m_hMutex.state() == platform::NamedMutex::State::AlreadyExists || IsGameRunning()) {
        ShowBox("游戏正在运行,请关闭游戏后重试");
        return;
    }
    if (platform::AfxMessageBox("确定要卸载吗?", platform::kMbYesNo) != platform::kIdYes) {
        return;
    }

    Reports().Log("game uninstall start");
    LOG_INFO(kUnInstall, "Begin uninstall");
    LOG_INFO(kUnInstall, m_strClientDir);
    if (platform::PathExists(m_strClientDir) && !DeleteNotNullDir(m_strClientDir)) {
        LOG_ERROR(kUnInstall, "unistall error");
        ShowUninstallFailed();
        return;
    }

    // An unknown special folder gives no path: nothing is looked for at the root instead.
    const auto startMenu = platform::StartMenuDir();
    const std::string menuFolder = startMenu ? DataPaths::StartMenuFolder(*startMenu) : std::string();
    LOG_INFO(kUnInstall, menuFolder);
    if (platform::PathExists(menuFolder) && !DeleteNotNullDir(menuFolder)) {
        LOG_ERROR(kUnInstall, "unistall error");
        ShowUninstallFailed();
        return;
    }

    const auto desktop = platform::DesktopDir();
    const std::string shortcut = desktop ? DataPaths::DesktopShortcut(*desktop) : std::string();
    LOG_INFO(kUnInstall, shortcut);
    if (platform::PathExists(shortcut) && platform::DeleteFile(shortcut) != 0) {
        LOG_ERROR(kUnInstall, "unistall error");
        ShowUninstallFailed();  // a shortcut left behind does not stop the uninstall
    }

    RemoveIcons();

    if (m_seams.removeRegistries) {
        m_seams.removeRegistries();
    }
    platform::RemoveRegistryStoreIfEmpty();
    LOG_ERROR(kUnInstall, "unistall succ");  // support staff look for this line at this level
    // The log may lie in the folder about to go; nothing of this run is written to it any more.
    Logger::GetInstance().Close();
    RemoveStateFolderLog();

    if (MayDeleteWhole(m_strDataDir) && m_seams.deleteDataFolderAfterExit) {
        platform::EndWineServer(DataPaths::WinePrefix(m_strDataDir));  // Wine must not keep the prefix's files open
        m_seams.deleteDataFolderAfterExit(m_strDataDir);
    }
    Reports().Log("game unintall success");
}

bool CWebApp::DeleteNotNullDir(const std::string& path) {
    return platform::RemoveFolderTree(path, [](const std::string& folder) { LOG_INFO(kDeleteNotNullDir, folder); });
}
