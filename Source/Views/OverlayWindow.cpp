#include "Views/OverlayWindow.h"

#include "Views/OverlayView.h"

#include <algorithm>

namespace kesto {

OverlayWindow::OverlayWindow(const fnd::Rect& contentRect)
    : ui::View(contentRect), overlayView_(std::make_shared<OverlayView>(fnd::Rect())) {
  setOpaque(false);
  addSubview(overlayView_);
}

OverlayWindow::~OverlayWindow() = default;

void OverlayWindow::placeBezelWithOffset(double offset) {
  offset_ = offset;
  size_.reset();
  placeBezel();
}

void OverlayWindow::placeBezelWithSize(const fnd::Size& size) {
  size_ = size;
  offset_.reset();
  placeBezel();
}

void OverlayWindow::setFrame(const fnd::Rect& frame) {
  ui::View::setFrame(frame);
  placeBezel();
}

void OverlayWindow::resizeSubviewsWithOldSize(const fnd::Size&) { placeBezel(); }

void OverlayWindow::resizeWithOldSuperviewSize(const fnd::Size&) {
  // Always the whole of the covered view, whatever its autoresizing settings.
  if (superview()) setFrame(superview()->bounds());
}

ui::View* OverlayWindow::hitTest(const fnd::Point&) { return nullptr; }

void OverlayWindow::placeBezel() {
  if (!overlayView_) return;
  fnd::Size s = frame().size;
  if (offset_) {
    double o = *offset_;
    overlayView_->setFrame(fnd::Rect(o, o, std::max(0.0, s.width - 2 * o), std::max(0.0, s.height - 2 * o)));
  } else if (size_) {
    overlayView_->setFrame(fnd::Rect((s.width - size_->width) / 2, (s.height - size_->height) / 2, size_->width,
                                     size_->height));
  } else {
    overlayView_->setFrame(fnd::Rect());
  }
  overlayView_->setNeedsDisplay();
}

}  // namespace kesto
