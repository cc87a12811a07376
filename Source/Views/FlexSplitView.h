#pragma once

#include "Platform/UI/SplitView.h"
#include "Views/FlexSubviewConstraint.h"

#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace kesto {

class FlexSplitView;

// Events of a FlexSplitView; each is optional (capability bits).
class FlexSplitViewDelegate {
 public:
  enum Method : unsigned { IsAnimating = 1u << 0, DividerMovedAt = 1u << 1, SubviewStateChanged = 1u << 2 };
  virtual ~FlexSplitViewDelegate() = default;
  virtual unsigned implementedFlexSplitViewMethods() const { return 0; }
  virtual void splitViewSplitViewIsAnimating(FlexSplitView& splitView, bool animating) {}
  virtual void splitViewDividerMovedAt(FlexSplitView& splitView, long divider, double position) {}
  // state 0 collapsed, 1 expanded
  virtual void splitViewSubviewStateChanged(FlexSplitView& splitView, unsigned long subview, unsigned long state) {}
};

// A split view with per-subview minimum, maximum and collapse permission, its own divider
// drawing, animated divider positions, collapse and expand of the end panes, and explicit
// resize rules. It is its own split-view delegate. After subviews are added or removed the
// owner sends reset(); indexes outside the records are refused (NO / 0) rather than trusted.
class FlexSplitView : public ui::SplitView, public ui::SplitViewDelegate {
 public:
  using Completion = std::function<void(bool finished)>;

  explicit FlexSplitView(const fnd::Rect& frame = fnd::Rect());
  void initializeSplitView();
  void reset() { initializeSplitView(); }

  // Appearance.
  bool shouldDrawDivider() const { return shouldDrawDivider_; }
  void setShouldDrawDivider(bool on);
  bool shouldDrawDividerHandle() const { return shouldDrawDividerHandle_; }
  void setShouldDrawDividerHandle(bool on);
  unsigned dividerRectEdge() const { return dividerRectEdge_; }
  void setDividerRectEdge(unsigned edge);
  const std::optional<ui::Color>& flexDividerColor() const { return dividerColor_; }
  void setDividerColor(std::optional<ui::Color> color);
  ui::Color dividerColor() const override;
  double dividerThickness() const override;
  void setDividerThickness(double thickness);
  double deltaAdjustmentForDividerThickness() const { return deltaAdjustment_; }

  // Constraints.
  void setPriority(long priority, long subviewIndex) { priorityIndexes_[priority] = subviewIndex; }
  const std::map<long, long>& priorityIndexes() const { return priorityIndexes_; }
  void setMaxSize(double size, unsigned long index);
  void setMinSize(double size, unsigned long index);
  double minSizeForSubviewAtIndex(unsigned long index) const;
  double maxSizeForSubviewAtIndex(unsigned long index) const;
  void setCanCollapse(bool on, unsigned long index);
  bool canCollapseSubviewAtIndex(unsigned long index) const;
  void setCollapseSubviewAtIndex(unsigned long subview, unsigned long divider) { viewsToCollapseByDivider_[divider] = subview; }
  long subviewIndexToCollapseForDoubleClickOnDividerAtIndex(unsigned long divider) const;
  const FlexSubviewConstraint* constraintForSubview(const ui::View* view) const;
  const std::vector<FlexSubviewConstraint>& subviewContraints() const { return constraints_; }
  bool isSubviewCollapsed(const ui::View* view) const;

  // Positions, sizes, collapse and events.
  FlexSplitViewDelegate* eventsDelegate() const { return eventsDelegate_; }
  void setEventsDelegate(FlexSplitViewDelegate* d) { eventsDelegate_ = d; }
  bool isAnimating() const { return isAnimating_; }
  double positionOfDividerAtIndex(long divider) const;
  void getNewSubviewsRects(std::vector<fnd::Rect>& rects, const std::vector<long>& indexes,
                           const std::vector<double>& positions);
  bool setPositions(const std::vector<double>& positions, const std::vector<long>& indexes, bool animated,
                    Completion completion);
  bool setPosition(double position, long divider, bool animated, Completion completion);
  bool setSize(double size, long subview, bool animated, Completion completion);
  bool collapseOrExpandSubviewAtIndex(unsigned long index, bool animated);
  bool collapseOrExpandSubview(const ui::View* view, bool animated);
  void saveCurrentDivididerState();
  void updateSubviewsState();
  const std::vector<double>& lastValuesBeforeCollapse() const { return lastValuesBeforeCollapse_; }
  const std::vector<double>& subviewsStates() const { return subviewsStates_; }

  // Resize rules.
  unsigned long subviewsResizeMode() const { return resizeMode_; }
  void setSubviewsResizeMode(unsigned long mode) { resizeMode_ = mode; }
  void applyUniformResizeFromOldSize(const fnd::Size& oldSize);
  void applyProportionalResizeFromOldSize(const fnd::Size& oldSize);
  void applyPriorityResizeFromOldSize(const fnd::Size& oldSize);
  void layoutSubviews();
  void setSubviewsSizes(const std::vector<double>& sizes);
  void calculateSubviewsSizesArrayInto(std::vector<double>& sizes) const;
  void calculateResizableSubviews(std::vector<bool>* flags, long* count, double* total, double delta) const;

  // As its own delegate.
  unsigned implementedSplitViewHooks() const override;
  double splitViewConstrainMinCoordinate(ui::SplitView& splitView, double proposed, long dividerIndex) override;
  double splitViewConstrainMaxCoordinate(ui::SplitView& splitView, double proposed, long dividerIndex) override;
  bool splitViewCanCollapseSubview(ui::SplitView& splitView, ui::View* subview) override;
  bool splitViewShouldCollapseSubviewForDoubleClickOnDividerAtIndex(ui::SplitView& splitView, ui::View* subview,
                                                                    long dividerIndex) override;
  bool splitViewShouldAdjustSizeOfSubview(ui::SplitView& splitView, ui::View* subview) override;
  bool splitViewShouldHideDividerAtIndex(ui::SplitView&, long) override { return true; }
  void splitViewDidResizeSubviews(ui::SplitView& splitView, std::optional<long> dividerIndex) override;

  void drawRect(ui::GraphicsContext& context, const fnd::Rect& dirtyRect) override;
  void drawDividerInRect(ui::GraphicsContext& context, const fnd::Rect& rect) override;

 private:
  // The growth along the split since `oldSize`, less what a change of the divider thickness has
  // already given out (used up by this call).
  double takeResizeDelta(const fnd::Size& oldSize);
  long indexOf(const ui::View* view) const;
  double sizeAlong(const ui::View* v) const;
  double originAlong(const ui::View* v) const;
  double boundsAlong() const;
  const FlexSubviewConstraint* record(long index) const;
  void setSubviewSize(ui::View* v, double size);

  std::map<long, long> priorityIndexes_;
  std::vector<FlexSubviewConstraint> constraints_;
  std::map<unsigned long, unsigned long> viewsToCollapseByDivider_;
  std::vector<double> lastValuesBeforeCollapse_;
  std::vector<double> subviewsStates_;
  double oDividerThickness_ = 1.0;
  bool dividerThicknessOverriden_ = false;
  bool isAnimating_ = false;
  double deltaAdjustment_ = 0;
  bool shouldDrawDivider_ = false;
  bool shouldDrawDividerHandle_ = false;
  FlexSplitViewDelegate* eventsDelegate_ = nullptr;
  std::optional<ui::Color> dividerColor_;
  bool drawingHandleOnly_ = false;
  unsigned dividerRectEdge_ = 0;
  unsigned long resizeMode_ = 0;
};

}  // namespace kesto
