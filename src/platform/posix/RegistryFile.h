#pragma once
// The registry store's file: one hive as text, read back on every look at the store. Private to
// the POSIX sources of platform/. The form, one item a line:
//
//   valdrune-registry 1
//   key "Software\\Microsoft\\Windows"
//   value "DisplayName" sz "Valdrune"
//   value "NoModify" dword 1
//
// Texts are quoted, with \\ \" \n \r \t and \xHH escapes; a value belongs to the key above it.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Registry.h"

namespace platform::posix {

struct StoredValue {
    std::string name;  // as created
    RegistryValue value;
    bool operator==(const StoredValue&) const = default;
};

struct StoredKey {
    std::string path;                           // as created
    std::map<std::string, StoredValue> values;  // by folded name
    bool operator==(const StoredKey&) const = default;
};

using Hive = std::map<std::string, StoredKey>;  // by folded path

// Names compare without regard to ASCII letter case.
std::string FoldCase(std::string text);

// "A\\B\\C" with no empty level; nullopt for anything else.
std::optional<std::vector<std::string>> SplitKeyPath(const std::string& path);

bool HasSubkeys(const Hive& hive, const std::string& foldedPath);

std::string SerializeHive(const Hive& hive);

// The hive a file's content holds; empty without the header line. Unreadable lines are skipped:
// a damaged store loses those entries, never the whole hive.
Hive ParseHive(std::string_view content);

}  // namespace platform::posix
