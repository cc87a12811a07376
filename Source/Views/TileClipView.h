#pragma once

#include "Platform/UI/ClipView.h"
#include "Platform/UI/UIForward.h"

#include <functional>
#include <memory>

namespace kesto {

// A clip view that can ease its origin to a target: each display refresh keeps
// `decelerationRate` of the way and covers the rest, until a step moves less than 0.1 point.
class TileClipView : public ui::ClipView {
 public:
  using Completion = std::function<void(bool finished)>;

  explicit TileClipView(const fnd::Rect& frame = fnd::Rect());
  ~TileClipView() override;

  double decelerationRate() const { return decelerationRate_; }
  void setDecelerationRate(double rate);

  bool scrollRectToVisible(const fnd::Rect& rect, bool animated);
  bool scrollRectToVisible(const fnd::Rect& rect, bool animated, Completion completion);
  using ui::ClipView::scrollRectToVisible;
  void scrollToPoint(const fnd::Point& point) override;

  void beginScrolling();
  void endScrolling();
  // One animation step (the display link runs it once per refresh).
  void updateOrigin();
  void handleCompletionIfNeededWithSuccess(bool success);

  ui::DisplayLink& displayLink();
  bool hasDisplayLink() const { return displayLink_ != nullptr; }
  bool isAnimating() const { return animating_; }
  void updateCVDisplay();
  void viewWillMoveToWindow(ui::Window* window) override;
  ui::ScrollView* containingScrollView();
  void setContainingScrollView(ui::ScrollView* scrollView) { containingScrollView_ = scrollView; }

  bool shouldAnimateOriginChange() const { return shouldAnimateOriginChange_; }
  void setShouldAnimateOriginChange(bool on) { shouldAnimateOriginChange_ = on; }
  fnd::Point destinationOrigin() const { return destinationOrigin_; }
  void setDestinationOrigin(const fnd::Point& p) { destinationOrigin_ = p; }
  const Completion& scrollCompletion() const { return scrollCompletion_; }
  void setScrollCompletion(Completion completion) { scrollCompletion_ = std::move(completion); }

 private:
  bool shouldAnimateOriginChange_ = false;
  double decelerationRate_ = 0.78;
  std::unique_ptr<ui::DisplayLink> displayLink_;
  ui::ScrollView* containingScrollView_ = nullptr;
  Completion scrollCompletion_;
  fnd::Point destinationOrigin_;
  bool animating_ = false;
  ui::Window* observedWindow_ = nullptr;
};

}  // namespace kesto
