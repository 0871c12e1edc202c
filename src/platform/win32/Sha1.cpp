#include "platform/Sha1.h"

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>

namespace platform {

std::optional<Sha1Digest> Sha1(std::string_view bytes) {
    HCRYPTPROV provider = 0;
    if (!::CryptAcquireContextW(&provider, nullptr, MS_DEF_PROV_W, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
        return std::nullopt;
    }
    std::optional<Sha1Digest> result;
    HCRYPTHASH hash = 0;
    if (::CryptCreateHash(provider, CALG_SHA1, 0, 0, &hash)) {
        Sha1Digest digest{};
        DWORD length = static_cast<DWORD>(digest.size());
        // CryptHashData takes a DWORD length: longer texts go in pieces.
        bool hashed = true;
        for (std::size_t offset = 0; hashed && offset < bytes.size();) {
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - offset, 1u << 30));
            hashed = ::CryptHashData(hash, reinterpret_cast<const BYTE*>(bytes.data() + offset), chunk, 0) != FALSE;
            offset += chunk;
        }
        if (hashed && ::CryptGetHashParam(hash, HP_HASHVAL, digest.data(), &length, 0) && length == digest.size()) {
            result = digest;
        }
        ::CryptDestroyHash(hash);
    }
    ::CryptReleaseContext(provider, 0);
    return result;
}

}  // namespace platform
