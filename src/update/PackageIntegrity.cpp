#include "update/PackageIntegrity.h"

#include <fmt/printf.h>

#include <algorithm>
#include <limits>
#include <vector>

#include "platform/File.h"
#include "update/PackageCrypto.h"

namespace {

constexpr std::size_t kEd25519KeyBytes = 32;
constexpr std::size_t kEd25519SignatureBytes = 64;
constexpr std::size_t kReadChunk = 1 << 20;

constexpr std::string_view kBase64Alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char c) {
    const auto at = kBase64Alphabet.find(c);
    return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

bool IsBase64Character(char c) { return Base64Value(c) >= 0; }

std::string LowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
    return text;
}

}  // namespace

PackageDigest::PackageDigest() : m_context(package_crypto::NewSha256()) { m_ok = m_context != nullptr; }

PackageDigest::~PackageDigest() = default;

void PackageDigest::Update(const void* data, std::size_t size) {
    if (m_ok && size > 0) {
        m_ok = package_crypto::UpdateSha256(*m_context, data, size);
    }
}

bool PackageDigest::UpdateFromFile(const std::string& path, std::int64_t length) {
    if (length == 0) {
        return m_ok;
    }
    platform::File file(path, platform::File::Mode::Read);
    std::vector<char> buffer(kReadChunk);
    std::int64_t left = length < 0 ? std::numeric_limits<std::int64_t>::max() : length;
    m_ok = m_ok && file.IsOpen();
    while (m_ok && left > 0) {
        const std::int64_t n = file.Read(buffer.data(), static_cast<std::size_t>(std::min<std::int64_t>(left, kReadChunk)));
        if (n <= 0) {
            m_ok = n == 0 && length < 0;  // the end comes early only when the whole file is asked for
            break;
        }
        Update(buffer.data(), static_cast<std::size_t>(n));
        left -= n;
    }
    return m_ok;
}

std::string PackageDigest::FinishHex() {
    const std::string digest = m_ok ? package_crypto::FinishSha256(*m_context) : std::string();
    m_ok = false;  // a finished digest takes no more bytes
    std::string hex;
    for (const char byte : digest) {
        hex += fmt::sprintf("%02x", static_cast<unsigned char>(byte));
    }
    return hex;
}

std::string Sha256FileHex(const std::string& path) {
    PackageDigest digest;
    return digest.UpdateFromFile(path, -1) ? digest.FinishHex() : std::string();
}

std::optional<std::string> DecodeBase64(std::string_view text) {
    // The padding may be missing: the configuration document cuts a value at its second "=",
    // which drops the "==" that ends every base64 signature.
    std::string padded(text);
    while (padded.size() % 4 != 0 && padded.size() % 4 != 1) {
        padded += '=';
    }
    if (padded.empty() || padded.size() % 4 != 0) {
        return std::nullopt;
    }
    std::size_t padding = 0;
    while (padding < 2 && padded[padded.size() - 1 - padding] == '=') {
        ++padding;
    }
    if (!std::all_of(padded.begin(), padded.end() - static_cast<std::ptrdiff_t>(padding), IsBase64Character)) {
        return std::nullopt;
    }
    std::string out;
    out.reserve(padded.size() / 4 * 3);
    for (std::size_t at = 0; at < padded.size(); at += 4) {
        std::uint32_t group = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            const int value = Base64Value(padded[at + i]);
            group = group << 6 | static_cast<std::uint32_t>(value < 0 ? 0 : value);  // "=" counts as zero bits
        }
        out += static_cast<char>(group >> 16 & 0xFF);
        out += static_cast<char>(group >> 8 & 0xFF);
        out += static_cast<char>(group & 0xFF);
    }
    out.resize(out.size() - padding);
    return out;
}

std::string EncodeBase64(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t at = 0; at < bytes.size(); at += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - at);
        std::uint32_t group = 0;
        for (std::size_t i = 0; i < 3; ++i) {
            group = group << 8 | (i < n ? static_cast<unsigned char>(bytes[at + i]) : 0U);
        }
        for (std::size_t i = 0; i < 4; ++i) {
            out += i <= n ? kBase64Alphabet[group >> (18 - 6 * i) & 0x3F] : '=';
        }
    }
    return out;
}

bool VerifyEd25519(std::string_view publicKeyBase64, std::string_view message, std::string_view signatureBase64,
                   std::string& problem) {
    const auto key = DecodeBase64(publicKeyBase64);
    if (!key || key->size() != kEd25519KeyBytes) {
        problem = "the built-in public key is not base64 of 32 bytes";
        return false;
    }
    const auto signature = DecodeBase64(signatureBase64);
    if (!signature || signature->size() != kEd25519SignatureBytes) {
        problem = "the signature is not base64 of 64 bytes";
        return false;
    }
    return package_crypto::VerifyEd25519(*key, message, *signature, problem);
}

PackageVerdict JudgePackage(const std::optional<std::string>& expectedSha256,
                            const std::optional<std::string>& signature, std::string_view publicKeyBase64,
                            const std::string& computedSha256) {
    PackageVerdict verdict;
    if (!publicKeyBase64.empty()) {
        // A build with the operator's key unpacks nothing the operator has not signed.
        std::string problem;
        if (!expectedSha256 || !signature) {
            verdict = {false, "package signature missing: the configuration lacks ClientPackageSha256 or "
                              "ClientPackageSignature"};
            return verdict;
        }
        if (!VerifyEd25519(publicKeyBase64, *expectedSha256, *signature, problem)) {
            verdict = {false, "package signature invalid: " + problem};
            return verdict;
        }
    }
    if (expectedSha256 && (computedSha256.empty() || LowerCase(*expectedSha256) != computedSha256)) {
        verdict = {false, fmt::sprintf("package digest mismatch: expected sha256 %s, got %s", *expectedSha256,
                                       computedSha256.empty() ? "nothing (the package could not be read)"
                                                              : computedSha256)};
    }
    return verdict;
}
