// What tells a Windows game client apart, and which Wine the launcher takes.

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
}

TEST(WineLoader, IsNeverOnePlantedInTheCurrentFolderNorAnotherThanTheOneChosen) {
    TempHome world;
    MakeDirs(world.root() + "/bin");
    WriteFile(world.root() + "/bin/wine", "#!/bin/sh\n");
    ::chmod((world.root() + "/bin/wine").c_str(), 0755);
    const auto before = std::filesystem::current_path();
    std::filesystem::current_path(world.root() + "/bin");
    world.Set("VALDRUNE_WINE", std::nullopt);
    world.Set("PATH", ":.:/nowhere");
    EXPECT_EQ(platform::FindWineLoader(), std::nullopt);
    std::filesystem::current_path(before);

    world.Set("PATH", world.root() + "/bin");
    EXPECT_EQ(platform::FindWineLoader(), world.root() + "/bin/wine");
    world.Set("VALDRUNE_WINE", world.root() + "/bin/wine-gone");
    EXPECT_EQ(platform::FindWineLoader(), std::nullopt);
}
