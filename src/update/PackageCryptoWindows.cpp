// SHA-256 and SHA-512 through CNG (bcrypt.dll, in every Windows since Vista). Windows has no
// Ed25519 of its own, so the signature check is written here: verification only (nothing
// secret is handled, so nothing needs to run in constant time), in the field arithmetic of
// TweetNaCl (16 limbs of 16 bits), with the curve's constants computed rather than copied.

#include <windows.h>
#include <bcrypt.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>

#include "update/PackageCrypto.h"
#include "update/Sha256Extensions.h"

namespace package_crypto {
namespace {

// ---- GF(2^255 - 19)

using Fe = std::array<std::int64_t, 16>;

void Carry(Fe& o) {
    for (int i = 0; i < 16; ++i) {
        o[i] += std::int64_t{1} << 16;
        const std::int64_t c = o[i] >> 16;
        o[(i + 1) * (i < 15)] += c - 1 + 37 * (c - 1) * (i == 15);
        o[i] -= c * (std::int64_t{1} << 16);
    }
}

Fe Add(const Fe& a, const Fe& b) {
    Fe o;
    for (int i = 0; i < 16; ++i) {
        o[i] = a[i] + b[i];
    }
    return o;
}

Fe Sub(const Fe& a, const Fe& b) {
    Fe o;
    for (int i = 0; i < 16; ++i) {
        o[i] = a[i] - b[i];
    }
    return o;
}

Fe Mul(const Fe& a, const Fe& b) {
    std::array<std::int64_t, 31> t{};
    for (int i = 0; i < 16; ++i) {
        for (int j = 0; j < 16; ++j) {
            t[i + j] += a[i] * b[j];
        }
    }
    for (int i = 0; i < 15; ++i) {
        t[i] += 38 * t[i + 16];
    }
    Fe o;
    for (int i = 0; i < 16; ++i) {
        o[i] = t[i];
    }
    Carry(o);
    Carry(o);
    return o;
}

Fe Small(std::int64_t value) {
    Fe o{};
    o[0] = value;
    Carry(o);
    return o;
}

// a^(2^(top+1) - 1 - sum of 2^k for k in skipped), by squaring and multiplying from bit top down.
template <typename Skip>
Fe Power(const Fe& a, int top, Skip skip) {
    Fe c = a;
    for (int bit = top - 1; bit >= 0; --bit) {
        c = Mul(c, c);
        if (!skip(bit)) {
            c = Mul(c, a);
        }
    }
    return c;
}

Fe Invert(const Fe& a) { return Power(a, 254, [](int bit) { return bit == 2 || bit == 4; }); }  // a^(p-2)
Fe Pow2523(const Fe& a) { return Power(a, 251, [](int bit) { return bit == 1; }); }          // a^((p-5)/8)

std::array<unsigned char, 32> Pack(const Fe& n) {
    Fe t = n;
    Carry(t);
    Carry(t);
    Carry(t);
    for (int round = 0; round < 2; ++round) {  // subtract p while the value is at least p
        Fe m;
        m[0] = t[0] - 0xffed;
        for (int i = 1; i < 15; ++i) {
            m[i] = t[i] - 0xffff - ((m[i - 1] >> 16) & 1);
            m[i - 1] &= 0xffff;
        }
        m[15] = t[15] - 0x7fff - ((m[14] >> 16) & 1);
        const bool borrow = ((m[15] >> 16) & 1) != 0;
        m[14] &= 0xffff;
        if (!borrow) {
            t = m;
        }
    }
    std::array<unsigned char, 32> o;
    for (int i = 0; i < 16; ++i) {
        o[2 * i] = static_cast<unsigned char>(t[i] & 0xff);
        o[2 * i + 1] = static_cast<unsigned char>((t[i] >> 8) & 0xff);
    }
    return o;
}

Fe Unpack(const unsigned char* n) {
    Fe o;
    for (int i = 0; i < 16; ++i) {
        o[i] = n[2 * i] + (std::int64_t{n[2 * i + 1]} << 8);
    }
    o[15] &= 0x7fff;
    return o;
}

bool Equal(const Fe& a, const Fe& b) { return Pack(a) == Pack(b); }
int Parity(const Fe& a) { return Pack(a)[0] & 1; }

// ---- the curve, in extended coordinates (X, Y, Z, T)

using Point = std::array<Fe, 4>;

struct Curve {
    Fe d, d2, sqrtMinusOne;
    Point base;
};

void AddTo(Point& p, const Point& q, const Curve& curve) {
    const Fe a = Mul(Sub(p[1], p[0]), Sub(q[1], q[0]));
    const Fe b = Mul(Add(p[0], p[1]), Add(q[0], q[1]));
    const Fe c = Mul(Mul(p[3], q[3]), curve.d2);
    Fe d = Mul(p[2], q[2]);
    d = Add(d, d);
    const Fe e = Sub(b, a);
    const Fe f = Sub(d, c);
    const Fe g = Add(d, c);
    const Fe h = Add(b, a);
    p = {Mul(e, f), Mul(h, g), Mul(g, f), Mul(e, h)};
}

std::array<unsigned char, 32> PackPoint(const Point& p) {
    const Fe zi = Invert(p[2]);
    auto r = Pack(Mul(p[1], zi));
    r[31] ^= static_cast<unsigned char>(Parity(Mul(p[0], zi)) << 7);
    return r;
}

// scalar (32 bytes, little-endian) times q.
Point ScalarMult(Point q, const unsigned char* scalar, const Curve& curve) {
    Point p = {Small(0), Small(1), Small(1), Small(0)};
    for (int i = 255; i >= 0; --i) {
        if (((scalar[i / 8] >> (i & 7)) & 1) != 0) {
            AddTo(p, q, curve);
            AddTo(q, q, curve);
        } else {
            AddTo(q, p, curve);
            AddTo(p, p, curve);
        }
    }
    return p;
}

// The point encoded in 32 bytes, negated; false when the bytes encode no point.
bool UnpackNegated(Point& r, const unsigned char* encoded, const Curve& curve) {
    r[2] = Small(1);
    r[1] = Unpack(encoded);
    Fe num = Mul(r[1], r[1]);
    Fe den = Mul(num, curve.d);
    num = Sub(num, r[2]);
    den = Add(r[2], den);
    const Fe den2 = Mul(den, den);
    const Fe den4 = Mul(den2, den2);
    const Fe den6 = Mul(den4, den2);
    Fe t = Mul(Mul(den6, num), den);
    t = Pow2523(t);
    t = Mul(Mul(Mul(t, num), den), den);
    r[0] = Mul(t, den);
    if (!Equal(Mul(Mul(r[0], r[0]), den), num)) {
        r[0] = Mul(r[0], curve.sqrtMinusOne);
    }
    if (!Equal(Mul(Mul(r[0], r[0]), den), num)) {
        return false;
    }
    if (Parity(r[0]) == (encoded[31] >> 7)) {
        r[0] = Sub(Small(0), r[0]);
    }
    r[3] = Mul(r[0], r[1]);
    return true;
}

const Curve& Ed25519Curve() {
    static const Curve curve = [] {
        Curve c;
        c.d = Mul(Sub(Small(0), Small(121665)), Invert(Small(121666)));  // -121665/121666
        c.d2 = Add(c.d, c.d);
        c.sqrtMinusOne = Power(Small(2), 252, [](int bit) { return bit == 2; });  // 2^((p-1)/4)
        // The base point: y = 4/5 and the even x.
        const auto y = Pack(Mul(Small(4), Invert(Small(5))));
        Point negated;
        UnpackNegated(negated, y.data(), c);
        c.base = {Sub(Small(0), negated[0]), negated[1], negated[2], Sub(Small(0), negated[3])};
        return c;
    }();
    return curve;
}

// ---- the group order L = 2^252 + 27742317777372353535851937790883648493

constexpr std::array<std::int64_t, 32> kOrder = {0xed, 0xd3, 0xf5, 0x5c, 0x1a, 0x63, 0x12, 0x58, 0xd6, 0x9c, 0xf7,
                                                 0xa2, 0xde, 0xf9, 0xde, 0x14, 0,    0,    0,    0,    0,    0,
                                                 0,    0,    0,    0,    0,    0,    0,    0,    0,    0x10};

// The 64-byte little-endian number modulo L, as 32 bytes.
std::array<unsigned char, 32> ReduceModOrder(const unsigned char* wide) {
    std::array<std::int64_t, 64> x;
    for (int i = 0; i < 64; ++i) {
        x[i] = wide[i];
    }
    for (int i = 63; i >= 32; --i) {
        std::int64_t carry = 0;
        int j = i - 32;
        for (; j < i - 12; ++j) {
            x[j] += carry - 16 * x[i] * kOrder[j - (i - 32)];
            carry = (x[j] + 128) >> 8;
            x[j] -= carry * 256;
        }
        x[j] += carry;
        x[i] = 0;
    }
    std::int64_t carry = 0;
    for (int j = 0; j < 32; ++j) {
        x[j] += carry - (x[31] >> 4) * kOrder[j];
        carry = x[j] >> 8;
        x[j] &= 255;
    }
    for (int j = 0; j < 32; ++j) {
        x[j] -= carry * kOrder[j];
    }
    std::array<unsigned char, 32> r;
    for (int i = 0; i < 32; ++i) {
        x[i + 1] += x[i] >> 8;
        r[i] = static_cast<unsigned char>(x[i] & 255);
    }
    return r;
}

// True when the 32-byte little-endian scalar is below L (a signature's S must be: RFC 8032, 5.1.7).
bool BelowOrder(const unsigned char* s) {
    for (int i = 31; i >= 0; --i) {
        if (s[i] != kOrder[i]) {
            return s[i] < kOrder[i];
        }
    }
    return false;
}

bool Sha512(const std::string& message, unsigned char (&digest)[64]) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA512_ALGORITHM, nullptr, 0))) {
        return false;
    }
    BCRYPT_HASH_HANDLE hash = nullptr;
    const bool ok =
        BCRYPT_SUCCESS(::BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0)) &&
        BCRYPT_SUCCESS(::BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(message.data())),
                                        static_cast<ULONG>(message.size()), 0)) &&
        BCRYPT_SUCCESS(::BCryptFinishHash(hash, digest, 64, 0));
    if (hash != nullptr) {
        ::BCryptDestroyHash(hash);
    }
    ::BCryptCloseAlgorithmProvider(algorithm, 0);
    return ok;
}

}  // namespace

// CNG's hash, or the processor's SHA extensions where it has them: Wine's CNG hashes far slower
// than the download arrives, and on Windows the extensions are what CNG would use.
struct Sha256State {
    std::optional<Sha256Extensions> extensions;
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
    if (Sha256ExtensionsPresent()) {
        state->extensions.emplace();
        return state;
    }
    if (algorithm == nullptr ||
        !BCRYPT_SUCCESS(::BCryptCreateHash(algorithm, &state->hash, nullptr, 0, nullptr, 0, 0))) {
        return nullptr;
    }
    return state;
}

bool UpdateSha256(Sha256State& state, const void* data, std::size_t size) {
    if (state.extensions) {
        state.extensions->Update(data, size);
        return true;
    }
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
    if (state.extensions) {
        state.extensions->Finish(reinterpret_cast<unsigned char*>(digest.data()));
        state.extensions.reset();
        return digest;
    }
    if (!BCRYPT_SUCCESS(::BCryptFinishHash(state.hash, reinterpret_cast<PUCHAR>(digest.data()), 32, 0))) {
        return {};
    }
    return digest;
}

bool VerifyEd25519(std::string_view key, std::string_view message, std::string_view signature, std::string& problem) {
    const Curve& curve = Ed25519Curve();
    const auto* keyBytes = reinterpret_cast<const unsigned char*>(key.data());
    const auto* signatureBytes = reinterpret_cast<const unsigned char*>(signature.data());
    Point minusA;
    if (key.size() != 32 || !UnpackNegated(minusA, keyBytes, curve)) {
        problem = "the public key cannot be used";
        return false;
    }
    unsigned char digest[64];
    if (signature.size() != 64 || !BelowOrder(signatureBytes + 32) ||
        !Sha512(std::string(signature.substr(0, 32)) + std::string(key) + std::string(message), digest)) {
        problem = "the signature does not match the digest";
        return false;
    }
    // [S]B - [k]A must be the signature's R, with k = SHA-512(R || A || message) mod L.
    const auto k = ReduceModOrder(digest);
    Point check = ScalarMult(minusA, k.data(), curve);
    AddTo(check, ScalarMult(curve.base, signatureBytes + 32, curve), curve);
    if (std::memcmp(PackPoint(check).data(), signatureBytes, 32) != 0) {
        problem = "the signature does not match the digest";
        return false;
    }
    return true;
}

}  // namespace package_crypto
