#pragma once
// The Windows sample game under the real Wine. A test run makes one warm prefix (the ctest
// fixture "wine_prefix", recipe in wine-prefix.sh); tests reuse it instead of making their own.

#include <string>
#include <vector>

#include "GameRecord.h"

namespace testing_support {

// prefix becomes a link to the warm prefix, whose running server its Wine programs then share.
void ShareWarmWinePrefix(const std::string& prefix);

// prefix becomes a prefix of its own (own server) of hard links to the warm prefix's files;
// Wine replaces the files it changes instead of writing into them.
void CopyWarmWinePrefix(const std::string& prefix);

// Starts the Wine server of prefix, persistent, detached, with its streams closed.
void StartWineServer(const std::string& prefix);

// The processes whose WINEPREFIX is prefix: its server and every Wine program of it.
std::vector<int> WineProcessesOf(const std::string& prefix);

// The process named zavo.exe working in gameDir (under Wine the game knows only its Windows pid).
int RunningGamePid(const std::string& gameDir);

// That process once the game has written its record (Wine names the process before the game
// runs), with the record; 0 until then.
int RunningGameWithRecord(const std::string& gameDir, SampleGameRecord& record);

// A path as a Windows program under Wine sees it: "Z:" and backslashes.
std::string WindowsPath(const std::string& path);

std::string WindowsSampleGameBytes();

}  // namespace testing_support
