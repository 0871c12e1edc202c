#pragma once
// Wine, which runs a Windows game client here: finding its loader, the environment its programs
// get, and the launcher's own prefix (Wine's Windows installation), made once and ended at the
// uninstall. The user's own ~/.wine is never touched: every Wine program the launcher starts
// names its prefix.

#include <optional>
#include <string>
#include <vector>

namespace platform {

// Keeps Wine from writing menu entries on the host and from asking to install its own .NET
// and HTML engines.
inline constexpr const char* kWineDllOverrides = "winemenubuilder.exe=d;mscoree=d;mshtml=d";

// The Wine loader: $VALDRUNE_WINE when set (a path, or a name looked up on $PATH), else "wine"
// from $PATH. nullopt when that names no executable file. Only absolute $PATH entries count.
std::optional<std::string> FindWineLoader();

// environment ("NAME=value" entries) as Wine programs of prefix get it: WINEPREFIX,
// WINEDEBUG=-all and WINEDLLOVERRIDES set, and a UTF-8 character locale (C.UTF-8) when the one in
// force is C or POSIX or none at all; without it Wine cannot open a path with non-ASCII letters.
std::vector<std::string> WineEnvironment(std::vector<std::string> environment, const std::string& prefix);

// The launcher's own environment, made into the one above.
std::vector<std::string> WineEnvironmentFor(const std::string& prefix);

struct WinePrefixResult {
    bool made = false;    // the prefix is in place
    int wineStatus = -1;  // wineboot's exit status; -1 when Wine could not be started
};

// Makes prefix with loader ("wineboot --init", streams closed, waiting for it; some seconds).
// Wine fills "<prefix>.new", which becomes prefix only once Wine reports success, so that a
// making cut short (the launcher closed meanwhile) is never taken for a made prefix; such a
// leftover is removed first. An existing prefix counts as made.
WinePrefixResult MakeWinePrefix(const std::string& loader, const std::string& prefix);

// Ends the prefix's Wine server and every program of it ("wineserver -k" with WINEPREFIX) and
// waits for that; likewise for a making of it cut short. Nothing when the prefix does not exist
// or no wineserver is found.
void EndWineServer(const std::string& prefix);

}  // namespace platform
