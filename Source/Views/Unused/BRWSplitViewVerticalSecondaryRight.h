#pragma once

#include "Views/TwoPaneSplitView.h"

namespace kesto {

// Two panes side by side whose right pane folds away and comes back over 0.2 s, reopening at
// the width it had when folded (or the minimum when that was under a point). It answers none
// of the split view's delegate questions, so dividers behave as in a plain split view.
class BRWSplitViewVerticalSecondaryRight : public TwoPaneSplitView {
 public:
  using TwoPaneSplitView::TwoPaneSplitView;

  void awakeFromNib() override;
  unsigned implementedSplitViewHooks() const override { return 0; }
  // Folds the right pane when it is open, opens it when it is folded.
  void collapseSecondaryPane();

  std::optional<double> secondaryPaneSize() const { return paneSize_; }
  void setSecondaryPaneSize(std::optional<double> v) { paneSize_ = v; }

 protected:
  float defaultMin() const override { return 160; }
  float defaultMax() const override { return 300; }

 private:
  std::optional<double> paneSize_;
};

}  // namespace kesto
