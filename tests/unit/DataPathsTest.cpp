#include <gtest/gtest.h>

#include <filesystem>

#ifndef _WIN32
#include <sys/stat.h>

#include "ChildProcess.h"
#endif
#include "TempHome.h"
#include "core/DataPaths.h"
#include "core/ProductConstants.h"
#include "platform/Env.h"

using namespace testing_support;
namespace fs = std::filesystem;

TEST(ProductConstants, AddressesAreFormedFromTheOperatorOrigin) {
    using namespace ProductConstants;
    EXPECT_EQ(kRemoteConfigUrl,
              std::string(VALDRUNE_OPERATOR_ORIGIN) + "/api/morvast/ditches/drevoline/client_config_drevoline.php");
    EXPECT_EQ(kInfoReportUrl, std::string(VALDRUNE_OPERATOR_ORIGIN) + "/api/laucher_info.php");
    EXPECT_EQ(kErrorReportUrl, std::string(VALDRUNE_OPERATOR_ORIGIN) + "/api/laucher_error.php");
    EXPECT_NE(std::string_view(VALDRUNE_OPERATOR_ORIGIN).back(), '/');
}

// Linux's names and data home; Windows' are in PlatformContractTest and Win32BackendTest.
#ifndef _WIN32
TEST(DataPaths, EveryDerivedNameJoinsWithOneSlashAndNeverEndsInOne) {
    const std::string data = "/home/p/.local/share/zavo-drevoline";
    const std::string client = DataPaths::ClientDir(data);
    EXPECT_EQ(client, data + "/client");
    EXPECT_EQ(DataPaths::GameVersionFile(client), data + "/client/game_client_version.txt");
    EXPECT_EQ(DataPaths::ResumeRecord(data), data + "/tempdownload.dat");
    EXPECT_EQ(DataPaths::Package(data), data + "/zavo.zip");
    EXPECT_EQ(DataPaths::LauncherCopy(data), data + "/Valdrune");
    EXPECT_EQ(DataPaths::UninstallCommand(data), data + "/Valdrune /uninstall");
    EXPECT_EQ(DataPaths::GameExecutable(client), data + "/client/zavo/zavo.exe");
    EXPECT_EQ(DataPaths::GameWorkingDir(client), data + "/client/zavo");
    EXPECT_EQ(DataPaths::StartMenuFolder("/h/apps"), "/h/apps/Apps/drevoline");
    EXPECT_EQ(DataPaths::DesktopShortcut("/h/Desktop"), "/h/Desktop/Valdrune.desktop");
    EXPECT_EQ(DataPaths::UninstallShortcutName(), "Valdrune-卸载");
    EXPECT_EQ(DataPaths::ShortcutFile("/m", DataPaths::UninstallShortcutName()), "/m/Valdrune-卸载.desktop");
    EXPECT_EQ(DataPaths::LogFile("/opt/v", "valdrune"), "/opt/v/valdrune.log");
    EXPECT_EQ(DataPaths::DumpPrefix(data, "Valdrune"), data + "/Valdrune");
    EXPECT_EQ(DataPaths::MutexName(), "Valdrune");
    EXPECT_EQ(DataPaths::kClassRegistryKey, "zavo-drevoline");
}

TEST(DataPaths, DataFolderLivesBelowTheUsersDataHomeWhateverTheCurrentFolder) {
    TempHome world;
    const auto before = fs::current_path();
    fs::current_path(world.root());
    const DataFolders folders = BuildDataPaths(platform::DataHome());
    fs::current_path(before);
    EXPECT_EQ(folders.dataDir, world.dataDir());
    EXPECT_EQ(folders.clientDir, world.clientDir());

    const DataFolders unknown = BuildDataPaths(std::nullopt);
    EXPECT_EQ(unknown.dataDir, "");
    EXPECT_EQ(CreateDataFolders(unknown), 3u);  // never "/client" at the root
}
#endif

TEST(DataPaths, CreationMakesTheDataFolderFirstThenOnlyWhatIsMissing) {
    TempHome world;
    const DataFolders folders{world.dataDir(), world.clientDir()};
    EXPECT_EQ(CreateDataFolders(folders), 0u);
    EXPECT_TRUE(fs::is_directory(world.clientDir()));

    fs::remove(world.clientDir());
    WriteFile(world.dataDir() + "/keep.txt", "x");
    EXPECT_EQ(CreateDataFolders(folders), 0u);
    EXPECT_TRUE(fs::is_directory(world.clientDir()));
    EXPECT_EQ(ReadFile(world.dataDir() + "/keep.txt"), "x");
}

// Folder permissions as Linux has them.
#ifndef _WIN32
TEST(DataPaths, PresentClientFolderIsEnoughEvenWhenItsParentTurnedReadOnly) {
    TempHome world;
    MakeDirs(world.clientDir());
    ::chmod(world.dataDir().c_str(), 0555);
    WithoutFileOverride obeyPermissions;
    EXPECT_EQ(CreateDataFolders({world.dataDir(), world.clientDir()}), 0u);
}

TEST(DataPaths, RefusedCreationReportsTheCodeAndStopsBeforeTheClientFolder) {
    TempHome world;
    ::chmod(world.dataHome().c_str(), 0555);
    WithoutFileOverride obeyPermissions;
    EXPECT_EQ(CreateDataFolders({world.dataDir(), world.clientDir()}), 5u);
    EXPECT_FALSE(fs::exists(world.dataDir()));

    // A data folder that exists but cannot be entered fails at the client folder.
    ::chmod(world.dataHome().c_str(), 0755);
    MakeDirs(world.dataDir());
    ::chmod(world.dataDir().c_str(), 0600);
    EXPECT_EQ(CreateDataFolders({world.dataDir(), world.clientDir()}), 5u);
}
#endif
