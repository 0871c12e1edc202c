// Listing and removing folders without ever leaving them through a link, and the removal that
// waits for its trigger.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "ChildProcess.h"
#include "TempHome.h"
#include "platform/DelayedDeletion.h"
#include "platform/ErrorCodes.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"

using namespace testing_support;
using namespace platform;
namespace fs = std::filesystem;

TEST(FolderListing, HiddenEntriesCountLinksAreNeverFoldersAndNeverListed) {
    TempDir dir;
    const std::string root = dir.path() + "/root";
    const std::string outside = dir.path() + "/outside";
    MakeDirs(root + "/sub");
    MakeDirs(outside);
    WriteFile(root + "/.hidden", "h");
    fs::create_directory_symlink(outside, root + "/link");
    fs::create_symlink(root + "/nowhere", root + "/dangling");

    auto entries = ListFolder(root);
    ASSERT_TRUE(entries);
    std::ranges::sort(*entries, {}, &FolderEntry::name);
    EXPECT_EQ(*entries,
              (std::vector<FolderEntry>{{".hidden", false}, {"dangling", false}, {"link", false}, {"sub", true}}));
    EXPECT_TRUE(IsSymbolicLink(root + "/dangling"));
    EXPECT_FALSE(IsSymbolicLink(root + "/sub"));
    EXPECT_EQ(ListFolder(root + "/link"), std::nullopt);  // not even a link to a folder is followed
    EXPECT_EQ(ListFolder(root + "/.hidden"), std::nullopt);
    EXPECT_EQ(ListFolder(root + "/missing"), std::nullopt);

    EXPECT_EQ(RemoveDirectory(root), kErrorDirNotEmpty);
    EXPECT_EQ(RemoveDirectory(root + "/link"), kErrorPathNotFound);
    EXPECT_TRUE(fs::is_directory(outside));
    EXPECT_EQ(RemoveDirectory(root + "/sub"), 0u);
    EXPECT_EQ(RemoveDirectory(root + "/sub"), kErrorPathNotFound);
}

TEST(DelayedDeletion, NeverTheRootTheHomeWhatHoldsItOrAnUnclearPath) {
    TempHome world;
    fs::create_directory_symlink(world.root(), world.root() + "/alias");
    fs::create_directory_symlink("/", world.root() + "/top");
    for (const std::string& path :
         {std::string(), std::string("relative/folder"), std::string("/"), std::string("//"), world.home(),
          world.root(), world.home() + "/", world.dataHome() + "/../..", world.home() + "/.",
          world.home() + "//x", world.root() + "/alias/home", world.root() + "/top"}) {
        EXPECT_TRUE(IsProtectedFolder(path)) << path;
        const auto deletion = DelayedFolderDeletion::Start(path);
        EXPECT_EQ(deletion.error(), kErrorInvalidParameter) << path;
        EXPECT_EQ(deletion.pid(), -1);
    }
    EXPECT_TRUE(fs::is_directory(world.home()));
    EXPECT_FALSE(IsProtectedFolder(world.dataHome() + "/zavo-drevoline"));  // also before it exists
    EXPECT_FALSE(IsProtectedFolder(world.root() + "/alias/runtime"));
}

TEST(DelayedDeletion, TakesExactlyTheNamedFolderOnceReleasedWhateverItsNameHolds) {
    TempHome world;
    // Were the name pasted into the script, the shell would run the touches and cut the name.
    const std::string name = "odd name 'q' \"d\" $(touch ${HOME}.one) `touch ${HOME}.two` ; x";
    const std::string folder = world.root() + "/" + name;
    MakeDirs(folder + "/deep/er");
    WriteFile(folder + "/deep/er/file", "x");
    MakeDirs(world.root() + "/odd name");
    WriteFile(world.root() + "/odd", "sibling");

    auto deletion = DelayedFolderDeletion::Start(folder);
    ASSERT_EQ(deletion.error(), 0u);
    ASSERT_GT(deletion.pid(), 0);
    EXPECT_TRUE(fs::exists(folder));
    deletion.Release();
    EXPECT_EQ(WaitForProcess(deletion.pid()), 0);

    EXPECT_FALSE(fs::exists(folder));
    EXPECT_TRUE(fs::is_directory(world.root() + "/odd name"));
    EXPECT_EQ(ReadFile(world.root() + "/odd"), "sibling");
    EXPECT_FALSE(fs::exists(world.home() + ".one"));
    EXPECT_FALSE(fs::exists(world.home() + ".two"));
}
