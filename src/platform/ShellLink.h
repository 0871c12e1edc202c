#pragma once
// Shortcuts: on Windows a shell link (.lnk, IShellLinkW + IPersistFile) with the target and the
// arguments; on Linux a freedesktop desktop entry: Type=Application, Name, and Exec = the quoted
// target followed by the arguments, with mode 0755 so that file managers trust it, and the
// program's window class.
// A .lnk shows the icon inside the program; an entry names its icon in the desktop's icon theme.

#include <cstdint>
#include <string>

namespace platform {

struct ShellLink {
    std::string name;       // what menus and the desktop show
    std::string target;     // the program
    std::string arguments;  // appended to the command line as written ("/uninstall")
    // The class of the window the program opens (StartupWMClass), so that the desktop ties that
    // window to this entry; empty: not written. Windows ties windows to links by itself.
    std::string windowClass = {};
    std::string icon = {};        // an icon theme name; empty: not written
    std::string comment = {};     // the tooltip; empty: not written
    std::string categories = {};  // the menu's categories, ";"-terminated; empty: not written
    // Desktops that guard launchers on the desktop (GNOME, Xfce) run one only when its GIO
    // metadata says it is trusted; ask for that mark (where the desktop keeps none, nothing).
    bool trusted = false;
};

// Writes link to path in one step; 0 or a Windows error number (kErrorPathNotFound for an empty
// path or a missing folder).
std::uint32_t SaveShellLink(const std::string& path, const ShellLink& link);

}  // namespace platform
