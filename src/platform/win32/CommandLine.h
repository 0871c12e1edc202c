#pragma once
// The command line CreateProcessW is given for an argument vector: argv[0] as the program name,
// every further element quoted so that the C runtime's parsing (and CommandLineToArgvW) gives
// it back exactly, blanks, quotes, backslashes and CJK included.

#include <string>
#include <vector>

namespace platform::win32 {

std::wstring CommandLineFor(const std::vector<std::string>& argv);

}  // namespace platform::win32
