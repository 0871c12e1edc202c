#include "telemetry/MachineProfile.h"

#include <cctype>
#include <cstdlib>

#include <fmt/printf.h>

#include "platform/CpuInfo.h"
#include "platform/MemoryInfo.h"
#include "platform/SystemInfo.h"
#include "telemetry/Digest.h"

namespace {

// The adapter listing has room for five adapters; with more it fails as a whole.
constexpr size_t kMaxListedAdapters = 5;
constexpr const char* kUnknown = "unkown";

template <typename Source, typename Fallback>
auto Ask(const Source& source, Fallback fallback) {
    return source ? source() : fallback();
}

}  // namespace

std::optional<VersionNumbers> ParseVersionNumbers(const std::string& release) {
    int numbers[3] = {0, 0, 0};
    const char* p = release.c_str();
    for (int i = 0; i < 3; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(*p))) {
            if (i == 0) {
                return std::nullopt;
            }
            break;
        }
        char* end = nullptr;
        numbers[i] = static_cast<int>(std::strtol(p, &end, 10));
        p = end;
        if (*p != '.') {
            break;
        }
        ++p;
    }
    return VersionNumbers{numbers[0], numbers[1], numbers[2]};
}

std::string VersionLadderText(int major, int minor, int servicePack) {
    struct Row {
        int major, minor, servicePack;
        const char* text;
    };
    static constexpr Row kLadder[] = {
        {10, 0, 0, "Windows10OrGreater"}, {6, 3, 0, "Windows8Point1OrGreater"}, {6, 2, 0, "Windows8OrGreater"},
        {6, 1, 1, "Windows7SP1OrGreater"}, {6, 1, 0, "Windows7OrGreater"},     {6, 0, 2, "VistaSP2OrGreater"},
        {6, 0, 1, "VistaSP1OrGreater"},    {6, 0, 0, "VistaOrGreater"},
    };
    for (const Row& row : kLadder) {
        // Major, then minor, then service pack, each at least the row's.
        const bool reaches = major != row.major ? major > row.major
                             : minor != row.minor ? minor > row.minor
                                                  : servicePack >= row.servicePack;
        if (reaches) {
            return row.text;
        }
    }
    return "ElderThanVista";
}

const MachineProfile& MachineProfile::GetInstance() {
    static const MachineProfile profile{MachineSources{}};
    return profile;
}

bool MachineProfile::IsWow64() {
    GetInstance();
    return platform::OperatingSystemIs64Bit();
}

MachineProfile::MachineProfile() = default;

MachineProfile::MachineProfile(const MachineSources& sources) { Collect(sources); }

void MachineProfile::Collect(const MachineSources& sources) {
    // 1. Processor name.
    m_strCpuName = Ask(sources.processorName, [] { return platform::ProcessorName(); }).value_or("");

    // 2. MAC address of the first adapter whose gateway does not start with '0'.
    m_strMacAddress = kUnknown;
    if (const auto adapters = Ask(sources.adapters, [] { return platform::ListNetworkAdapters(); });
        adapters && adapters->size() <= kMaxListedAdapters) {
        for (const auto& adapter : *adapters) {
            if (!adapter.gateway.empty() && adapter.gateway[0] == '0') {
                continue;
            }
            std::uint8_t b[6] = {0, 0, 0, 0, 0, 0};
            for (size_t i = 0; i < 6 && i < adapter.address.size(); ++i) {
                b[i] = adapter.address[i];
            }
            m_strMacAddress = fmt::sprintf("%02X-%02X-%02X-%02X-%02X-%02X", b[0], b[1], b[2], b[3], b[4], b[5]);
            break;
        }
    }

    // 3. System version: the exact numbers, else the ladder over the coarser version.
    m_strSystemText = kUnknown;
    const auto release = Ask(sources.systemVersion, [] { return platform::SystemVersion(); });
    if (const auto numbers = release ? ParseVersionNumbers(*release) : std::nullopt) {
        m_strSystemText = fmt::sprintf("Version major:%d minor:%d build:%d", numbers->major, numbers->minor,
                                       numbers->build);
    } else {
        const auto published = Ask(sources.fallbackVersion, [] { return platform::FallbackSystemVersion(); });
        const auto fallback = published ? ParseVersionNumbers(*published) : std::nullopt;
        const VersionNumbers n = fallback.value_or(VersionNumbers{});
        m_strSystemText = VersionLadderText(n.major, n.minor, n.build);
    }

    // 4. Memory, in whole mebibytes.
    const std::uint64_t physical = Ask(sources.physicalMemory, [] { return platform::TotalPhysicalMemory(); });
    const std::uint64_t virtualSpace = Ask(sources.addressSpace, [] { return platform::AddressSpaceLimit(); });
    m_strMemoryText = fmt::sprintf("physical memory:%ld MB virtual memory:%ld MB", static_cast<long>(physical >> 20),
                                   static_cast<long>(virtualSpace >> 20));

    // 5. Client identity. A serial that cannot be read counts as empty (the two DMI serials are
    //    root's alone on most Linux systems); only when none can be read is the identity unknown.
    m_strClientUid = kUnknown;
    const platform::MachineSerials serials = Ask(sources.serials, [] { return platform::ReadMachineSerials(); });
    if (serials.board || serials.bios || serials.system) {
        m_strClientUid =
            HashSha1Hex(serials.board.value_or("") + serials.bios.value_or("") + serials.system.value_or(""));
    }

    // 6.
    m_strSystemText += m_strCpuName + m_strMemoryText;
}
