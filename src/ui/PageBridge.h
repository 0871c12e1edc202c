#pragma once
// The one place where the page bridge plugs into the page host. The page's window.external is
// made by the web-process extension (webext/), which the engine loads from the executable's
// folder when it starts a web process; what the extension needs to reach the launcher (such as
// the path of the socket the bridge answers on) is handed over as its initialisation data.

#include <glib.h>

#include <functional>

namespace page_bridge {

// Answers the extension's initialisation data (a new or floating GVariant, or nullptr for none).
// Asked on the window thread, once per web process, before the first page loads.
using ExtensionDataSource = std::function<GVariant*()>;

// Installs the source for every later web process; an empty function removes it.
void SetExtensionDataSource(ExtensionDataSource source);

// The installed source's answer; nullptr without a source.
GVariant* ExtensionData();

}  // namespace page_bridge
