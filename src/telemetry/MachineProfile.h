#pragma once
// The machine facts every report carries, collected once per process: the processor name, one
// network adapter's MAC address, the system version text, the memory sizes and the client
// identity (a digest of three serial numbers). Read-only text once collected.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/MachineIds.h"
#include "platform/NetworkAdapters.h"

// Where the facts come from; each empty source asks the system (platform/), tests hand in
// their own.
struct MachineSources {
    std::function<std::optional<std::string>()> processorName;
    std::function<std::optional<std::vector<platform::NetworkAdapter>>()> adapters;
    std::function<std::optional<std::string>()> systemVersion;    // "major.minor.build..."
    std::function<std::optional<std::string>()> fallbackVersion;  // "major.minor.servicepack"
    std::function<std::uint64_t()> physicalMemory;
    std::function<std::uint64_t()> addressSpace;
    std::function<platform::MachineSerials()> serials;
};

// The version numbers at the start of a version text ("6.1.0-18-amd64": 6, 1, 0; "10.0.19045":
// 10, 0, 19045); nullopt when it does not start with a number.
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
