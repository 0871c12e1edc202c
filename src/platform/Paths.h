#pragma once
// How this system spells paths and the names of programs and shortcuts.

#include <string_view>

namespace platform {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
inline constexpr std::string_view kExecutableSuffix = ".exe";
inline constexpr std::string_view kShortcutSuffix = ".lnk";  // a shell link
#else
inline constexpr char kPathSeparator = '/';
inline constexpr std::string_view kExecutableSuffix = "";
inline constexpr std::string_view kShortcutSuffix = ".desktop";  // a desktop entry stands in for a shell link
#endif

}  // namespace platform
