#pragma once

#include <string>

namespace kesto::sys {

// Makes the desktop send links of a URL scheme to Kesto. Where an entry the desktop finds
// ($XDG_DATA_HOME/applications, then each $XDG_DATA_DIRS folder's) handles the scheme already (an
// installed Kesto's menu entry, "<name>.desktop"), that entry is left as it is, a hidden entry of
// ours is removed, and xdg-mime is asked to make the installed one the default. Otherwise this
// program writes its hidden entry, "<name>-handler.desktop" under $XDG_DATA_HOME/applications with
// "MimeType=x-scheme-handler/<scheme>;", and asks xdg-mime to make it the default. A hidden entry
// an older Kesto wrote under "<name>.desktop" for a program in a build folder is removed; no other
// entry is written over or removed. xdg-mime is asked only where the desktop's default (its
// mimeapps.list files) is not that entry already; its outcome is not waited for and is ignored. Answers
// whether an entry handles the scheme. An empty executable path means the running program.
bool registerURLSchemeHandler(const std::string& scheme = "kesto", const std::string& executablePath = {},
                              const std::string& desktopName = "kesto");

// Where registerURLSchemeHandler writes its hidden entry.
std::string urlSchemeDesktopEntryPath(const std::string& desktopName = "kesto");

}  // namespace kesto::sys
