#pragma once
// The game client's four-number version and the text forms it is read from and written as.

#include <compare>
#include <cstdint>
#include <string>
#include <string_view>

struct LocalClientVersion {
    std::int32_t first = 0;
    std::int32_t second = 0;
    std::int32_t third = 0;
    std::int32_t fourth = 0;

    // Field by field, first field first, signed.
    auto operator<=>(const LocalClientVersion&) const = default;

    // "%d.%d.%d.%d"
    std::string ToString() const;
};

// The text cut at "." into four fields, each read as a decimal number (see ParseDecimal);
// missing fields are 0 and fields after the fourth are ignored: "1.2" is 1.2.0.0, "v1.2" is
// 0.2.0.0, "1.0.0.3\r\n" is 1.0.0.3.
LocalClientVersion ParseVersionText(std::string_view text);

// Leading white space and one sign accepted, reading stops at the first non-digit, no digits
// give 0. A number beyond the type's range saturates at its limit.
std::int64_t ParseDecimal64(std::string_view text);
std::int32_t ParseDecimal32(std::string_view text);
