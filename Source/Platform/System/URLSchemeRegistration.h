#pragma once

#include <string>

namespace kesto::sys {

// Makes this program the desktop's handler of a URL scheme: writes "<name>.desktop" with
// "MimeType=x-scheme-handler/<scheme>;" under $XDG_DATA_HOME/applications and asks xdg-mime to
// make it the default. The xdg-mime outcome is not waited for and is ignored. Answers whether
// the desktop entry is in place. An empty executable path means the running program. A program
// installed with its own entry (<prefix>/share/applications beside <prefix>/bin) writes none and
// removes a hidden one it wrote before, which would hide the installed one from the menus.
bool registerURLSchemeHandler(const std::string& scheme = "kesto", const std::string& executablePath = {},
                              const std::string& desktopName = "kesto");

// Where registerURLSchemeHandler writes the entry.
std::string urlSchemeDesktopEntryPath(const std::string& desktopName = "kesto");

}  // namespace kesto::sys
