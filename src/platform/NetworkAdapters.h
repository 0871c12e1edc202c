#pragma once
// The machine's network interfaces with their hardware addresses and default gateways, in the
// order the system numbers them.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct NetworkAdapter {
    std::string name;
    std::vector<std::uint8_t> address;  // hardware address bytes; empty when the interface has none
    std::string gateway;                 // the default gateway as dotted text; "0.0.0.0" when none
};

// The interfaces of <sysRoot>/class/net by interface index, the loopback left out, each with the
// gateway of its first default route in <procRoot>/net/route. nullopt when the interface folder
// cannot be listed.
std::optional<std::vector<NetworkAdapter>> ListNetworkAdapters(const std::string& sysRoot = "/sys",
                                                               const std::string& procRoot = "/proc");

}  // namespace platform
