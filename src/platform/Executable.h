#pragma once
// The running executable as the launcher names itself: its path, folder and application name.

#include <string>
#include <vector>

namespace platform {

// Full path of the running executable (symbolic links resolved); empty when unknown.
std::string ExecutablePath();

// The folder part of a path (everything before its last '/'); "/" stays "/".
std::string FolderOf(const std::string& path);

// The file name of a path without its folder and without its last extension
// ("/opt/x/Valdrune" -> "Valdrune", "C/launcher.bin" -> "launcher").
std::string BaseNameWithoutExtension(const std::string& path);

// The application name: the running executable's file name without extension.
std::string ApplicationName();

// The program's arguments in UTF-8, argv[0] included: main's own on Linux. Windows reads them
// from the wide command line instead, since main's are in the ANSI code page and lose every
// letter it cannot spell.
std::vector<std::string> ProgramArguments(int argc, char** argv);

}  // namespace platform
