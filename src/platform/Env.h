#pragma once
// The user's folders and the proxy variables libcurl reads. Linux: from HOME and the XDG
// base-directory variables, the only folder values the launcher reads from its environment.
// Windows: the shell's special folders and the profile. Lookups never create a folder.

#include <optional>
#include <string>

namespace platform {

// $HOME when it is set to an absolute path (Windows: the user's profile folder).
std::optional<std::string> HomeDir();

// Where the data folder is made: ${XDG_DATA_HOME:-$HOME/.local/share}, nullopt when neither
// gives an absolute path. Windows: the root of drive C, as "C:", when "C:\\" exists.
std::optional<std::string> DataHome();

// ${XDG_CONFIG_HOME:-$HOME/.config}; nullopt when neither gives an absolute path (Windows: the
// roaming application data folder).
std::optional<std::string> ConfigHome();

// ${XDG_STATE_HOME:-$HOME/.local/state}; nullopt when neither gives an absolute path.
std::optional<std::string> StateHome();

// $XDG_RUNTIME_DIR when it names an existing folder (Windows: none).
std::optional<std::string> RuntimeDir();

// The user's desktop: XDG_DESKTOP_DIR from user-dirs.dirs, else $HOME/Desktop (Windows:
// CSIDL_DESKTOPDIRECTORY).
std::optional<std::string> DesktopDir();

// Where menu entries live: <data home>/applications (Windows: the Start menu, CSIDL_STARTMENU).
std::optional<std::string> StartMenuDir();

// A proxy variable (http_proxy, HTTPS_PROXY, no_proxy ...); nullopt when it is unset or empty,
// which libcurl takes alike.
std::optional<std::string> ProxyVariable(const char* name);

}  // namespace platform
