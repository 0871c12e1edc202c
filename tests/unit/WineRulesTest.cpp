// What tells a Windows game client apart, which Wine the launcher takes, and the locale Wine's
// programs get.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <filesystem>

#include "TempHome.h"
#include "WineSupport.h"
#include "ZipBuilder.h"
#include "bridge/GameRuntime.h"
#include "platform/Wine.h"

using namespace testing_support;
using Strings = std::vector<std::string>;

TEST(WindowsProgram, OnlyMzWithThePeSignatureWhereItsHeaderPointsCounts) {
    // The first size bytes of "MZ", the pointer at 0x3C (little-endian here), "PE\0\0" at 0x40.
    const auto header = [](std::uint32_t pointer, std::size_t size) {
        std::string bytes = "MZ" + std::string(0x3E, '\0') + std::string("PE\0\0", 4);
        std::memcpy(&bytes[0x3C], &pointer, 4);
        return bytes.substr(0, size);
    };
    EXPECT_TRUE(IsWindowsProgram(WindowsSampleGameBytes()));
    EXPECT_FALSE(IsWindowsProgram(SampleGameBytes()));
    EXPECT_TRUE(IsWindowsProgram(header(0x40, 0x44)));
    EXPECT_FALSE(IsWindowsProgram(header(0x40, 0x43)));  // cut inside the signature
    EXPECT_FALSE(IsWindowsProgram(header(0x41, 0x44)));
    EXPECT_FALSE(IsWindowsProgram(header(0xFFFFFFFE, 0x44)));  // a pointer that would wrap around
    EXPECT_FALSE(IsWindowsProgram(header(0x40, 0x44).replace(0, 2, "ZM")));
    EXPECT_FALSE(IsWindowsProgram("MZ"));
}

TEST(WineEnvironment, AUtf8LocaleOnlyWhereNoneIsInForce) {
    const auto locale = [](const Strings& environment) {
        Strings entries = platform::WineEnvironment(environment, "/p");
        std::erase_if(
            entries, [](const std::string& e) { return e.rfind("LC_", 0) != 0 && e.rfind("LANG=", 0) != 0; });
        return entries;
    };
    EXPECT_EQ(locale({}), Strings{"LC_CTYPE=C.UTF-8"});
    EXPECT_EQ(locale({"LC_ALL=", "LANG=POSIX"}), (Strings{"LC_ALL=", "LANG=POSIX", "LC_CTYPE=C.UTF-8"}));
    EXPECT_EQ(locale({"LC_ALL=C", "LANG=zh_CN.UTF-8"}), (Strings{"LANG=zh_CN.UTF-8", "LC_ALL=C.UTF-8"}));
    EXPECT_EQ(locale({"LANG=C", "LC_CTYPE=zh_CN.UTF-8"}), (Strings{"LANG=C", "LC_CTYPE=zh_CN.UTF-8"}));
}

TEST(WineLoader, ComesFromValdruneWineElseFromTheAbsoluteFoldersOfPathOnly) {
    TempHome world;
    const std::string bin = world.root() + "/bin";
    MakeDirs(bin);
    WriteFile(bin + "/wine", "#!/bin/sh\n");
    ::chmod((bin + "/wine").c_str(), 0755);
    world.Set("VALDRUNE_WINE", std::nullopt);
    world.Set("PATH", "/nowhere:" + bin);
    EXPECT_EQ(platform::FindWineLoader(), bin + "/wine");

    // A "wine" planted in the folder the launcher was started from is never taken.
    const auto before = std::filesystem::current_path();
    std::filesystem::current_path(bin);
    world.Set("PATH", ":.");
    EXPECT_EQ(platform::FindWineLoader(), std::nullopt);
    std::filesystem::current_path(before);

    world.Set("VALDRUNE_WINE", bin + "/wine-gone");  // a wrong choice is no Wine, not another one
    world.Set("PATH", bin);
    EXPECT_EQ(platform::FindWineLoader(), std::nullopt);
    world.Set("VALDRUNE_WINE", "wine");
    EXPECT_EQ(platform::FindWineLoader(), bin + "/wine");
}
