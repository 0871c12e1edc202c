#pragma once
// The operator's configuration document: "key=value" lines separated by LF, read with the
// rules the operator's servers have always been written against (nothing else trimmed, the
// first occurrence of a key wins, text after a second "=" dropped, the first line without "="
// after the first line ends the document). A CR before an LF belongs to the line end and a
// leading UTF-8 byte-order mark is skipped, so a document saved on Windows reads the same.

#include <map>
#include <string>
#include <string_view>

using RemoteConfigTable = std::map<std::string, std::string>;

// Adds the document's entries to table (keys already present keep their value).
void ParseRemoteConfigDocument(std::string_view document, RemoteConfigTable& table);

// Every occurrence of from in text replaced by to.
std::string ReplaceAll(std::string text, std::string_view from, std::string_view to);

// A package address template with every "{ditch_name}" and then every "{version}" filled in.
std::string FillAddressTemplate(const std::string& addressTemplate, std::string_view ditchName,
                                std::string_view versionText);
