#pragma once

#include "Platform/UI/View.h"

#include <memory>
#include <optional>

namespace kesto {

class OverlayView;

// The transparent layer laid over a target view, holding the bezel. It lives above the
// target's own subviews and covers exactly the target's bounds, so it moves and scales with
// the window at any display scale. The bezel is placed by the chosen rule: inset by an offset,
// a fixed size in the middle, or not at all (an empty frame).
class OverlayWindow : public ui::View {
 public:
  explicit OverlayWindow(const fnd::Rect& contentRect = fnd::Rect());
  ~OverlayWindow() override;

  const std::shared_ptr<OverlayView>& overlayView() const { return overlayView_; }
  bool canBecomeKeyWindow() const { return true; }

  void placeBezelWithOffset(double offset);
  void placeBezelWithSize(const fnd::Size& size);

  void setFrame(const fnd::Rect& frame) override;
  void resizeSubviewsWithOldSize(const fnd::Size& oldSize) override;
  void resizeWithOldSuperviewSize(const fnd::Size& oldSize) override;
  // Clicks go through to the covered view.
  View* hitTest(const fnd::Point& pointInSuperview) override;

 private:
  void placeBezel();
  std::shared_ptr<OverlayView> overlayView_;
  std::optional<double> offset_;
  std::optional<fnd::Size> size_;
};

}  // namespace kesto
