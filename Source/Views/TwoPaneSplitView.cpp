#include "Views/TwoPaneSplitView.h"

#include "Platform/Foundation/UserDefaults.h"
#include "Platform/UI/Animator.h"

#include <cmath>

namespace kesto {

namespace {
using Hook = ui::SplitViewDelegate::Hook;
}  // namespace

TwoPaneSplitView::TwoPaneSplitView(const fnd::Rect& frame) : ui::SplitView(frame) { setVertical(true); }

unsigned TwoPaneSplitView::implementedSplitViewHooks() const {
  return Hook::ConstrainMinCoordinate | Hook::ConstrainMaxCoordinate | Hook::ResizeSubviewsWithOldSize |
         (widthKey() ? unsigned(Hook::DidResizeSubviews) : 0u);
}

float TwoPaneSplitView::storedWidth() const {
  return widthKey() ? float(fnd::UserDefaults::standard().doubleForKey(widthKey())) : 0.0f;
}

void TwoPaneSplitView::splitViewDidResizeSubviews(ui::SplitView&, std::optional<long>) {
  ui::View* secondary = pane(secondaryIndex_);
  if (widthKey() && secondary && !collapsed_ && secondary->frame().size.width >= 1.0)
    fnd::UserDefaults::standard().setDouble(float(secondary->frame().size.width), widthKey());
}

ui::View* TwoPaneSplitView::pane(int index) const {
  if (index < 0 || size_t(index) >= subviews().size()) return nullptr;
  return subviews()[size_t(index)].get();
}

float TwoPaneSplitView::effectiveMin() const {
  float m = minSize_ ? float(*minSize_) : 0.0f;
  return m < 1.0f ? defaultMin() : m;
}

float TwoPaneSplitView::effectiveMax() const {
  float m = maxSize_ ? float(*maxSize_) : 0.0f;
  return m < 1.0f ? defaultMax() : m;
}

void TwoPaneSplitView::applyDefaults() {
  if (!minSize_) minSize_ = defaultMin();
  if (!maxSize_) maxSize_ = defaultMax();
}

double TwoPaneSplitView::splitViewConstrainMinCoordinate(ui::SplitView&, double, long) { return effectiveMin(); }
double TwoPaneSplitView::splitViewConstrainMaxCoordinate(ui::SplitView&, double, long) { return effectiveMax(); }

void TwoPaneSplitView::layoutLeftPanes(double s) {
  ui::View* secondary = pane(secondaryIndex_);
  ui::View* primary = pane(primaryIndex_);
  if (!secondary || !primary) return;
  float divider = float(dividerThickness());
  fnd::Size size = frame().size;
  if (collapsed_) {
    // Folded away: the pane waits left of the view at its own width.
    double w = secondary->frame().size.width;
    secondary->setFrame(fnd::Rect(-(w + divider), secondary->frame().origin.y, w, size.height));
    primary->setFrame(fnd::Rect(0, primary->frame().origin.y, size.width, size.height));
    return;
  }
  secondary->setFrame(fnd::Rect(0, secondary->frame().origin.y, s, size.height));
  primary->setFrame(fnd::Rect(s + divider, primary->frame().origin.y, size.width - s - divider, size.height));
}

void TwoPaneSplitView::toggleLeftPane(bool ownGroup) {
  ui::View* primary = pane(primaryIndex_);
  ui::View* secondary = pane(secondaryIndex_);
  if (!primary || !secondary) return;
  if (!collapsed_) collapsableViewWidth_ = float(secondary->frame().size.width);
  if (maxSize_ && collapsableViewWidth_ > float(*maxSize_)) collapsableViewWidth_ = float(*maxSize_);
  // The pane slides out to the left and back at its own width, never through a width of
  // nothing: its contents (the sidebar's tabs and lists) keep their layout and come back as
  // they were.
  const double divider = dividerThickness();
  fnd::Rect sf = secondary->frame(), pf = primary->frame();
  double w = sf.size.width;
  if (collapsed_) {
    w = std::trunc(double(collapsableViewWidth_));
    if (std::abs(sf.size.width - w) >= 0.5) secondary->setFrameSize(fnd::Size{w, sf.size.height});
  }
  const double x = collapsed_ ? 0 : -(w + divider), px = x + w + divider;
  fnd::Rect secondaryTarget(x, sf.origin.y, w, sf.size.height);
  fnd::Rect primaryTarget(px, pf.origin.y, frame().size.width - px, pf.size.height);
  auto animate = [&] {
    secondary->animator().setFrame(secondaryTarget);
    primary->animator().setFrame(primaryTarget);
  };
  if (ownGroup) {
    ui::AnimationContext::runAnimationGroup([&](ui::AnimationContext& ctx) {
      ctx.setDuration(0.2);
      animate();
    });
  } else {
    animate();
  }
  collapsed_ = !collapsed_;
}

// ---- BRWSplitViewVerticalSecondaryLeft ----

void BRWSplitViewVerticalSecondaryLeft::awakeFromNib() {
  setDelegate(this);
  setIndexes(0, 1);
  applyDefaults();
  ui::View* secondary = pane(secondaryIndex_);
  collapsableViewWidth_ = secondary ? float(secondary->frame().size.width) : 0.0f;
  if (collapsableViewWidth_ < 1.0f) {
    collapsed_ = true;
    collapsableViewWidth_ = float(*minSize_);
  }
}

void BRWSplitViewVerticalSecondaryLeft::splitViewResizeSubviewsWithOldSize(ui::SplitView&, const fnd::Size&) {
  ui::View* secondary = pane(secondaryIndex_);
  if (secondary) layoutLeftPanes(secondary->frame().size.width);
}

void BRWSplitViewVerticalSecondaryLeft::collapseSecondaryPane() { toggleLeftPane(true); }

// ---- KestoSplitViewVerticalSecondaryLeft ----

void KestoSplitViewVerticalSecondaryLeft::awakeFromNib() {
  setDelegate(this);
  setIndexes(0, 1);
  applyDefaults();
  ui::View* secondary = pane(secondaryIndex_);
  float w = storedWidth();
  if (w < 1.0f) w = secondary ? float(secondary->frame().size.width) : 0.0f;
  collapsableViewWidth_ = w;
  if (collapsableViewWidth_ < 1.0f) {
    collapsed_ = true;
    collapsableViewWidth_ = float(*minSize_);
  }
  if (secondary) secondary->setFrameSize(fnd::Size{double(collapsableViewWidth_), secondary->frame().size.height});
}

void KestoSplitViewVerticalSecondaryLeft::splitViewResizeSubviewsWithOldSize(ui::SplitView&, const fnd::Size&) {
  ui::View* secondary = pane(secondaryIndex_);
  if (!secondary) return;
  double s = secondary->frame().size.width;
  // A collapsed pane stays collapsed: the remembered width is only for an expanded pane.
  float stored = storedWidth();
  if (!collapsed_ && stored >= 1.0f) s = stored;
  layoutLeftPanes(s);
}

void KestoSplitViewVerticalSecondaryLeft::splitViewDidResizeSubviews(ui::SplitView& splitView,
                                                                      std::optional<long> dividerIndex) {
  TwoPaneSplitView::splitViewDidResizeSubviews(splitView, dividerIndex);
  if (didResize_) didResize_();
}

void KestoSplitViewVerticalSecondaryLeft::collapseSecondaryPane() { toggleLeftPane(false); }

void KestoSplitViewVerticalSecondaryLeft::resizeScrollView() {
  ui::View* secondary = pane(secondaryIndex_);
  if (!secondary) return;
  fnd::Size size = secondary->frame().size;
  auto children = secondary->subviews();
  for (auto& child : children) {
    child->setAutoresizingMask(11);
    child->setFrame(fnd::Rect(0, 0, size.width, size.height));
  }
}

// ---- KestoSplitViewVerticalSecondaryRight ----

void KestoSplitViewVerticalSecondaryRight::awakeFromNib() {
  collapsed_ = false;
  setDelegate(this);
  setIndexes(1, 0);
  applyDefaults();
  if (!paneSize_) paneSize_ = 240;
  float w = storedWidth();
  if (w < 210.0f) w = 210.0f;
  collapsableViewWidth_ = w;
  if (ui::View* secondary = pane(secondaryIndex_))
    secondary->setFrameSize(fnd::Size{double(w), secondary->frame().size.height});
}

void KestoSplitViewVerticalSecondaryRight::splitViewResizeSubviewsWithOldSize(ui::SplitView&, const fnd::Size&) {
  ui::View* primary = pane(primaryIndex_);
  ui::View* secondary = pane(secondaryIndex_);
  if (!primary || !secondary) return;
  float divider = float(dividerThickness());
  fnd::Size size = frame().size;
  double primaryWidth = size.width - secondary->frame().size.width - divider;
  primary->setFrame(fnd::Rect(primary->frame().origin, fnd::Size{primaryWidth, size.height}));
  secondary->setFrame(fnd::Rect(primaryWidth + divider, secondary->frame().origin.y, secondary->frame().size.width,
                                size.height));
}

double KestoSplitViewVerticalSecondaryRight::splitViewConstrainMinCoordinate(ui::SplitView&, double, long) {
  // While hidden the divider stays at the right edge: a drag cannot bring half a pane back.
  if (collapsed_) return frame().size.width - dividerThickness();
  return frame().size.width - effectiveMax() - dividerThickness();
}

double KestoSplitViewVerticalSecondaryRight::splitViewConstrainMaxCoordinate(ui::SplitView&, double, long) {
  if (collapsed_) return frame().size.width - dividerThickness();
  return frame().size.width - effectiveMin() - dividerThickness();
}

void KestoSplitViewVerticalSecondaryRight::setSecondaryPaneHidden(bool hidden) {
  ui::View* primary = pane(primaryIndex_);
  ui::View* secondary = pane(secondaryIndex_);
  if (!primary || !secondary || hidden == collapsed_) return;
  if (hidden) {
    if (secondary->frame().size.width >= 1.0) collapsableViewWidth_ = float(secondary->frame().size.width);
  } else if (collapsableViewWidth_ < effectiveMin()) {
    collapsableViewWidth_ = effectiveMin();
  }
  collapsed_ = hidden;
  secondary->setHidden(hidden);
  const double width = hidden ? 0.0 : std::trunc(double(collapsableViewWidth_));
  secondary->setFrameSize(fnd::Size{width, secondary->frame().size.height});
  // Laid out by the usual rule: the list takes what the inspector leaves.
  splitViewResizeSubviewsWithOldSize(*this, frame().size);
}

}  // namespace kesto
