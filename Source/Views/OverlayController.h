#pragma once

#include "Platform/Foundation/Geometry.h"
#include "Platform/UI/UIForward.h"

#include <memory>
#include <string>

namespace kesto {

class OverlayWindow;

// Lays a transparent overlay with a dark rounded bezel and a white label over a view until it
// is ended. One overlay at a time: beginning again ends the current one first; ending twice,
// or before anything began, does nothing. A view in no window gets an overlay that is not shown
// until the view is placed in one.
class OverlayController {
 public:
  OverlayController();
  ~OverlayController();
  OverlayController(const OverlayController&) = delete;
  OverlayController& operator=(const OverlayController&) = delete;

  // The bezel keeps an empty frame (nothing visible).
  void beginOverlayToView(ui::View& view, const std::string& label, double radius);
  // The bezel fills the overlay inset by `offset` on every side.
  void beginOverlayToView(ui::View& view, const std::string& label, double radius, double offset);
  // The bezel has `size` and sits in the middle.
  void beginOverlayToView(ui::View& view, const std::string& label, double radius, const fnd::Size& size);
  void endOverlay();
  bool isOverlay() const { return overlay_ != nullptr; }

  const std::shared_ptr<OverlayWindow>& overlayWindow() const { return overlay_; }
  // The view covered by the last overlay begun (nothing once it has gone).
  std::shared_ptr<ui::View> targetView() const { return target_.lock(); }

 private:
  std::shared_ptr<OverlayWindow> overlay_;
  std::weak_ptr<ui::View> target_;
};

}  // namespace kesto
