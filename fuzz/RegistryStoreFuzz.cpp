// The registry store's hive file as the next look at the store finds it: cut by a crash,
// damaged, or edited by hand. Reading must never fail as a whole, and whatever was read must be
// written back so that the next reading finds exactly it again: an uninstall entry that changes
// on its way through the store is a lost one. Input: the file's content.

#include <cstdlib>

#include "FuzzSupport.h"
#include "core/ProductConstants.h"
#include "platform/Registry.h"
#include "platform/posix/Linux.h"
#include "platform/posix/RegistryFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::QuietProcess();
    static const std::string hiveFile = [] {
        setenv("XDG_CONFIG_HOME", fuzzing::ScratchFolder().c_str(), 1);
        const auto file = platform::RegistryHiveFile(platform::RegistryHive::CurrentUser);
        fuzzing::Check(file.has_value(), "no registry store below the scratch folder");
        platform::RegistryKey key;
        // Creates the store's folder; every input then replaces the hive file.
        fuzzing::Check(platform::RegCreateKeyEx(platform::RegistryHive::CurrentUser, "Software", key) == 0,
                       "the registry store cannot be created");
        return *file;
    }();
    const std::string_view content = fuzzing::AsText(data, size);

    using namespace platform::posix;
    const Hive hive = ParseHive(content);
    for (const auto& [folded, key] : hive) {
        fuzzing::Check(SplitKeyPath(key.path).has_value() && FoldCase(key.path) == folded,
                       "a stored key is filed under another name than its path");
        for (const auto& [foldedName, value] : key.values) {
            fuzzing::Check(FoldCase(value.name) == foldedName, "a stored value is filed under another name");
        }
    }
    const std::string written = SerializeHive(hive);
    fuzzing::Check(ParseHive(written) == hive, "a hive written back reads differently");

    // The uninstall entry as the uninstall looks it up, through the locked store.
    fuzzing::WriteFile(hiveFile, content);
    platform::RegistryKey key;
    if (platform::RegOpenKeyEx(platform::RegistryHive::CurrentUser, std::string(ProductConstants::kUninstallKey),
                               key) == 0) {
        platform::RegistryValue value;
        platform::RegQueryValueEx(key, "UninstallString", value);
        platform::RegCloseKey(key);
    }
    return 0;
}
