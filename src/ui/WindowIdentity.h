#pragma once
// How the desktop recognises the launcher's window: program name and window class "Valdrune",
// the StartupWMClass of the desktop entries the install registration writes ("Valdrune.desktop").

namespace window_identity {

inline constexpr const char* kProgramName = "Valdrune";

// Call before GTK is initialised, so that GTK does not name the program after argv[0].
void Prepare();

}  // namespace window_identity
