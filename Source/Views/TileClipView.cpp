#include "Views/TileClipView.h"

#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/UI/DisplayLink.h"
#include "Platform/UI/Screen.h"
#include "Platform/UI/ScrollView.h"
#include "Platform/UI/Window.h"

#include <algorithm>
#include <cmath>

namespace kesto {

TileClipView::TileClipView(const fnd::Rect& frame) : ui::ClipView(frame) { setWantsLayer(true); }

TileClipView::~TileClipView() {
  if (observedWindow_) fnd::NotificationCenter::defaultCenter().removeObserver(this);
  if (displayLink_) displayLink_->stop();
}

void TileClipView::setDecelerationRate(double rate) { decelerationRate_ = std::clamp(rate, 0.0, 1.0); }

bool TileClipView::scrollRectToVisible(const fnd::Rect& rect, bool animated) {
  shouldAnimateOriginChange_ = animated;
  return ui::ClipView::scrollRectToVisible(rect);
}

bool TileClipView::scrollRectToVisible(const fnd::Rect& rect, bool animated, Completion completion) {
  // A completion still waiting belongs to a scroll that is being replaced: it did not finish.
  handleCompletionIfNeededWithSuccess(false);
  if (!animated && animating_) endScrolling();  // its completion was settled just now
  scrollCompletion_ = std::move(completion);
  bool scrolled = scrollRectToVisible(rect, animated);
  if (animated && scrolled && animating_) return true;
  handleCompletionIfNeededWithSuccess(scrolled);
  return scrolled;
}

void TileClipView::scrollToPoint(const fnd::Point& point) {
  if (shouldAnimateOriginChange_) {
    shouldAnimateOriginChange_ = false;
    destinationOrigin_ = constrainScrollPoint(point);
    beginScrolling();
    return;
  }
  bool interrupted = animating_;
  endScrolling();
  if (interrupted) handleCompletionIfNeededWithSuccess(false);
  moveToPoint(point);
}

void TileClipView::beginScrolling() {
  animating_ = true;
  ui::DisplayLink& link = displayLink();
  if (!link.isRunning()) link.start();
}

void TileClipView::endScrolling() {
  animating_ = false;
  ui::DisplayLink& link = displayLink();
  if (link.isRunning()) link.stop();
}

void TileClipView::updateOrigin() {
  // A step that arrives after the scroll ended must not move anything.
  if (!animating_) return;
  if (!window()) {
    endScrolling();
    handleCompletionIfNeededWithSuccess(false);
    return;
  }
  fnd::Point o = bounds().origin;
  fnd::Point p = o;
  double r = decelerationRate_;
  fnd::Point d = destinationOrigin_;
  o.x = o.x * r + d.x * (1 - r);
  o.y = o.y * r + d.y * (1 - r);
  moveToPoint(o);
  if (auto* sv = containingScrollView()) sv->reflectScrolledClipView(this);
  if (std::fabs(o.x - p.x) < 0.1 && std::fabs(o.y - p.y) < 0.1) {
    endScrolling();
    moveToPoint(o);
    handleCompletionIfNeededWithSuccess(true);
  }
}

void TileClipView::handleCompletionIfNeededWithSuccess(bool success) {
  if (!scrollCompletion_) return;
  auto completion = std::move(scrollCompletion_);
  scrollCompletion_ = nullptr;
  completion(success);
}

ui::DisplayLink& TileClipView::displayLink() {
  if (!displayLink_) {
    displayLink_ = std::make_unique<ui::DisplayLink>();
    displayLink_->setOutputCallback([this] { updateOrigin(); });
    updateCVDisplay();
  }
  return *displayLink_;
}

void TileClipView::updateCVDisplay() {
  if (!displayLink_) return;
  // Both cases bind the main display, as the clip view always has.
  displayLink_->setCurrentDisplay(ui::Screen::primary().number());
}

void TileClipView::viewWillMoveToWindow(ui::Window* window) {
  auto& center = fnd::NotificationCenter::defaultCenter();
  if (observedWindow_) center.removeObserver(this, ui::WindowDidChangeScreenNotification, observedWindow_);
  observedWindow_ = window;
  ui::ClipView::viewWillMoveToWindow(window);
  if (window) {
    center.addObserver(this, [this](const fnd::Notification&) { updateCVDisplay(); },
                       ui::WindowDidChangeScreenNotification, window);
  }
  // Leaving the window ends a running animation; its completion hears that it did not finish.
  if (!window && animating_) {
    endScrolling();
    handleCompletionIfNeededWithSuccess(false);
  }
}

ui::ScrollView* TileClipView::containingScrollView() {
  if (!containingScrollView_) {
    containingScrollView_ = enclosingScrollView();
    if (!containingScrollView_) containingScrollView_ = dynamic_cast<ui::ScrollView*>(superview());
  }
  return containingScrollView_;
}

}  // namespace kesto
