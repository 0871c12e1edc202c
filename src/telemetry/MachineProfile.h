#pragma once
// The machine facts every report carries, collected once per process: the processor name, one
// network adapter's MAC address, the system version text, the memory sizes and the client
// identity (a digest of three serial numbers). Read-only text once collected.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// Where the facts come from; tests point the roots at fake files.
struct MachineSources {
    std::string procRoot = "/proc";
    std::string sysRoot = "/sys";
    std::string etcRoot = "/etc";
    std::function<std::optional<std::string>()> kernelRelease;  // empty: uname
    std::function<std::uint64_t()> addressSpace;                 // empty: the process's limit
};

// The version numbers at the start of a kernel release text ("6.1.0-18-amd64": 6, 1, 0);
// nullopt when it does not start with a number.
struct VersionNumbers {
    int major = 0;
    int minor = 0;
    int build = 0;
};
std::optional<VersionNumbers> ParseVersionNumbers(const std::string& release);

// The version ladder's text for the first row that (major, minor, service pack) reaches.
std::string VersionLadderText(int major, int minor, int servicePack);

class MachineProfile {
public:
    // The process's profile, collected by the first call (thread-safe; later callers wait).
    static const MachineProfile& GetInstance();
    // The package address and registry view choice: true on a 64-bit operating system.
    static bool IsWow64();

    MachineProfile();  // not collected: every text at its fallback
    explicit MachineProfile(const MachineSources& sources);  // collects at once

    const std::string& CpuName() const { return m_strCpuName; }
    const std::string& MacAddress() const { return m_strMacAddress; }
    const std::string& SystemText() const { return m_strSystemText; }
    const std::string& MemoryText() const { return m_strMemoryText; }
    const std::string& ClientUid() const { return m_strClientUid; }

private:
    void Collect(const MachineSources& sources);

    std::string m_strCpuName;
    std::string m_strMacAddress = "unkown";
    std::string m_strSystemText = "unkown";
    std::string m_strMemoryText;
    std::string m_strClientUid = "unkown";
};
