#pragma once
// Which addresses the launcher hands to a browser: the configuration's entry page and the
// page's new windows. Only http and https; anything else (file:, javascript:, data:, another
// program's own scheme ...) would turn page content or a configuration into a way to open
// local files or start local programs.

#include <optional>
#include <string>
#include <string_view>

// The address as the page engine's address parser reads it (without the blanks and control
// characters around it and the tabs and line breaks inside it) when its scheme is http or
// https in any letter case; nullopt for every other address, one without a scheme included.
std::optional<std::string> WebAddress(std::string_view address);

// The address for a log line: at most 256 bytes of it, cut between whole UTF-8 characters.
std::string AddressForLog(std::string_view address);
