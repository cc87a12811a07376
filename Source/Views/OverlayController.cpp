#include "Views/OverlayController.h"

#include "Platform/UI/View.h"
#include "Views/OverlayView.h"
#include "Views/OverlayWindow.h"

namespace kesto {

namespace {
// Above every subview the covered view may have.
constexpr double kOverlayZPosition = 1.0e9;
}

OverlayController::OverlayController() = default;

OverlayController::~OverlayController() { endOverlay(); }

void OverlayController::beginOverlayToView(ui::View& view, const std::string& label, double radius) {
  // One overlay at a time: a second begin must not leave the first behind.
  endOverlay();
  target_ = view.weak_from_this();
  overlay_ = std::make_shared<OverlayWindow>(view.bounds());
  overlay_->overlayView()->setLabel(label);
  overlay_->overlayView()->setBezelRadius(radius);
  overlay_->setZPosition(kOverlayZPosition);
  // Laid into the covered view itself, the overlay lies exactly over it at any display scale
  // and moves with its window.
  view.addSubview(overlay_);
}

void OverlayController::beginOverlayToView(ui::View& view, const std::string& label, double radius, double offset) {
  beginOverlayToView(view, label, radius);
  overlay_->placeBezelWithOffset(offset);
}

void OverlayController::beginOverlayToView(ui::View& view, const std::string& label, double radius,
                                           const fnd::Size& size) {
  beginOverlayToView(view, label, radius);
  overlay_->placeBezelWithSize(size);
}

void OverlayController::endOverlay() {
  if (!overlay_) return;
  auto overlay = std::move(overlay_);
  overlay_.reset();
  overlay->removeFromSuperview();
}

}  // namespace kesto
