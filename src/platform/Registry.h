#pragma once
// The Windows registry as far as the launcher uses it: keys below HKEY_CURRENT_USER and
// HKEY_CLASSES_ROOT holding REG_SZ and REG_DWORD values. On Windows the registry itself; on Linux
// each hive is one text file below ${XDG_CONFIG_HOME:-~/.config}/valdrune/registry/, replaced
// whole on every change and locked while it changes, so that two launchers (say an install and
// an uninstall) never lose each other's writes. Key and value names compare without regard to
// ASCII letter case and keep the case they were created with. Results are Windows error numbers:
// 0 success, 2 not found, 5 a key that still has subkeys, 87 a malformed key path.

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

enum class RegistryHive { CurrentUser, ClassesRoot };

inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegDword = 4;

struct RegistryValue {
    std::uint32_t type = kRegSz;
    std::string text;           // REG_SZ
    std::uint32_t number = 0;   // REG_DWORD
    bool operator==(const RegistryValue&) const = default;
};

// What an HKEY names: one key of one hive. Like a handle it does not hold the key's content;
// every operation reads the hive as it is at that moment.
struct RegistryKey {
    RegistryHive hive = RegistryHive::CurrentUser;
    std::string path;  // "Software\\Microsoft\\...", levels separated by backslashes
    bool open = false;
};

// RegCreateKeyExW: opens the key, creating it and any missing parent levels. created tells
// whether it was new.
std::uint32_t RegCreateKeyEx(RegistryHive hive, const std::string& subKey, RegistryKey& key,
                             bool* created = nullptr);
// RegOpenKeyExW: kErrorFileNotFound (2) when the key is absent.
std::uint32_t RegOpenKeyEx(RegistryHive hive, const std::string& subKey, RegistryKey& key);
// RegSetValueExW with REG_SZ or REG_DWORD data; kErrorKeyDeleted when the key went away.
std::uint32_t RegSetStringValue(const RegistryKey& key, const std::string& name, const std::string& data);
std::uint32_t RegSetDwordValue(const RegistryKey& key, const std::string& name, std::uint32_t data);
// RegQueryValueExW: kErrorFileNotFound when the key or the value is absent.
std::uint32_t RegQueryValueEx(const RegistryKey& key, const std::string& name, RegistryValue& value);
std::uint32_t RegDeleteValue(const RegistryKey& key, const std::string& name);
// RegDeleteKeyW: removes a key without subkeys (kErrorAccessDenied when it has some).
std::uint32_t RegDeleteKey(RegistryHive hive, const std::string& subKey);
void RegCloseKey(RegistryKey& key);

// The uninstall's last step on the store: a hive that holds no value any more (bare keys are
// all the launcher's own entry leaves behind) goes with its lock, and the store's folders go
// when nothing else is in them. Nothing on Windows, whose registry is no file of the launcher's.
void RemoveRegistryStoreIfEmpty();

}  // namespace platform
