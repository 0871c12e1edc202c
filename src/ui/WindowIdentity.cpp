#include "ui/WindowIdentity.h"

#include <glib.h>

namespace window_identity {

void Prepare() {
    // GTK takes the window class from the program name with its first letter in capitals,
    // which leaves "Valdrune" unchanged.
    g_set_prgname(kProgramName);
    g_set_application_name(kProgramName);
}

}  // namespace window_identity
