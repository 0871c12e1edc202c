#include "platform/ShellLink.h"

#include <gio/gio.h>

#include <utility>

#include "platform/ErrorCodes.h"
#include "platform/FileSystem.h"
#include "platform/posix/Linux.h"

namespace platform {
namespace {

// A value of type string: backslash and line breaks are escaped, and so are blanks at its
// start, which a reader would take for the blanks around "=" and drop.
std::string EscapeValue(const std::string& text) {
    std::string out;
    bool atStart = true;
    for (const char c : text) {
        if (atStart && c == ' ') {
            out += "\\s";
            continue;
        }
        atStart = false;
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default: out += c;
        }
    }
    return out;
}

// One Exec argument in double quotes, with the characters that are special inside them
// escaped; field codes start with '%', so a literal one is doubled.
std::string QuoteExecArgument(const std::string& argument) {
    std::string out = "\"";
    for (const char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            out += '\\';
        }
        out += c == '%' ? std::string("%%") : std::string(1, c);
    }
    return out + "\"";
}

std::string EscapeFieldCodes(const std::string& text) {
    std::string out;
    for (const char c : text) {
        out += c == '%' ? std::string("%%") : std::string(1, c);
    }
    return out;
}

}  // namespace

std::string DesktopEntryText(const ShellLink& link) {
    std::string exec = QuoteExecArgument(link.target);
    if (!link.arguments.empty()) {
        exec += " " + EscapeFieldCodes(link.arguments);
    }
    std::string text = "[Desktop Entry]\n"
                       "Type=Application\n"
                       "Name=" + EscapeValue(link.name) + "\n"
                       "Exec=" + EscapeValue(exec) + "\n";
    const std::pair<const char*, const std::string*> optional[] = {
        {"Comment", &link.comment}, {"Icon", &link.icon}, {"Categories", &link.categories},
        {"StartupWMClass", &link.windowClass}};
    for (const auto& [key, value] : optional) {
        if (!value->empty()) {
            text += std::string(key) + "=" + EscapeValue(*value) + "\n";
        }
    }
    return text;
}

namespace {

// GNOME's desktop reads metadata::trusted; Xfce 4.18 and later want the SHA-256 of the entry as
// it was trusted, so a changed file loses the mark. Without a metadata store (no gvfs) GIO
// answers "not supported" at once and the entry stays as any other.
void MarkTrusted(const std::string& path, const std::string& content) {
    GFile* file = g_file_new_for_path(path.c_str());
    if (g_file_set_attribute_string(file, "metadata::trusted", "true", G_FILE_QUERY_INFO_NONE, nullptr, nullptr)) {
        gchar* sum = g_compute_checksum_for_string(G_CHECKSUM_SHA256, content.data(),
                                                   static_cast<gssize>(content.size()));
        g_file_set_attribute_string(file, "metadata::xfce-exe-checksum", sum, G_FILE_QUERY_INFO_NONE, nullptr,
                                    nullptr);
        g_free(sum);
    }
    g_object_unref(file);
}

}  // namespace

std::uint32_t SaveShellLink(const std::string& path, const ShellLink& link) {
    if (path.empty()) {
        return kErrorPathNotFound;
    }
    const std::string content = DesktopEntryText(link);
    if (const std::uint32_t error = ReplaceFileContent(path, content, 0755)) {
        return error;
    }
    if (link.trusted) {
        MarkTrusted(path, content);
    }
    return 0;
}

}  // namespace platform
