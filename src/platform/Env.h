#pragma once
// The user's folders, from HOME and the XDG base-directory variables. These are the only
// values the launcher reads from its environment. Lookups never create a folder.

#include <optional>
#include <string>

namespace platform {

// $HOME when it is set to an absolute path.
std::optional<std::string> HomeDir();

// ${XDG_DATA_HOME:-$HOME/.local/share}; nullopt when neither gives an absolute path.
std::optional<std::string> DataHome();

// ${XDG_CONFIG_HOME:-$HOME/.config}; nullopt when neither gives an absolute path.
std::optional<std::string> ConfigHome();

// ${XDG_STATE_HOME:-$HOME/.local/state}; nullopt when neither gives an absolute path.
std::optional<std::string> StateHome();

// $XDG_RUNTIME_DIR when it names an existing folder.
std::optional<std::string> RuntimeDir();

// The user's desktop: XDG_DESKTOP_DIR from user-dirs.dirs, else $HOME/Desktop.
std::optional<std::string> DesktopDir();

// Where menu entries live: <data home>/applications (the Windows "Start menu").
std::optional<std::string> StartMenuDir();

}  // namespace platform
