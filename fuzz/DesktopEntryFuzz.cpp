// Shortcuts as the desktop reads them back. The launcher writes a desktop entry for each
// shortcut (platform::SaveShellLink) from its name, the launcher's path below the user's data
// home and a fixed argument; a desktop must read the same name and the same command back,
// whatever the path holds. It also reads the user's own "user-dirs.dirs" to find the desktop.
// Input: name, target path, window class and the user-dirs.dirs content, separated by NUL
// bytes; the first byte chooses the argument ("/uninstall" when odd).

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "platform/Env.h"
#include "platform/ShellLink.h"
#include "platform/posix/Linux.h"

namespace {

// A reader that follows the desktop entry rules: "Key=Value" lines below the group header,
// blanks around "=" ignored, \s \n \t \r \\ escapes in string values.
std::optional<std::string> UnescapeValue(std::string_view value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\') {
            out += value[i];
            continue;
        }
        if (++i == value.size()) {
            return std::nullopt;
        }
        switch (value[i]) {
            case 's': out += ' '; break;
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case 'r': out += '\r'; break;
            case '\\': out += '\\'; break;
            default: return std::nullopt;
        }
    }
    return out;
}

// The Exec value's arguments: double-quoted ones with \" \` \$ \\ escapes, plain words
// otherwise; "%%" is a literal percent sign.
std::optional<std::vector<std::string>> ExecArguments(std::string_view exec) {
    std::vector<std::string> args;
    std::size_t i = 0;
    while (i < exec.size()) {
        if (exec[i] == ' ') {
            ++i;
            continue;
        }
        std::string arg;
        if (exec[i] == '"') {
            for (++i;; ++i) {
                if (i >= exec.size()) {
                    return std::nullopt;
                }
                char c = exec[i];
                if (c == '"') {
                    ++i;
                    break;
                }
                if (c == '\\') {
                    if (++i >= exec.size()) {
                        return std::nullopt;
                    }
                    c = exec[i];
                    if (c != '"' && c != '`' && c != '$' && c != '\\') {
                        return std::nullopt;
                    }
                } else if (c == '`' || c == '$') {
                    return std::nullopt;  // must be escaped inside quotes
                }
                if (c == '%') {
                    if (i + 1 >= exec.size() || exec[i + 1] != '%') {
                        return std::nullopt;  // a field code inside quotes is not allowed
                    }
                    ++i;
                }
                arg += c;
            }
        } else {
            for (; i < exec.size() && exec[i] != ' '; ++i) {
                if (exec[i] == '%') {
                    if (i + 1 >= exec.size() || exec[i + 1] != '%') {
                        return std::nullopt;
                    }
                    ++i;
                }
                arg += exec[i];
            }
        }
        args.push_back(std::move(arg));
    }
    return args;
}

struct ReadEntry {
    std::vector<std::pair<std::string, std::string>> keys;  // in file order, values unescaped
};

std::optional<ReadEntry> ReadDesktopEntry(std::string_view text) {
    if (text.empty() || text.back() != '\n') {
        return std::nullopt;
    }
    text.remove_suffix(1);
    ReadEntry entry;
    bool inGroup = false;
    while (true) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        if (!inGroup) {
            if (line != "[Desktop Entry]") {
                return std::nullopt;
            }
            inGroup = true;
        } else {
            const std::size_t eq = line.find('=');
            if (eq == std::string_view::npos) {
                return std::nullopt;
            }
            std::string_view key = line.substr(0, eq);
            std::string_view value = line.substr(eq + 1);
            while (!key.empty() && key.back() == ' ') {
                key.remove_suffix(1);
            }
            while (!value.empty() && value.front() == ' ') {
                value.remove_prefix(1);
            }
            auto unescaped = UnescapeValue(value);
            if (!unescaped) {
                return std::nullopt;
            }
            entry.keys.emplace_back(std::string(key), std::move(*unescaped));
        }
        if (end == std::string_view::npos) {
            return entry;
        }
        text.remove_prefix(end + 1);
    }
}

// Text a desktop entry can carry at all: UTF-8 without control characters other than the
// three that have escapes.
bool Carriable(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if ((c < 0x20 && c != '\n' && c != '\t' && c != '\r') || c == 0x7f) {
                return false;
            }
            ++i;
            continue;
        }
        const std::size_t length = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
        if (length == 0 || i + length > text.size()) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

std::string_view NextField(std::string_view& input) {
    const std::size_t cut = input.find('\0');
    const std::string_view field = input.substr(0, cut);
    input = cut == std::string_view::npos ? std::string_view() : input.substr(cut + 1);
    return field;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::QuietProcess();
    static const bool homeSet = [] {
        const std::string& scratch = fuzzing::ScratchFolder();
        setenv("HOME", scratch.c_str(), 1);
        setenv("XDG_CONFIG_HOME", scratch.c_str(), 1);
        return true;
    }();
    (void)homeSet;
    if (size == 0) {
        return 0;
    }
    std::string_view input = fuzzing::AsText(data + 1, size - 1);
    platform::ShellLink link;
    link.name = NextField(input);
    link.target = NextField(input);
    link.windowClass = NextField(input);
    link.arguments = (data[0] & 1) != 0 ? "/uninstall" : "";
    const std::string_view userDirs = input;

    const std::string text = platform::DesktopEntryText(link);
    if (Carriable(link.name) && Carriable(link.target) && Carriable(link.windowClass)) {
        const auto entry = ReadDesktopEntry(text);
        fuzzing::Check(entry.has_value(), "a shortcut's desktop entry cannot be read back");
        std::vector<std::pair<std::string, std::string>> expected = {{"Type", "Application"}, {"Name", link.name}};
        const auto exec = std::find_if(entry->keys.begin(), entry->keys.end(),
                                       [](const auto& key) { return key.first == "Exec"; });
        fuzzing::Check(exec != entry->keys.end(), "a shortcut's desktop entry has no command");
        std::vector<std::string> command = {link.target};
        if (!link.arguments.empty()) {
            command.push_back(link.arguments);
        }
        fuzzing::Check(ExecArguments(exec->second) == command, "a shortcut's command reads back differently");
        expected.emplace_back("Exec", exec->second);
        if (!link.windowClass.empty()) {
            expected.emplace_back("StartupWMClass", link.windowClass);
        }
        fuzzing::Check(entry->keys == expected, "a shortcut's desktop entry reads back other keys or values");
    }

    // The desktop folder from the user's own file: always an absolute path.
    fuzzing::WriteFile(fuzzing::ScratchFolder() + "/user-dirs.dirs", userDirs);
    const auto desktop = platform::DesktopDir();
    fuzzing::Check(desktop.has_value() && !desktop->empty() && desktop->front() == '/',
                   "the desktop folder is not an absolute path");
    return 0;
}
