#pragma once

#include "Platform/System/SystemNotifications.h"
#include <cstdint>
#include <string>

namespace kesto::sys {


// Key codes name physical keys by their position on the ANSI layout (the rest of the system's
// virtual key codes); these map them to the Linux input (evdev) codes. -1 when there is none.
int evdevCodeForKeyCode(int keyCode);
int keyCodeForEvdevCode(int evdevCode);

// The keyboard layout in use: the X server's keymap and active group through xkbcommon, or,
// without an X server, the "us" layout (or the one tests set).
class KeyboardLayout {
 public:
  // The character the key types in the current layout with no modifier, with Shift and with
  // the third level (AltGr, standing for Option); empty when it types none.
  static std::string characterForKeyCode(int keyCode, bool shift = false, bool thirdLevel = false);
  // The same in the plain "us" layout: the fallback when the current one has no character.
  static std::string usCharacterForKeyCode(int keyCode);
  // A short name of the layout in use ("us", "de", ...).
  static std::string layoutName();

  // Watches the X server for layout changes (once, from the first translation on; without X11
  // nothing happens). Main thread.
  static void startWatching();
  // Drops the cached keymap and posts KeyboardLayoutDidChangeNotification.
  static void layoutDidChange();

  // Tests: the layout from its XKB name ("de") instead of the X server's; empty goes back.
  static void setLayoutForTesting(const std::string& layout);
};

}  // namespace kesto::sys
