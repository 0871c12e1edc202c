#pragma once
// How a package upgrade reaches the launcher copy in the data folder. Every shortcut starts that
// copy, which therefore never meets a newer installed launcher by itself: when the copy finds the
// installed launcher (<prefix>/lib/valdrune/valdrune, this build's install rules and package)
// newer than itself, it hands its whole start over to it, and the installed launcher's own copy
// step (install registration) then replaces the copy. Copies keep the modification time of the
// launcher they came from, so "newer" means a later build, whenever the copy was made.

#include <optional>
#include <string>
#include <vector>

// The places where this build installs the launcher.
std::vector<std::string> InstalledLauncherPaths();

// The installed launcher the running executable should hand over to: only when running is the
// launcher copy, and an installed launcher is strictly newer than it. nullopt otherwise.
std::optional<std::string> NewerInstalledLauncher(const std::string& running, const std::string& copy,
                                                  const std::vector<std::string>& installed);
