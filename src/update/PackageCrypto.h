#pragma once
// The system's cryptography under the package checks: OpenSSL's EVP on Linux
// (PackageCryptoOpenSsl.cpp), CNG on Windows with Ed25519 written out (PackageCryptoWindows.cpp).

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace package_crypto {

struct Sha256State;
struct Sha256StateDeleter {
    void operator()(Sha256State* state) const;
};
using Sha256 = std::unique_ptr<Sha256State, Sha256StateDeleter>;

Sha256 NewSha256();  // null when the system's cryptography cannot make one
bool UpdateSha256(Sha256State& state, const void* data, std::size_t size);
std::string FinishSha256(Sha256State& state);  // the 32 raw bytes; empty when it failed

// key: the raw 32 bytes, signature: the raw 64 bytes. False with problem said otherwise.
bool VerifyEd25519(std::string_view key, std::string_view message, std::string_view signature, std::string& problem);

}  // namespace package_crypto
