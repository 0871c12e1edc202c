#pragma once
// The launcher's icon for the desktop's icon theme, drawn at build time by src/ui/art/MakeArt.cpp
// and built into the executable: every copy of the launcher (the one in the data folder too)
// can put it beside the shortcuts without any file travelling with it, and no library of the
// update pipeline needs GTK to read it.

#include <span>
#include <string_view>

struct EmbeddedFile {
    std::string_view key;    // the icon theme's size folder: "48x48" ... "256x256", "scalable"
    std::string_view bytes;  // PNG, or SVG for "scalable"
};

// One file per size folder of DataPaths::kIconThemeSizes, in that order.
std::span<const EmbeddedFile> LauncherIconFiles();
