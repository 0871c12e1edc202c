#pragma once
// Running the real launcher executable in a private world.

#include <string>
#include <vector>

#include "ChildProcess.h"

namespace testing_support {

// Copies the built launcher (and what it needs beside it) into folder; returns the copy's path.
std::string CopyLauncherTo(const std::string& folder, const std::string& name = "valdrune");

// Options for starting a launcher at exe inside world, without a display.
ChildProcess::Options LauncherOptions(const TempHome& world, const std::string& exe,
                                      std::vector<std::string> args = {});

// The line the windowless launcher prints once its start-up is through.
inline constexpr const char* kConsoleRunningLine = "Valdrune launcher running without a window";

}  // namespace testing_support
