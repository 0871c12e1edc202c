#pragma once
// The Windows sample game under the real Wine. Making a Wine prefix takes seconds, so a test run
// makes one warm prefix (tests/support/wine-prefix.sh, the ctest fixture "wine_prefix") whose
// server runs detached with its streams closed, and tests reuse it: by a link, or as a copy of
// links to its files when a test needs a prefix of its own.

#include <string>
#include <vector>

namespace testing_support {

// The warm prefix of this test run.
std::string WarmWinePrefix();

// prefix becomes a symbolic link to the warm prefix: Wine programs of prefix use its server.
void ShareWarmWinePrefix(const std::string& prefix);

// prefix becomes a prefix of its own (its own server) whose files are hard links to the warm
// prefix's. Wine replaces the files it changes (the registry) instead of writing into them.
void CopyWarmWinePrefix(const std::string& prefix);

// Starts the Wine server of prefix, persistent, detached and with its streams closed.
void StartWineServer(const std::string& prefix);

// The processes (pids) whose environment names prefix as their WINEPREFIX: its server and every
// Wine program of it.
std::vector<int> WineProcessesOf(const std::string& prefix);

// The process named zavo.exe working in gameDir: the game, also under Wine, which tells the
// game its Windows process id only.
int RunningGamePid(const std::string& gameDir);

// A path as a Windows program under Wine sees it: "Z:" and backslashes.
std::string WindowsPath(const std::string& path);

// The Windows sample game's executable bytes.
std::string WindowsSampleGameBytes();

}  // namespace testing_support
