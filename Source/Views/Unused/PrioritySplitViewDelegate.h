#pragma once

#include "Platform/UI/SplitView.h"

#include <map>

namespace kesto {

// A split-view delegate that gives growth to the subview with the lowest priority number and
// takes shrinkage in priority order, each subview down to its minimum length.
class PrioritySplitViewDelegate : public ui::SplitViewDelegate {
 public:
  void setMinimumLength(double length, long viewIndex) { lengthsByViewIndex_[viewIndex] = length; }
  void setPriority(long priority, long viewIndex) { viewIndicesByPriority_[priority] = viewIndex; }
  // Sum of the minimum lengths and the dividers: the smallest length the split view can take.
  double minimumLengthOfSplitView(const ui::SplitView& splitView) const;

  unsigned implementedSplitViewHooks() const override {
    return ConstrainMinCoordinate | ConstrainMaxCoordinate | ResizeSubviewsWithOldSize;
  }
  double splitViewConstrainMinCoordinate(ui::SplitView& splitView, double proposed, long dividerIndex) override;
  double splitViewConstrainMaxCoordinate(ui::SplitView& splitView, double proposed, long dividerIndex) override;
  void splitViewResizeSubviewsWithOldSize(ui::SplitView& splitView, const fnd::Size& oldSize) override;

 private:
  double minimumLength(long index) const;
  std::map<long, double> lengthsByViewIndex_;
  std::map<long, long> viewIndicesByPriority_;
};

}  // namespace kesto
