#include "Launcher.h"

#include <filesystem>

#include "core/DataPaths.h"

namespace fs = std::filesystem;

namespace testing_support {

std::string CopyLauncherTo(const std::string& folder, const std::string& name) {
    fs::create_directories(folder);
    const std::string target = folder + "/" + name;
    fs::copy_file(VALDRUNE_EXE, target, fs::copy_options::overwrite_existing);
    // The page's window.external is loaded from beside the executable.
    const fs::path extension = fs::path(VALDRUNE_EXE).parent_path() / DataPaths::kWebExtensionFile;
    if (fs::exists(extension)) {
        fs::copy_file(extension, fs::path(folder) / DataPaths::kWebExtensionFile, fs::copy_options::overwrite_existing);
    }
    return target;
}

ChildProcess::Options LauncherOptions(const TempHome& world, const std::string& exe, std::vector<std::string> args) {
    ChildProcess::Options options;
    options.argv = {exe};
    options.argv.insert(options.argv.end(), args.begin(), args.end());
    options.env = world.Environment();
    options.cwd = world.root();
    return options;
}

}  // namespace testing_support
