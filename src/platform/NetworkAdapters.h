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
    std::string gateway;                 // the first default gateway as dotted text; "0.0.0.0" when none
    bool operator==(const NetworkAdapter&) const = default;
};

// Every adapter but the loopback (Windows: GetAdaptersInfo's list; Linux: the interfaces by
// index with their first default route); nullopt when the system cannot list them.
std::optional<std::vector<NetworkAdapter>> ListNetworkAdapters();

}  // namespace platform
