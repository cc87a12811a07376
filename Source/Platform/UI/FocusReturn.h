#pragma once

#include <cstdint>

namespace kesto::ui {

class Window;

// For a window called up over another program's work (the menu-bar window, by its tray icon or
// its hot key): when it goes while it still has the focus, the focus goes back to the program the
// user came from, instead of to whichever window the window manager picks next (another of ours).
// Under X11; elsewhere it does nothing.
class FocusReturn {
 public:
  // Before the window is shown: notes the other program's window that is active, if any.
  void windowWillShow(const Window& window);
  // Before the window hides: while it has the focus, the window noted takes it back, when it is
  // on the desktop the user is on. A window that lost the focus to something else leaves it there.
  void windowWillHide(const Window& window);

 private:
  std::uint32_t previous_ = 0;
};

}  // namespace kesto::ui
