#pragma once
// How this system spells paths, the names of programs and shortcuts, and the end of a text line.

#include <string_view>

namespace platform {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
inline constexpr std::string_view kExecutableSuffix = ".exe";
inline constexpr std::string_view kShortcutSuffix = ".lnk";  // a shell link
inline constexpr std::string_view kTextLineEnd = "\r\n";     // what text mode makes of a line feed
#else
inline constexpr char kPathSeparator = '/';
inline constexpr std::string_view kExecutableSuffix = "";
inline constexpr std::string_view kShortcutSuffix = ".desktop";  // a desktop entry stands in for a shell link
inline constexpr std::string_view kTextLineEnd = "\n";
#endif

}  // namespace platform
