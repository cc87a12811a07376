#include "Views/OverlayWindow.h"

#include "Views/OverlayView.h"

#include <algorithm>
#include <cmath>

namespace kesto {

namespace {
// Space kept between a widened bezel and the sides of the covered view.
constexpr double kBezelSideMargin = 12.0;
}  // namespace

OverlayWindow::OverlayWindow(const fnd::Rect& contentRect)
    : ui::View(contentRect), overlayView_(std::make_shared<OverlayView>(fnd::Rect())) {
  setOpaque(false);
  // A message over the lists must not take a drag meant for a folder or a card beneath it.
  setPointerPassesThrough(true);
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
    // The size asked for is the least: a longer message widens the bezel up to the covered
    // view's width and then wraps, so no text is cut off at either end.
    fnd::Size b = overlayView_->fittingSize(*size_, std::max(0.0, s.width - 2 * kBezelSideMargin));
    overlayView_->setFrame(fnd::Rect(std::floor((s.width - b.width) / 2), std::floor((s.height - b.height) / 2),
                                     b.width, b.height));
  } else {
    overlayView_->setFrame(fnd::Rect());
  }
  overlayView_->setNeedsDisplay();
}

}  // namespace kesto
