#include "Views/Unused/BRWSplitViewVerticalSecondaryRight.h"

#include "Platform/UI/Animator.h"

#include <cmath>

namespace kesto {

void BRWSplitViewVerticalSecondaryRight::awakeFromNib() {
  setDelegate(this);
  setIndexes(1, 0);
  applyDefaults();
  if (!paneSize_) paneSize_ = 260;
  ui::View* secondary = pane(secondaryIndex_);
  double width = secondary ? secondary->frame().size.width : 0;
  paneSize_ = width;
  collapsed_ = false;
  collapsableViewWidth_ = float(width);
  if (width < 1.0) {
    collapsed_ = true;
    collapsableViewWidth_ = float(*paneSize_);
  }
}

void BRWSplitViewVerticalSecondaryRight::collapseSecondaryPane() {
  ui::View* left = pane(primaryIndex_);
  ui::View* right = pane(secondaryIndex_);
  if (!left || !right) return;
  if (!collapsed_) collapsableViewWidth_ = float(right->frame().size.width);
  if (collapsableViewWidth_ < 1.0f) collapsableViewWidth_ = minSize_ ? float(*minSize_) : defaultMin();
  // Folding moves the pane just past the right edge (width -1) rather than to zero width.
  double w = collapsed_ ? std::trunc(double(collapsableViewWidth_)) : -1.0;
  double total = frame().size.width, divider = dividerThickness();
  fnd::Rect rf = right->frame(), lf = left->frame();
  fnd::Rect rightTarget(total - w, rf.origin.y, w, rf.size.height);
  fnd::Rect leftTarget(0, lf.origin.y, total - w - divider, lf.size.height);
  ui::AnimationContext::runAnimationGroup([&](ui::AnimationContext& ctx) {
    ctx.setDuration(0.2);
    right->animator().setFrame(rightTarget);
    left->animator().setFrame(leftTarget);
  });
  collapsed_ = !collapsed_;
}

}  // namespace kesto
