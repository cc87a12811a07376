#include "Views/KSTRoundedToolbarView.h"

#include "Platform/UI/Animator.h"
#include "Platform/UI/Event.h"
#include "Platform/UI/Window.h"

namespace kesto {

void KSTRoundedToolbarView::awakeFromNib() {
  View::awakeFromNib();
  setWantsLayer(true);
  setBackgroundColor(ui::Color::white(0.873));
  setBorderColor(ui::Color::white(0.792));
  setBorderWidth(0.0);
  // Over the window's plain background: drawn as a veil, not through an offscreen pass of the
  // whole strip each time the activity spinner in it turns.
  setAlphaValueOverPlainBackdrop(0.95);
}

void KSTRoundedToolbarView::mouseDown(const ui::Event& event) {
  ui::Window* w = window();
  if (!w) return;
  dragStart_ = w->convertPointToScreen(event.locationInWindow);
  windowStart_ = w->frame().origin;
}

void KSTRoundedToolbarView::mouseDragged(const ui::Event& event) {
  ui::Window* w = window();
  if (!w || !dragStart_) return;
  // The event's window point moves with the window: measure on the screen.
  fnd::Point now = w->convertPointToScreen(event.locationInWindow);
  fnd::Rect f = w->frame();
  f.origin = fnd::Point{windowStart_.x + now.x - dragStart_->x, windowStart_.y + now.y - dragStart_->y};
  w->setFrame(f, true);
}

void KSTRoundedToolbarView::mouseUp(const ui::Event&) { dragStart_.reset(); }

void KSTRoundedToolbarAutohideView::awakeFromNib() {
  // Only the resting alpha: the base's styling does not apply here.
  setAlphaValue(kRestingAlpha);
}

void KSTRoundedToolbarAutohideView::viewDidMoveToWindow() { updateTrackingAreas(); }

void KSTRoundedToolbarAutohideView::updateTrackingAreas() {
  tracking_.clear();
  tracking_.observeViewHover(*this, [this](bool inside) { inside ? mouseEntered() : mouseExited(); });
}

void KSTRoundedToolbarAutohideView::show() { animator().setAlphaValue(1.0); }
void KSTRoundedToolbarAutohideView::hide() { animator().setAlphaValue(kRestingAlpha); }

}  // namespace kesto
