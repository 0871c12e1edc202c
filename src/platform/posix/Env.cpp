#include "platform/Env.h"

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>

namespace platform {
namespace {

std::optional<std::string> AbsoluteVariable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/') {
        return std::nullopt;
    }
    std::string path(value);
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

std::optional<std::string> XdgFolder(const char* variable, const char* belowHome) {
    if (auto explicitPath = AbsoluteVariable(variable)) {
        return explicitPath;
    }
    if (auto home = HomeDir()) {
        return *home + belowHome;
    }
    return std::nullopt;
}

// One line of user-dirs.dirs: XDG_DESKTOP_DIR="$HOME/Desktop" or an absolute path in quotes.
std::optional<std::string> UserDirFromLine(const std::string& line, const std::string& key,
                                           const std::string& home) {
    const std::string prefix = key + "=\"";
    if (line.rfind(prefix, 0) != 0 || line.size() < prefix.size() + 1 || line.back() != '"') {
        return std::nullopt;
    }
    std::string value = line.substr(prefix.size(), line.size() - prefix.size() - 1);
    if (value.rfind("$HOME", 0) == 0) {
        value = home + value.substr(5);
    }
    if (value.empty() || value[0] != '/') {
        return std::nullopt;
    }
    while (value.size() > 1 && value.back() == '/') {
        value.pop_back();
    }
    return value;
}

}  // namespace

std::optional<std::string> HomeDir() { return AbsoluteVariable("HOME"); }

std::optional<std::string> DataHome() { return XdgFolder("XDG_DATA_HOME", "/.local/share"); }

std::optional<std::string> ConfigHome() { return XdgFolder("XDG_CONFIG_HOME", "/.config"); }

std::optional<std::string> StateHome() { return XdgFolder("XDG_STATE_HOME", "/.local/state"); }

std::optional<std::string> RuntimeDir() {
    auto dir = AbsoluteVariable("XDG_RUNTIME_DIR");
    struct stat st {};
    if (dir && ::stat(dir->c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        return dir;
    }
    return std::nullopt;
}

std::optional<std::string> DesktopDir() {
    auto home = HomeDir();
    if (auto config = ConfigHome(); config && home) {
        std::ifstream dirs(*config + "/user-dirs.dirs");
        std::string line;
        while (std::getline(dirs, line)) {
            if (auto desktop = UserDirFromLine(line, "XDG_DESKTOP_DIR", *home)) {
                return desktop;
            }
        }
    }
    if (home) {
        return *home + "/Desktop";
    }
    return std::nullopt;
}

std::optional<std::string> StartMenuDir() {
    if (auto data = DataHome()) {
        return *data + "/applications";
    }
    return std::nullopt;
}

std::optional<std::string> ProxyVariable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] == '\0') {
        return std::nullopt;
    }
    return std::string(value);
}

}  // namespace platform
