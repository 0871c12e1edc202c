// SHA-256 through CNG (bcrypt.dll, in every Windows since Vista). Windows has no Ed25519 of its
// own: the Windows build carries no operator key (CMake refuses one), so a signature is never
// asked for here.

#include <windows.h>
#include <bcrypt.h>

#include "update/PackageCrypto.h"

namespace package_crypto {

struct Sha256State {
    BCRYPT_HASH_HANDLE hash = nullptr;
    ~Sha256State() {
        if (hash != nullptr) {
            ::BCryptDestroyHash(hash);
        }
    }
};

void Sha256StateDeleter::operator()(Sha256State* state) const { delete state; }

Sha256 NewSha256() {
    // The provider is opened once and kept: opening one is the expensive part.
    static const BCRYPT_ALG_HANDLE algorithm = [] {
        BCRYPT_ALG_HANDLE handle = nullptr;
        return BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&handle, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ? handle
                                                                                                         : nullptr;
    }();
    Sha256 state(new Sha256State);
    if (algorithm == nullptr ||
        !BCRYPT_SUCCESS(::BCryptCreateHash(algorithm, &state->hash, nullptr, 0, nullptr, 0, 0))) {
        return nullptr;
    }
    return state;
}

bool UpdateSha256(Sha256State& state, const void* data, std::size_t size) {
    // BCryptHashData takes at most 4 GiB - 1 at a time.
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ULONG piece = size > 0x40000000 ? 0x40000000 : static_cast<ULONG>(size);
        if (!BCRYPT_SUCCESS(::BCryptHashData(state.hash, const_cast<PUCHAR>(bytes), piece, 0))) {
            return false;
        }
        bytes += piece;
        size -= piece;
    }
    return true;
}

std::string FinishSha256(Sha256State& state) {
    std::string digest(32, '\0');
    if (!BCRYPT_SUCCESS(::BCryptFinishHash(state.hash, reinterpret_cast<PUCHAR>(digest.data()), 32, 0))) {
        return {};
    }
    return digest;
}

bool VerifyEd25519(std::string_view, std::string_view, std::string_view, std::string& problem) {
    problem = "this build cannot check Ed25519 signatures";
    return false;
}

}  // namespace package_crypto
