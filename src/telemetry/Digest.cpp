#include "telemetry/Digest.h"

#include <fmt/printf.h>

#include "platform/Sha1.h"

std::string HashSha1Hex(std::string_view text) {
    const auto digest = platform::Sha1(text);
    if (!digest) {
        return {};
    }
    std::string hex;
    for (std::size_t offset = 0; offset + 4 <= digest->size(); offset += 4) {
        hex += fmt::sprintf("%02x%02x%02x%02x", (*digest)[offset], (*digest)[offset + 1], (*digest)[offset + 2],
                            (*digest)[offset + 3]);
    }
    return hex;
}
