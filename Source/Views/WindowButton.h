#pragma once

#include "Views/PressableView.h"

namespace kesto {

// One of the title-bar buttons a borderless window draws for itself: close, miniaturise, zoom
// and full screen. A click acts on the button's window.
class WindowButton : public PressableView {
 public:
  enum class Kind { Close, Miniaturize, Zoom, FullScreen };
  static constexpr double kSize = 12.0;

  explicit WindowButton(Kind kind);
  Kind kind() const { return kind_; }
  // Acts as a click would (nothing when hidden or outside a window).
  void performClick() override;

  bool acceptsFirstMouse(const ui::Event&) override { return true; }
  void drawRect(ui::GraphicsContext& context, const fnd::Rect& dirtyRect) override;

 private:
  Kind kind_;
};

}  // namespace kesto
