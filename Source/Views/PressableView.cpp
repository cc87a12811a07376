#include "Views/PressableView.h"

namespace kesto {

void PressableView::setPressed(bool pressed) {
  if (pressed == pressed_) return;
  pressed_ = pressed;
  setNeedsDisplay();
}

bool PressableView::containsEvent(const ui::Event& event) const {
  return bounds().contains(convertPointFromView(event.locationInWindow, nullptr));
}

void PressableView::mouseDown(const ui::Event&) {
  tracking_ = acceptsPress();
  setPressed(tracking_);
}

void PressableView::mouseDragged(const ui::Event& event) {
  // Leaving the button lifts it and coming back presses it again, so the look tells whether a
  // release would click.
  if (tracking_) setPressed(containsEvent(event));
}

void PressableView::mouseUp(const ui::Event& event) {
  const bool click = tracking_ && containsEvent(event);
  tracking_ = false;
  setPressed(false);
  if (click) performClick();
}

}  // namespace kesto
