#pragma once

#include "Platform/UI/Window.h"

namespace kesto {

// A window that can always be moved by dragging its background.
class KSTMovableWindow : public ui::Window {
 public:
  explicit KSTMovableWindow(const fnd::Rect& contentRect = fnd::Rect(0, 0, 480, 360),
                            unsigned styleMask = ui::WindowStyle::Titled | ui::WindowStyle::Closable |
                                                 ui::WindowStyle::Miniaturizable | ui::WindowStyle::Resizable)
      : ui::Window(contentRect, styleMask) {
    setMovableByWindowBackground(true);
  }
};

}  // namespace kesto
