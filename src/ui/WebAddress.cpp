#include "ui/WebAddress.h"

namespace {

bool IsControlOrSpace(char c) {
    return static_cast<unsigned char>(c) <= 0x20;
}

bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

}  // namespace

std::optional<std::string> WebAddress(std::string_view address) {
    while (!address.empty() && IsControlOrSpace(address.front())) {
        address.remove_prefix(1);
    }
    while (!address.empty() && IsControlOrSpace(address.back())) {
        address.remove_suffix(1);
    }
    std::string cleaned;
    cleaned.reserve(address.size());
    for (const char c : address) {
        if (c != '\t' && c != '\n' && c != '\r') {
            cleaned += c;
        }
    }
    // The scheme: a letter, then letters, digits, "+", "-" or ".", up to the first ":".
    std::string scheme;
    for (const char c : cleaned) {
        if (c == ':') {
            if (scheme == "http" || scheme == "https") {
                return cleaned;
            }
            return std::nullopt;
        }
        const bool later = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
        if (!IsLetter(c) && !(later && !scheme.empty())) {
            return std::nullopt;
        }
        scheme += IsLetter(c) ? static_cast<char>(c | 0x20) : c;
        if (scheme.size() > 5) {
            return std::nullopt;  // longer than "https"
        }
    }
    return std::nullopt;  // no scheme: a relative address means nothing outside the page
}

std::string AddressForLog(std::string_view address) {
    constexpr size_t kMaxBytes = 256;
    if (address.size() <= kMaxBytes) {
        return std::string(address);
    }
    size_t end = kMaxBytes;
    while (end > 0 && (static_cast<unsigned char>(address[end]) & 0xC0) == 0x80) {
        --end;  // never split a character
    }
    return std::string(address.substr(0, end)) + "...";
}
