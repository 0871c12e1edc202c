#pragma once
// What the page's login result says, and how the game is started from it.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The login result text as the page passes it: "<verdict>|<login data>[|ignored...]".
struct LoginResult {
    enum class Verdict { Malformed, Refused, Accepted };
    Verdict verdict = Verdict::Malformed;
    std::string loginData;  // the second field, verbatim (possibly empty); only when Accepted
};

// Empty or without a bar: Malformed. A first field other than "true" in any letter case: Refused.
LoginResult ParseLoginResult(std::string_view text);

// The first line of "luapath.txt" as the system's text-mode line reading gives it: at most 259
// characters, ending after the first line feed, which is kept; a CR LF end reads as one line
// feed. Characters are UTF-8 sequences, never cut apart.
std::string FirstLuaPathLine(std::string_view fileText);

// The Lua path from the file at path: nullopt when the file does not exist, and also when it
// exists but cannot be read, so that the game starts without a Lua path rather than not at all.
std::optional<std::string> ReadLuaPath(const std::string& path);

struct GameCommand {
    std::string program;     // <client>/zavo/zavo.exe
    std::string workingDir;  // <client>/zavo
    std::vector<std::string> argv;
    std::optional<std::vector<std::string>> environment;  // nullopt: the launcher's own
    bool silent = false;                                   // the program's output discarded
};

// The launcher's own argv, then "--parameters=<login data>", "--plat_extra=<custom parameters>"
// and, with a Lua path, "--luapath=<lua path>". Every value is one whole argument, as given.
GameCommand BuildGameCommand(const std::string& clientDir, const std::vector<std::string>& launcherArgv,
                             const std::string& loginData, const std::string& customParameters,
                             const std::optional<std::string>& luaPath);

// The command line as the log shows it: the arguments joined by blanks.
std::string JoinCommandLine(const std::vector<std::string>& argv);
