#pragma once
// JSON string escaping for the stand-in tools' records (reports, the game's start record).

#include <cstdio>
#include <string>

inline std::string JsonEscape(const std::string& text) {
    std::string out;
    for (const unsigned char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out;
}

// text as a JSON string, quotes included.
inline std::string JsonString(const std::string& text) { return "\"" + JsonEscape(text) + "\""; }
