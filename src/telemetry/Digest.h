#pragma once
// The client identity digest: SHA-1 of a text's UTF-8 bytes as 40 lowercase hexadecimal digits.

#include <string>
#include <string_view>

// The empty text when the digest cannot be computed.
std::string HashSha1Hex(std::string_view text);
