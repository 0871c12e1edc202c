#pragma once
// SHA-1 (FIPS 180-4) through the system's own cryptography (CryptoAPI on Windows, OpenSSL's
// libcrypto on Linux).

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace platform {

using Sha1Digest = std::array<std::uint8_t, 20>;

// The digest of bytes; nullopt when the system cannot compute it.
std::optional<Sha1Digest> Sha1(std::string_view bytes);

}  // namespace platform
