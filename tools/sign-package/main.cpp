// sign-package: the operator's side of the launcher's package check.
//
//   sign-package <package.zip> <private-key.pem>
//       prints the two configuration lines for the package:
//         ClientPackageSha256=<64 lowercase hex digits of the file's SHA-256>
//         ClientPackageSignature=<base64 Ed25519 signature of those 64 characters, without
//                                 the "==" padding, which the configuration document would cut>
//   sign-package --public-key <private-key.pem>
//       prints the key's public half as the build wants it (VALDRUNE_PACKAGE_PUBLIC_KEY):
//       base64 of the raw 32 bytes
//
// The key is an Ed25519 key in PEM form, as `openssl genpkey -algorithm ed25519` writes it.

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <memory>
#include <string>

#include "update/PackageIntegrity.h"

namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

Key ReadPrivateKey(const std::string& path) {
    Key key(nullptr, &EVP_PKEY_free);
    std::unique_ptr<BIO, decltype(&BIO_free)> in(BIO_new_file(path.c_str(), "r"), &BIO_free);
    if (!in) {
        std::fprintf(stderr, "sign-package: cannot read %s\n", path.c_str());
        return key;
    }
    key.reset(PEM_read_bio_PrivateKey(in.get(), nullptr, nullptr, nullptr));
    if (!key || EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519) {
        std::fprintf(stderr, "sign-package: %s is no Ed25519 private key in PEM form\n", path.c_str());
        key.reset();
    }
    return key;
}

std::string Sign(EVP_PKEY* key, const std::string& message) {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    unsigned char signature[64];
    size_t length = sizeof signature;
    if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key) != 1 ||
        EVP_DigestSign(ctx.get(), signature, &length, reinterpret_cast<const unsigned char*>(message.data()),
                       message.size()) != 1) {
        return {};
    }
    return EncodeBase64(std::string(reinterpret_cast<const char*>(signature), length));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--public-key") {
        const Key key = ReadPrivateKey(argv[2]);
        unsigned char raw[32];
        size_t length = sizeof raw;
        if (!key || EVP_PKEY_get_raw_public_key(key.get(), raw, &length) != 1) {
            return 1;
        }
        std::printf("%s\n", EncodeBase64(std::string(reinterpret_cast<const char*>(raw), length)).c_str());
        return 0;
    }
    if (argc != 3) {
        std::fprintf(stderr, "usage: sign-package <package.zip> <private-key.pem>\n"
                             "       sign-package --public-key <private-key.pem>\n");
        return 2;
    }
    const Key key = ReadPrivateKey(argv[2]);
    if (!key) {
        return 1;
    }
    const std::string digest = Sha256FileHex(argv[1]);
    if (digest.empty()) {
        std::fprintf(stderr, "sign-package: cannot read %s\n", argv[1]);
        return 1;
    }
    const std::string signature = Sign(key.get(), digest);
    if (signature.empty()) {
        std::fprintf(stderr, "sign-package: signing failed\n");
        return 1;
    }
    const std::string unpadded = signature.substr(0, signature.find('='));
    std::printf("ClientPackageSha256=%s\nClientPackageSignature=%s\n", digest.c_str(), unpadded.c_str());
    return 0;
}
