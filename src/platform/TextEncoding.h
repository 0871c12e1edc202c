#pragma once
// Text from outside the launcher in other encodings. Inside, all text is UTF-8.

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// True when text is well-formed UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
bool IsValidUtf8(std::string_view text);

// Text in code page 936 (GBK, the narrow code page of Chinese Windows) as UTF-8; nullopt when it
// holds a byte sequence that code page does not define.
std::optional<std::string> GbkToUtf8(std::string_view text);

}  // namespace platform
