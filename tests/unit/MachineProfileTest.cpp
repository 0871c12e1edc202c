// The machine facts every report carries, read by the Linux backend from fake /proc, /sys and
// /etc trees.

#include <gtest/gtest.h>

#include "FakeMachine.h"
#include "platform/posix/Linux.h"
#include "telemetry/MachineProfile.h"

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
