#pragma once
// A machine made of files: fake /proc, /sys and /etc trees for the machine profile's sources,
// read by the Linux backend.

#include <cstdint>
#include <optional>
#include <string>

#include "TempHome.h"
#include "platform/posix/Linux.h"
#include "telemetry/MachineProfile.h"

namespace testing_support {

class FakeMachine {
public:
    std::string proc() const { return m_dir.path() + "/proc"; }
    std::string sys() const { return m_dir.path() + "/sys"; }
    std::string etc() const { return m_dir.path() + "/etc"; }

    void CpuInfo(const std::string& text) { Write(proc() + "/cpuinfo", text); }
    void MemTotalKiB(std::uint64_t kib) {
        Write(proc() + "/meminfo", "MemTotal:       " + std::to_string(kib) + " kB\nMemFree:  1 kB\n");
    }
    // type 772 is the loopback.
    void Adapter(const std::string& name, int index, const std::string& address, int type = 1) {
        const std::string base = sys() + "/class/net/" + name;
        Write(base + "/ifindex", std::to_string(index) + "\n");
        Write(base + "/address", address + "\n");
        Write(base + "/type", std::to_string(type) + "\n");
    }
    // Rows after the column titles, as the kernel writes /proc/net/route on a little-endian host.
    void Routes(const std::string& rows) {
        Write(proc() + "/net/route",
              "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n" + rows);
    }
    // nullopt leaves the file out (as unreadable as a root-only one).
    void Serials(const std::optional<std::string>& board, const std::optional<std::string>& product,
                 const std::optional<std::string>& machineId) {
        if (board) {
            Write(sys() + "/class/dmi/id/board_serial", *board + "\n");
        }
        if (product) {
            Write(sys() + "/class/dmi/id/product_serial", *product + "\n");
        }
        if (machineId) {
            Write(etc() + "/machine-id", *machineId + "\n");
        }
    }

    MachineSources Sources(std::optional<std::string> release = "6.1.0-18-amd64",
                           std::uint64_t addressSpace = 0x7FFE0000) const {
        MachineSources sources;
        sources.processorName = [proc = proc()] { return platform::ProcessorName(proc); };
        sources.adapters = [sys = sys(), proc = proc()] { return platform::ListNetworkAdapters(sys, proc); };
        sources.systemVersion = [release] { return release; };
        sources.fallbackVersion = [proc = proc()] { return platform::KernelReleaseFile(proc); };
        sources.physicalMemory = [proc = proc()] { return platform::TotalPhysicalMemory(proc); };
        sources.addressSpace = [addressSpace] { return addressSpace; };
        sources.serials = [sys = sys(), etc = etc()] {
            return platform::MachineSerials{platform::BoardSerial(sys), platform::ProductSerial(sys),
                                            platform::MachineId(etc)};
        };
        return sources;
    }

    // A typical machine: one adapter behind 192.168.1.1, 16 GB, the serials root-only.
    void Typical() {
        CpuInfo("processor\t: 0\nmodel name\t: Intel(R) Core(TM) i7 CPU @ 3.20GHz\n");
        MemTotalKiB(16310452);
        Adapter("lo", 1, "00:00:00:00:00:00", 772);
        Adapter("enp3s0", 2, "00:1a:2b:3c:4d:5e");
        Routes("enp3s0\t00000000\t0101A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n");
    }

private:
    static void Write(const std::string& path, const std::string& text) {
        MakeDirs(path.substr(0, path.rfind('/')));
        WriteFile(path, text);
    }

    TempDir m_dir;
};

}  // namespace testing_support
