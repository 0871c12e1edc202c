#pragma once
// The page bridge fuzz target's input: what two web processes and the update worker do, in
// order. Records of one control byte each: bit 0 names the web process; bits 1-2 say what
// happens: 0 or 1, bytes arrive from that process (a length byte, then that many bytes); 2, the
// update worker declares the client ready; 3, the process hangs up and a new one connects in
// its place.

#include <cstdint>
#include <string>
#include <string_view>

namespace page_bridge_input {

// A stream's bytes from one process, cut into pieces of at most piece bytes.
inline std::string Bytes(int process, std::string_view bytes, std::size_t piece = 255) {
    std::string out;
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        const std::string_view part = bytes.substr(at, piece);
        out += static_cast<char>(process & 1);
        out += static_cast<char>(part.size());
        out += part;
    }
    return out;
}

inline std::string Ready() { return std::string(1, static_cast<char>(2 << 1)); }
inline std::string Reconnect(int process) { return std::string(1, static_cast<char>((3 << 1) | (process & 1))); }

}  // namespace page_bridge_input
