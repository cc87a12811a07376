#pragma once

#include <cstdint>
#include <functional>

namespace kesto::sys {

// System-wide key combinations on X11: passive grabs of the key on the root window, one for each
// combination of the lock keys (Caps, Num and Scroll Lock), so the combination works whatever
// locks are on. Key codes are the system's virtual key codes (physical positions); modifiers are
// Carbon flags: command 0x100 (Ctrl), shift 0x200, option 0x800 (Alt), control 0x1000 (Super).
// Main thread only. Without an X server (offscreen, Wayland) nothing can be grabbed.
class GlobalShortcuts {
 public:
  // When a grab's handler runs: as the combination is pressed, or as its key is let go again.
  enum class Trigger { Press, Release };

  static bool isAvailable();

  // Grabs the combination; the handler runs on the main loop, after the X event was handled, on
  // each press (a held key fires once), or with Release when the key of a press is let go.
  // Answers an identifier above 0, or 0 when the X server refused (another client holds the
  // combination) or the key has no physical key.
  static std::uint32_t grab(int keyCode, std::uint32_t carbonFlags, std::function<void()> handler,
                            Trigger trigger = Trigger::Press);
  static void ungrab(std::uint32_t identifier);

  // Whether another client holds the combination: a trial grab, released at once. Our own
  // grabs do not count.
  static bool isTakenElsewhere(int keyCode, std::uint32_t carbonFlags);
};

}  // namespace kesto::sys
