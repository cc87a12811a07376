#pragma once

#include "Platform/UI/Panel.h"

namespace kesto {

// The panel of every sheet and small panel of the library window. Cancelling it (Escape,
// Ctrl+.) asks the application's sheet presenter to end it; it can keep itself centred, or
// centred near the bottom, over the library window.
class KestoPanel : public ui::Panel {
 public:
  using ui::Panel::Panel;

  bool shouldBeCentered() const { return shouldBeCentered_; }
  void setShouldBeCentered(bool on) { shouldBeCentered_ = on; }
  bool shouldBeBottomCentered() const { return shouldBeBottomCentered_; }
  void setShouldBeBottomCentered(bool on) { shouldBeBottomCentered_ = on; }

  // Without a sheet presenter (before the application has set up) the panel cancels as any panel.
  void cancelOperation() override;
  // Centred (or bottom-centred, 50 points up) on the library window, then kept on the library
  // window's screen; the screen given is not used.
  fnd::Rect constrainFrameRect(const fnd::Rect& frame, const ui::Screen& screen) const override;

 private:
  bool shouldBeCentered_ = false;
  bool shouldBeBottomCentered_ = false;
};

}  // namespace kesto
