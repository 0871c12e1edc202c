#include "platform/Wine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "platform/Process.h"

extern char** environ;

namespace platform {
namespace {

bool IsExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// name in the absolute folders of $PATH (the system's default path when it is unset). Relative
// entries, the empty one included, would look in whatever folder the launcher was started from.
std::optional<std::string> FindOnPath(const std::string& name) {
    const char* variable = std::getenv("PATH");
    const std::string path = variable != nullptr ? variable : "/usr/local/bin:/usr/bin:/bin";
    for (std::size_t start = 0; start <= path.size();) {
        std::size_t end = path.find(':', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        const std::string folder = path.substr(start, end - start);
        if (!folder.empty() && folder[0] == '/' && IsExecutableFile(folder + "/" + name)) {
            return folder + "/" + name;
        }
        start = end + 1;
    }
    return std::nullopt;
}

std::optional<std::string> FindProgram(const std::string& nameOrPath) {
    if (nameOrPath.find('/') == std::string::npos) {
        return FindOnPath(nameOrPath);
    }
    return IsExecutableFile(nameOrPath) ? std::optional<std::string>(nameOrPath) : std::nullopt;
}

// The wineserver of the loader's own installation, else the one on $PATH.
std::optional<std::string> FindWineServer() {
    if (const auto loader = FindWineLoader()) {
        const std::string beside = loader->substr(0, loader->rfind('/') + 1) + "wineserver";
        if (IsExecutableFile(beside)) {
            return beside;
        }
    }
    return FindOnPath("wineserver");
}

std::string_view ValueOf(const std::vector<std::string>& environment, std::string_view name) {
    for (const std::string& entry : environment) {
        if (entry.size() > name.size() && entry.compare(0, name.size(), name) == 0 &&
            entry[name.size()] == '=') {
            return std::string_view(entry).substr(name.size() + 1);
        }
    }
    return {};
}

void SetValue(std::vector<std::string>& environment, std::string_view name, std::string_view value) {
    std::erase_if(environment, [name](const std::string& entry) {
        return entry.compare(0, name.size(), name) == 0 && entry.size() > name.size() &&
               entry[name.size()] == '=';
    });
    environment.push_back(std::string(name) + "=" + std::string(value));
}

int RunSilently(const std::string& program, std::vector<std::string> argv, const std::string& prefix) {
    ProcessStart start{program, std::move(argv), {}};
    // Wine's background processes inherit these streams and outlive the program: whoever reads
    // the launcher's output must not wait for them.
    start.silent = true;
    start.environment = WineEnvironmentFor(prefix);
    const StartedProcess process = StartProcess(start);
    return process ? WaitForProcess(process.pid) : -1;
}

}  // namespace

std::optional<std::string> FindWineLoader() {
    if (const char* chosen = std::getenv("VALDRUNE_WINE"); chosen != nullptr && *chosen != '\0') {
        return FindProgram(chosen);  // a choice that names nothing runnable is no Wine, not another one
    }
    return FindOnPath("wine");
}

std::vector<std::string> WineEnvironment(std::vector<std::string> environment, const std::string& prefix) {
    SetValue(environment, "WINEPREFIX", prefix);
    SetValue(environment, "WINEDEBUG", "-all");
    SetValue(environment, "WINEDLLOVERRIDES", kWineDllOverrides);
    // The character locale in force is the first of these that is set and not empty.
    const std::string_view all = ValueOf(environment, "LC_ALL");
    std::string_view characters = all;
    for (const char* name : {"LC_CTYPE", "LANG"}) {
        characters = characters.empty() ? ValueOf(environment, name) : characters;
    }
    if (characters.empty() || characters == "C" || characters == "POSIX") {
        SetValue(environment, all.empty() ? "LC_CTYPE" : "LC_ALL", "C.UTF-8");
    }
    return environment;
}

std::vector<std::string> WineEnvironmentFor(const std::string& prefix) {
    std::vector<std::string> environment;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        environment.emplace_back(*entry);
    }
    return WineEnvironment(std::move(environment), prefix);
}

WinePrefixResult MakeWinePrefix(const std::string& loader, const std::string& prefix) {
    std::error_code error;
    if (std::filesystem::is_directory(prefix, error)) {
        return {true, 0};
    }
    const std::string partial = prefix + ".new";
    EndWineServer(prefix);  // a making cut short may still run there
    std::filesystem::remove_all(partial, error);  // links inside go as links
    WinePrefixResult result;
    result.wineStatus = RunSilently(loader, {loader, "wineboot", "--init"}, partial);
    // Wine's server may still run for the new prefix; it keeps its folder by handle, not by name.
    result.made = result.wineStatus == 0 && ::rename(partial.c_str(), prefix.c_str()) == 0;
    return result;
}

void EndWineServer(const std::string& prefix) {
    const auto server = FindWineServer();
    // A making cut short may have left its own server running in the partial prefix.
    for (const std::string& folder : {prefix, prefix + ".new"}) {
        std::error_code error;
        if (server && std::filesystem::exists(std::filesystem::symlink_status(folder, error))) {
            RunSilently(*server, {*server, "-k"}, folder);
        }
    }
}

}  // namespace platform
