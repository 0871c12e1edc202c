#include <openssl/evp.h>

#include "update/PackageCrypto.h"

namespace package_crypto {

struct Sha256State {
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    ~Sha256State() { EVP_MD_CTX_free(md); }
};

void Sha256StateDeleter::operator()(Sha256State* state) const { delete state; }

Sha256 NewSha256() {
    Sha256 state(new Sha256State);
    if (state->md == nullptr || EVP_DigestInit_ex(state->md, EVP_sha256(), nullptr) != 1) {
        return nullptr;
    }
    return state;
}

bool UpdateSha256(Sha256State& state, const void* data, std::size_t size) {
    return EVP_DigestUpdate(state.md, data, size) == 1;
}

std::string FinishSha256(Sha256State& state) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(state.md, digest, &length) != 1) {
        return {};
    }
    return std::string(reinterpret_cast<const char*>(digest), length);
}

bool VerifyEd25519(std::string_view key, std::string_view message, std::string_view signature, std::string& problem) {
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> pkey(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char*>(key.data()),
                                    key.size()),
        &EVP_PKEY_free);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!pkey || !ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, pkey.get()) != 1) {
        problem = "the public key cannot be used";
        return false;
    }
    // Ed25519 signs the message itself, in one pass.
    if (EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(signature.data()), signature.size(),
                         reinterpret_cast<const unsigned char*>(message.data()), message.size()) != 1) {
        problem = "the signature does not match the digest";
        return false;
    }
    return true;
}

}  // namespace package_crypto
