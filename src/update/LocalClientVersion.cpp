#include "update/LocalClientVersion.h"

#include <fmt/printf.h>

#include <limits>

std::string LocalClientVersion::ToString() const { return fmt::sprintf("%d.%d.%d.%d", first, second, third, fourth); }

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

template <typename T>
T ParseDecimal(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && IsSpace(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulate towards the sign's side so that the most negative value fits too.
    T value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const T digit = text[i] - '0';
        if (negative) {
            if (value < (std::numeric_limits<T>::min() + digit) / 10) {
                return std::numeric_limits<T>::min();
            }
            value = value * 10 - digit;
        } else {
            if (value > (std::numeric_limits<T>::max() - digit) / 10) {
                return std::numeric_limits<T>::max();
            }
            value = value * 10 + digit;
        }
    }
    return value;
}

}  // namespace

std::int64_t ParseDecimal64(std::string_view text) { return ParseDecimal<std::int64_t>(text); }
std::int32_t ParseDecimal32(std::string_view text) { return ParseDecimal<std::int32_t>(text); }

LocalClientVersion ParseVersionText(std::string_view text) {
    std::int32_t fields[4] = {0, 0, 0, 0};
    for (int index = 0; index < 4; ++index) {
        const size_t dot = text.find('.');
        fields[index] = ParseDecimal32(text.substr(0, dot));
        if (dot == std::string_view::npos) {
            break;
        }
        text.remove_prefix(dot + 1);
    }
    return {fields[0], fields[1], fields[2], fields[3]};
}
