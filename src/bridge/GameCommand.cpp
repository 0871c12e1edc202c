#include "bridge/GameCommand.h"

#include <algorithm>
#include <cctype>

#include <fmt/printf.h>

#include "platform/FileSystem.h"

namespace {

constexpr std::size_t kLuaPathCharacters = 259;

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

bool IsUtf8Continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

LoginResult ParseLoginResult(std::string_view text) {
    const auto bar = text.find('|');
    if (text.empty() || bar == std::string_view::npos) {
        return {};
    }
    if (!EqualsIgnoringCase(text.substr(0, bar), "true")) {
        return {LoginResult::Verdict::Refused, {}};
    }
    const std::string_view rest = text.substr(bar + 1);
    return {LoginResult::Verdict::Accepted, std::string(rest.substr(0, rest.find('|')))};
}

std::string FirstLuaPathLine(std::string_view fileText) {
    std::string line;
    std::size_t characters = 0;
    for (std::size_t i = 0; i < fileText.size(); ++i) {
        const char c = fileText[i];
        if (c == '\r' && i + 1 < fileText.size() && fileText[i + 1] == '\n') {
            continue;  // text mode: CR LF reads as LF
        }
        if (IsUtf8Continuation(c)) {
            line += c;  // part of the character already counted
            continue;
        }
        if (characters == kLuaPathCharacters) {
            break;
        }
        line += c;
        ++characters;
        if (c == '\n') {
            break;
        }
    }
    return line;
}

std::optional<std::string> ReadLuaPath(const std::string& path) {
    if (!platform::PathExists(path)) {
        return std::nullopt;
    }
    // 259 characters of at most 4 bytes each, and the CR of a CR LF end, fit in this.
    const auto text = platform::ReadFileStart(path, 2048);
    if (!text) {
        return std::nullopt;
    }
    return FirstLuaPathLine(*text);
}

GameCommand BuildGameCommand(const std::string& clientDir, const std::vector<std::string>& launcherArgv,
                             const std::string& loginData, const std::string& customParameters,
                             const std::optional<std::string>& luaPath) {
    GameCommand command;
    command.program = fmt::sprintf("%s/zavo/zavo.exe", clientDir);
    command.workingDir = fmt::sprintf("%s/zavo", clientDir);
    command.argv = launcherArgv;
    if (command.argv.empty()) {
        command.argv.push_back(command.program);  // argv[0] is a program name, never an option
    }
    command.argv.push_back("--parameters=" + loginData);
    command.argv.push_back("--plat_extra=" + customParameters);
    if (luaPath) {
        command.argv.push_back("--luapath=" + *luaPath);
    }
    return command;
}

std::string JoinCommandLine(const std::vector<std::string>& argv) {
    std::string line;
    for (std::size_t i = 0; i < argv.size(); ++i) {
        line += (i == 0 ? "" : " ") + argv[i];
    }
    return line;
}
