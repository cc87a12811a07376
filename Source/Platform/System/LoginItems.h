#pragma once

#include <string>

namespace kesto::sys {

// The session's login items as the XDG autostart rules keep them: a desktop entry
// "kesto.desktop" under $XDG_CONFIG_HOME/autostart whose Exec line starts the program. A program
// is a login item when an entry (the user's, else one in $XDG_CONFIG_DIRS/autostart) names its
// canonical path and is not hidden; a copy of the program at another path is another item.
class LoginItems {
 public:
  // The running program (its canonical path).
  static std::string currentExecutable();
  // Where the user's entry is written.
  static std::string autostartEntryPath();

  static bool willLaunchAtLogin(const std::string& executable);
  // Writes or removes the entry; answers whether the list now says what was asked. A system-wide
  // entry is turned off by a user entry with Hidden=true, as those rules have it.
  static bool setLaunchAtLogin(const std::string& executable, bool enabled);
};

}  // namespace kesto::sys
