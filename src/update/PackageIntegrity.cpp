#include "update/PackageIntegrity.h"

#include <openssl/evp.h>

#include <fmt/printf.h>

#include <algorithm>
#include <limits>
#include <vector>

#include "platform/File.h"

namespace {

constexpr std::size_t kEd25519KeyBytes = 32;
constexpr std::size_t kEd25519SignatureBytes = 64;
constexpr std::size_t kReadChunk = 1 << 20;

bool IsBase64Character(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

std::string LowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
    return text;
}

}  // namespace

struct PackageDigest::Context {
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    ~Context() { EVP_MD_CTX_free(md); }
};

PackageDigest::PackageDigest() : m_context(std::make_unique<Context>()) {
    m_ok = m_context->md != nullptr && EVP_DigestInit_ex(m_context->md, EVP_sha256(), nullptr) == 1;
}

PackageDigest::~PackageDigest() = default;

void PackageDigest::Update(const void* data, std::size_t size) {
    if (m_ok && size > 0) {
        m_ok = EVP_DigestUpdate(m_context->md, data, size) == 1;
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
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!m_ok || EVP_DigestFinal_ex(m_context->md, digest, &length) != 1) {
        m_ok = false;
        return {};
    }
    m_ok = false;  // a finished digest takes no more bytes
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += fmt::sprintf("%02x", digest[i]);
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
    std::string out(padded.size() / 4 * 3, '\0');
    const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(padded.data()), static_cast<int>(padded.size()));
    if (n < 0 || static_cast<std::size_t>(n) != out.size()) {
        return std::nullopt;
    }
    out.resize(out.size() - padding);  // EVP_DecodeBlock counts the padding as zero bytes
    return out;
}

std::string EncodeBase64(std::string_view bytes) {
    std::string out((bytes.size() + 2) / 3 * 4 + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
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
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> pkey(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char*>(key->data()),
                                    key->size()),
        &EVP_PKEY_free);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!pkey || !ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, pkey.get()) != 1) {
        problem = "the public key cannot be used";
        return false;
    }
    // Ed25519 signs the message itself, in one pass.
    if (EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(signature->data()), signature->size(),
                         reinterpret_cast<const unsigned char*>(message.data()), message.size()) != 1) {
        problem = "the signature does not match the digest";
        return false;
    }
    return true;
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
