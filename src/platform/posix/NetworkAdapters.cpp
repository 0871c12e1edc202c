#include "platform/NetworkAdapters.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>

#include "platform/posix/Linux.h"
#include "platform/posix/TextFiles.h"

namespace platform {
namespace {

constexpr int kLoopbackType = 772;  // ARPHRD_LOOPBACK in <sysRoot>/class/net/<name>/type

// "00:1a:2b:3c:4d:5e" into its bytes; stops at the first item that is not a hexadecimal byte.
std::vector<std::uint8_t> ParseHardwareAddress(const std::string& text) {
    std::vector<std::uint8_t> bytes;
    std::istringstream items(text);
    for (std::string item; std::getline(items, item, ':');) {
        char* end = nullptr;
        const unsigned long value = std::strtoul(item.c_str(), &end, 16);
        if (item.empty() || item.size() > 2 || *end != '\0' || value > 0xFF) {
            break;
        }
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
    return bytes;
}

std::optional<long> ReadNumber(const std::string& path) {
    const auto text = posix::ReadTextFile(path);
    if (!text) {
        return std::nullopt;
    }
    char* end = nullptr;
    const long value = std::strtol(text->c_str(), &end, 10);
    return end == text->c_str() ? std::nullopt : std::optional<long>(value);
}

// Interface name -> gateway of its first default route. The kernel writes each address as the
// hexadecimal value of the network-order word in host byte order, so the word's bytes in memory
// are the address bytes in order.
std::map<std::string, std::string> DefaultGateways(const std::string& procRoot) {
    std::map<std::string, std::string> gateways;
    const auto table = posix::ReadTextFile(procRoot + "/net/route");
    if (!table) {
        return gateways;
    }
    std::istringstream lines(*table);
    std::string line;
    std::getline(lines, line);  // the column titles
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string name, destination, gateway, flags;
        if (!(fields >> name >> destination >> gateway >> flags)) {
            continue;
        }
        const bool up = (std::strtoul(flags.c_str(), nullptr, 16) & 0x1) != 0;
        if (std::strtoul(destination.c_str(), nullptr, 16) != 0 || !up || gateways.count(name) != 0) {
            continue;
        }
        const auto word = static_cast<std::uint32_t>(std::strtoul(gateway.c_str(), nullptr, 16));
        unsigned char bytes[4];
        std::memcpy(bytes, &word, sizeof bytes);
        gateways[name] = std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." + std::to_string(bytes[2]) +
                         "." + std::to_string(bytes[3]);
    }
    return gateways;
}

}  // namespace

std::optional<std::vector<NetworkAdapter>> ListNetworkAdapters(const std::string& sysRoot,
                                                               const std::string& procRoot) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::directory_iterator folder(sysRoot + "/class/net", error);
    if (error) {
        return std::nullopt;
    }
    const auto gateways = DefaultGateways(procRoot);
    std::vector<std::pair<long, NetworkAdapter>> indexed;
    for (const auto& entry : folder) {
        const std::string name = entry.path().filename().string();
        const std::string base = entry.path().string();
        const auto type = ReadNumber(base + "/type");
        if (type ? *type == kLoopbackType : name == "lo") {
            continue;  // the system's adapter list never holds the loopback
        }
        NetworkAdapter adapter;
        adapter.name = name;
        adapter.address = ParseHardwareAddress(posix::WithoutFinalNewline(posix::ReadTextFile(base + "/address").value_or("")));
        const auto gateway = gateways.find(name);
        adapter.gateway = gateway == gateways.end() ? "0.0.0.0" : gateway->second;
        indexed.emplace_back(ReadNumber(base + "/ifindex").value_or(LONG_MAX), std::move(adapter));
    }
    std::sort(indexed.begin(), indexed.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : a.second.name < b.second.name;
    });
    std::vector<NetworkAdapter> adapters;
    for (auto& [index, adapter] : indexed) {
        adapters.push_back(std::move(adapter));
    }
    return adapters;
}

std::optional<std::vector<NetworkAdapter>> ListNetworkAdapters() { return ListNetworkAdapters("/sys", "/proc"); }

}  // namespace platform
