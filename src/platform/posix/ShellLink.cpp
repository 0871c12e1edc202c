#include "platform/ShellLink.h"

#include "platform/ErrorCodes.h"
#include "platform/FileSystem.h"

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
    if (!link.windowClass.empty()) {
        text += "StartupWMClass=" + EscapeValue(link.windowClass) + "\n";
    }
    return text;
}

std::uint32_t SaveShellLink(const std::string& path, const ShellLink& link) {
    if (path.empty()) {
        return kErrorPathNotFound;
    }
    return ReplaceFileContent(path, DesktopEntryText(link), 0755);
}

}  // namespace platform
