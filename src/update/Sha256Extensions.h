#pragma once
// SHA-256 over the processor's SHA extensions (x86 SHA-NI), for a system whose own hashing is
// slow: under Wine, CNG hashes the package at a quarter of the download's speed. Used only where
// the processor has the extensions (Sha256ExtensionsPresent).

#include <cstddef>
#include <cstdint>

namespace package_crypto {

bool Sha256ExtensionsPresent();

class Sha256Extensions {
public:
    void Update(const void* data, std::size_t size);
    void Finish(unsigned char digest[32]);  // once; the state is spent after it

private:
    std::uint32_t m_state[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    unsigned char m_block[64] = {};
    std::size_t m_blockFill = 0;
    std::uint64_t m_length = 0;  // in bytes
};

}  // namespace package_crypto
