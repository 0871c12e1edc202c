#include "platform/Sha1.h"

#include <openssl/evp.h>

namespace platform {

std::optional<Sha1Digest> Sha1(std::string_view bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha1(), nullptr) != 1 ||
        length != Sha1Digest{}.size()) {
        return std::nullopt;
    }
    Sha1Digest result;
    for (std::size_t i = 0; i < result.size(); ++i) {
        result[i] = digest[i];
    }
    return result;
}

}  // namespace platform
