#pragma once

#include "Platform/UI/View.h"

#include <optional>

namespace kesto::ui {

class SplitView;

// Split-view delegate hooks. Each optional hook has a capability bit; the split view reads
// `implementedSplitViewHooks` once when the delegate is set and asks only what is implemented.
class SplitViewDelegate {
 public:
  enum Hook : unsigned {
    ConstrainMinCoordinate = 1u << 0,
    ConstrainMaxCoordinate = 1u << 1,
    ConstrainSplitPosition = 1u << 2,
    CanCollapseSubview = 1u << 3,
    ShouldCollapseForDoubleClick = 1u << 4,
    ShouldAdjustSizeOfSubview = 1u << 5,
    ShouldHideDivider = 1u << 6,
    ResizeSubviewsWithOldSize = 1u << 7,
    DidResizeSubviews = 1u << 8,
    WillResizeSubviews = 1u << 9,
  };
  virtual ~SplitViewDelegate() = default;
  virtual unsigned implementedSplitViewHooks() const { return 0; }

  virtual double splitViewConstrainMinCoordinate(SplitView& splitView, double proposed,
                                                 long dividerIndex) { return proposed; }
  virtual double splitViewConstrainMaxCoordinate(SplitView& splitView, double proposed,
                                                 long dividerIndex) { return proposed; }
  virtual double splitViewConstrainSplitPosition(SplitView& splitView, double proposed,
                                                 long dividerIndex) { return proposed; }
  virtual bool splitViewCanCollapseSubview(SplitView& splitView, View* subview) { return false; }
  virtual bool splitViewShouldCollapseSubviewForDoubleClickOnDividerAtIndex(
      SplitView& splitView, View* subview, long dividerIndex) { return true; }
  virtual bool splitViewShouldAdjustSizeOfSubview(SplitView& splitView, View* subview) { return true; }
  virtual bool splitViewShouldHideDividerAtIndex(SplitView& splitView, long dividerIndex) { return false; }
  virtual void splitViewResizeSubviewsWithOldSize(SplitView& splitView, const fnd::Size& oldSize) {}
  virtual void splitViewWillResizeSubviews(SplitView& splitView) {}
  // `dividerIndex` is present for moves of one divider (drags, setPosition).
  virtual void splitViewDidResizeSubviews(SplitView& splitView, std::optional<long> dividerIndex) {}
};

// A split view: subviews are the panes, side by side when vertical, with dividers between
// them. The delegate (which may be the split view itself) constrains divider moves, decides
// collapsing and may take over resizing. Dividers stay between their neighbours whatever the
// delegate answers.
class SplitView : public View {
 public:
  enum class DividerStyle { Thick = 1, Thin = 2, PaneSplitter = 3 };

  explicit SplitView(const fnd::Rect& frame = fnd::Rect());
  ~SplitView() override;

  bool isVertical() const { return vertical_; }
  void setVertical(bool vertical);
  DividerStyle dividerStyle() const { return dividerStyle_; }
  void setDividerStyle(DividerStyle style);
  virtual double dividerThickness() const;
  virtual Color dividerColor() const;
  bool isFlipped() const override { return true; }

  SplitViewDelegate* delegate() const { return delegate_; }
  void setDelegate(SplitViewDelegate* delegate);

  // Lays the panes out one after another along the axis, sharing a change of the total among
  // the adjustable panes in proportion to their sizes.
  virtual void adjustSubviews();
  void resizeSubviewsWithOldSize(const fnd::Size& oldSize) override;
  bool isSubviewCollapsed(View* subview) const;
  // Moves a divider (constrained as a drag would be) and reports the resize.
  void setPosition(double position, long dividerIndex);
  double minPossiblePositionOfDividerAtIndex(long dividerIndex) const;
  double maxPossiblePositionOfDividerAtIndex(long dividerIndex) const;
  // The divider's rectangle in the split view's coordinates (empty when it does not exist).
  fnd::Rect dividerRect(long dividerIndex) const;
  long dividerIndexAtPoint(const fnd::Point& point) const;

  void drawRect(GraphicsContext& context, const fnd::Rect& dirtyRect) override;
  virtual void drawDividerInRect(GraphicsContext& context, const fnd::Rect& rect);

  void mouseDown(const Event& event) override;
  void mouseDragged(const Event& event) override;
  void mouseUp(const Event& event) override;
  View* hitTest(const fnd::Point& pointInSuperview) override;

  // Sends the did-resize hook (the divider index only for a single divider's move).
  void postDidResizeSubviews(std::optional<long> dividerIndex);

 protected:
  double sizeOf(const View* v) const;
  double originOf(const View* v) const;
  void setCollapsed(View* subview, bool collapsed);
  void moveDivider(long dividerIndex, double proposed, bool fromDrag);
  // Puts divider `dividerIndex` (a valid one) at `position`: the pane before it ends there, the
  // pane after it starts past the divider and keeps its far edge.
  void placeDivider(long dividerIndex, double position);

 private:
  // The resize cursor over the dividers, across them as the panes lie.
  void showDividerCursor();
  bool vertical_ = false;
  DividerStyle dividerStyle_ = DividerStyle::Thick;
  SplitViewDelegate* delegate_ = nullptr;
  unsigned hooks_ = 0;
  long dragDivider_ = -1;
  bool dividerHit_ = false;  // the last hit test landed on a divider
  double dragOffset_ = 0;
  std::vector<View*> collapsed_;
};

}  // namespace kesto::ui
