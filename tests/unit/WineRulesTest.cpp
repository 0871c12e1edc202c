// What tells a Windows game client apart, which Wine the launcher takes, and what Wine's programs
// get in their environment.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>

#include "TempHome.h"
#include "WineSupport.h"
#include "ZipBuilder.h"
#include "bridge/GameRuntime.h"
#include "platform/Wine.h"

using namespace testing_support;
using Strings = std::vector<std::string>;

namespace {

// size bytes starting "MZ", the header pointer at 0x3C, signature where it points (if it fits).
std::string DosHeader(std::uint32_t pointer, std::size_t size, std::string_view signature = {"PE\0\0", 4}) {
    std::string bytes(size, '\0');
    bytes.replace(0, 2, "MZ");
    for (int i = 0; i < 4; ++i) {
        bytes[0x3C + static_cast<std::size_t>(i)] = static_cast<char>(pointer >> (8 * i));
    }
    if (pointer + signature.size() <= size) {
        bytes.replace(pointer, signature.size(), signature);
    }
    return bytes;
}

// The locale entries of an environment.
Strings Locale(const Strings& environment) {
    Strings locale;
    for (const auto& entry : environment) {
        if (entry.rfind("LC_", 0) == 0 || entry.rfind("LANG=", 0) == 0) {
            locale.push_back(entry);
        }
    }
    return locale;
}

void MakeProgram(const std::string& path, unsigned mode = 0755) {
    WriteFile(path, "#!/bin/sh\n");
    ::chmod(path.c_str(), mode);
}

}  // namespace

TEST(WindowsProgram, OnlyMzWithThePeSignatureWhereItsHeaderPointsCounts) {
    EXPECT_TRUE(IsWindowsProgram(WindowsSampleGameBytes()));
    EXPECT_FALSE(IsWindowsProgram(SampleGameBytes()));  // the Linux build
    EXPECT_TRUE(IsWindowsProgram(DosHeader(0x40, 0x44)));  // the signature ends the bytes
    EXPECT_FALSE(IsWindowsProgram(DosHeader(0x40, 0x43)));
    EXPECT_FALSE(IsWindowsProgram(DosHeader(0x41, 0x44)));
    EXPECT_FALSE(IsWindowsProgram(DosHeader(0xFFFFFFFE, 0x80)));  // a pointer that would wrap around
    EXPECT_FALSE(IsWindowsProgram(DosHeader(0x40, 0x80, {"PE\0\1", 4})));
    EXPECT_FALSE(IsWindowsProgram(DosHeader(0x40, 0x80).replace(0, 2, "ZM")));
    EXPECT_FALSE(IsWindowsProgram("MZ"));
}

TEST(WineEnvironment, NamesThePrefixQuietsWineAndGivesAUtf8LocaleOnlyWhereNoneIsInForce) {
    const Strings user{"PATH=/usr/bin", "WINEPREFIX=/home/u/.wine", "WINEDEBUG=+relay", "LANG=zh_CN.UTF-8"};
    EXPECT_EQ(platform::WineEnvironment(user, "/d/wine"),
              (Strings{"PATH=/usr/bin", "LANG=zh_CN.UTF-8", "WINEPREFIX=/d/wine", "WINEDEBUG=-all",
                       "WINEDLLOVERRIDES=winemenubuilder.exe=d;mscoree=d;mshtml=d"}));

    const auto locale = [](const Strings& environment) { return Locale(platform::WineEnvironment(environment, "/p")); };
    EXPECT_EQ(locale({}), Strings{"LC_CTYPE=C.UTF-8"});
    EXPECT_EQ(locale({"LANG=C"}), (Strings{"LANG=C", "LC_CTYPE=C.UTF-8"}));
    EXPECT_EQ(locale({"LC_ALL=", "LANG=POSIX"}), (Strings{"LC_ALL=", "LANG=POSIX", "LC_CTYPE=C.UTF-8"}));
    EXPECT_EQ(locale({"LC_ALL=C", "LANG=zh_CN.UTF-8"}), (Strings{"LANG=zh_CN.UTF-8", "LC_ALL=C.UTF-8"}));
    EXPECT_EQ(locale({"LC_CTYPE=C", "LANG=zh_CN.UTF-8"}), (Strings{"LANG=zh_CN.UTF-8", "LC_CTYPE=C.UTF-8"}));
    EXPECT_EQ(locale({"LANG=C", "LC_CTYPE=zh_CN.UTF-8"}), (Strings{"LANG=C", "LC_CTYPE=zh_CN.UTF-8"}));
}

TEST(WineLoader, ComesFromValdruneWineElseFromTheAbsoluteFoldersOfPath) {
    TempHome world;
    const std::string bin = world.root() + "/bin";
    const std::string plain = world.root() + "/plain";
    MakeDirs(bin);
    MakeDirs(plain);
    MakeProgram(bin + "/wine");
    MakeProgram(plain + "/wine", 0644);  // not runnable
    world.Set("VALDRUNE_WINE", std::nullopt);

    world.Set("PATH", plain + ":" + bin);
    EXPECT_EQ(platform::FindWineLoader(), bin + "/wine");
    world.Set("PATH", plain);
    EXPECT_EQ(platform::FindWineLoader(), std::nullopt);

    // A "wine" planted in whatever folder the launcher was started from is never taken.
    const auto before = std::filesystem::current_path();
    std::filesystem::current_path(bin);
    world.Set("PATH", ":.:bin");
    EXPECT_EQ(platform::FindWineLoader(), std::nullopt);
    std::filesystem::current_path(before);

    world.Set("PATH", bin);
    world.Set("VALDRUNE_WINE", "wine");
    EXPECT_EQ(platform::FindWineLoader(), bin + "/wine");
    world.Set("VALDRUNE_WINE", plain + "/wine");
    EXPECT_EQ(platform::FindWineLoader(), std::nullopt);  // a wrong choice is no Wine, not another one
    world.Set("VALDRUNE_WINE", bin + "/wine");
    EXPECT_EQ(platform::FindWineLoader(), bin + "/wine");
}
