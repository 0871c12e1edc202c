#include "telemetry/Digest.h"

#include <openssl/evp.h>

#include <fmt/printf.h>

std::string HashSha1Hex(std::string_view text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha1(), nullptr) != 1) {
        return {};
    }
    std::string hex;
    for (unsigned int offset = 0; offset + 4 <= length; offset += 4) {
        hex += fmt::sprintf("%02x%02x%02x%02x", digest[offset], digest[offset + 1], digest[offset + 2],
                            digest[offset + 3]);
    }
    return hex;
}
