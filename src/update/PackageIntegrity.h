#pragma once
// What the launcher checks of a downloaded game package before a single entry is unpacked: its
// SHA-256 against the configuration's "ClientPackageSha256", and, when the build carries the
// operator's Ed25519 public key, the operator's signature of that digest text
// ("ClientPackageSignature"). Both with the system's cryptography (update/PackageCrypto.h).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "update/PackageCrypto.h"

// SHA-256 of bytes fed as they arrive (the package as libcurl hands it over).
class PackageDigest {
public:
    PackageDigest();
    ~PackageDigest();
    PackageDigest(const PackageDigest&) = delete;
    PackageDigest& operator=(const PackageDigest&) = delete;

    void Update(const void* data, std::size_t size);
    // Feeds the first length bytes of the file at path (the part a resumed download keeps; a
    // negative length: all of it); false when the file holds fewer or cannot be read, which
    // spoils the digest.
    bool UpdateFromFile(const std::string& path, std::int64_t length);
    // 64 lowercase hex digits; empty when anything failed along the way. Ends the digest.
    std::string FinishHex();

private:
    package_crypto::Sha256 m_context;
    bool m_ok = true;
};

// The whole file's digest as FinishHex gives it; empty when the file cannot be read.
std::string Sha256FileHex(const std::string& path);

// Base64 without white space, its "=" padding optional; nullopt for anything else.
std::optional<std::string> DecodeBase64(std::string_view text);
std::string EncodeBase64(std::string_view bytes);

// True when signatureBase64 is a valid Ed25519 signature of message under the public key
// (base64 of its raw 32 bytes); otherwise problem says what was wrong.
bool VerifyEd25519(std::string_view publicKeyBase64, std::string_view message, std::string_view signatureBase64,
                   std::string& problem);

// The decision before unpacking, from the configuration's two values (nullopt: key absent),
// the build's public key (empty: none) and the package's computed digest.
struct PackageVerdict {
    bool accepted = true;
    std::string problem;  // for the log and the report when not accepted
};
PackageVerdict JudgePackage(const std::optional<std::string>& expectedSha256,
                            const std::optional<std::string>& signature, std::string_view publicKeyBase64,
                            const std::string& computedSha256);

// True when a package must be hashed before it may be unpacked.
inline bool PackageNeedsDigest(const std::optional<std::string>& expectedSha256, std::string_view publicKeyBase64) {
    return expectedSha256.has_value() || !publicKeyBase64.empty();
}
