#include "telemetry/UrlEscape.h"

#include <string_view>

namespace {

bool StaysAsIs(unsigned char c) {
    constexpr std::string_view kKept = "%-._~!$'()*,;=:@";
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           kKept.find(static_cast<char>(c)) != std::string_view::npos;
}

}  // namespace

std::string UrlEscapeSegment(std::string_view text) {
    constexpr char kHex[] = "0123456789ABCDEF";
    std::string escaped;
    escaped.reserve(text.size() * 3);
    for (const unsigned char c : text) {
        if (StaysAsIs(c)) {
            escaped += static_cast<char>(c);
        } else {
            escaped += '%';
            escaped += kHex[c >> 4];
            escaped += kHex[c & 0xF];
        }
    }
    return escaped;
}
