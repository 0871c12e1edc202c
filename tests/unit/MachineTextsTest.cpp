// The texts every report carries, the same on every system: the fallbacks, the version ladder,
// the client identity digest and the escaping of report values; and the profile the running
// system gives, through whichever backend the build has.

#include <gtest/gtest.h>

#include <regex>

#include "telemetry/Digest.h"
#include "telemetry/MachineProfile.h"
#include "telemetry/UrlEscape.h"

TEST(MachineProfileTest, BeforeCollectionEveryTextIsItsFallback) {
    const MachineProfile profile;
    EXPECT_EQ(profile.CpuName(), "");
    EXPECT_EQ(profile.MacAddress(), "unkown");
    EXPECT_EQ(profile.SystemText(), "unkown");
    EXPECT_EQ(profile.MemoryText(), "");
    EXPECT_EQ(profile.ClientUid(), "unkown");
}

TEST(MachineProfileTest, VersionNumbersAndTheLadder) {
    const auto full = ParseVersionNumbers("5.15.90.1-microsoft-standard-WSL2");
    ASSERT_TRUE(full);
    EXPECT_EQ(std::tie(full->major, full->minor, full->build), std::make_tuple(5, 15, 90));
    const auto shortOne = ParseVersionNumbers("4.4");
    ASSERT_TRUE(shortOne);
    EXPECT_EQ(std::tie(shortOne->major, shortOne->minor, shortOne->build), std::make_tuple(4, 4, 0));
    EXPECT_EQ(ParseVersionNumbers("v6.1"), std::nullopt);

    EXPECT_EQ(VersionLadderText(10, 0, 0), "Windows10OrGreater");
    EXPECT_EQ(VersionLadderText(6, 4, 0), "Windows8Point1OrGreater");
    EXPECT_EQ(VersionLadderText(6, 2, 9), "Windows8OrGreater");
    EXPECT_EQ(VersionLadderText(6, 1, 1), "Windows7SP1OrGreater");
    EXPECT_EQ(VersionLadderText(6, 1, 0), "Windows7OrGreater");
    EXPECT_EQ(VersionLadderText(6, 0, 2), "VistaSP2OrGreater");
    EXPECT_EQ(VersionLadderText(6, 0, 1), "VistaSP1OrGreater");
    EXPECT_EQ(VersionLadderText(6, 0, 0), "VistaOrGreater");
    EXPECT_EQ(VersionLadderText(5, 9, 9), "ElderThanVista");
}

TEST(ClientIdentity, Sha1VectorsInLowercaseHex) {
    EXPECT_EQ(HashSha1Hex("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(HashSha1Hex(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(HashSha1Hex("中文"), "7be2d2d20c106eee0836c9bc2b939890a78e8fb3");  // its UTF-8 bytes
    EXPECT_EQ(HashSha1Hex(std::string("a\0b", 3)), HashSha1Hex(std::string("a\0b", 3)));
    EXPECT_NE(HashSha1Hex(std::string("a\0b", 3)), HashSha1Hex("a"));  // the whole text, past a NUL
}

TEST(ReportEscaping, TheValueBecomesOneSegment) {
    EXPECT_EQ(UrlEscapeSegment("a&b?c/d|e f#g+h"), "a%26b%3Fc%2Fd%7Ce%20f%23g%2Bh");
    EXPECT_EQ(UrlEscapeSegment("Version major:6 minor:1|ie_version=2"), "Version%20major:6%20minor:1%7Cie_version=2");
    EXPECT_EQ(UrlEscapeSegment("50% done"), "50%%20done");  // a percent sign stays as it is
    EXPECT_EQ(UrlEscapeSegment("错误id:5"), "%E9%94%99%E8%AF%AFid:5");
    EXPECT_EQ(UrlEscapeSegment("Intel(R) @ 3.20GHz,x;y=z!*'$~_-."), "Intel(R)%20@%203.20GHz,x;y=z!*'$~_-.");
    EXPECT_EQ(UrlEscapeSegment("\t\n\x7f\"<>\\^`{}[]"), "%09%0A%7F%22%3C%3E%5C%5E%60%7B%7D%5B%5D");
    EXPECT_EQ(UrlEscapeSegment(""), "");
}

TEST(MachineProfileTest, TheRunningSystemGivesEveryReportFieldItsShape) {
    const MachineProfile& profile = MachineProfile::GetInstance();
    EXPECT_TRUE(std::regex_match(profile.MacAddress(), std::regex("unkown|([0-9A-F]{2}-){5}[0-9A-F]{2}")))
        << profile.MacAddress();
    EXPECT_TRUE(std::regex_match(profile.ClientUid(), std::regex("unkown|[0-9a-f]{40}"))) << profile.ClientUid();
    EXPECT_TRUE(std::regex_match(profile.MemoryText(),
                                 std::regex("physical memory:[1-9][0-9]* MB virtual memory:[1-9][0-9]* MB")))
        << profile.MemoryText();
    // The exact version is always there on both systems; the text runs on without separators.
    EXPECT_TRUE(std::regex_search(profile.SystemText(), std::regex("^Version major:[0-9]+ minor:[0-9]+ build:[0-9]+")))
        << profile.SystemText();
    EXPECT_EQ(profile.SystemText().substr(profile.SystemText().size() - profile.MemoryText().size()),
              profile.MemoryText());
    EXPECT_NE(profile.SystemText().find(profile.CpuName() + profile.MemoryText()), std::string::npos);
    EXPECT_EQ(&MachineProfile::GetInstance(), &profile);  // collected once
}
