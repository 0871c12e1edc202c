#include "update/RemoteConfigDocument.h"

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// False when the line holds no "=".
bool StoreEntry(std::string_view line, bool endedByLf, RemoteConfigTable& table) {
    // A document saved with Windows line ends: the CR is the line end's, not the value's.
    if (endedByLf && !line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    const size_t first = line.find('=');
    if (first == std::string_view::npos) {
        return false;
    }
    const std::string_view rest = line.substr(first + 1);
    const std::string_view value = rest.substr(0, rest.find('='));
    table.try_emplace(std::string(line.substr(0, first)), value);
    return true;
}

}  // namespace

void ParseRemoteConfigDocument(std::string_view document, RemoteConfigTable& table) {
    // An editor's UTF-8 byte-order mark would otherwise become part of the first key.
    if (document.starts_with(kByteOrderMark)) {
        document.remove_prefix(kByteOrderMark.size());
    }
    size_t lineEnd = document.find('\n');
    // Only the first line may lack a "=" without ending the document.
    StoreEntry(document.substr(0, lineEnd), lineEnd != std::string_view::npos, table);
    while (lineEnd != std::string_view::npos) {
        const size_t start = lineEnd + 1;
        lineEnd = document.find('\n', start);
        const size_t length = lineEnd == std::string_view::npos ? std::string_view::npos : lineEnd - start;
        if (!StoreEntry(document.substr(start, length), lineEnd != std::string_view::npos, table)) {
            return;
        }
    }
}

std::string ReplaceAll(std::string text, std::string_view from, std::string_view to) {
    if (from.empty()) {
        return text;
    }
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

std::string FillAddressTemplate(const std::string& addressTemplate, std::string_view ditchName,
                                std::string_view versionText) {
    return ReplaceAll(ReplaceAll(addressTemplate, "{ditch_name}", ditchName), "{version}", versionText);
}
