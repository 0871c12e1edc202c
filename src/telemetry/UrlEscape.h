#pragma once
// Escaping of one value for a report's query, as the whole value were a single path segment.

#include <string>
#include <string_view>

// Letters, digits, "%" and -._~!$'()*,;=:@ stay as they are. Everything else becomes a percent
// sign and two upper-case hexadecimal digits per byte: blanks, control characters, "&", "|",
// "#", "?", "/", "+" (a form decoder would read it as a blank), the other characters unsafe in
// an address, and each UTF-8 byte of a character outside ASCII.
std::string UrlEscapeSegment(std::string_view text);
