// The machine facts every report carries, read from fake /proc, /sys and /etc trees, and the
// digest and escaping that turn them into report values.

#include <gtest/gtest.h>

#include "FakeMachine.h"
#include "platform/posix/Linux.h"
#include "telemetry/Digest.h"
#include "telemetry/MachineProfile.h"
#include "telemetry/UrlEscape.h"

using namespace testing_support;

TEST(MachineFacts, ProcessorNameIsTheFirstModelNameExactlyAsWritten) {
    FakeMachine machine;
    EXPECT_EQ(platform::ProcessorName(machine.proc()), std::nullopt);
    machine.CpuInfo("processor\t: 0\nvendor_id\t: GenuineIntel\nmodel name\t: Intel(R) Xeon(R) CPU @ 2.20GHz  \n\n"
                    "processor\t: 1\nmodel name\t: Second\n");
    EXPECT_EQ(platform::ProcessorName(machine.proc()), "Intel(R) Xeon(R) CPU @ 2.20GHz  ");
    machine.CpuInfo("processor\t: 0\nBogoMIPS\t: 48.00\nCPU implementer\t: 0x41\n");  // many ARM kernels
    EXPECT_EQ(platform::ProcessorName(machine.proc()), std::nullopt);
    machine.CpuInfo("model name\t:\n");
    EXPECT_EQ(platform::ProcessorName(machine.proc()), "");
}

TEST(MachineFacts, AdaptersComeInIndexOrderWithoutLoopbackEachWithItsDefaultGateway) {
    FakeMachine machine;
    EXPECT_EQ(platform::ListNetworkAdapters(machine.sys(), machine.proc()), std::nullopt);
    machine.Adapter("lo", 1, "00:00:00:00:00:00", 772);
    machine.Adapter("wlan0", 3, "00:1a:2b:3c:4d:5e");
    machine.Adapter("eth0", 2, "aa:bb:cc:dd:ee:ff");
    machine.Adapter("tun0", 4, "");
    machine.Routes(
        "eth0\t0000FEA9\t00000000\t0001\t0\t0\t1000\t0000FFFF\t0\t0\t0\n"   // a link route, not a default one
        "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"   // default via 192.168.1.1
        "wlan0\t00000000\t0201A8C0\t0003\t0\t0\t700\t00000000\t0\t0\t0\n"   // a second one is not taken
        "tun0\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0\n");    // default route without gateway

    const auto adapters = platform::ListNetworkAdapters(machine.sys(), machine.proc());
    ASSERT_TRUE(adapters);
    ASSERT_EQ(adapters->size(), 3u);
    EXPECT_EQ((*adapters)[0].name, "eth0");
    EXPECT_EQ((*adapters)[0].gateway, "0.0.0.0");
    EXPECT_EQ((*adapters)[0].address, (std::vector<std::uint8_t>{0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}));
    EXPECT_EQ((*adapters)[1].name, "wlan0");
    EXPECT_EQ((*adapters)[1].gateway, "192.168.1.1");
    EXPECT_EQ((*adapters)[2].name, "tun0");
    EXPECT_EQ((*adapters)[2].gateway, "0.0.0.0");
    EXPECT_TRUE((*adapters)[2].address.empty());
}

TEST(MachineFacts, SerialsAreTheirFilesWithoutTheLineEndAndAbsentWhenUnreadable) {
    FakeMachine machine;
    EXPECT_EQ(platform::BoardSerial(machine.sys()), std::nullopt);
    machine.Serials(" To be filled by O.E.M. ", "", "0123456789abcdef0123456789abcdef");
    EXPECT_EQ(platform::BoardSerial(machine.sys()), " To be filled by O.E.M. ");
    EXPECT_EQ(platform::ProductSerial(machine.sys()), "");
    EXPECT_EQ(platform::MachineId(machine.etc()), "0123456789abcdef0123456789abcdef");
}

TEST(MachineProfileTest, BeforeCollectionEveryTextIsItsFallback) {
    const MachineProfile profile;
    EXPECT_EQ(profile.CpuName(), "");
    EXPECT_EQ(profile.MacAddress(), "unkown");
    EXPECT_EQ(profile.SystemText(), "unkown");
    EXPECT_EQ(profile.MemoryText(), "");
    EXPECT_EQ(profile.ClientUid(), "unkown");
}

TEST(MachineProfileTest, SystemTextJoinsVersionProcessorAndMemoryWithoutSeparators) {
    FakeMachine machine;
    machine.Typical();
    machine.CpuInfo("model name\t: Intel(R) Core(TM) i7 CPU @ 3.20GHz   \n");
    const MachineProfile profile(machine.Sources("6.1.0-18-amd64", 0x7FFE0000));
    EXPECT_EQ(profile.CpuName(), "Intel(R) Core(TM) i7 CPU @ 3.20GHz   ");
    EXPECT_EQ(profile.MemoryText(), "physical memory:15928 MB virtual memory:2047 MB");
    EXPECT_EQ(profile.SystemText(), "Version major:6 minor:1 build:0Intel(R) Core(TM) i7 CPU @ 3.20GHz   "
                                    "physical memory:15928 MB virtual memory:2047 MB");

    // Without uname the version ladder reads the release the kernel publishes.
    MakeDirs(machine.proc() + "/sys/kernel");
    WriteFile(machine.proc() + "/sys/kernel/osrelease", "6.1.2-arch1\n");
    EXPECT_EQ(MachineProfile(machine.Sources(std::nullopt)).SystemText().substr(0, 28), "Windows7SP1OrGreaterIntel(R)");
    WriteFile(machine.proc() + "/sys/kernel/osrelease", "garbage\n");
    EXPECT_EQ(MachineProfile(machine.Sources("also garbage")).SystemText().substr(0, 19), "ElderThanVistaIntel");
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

TEST(MachineProfileTest, MacIsTheFirstAdapterWhoseGatewayDoesNotStartWithZero) {
    FakeMachine machine;
    machine.Typical();
    machine.Adapter("docker0", 1, "02:42:ac:11:00:01");  // listed first, no gateway
    EXPECT_EQ(MachineProfile(machine.Sources()).MacAddress(), "00-1A-2B-3C-4D-5E");

    machine.Routes("enp3s0\t00000000\t00000000\t0003\t0\t0\t100\t00000000\t0\t0\t0\n");
    EXPECT_EQ(MachineProfile(machine.Sources()).MacAddress(), "unkown");

}

TEST(MachineProfileTest, FiveAdaptersFitTheListingAndASixthMakesItFail) {
    FakeMachine machine;
    machine.Typical();
    machine.Routes("veth4\t00000000\t0101A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n");
    for (int i = 1; i <= 4; ++i) {
        machine.Adapter("veth" + std::to_string(i), 10 + i, "02:00:00:00:00:0" + std::to_string(i));
    }
    EXPECT_EQ(MachineProfile(machine.Sources()).MacAddress(), "02-00-00-00-00-04");
    machine.Adapter("veth5", 15, "02:00:00:00:00:05");
    EXPECT_EQ(MachineProfile(machine.Sources()).MacAddress(), "unkown");
}

TEST(MachineProfileTest, ClientUidDigestsTheThreeSerialsInOrder) {
    {
        FakeMachine machine;
        machine.Serials("BSN-1", "PSN-2", "abcdef");
        EXPECT_EQ(MachineProfile(machine.Sources()).ClientUid(), "56290ce3e07abef895daded3b696d63f93b4f76d");
    }
    {
        FakeMachine machine;  // the board serial is root's: it counts as empty
        machine.Serials(std::nullopt, "PSN-2", "abcdef");
        EXPECT_EQ(MachineProfile(machine.Sources()).ClientUid(), "cf1604a3801e82920c8ca5fe0def7e8219654dd8");
    }
    {
        FakeMachine machine;  // all three empty: the digest of the empty text
        machine.Serials("", "", "");
        EXPECT_EQ(MachineProfile(machine.Sources()).ClientUid(), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    }
    FakeMachine nothingReadable;
    EXPECT_EQ(MachineProfile(nothingReadable.Sources()).ClientUid(), "unkown");
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
