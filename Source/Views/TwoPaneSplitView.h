#pragma once

#include "Platform/UI/SplitView.h"

#include <functional>
#include <optional>
#include <utility>

namespace kesto {

// The shared part of the two-pane split views that are their own delegates: a secondary pane
// kept between a minimum and a maximum width while the primary pane takes the rest.
class TwoPaneSplitView : public ui::SplitView, public ui::SplitViewDelegate {
 public:
  explicit TwoPaneSplitView(const fnd::Rect& frame = fnd::Rect());

  std::optional<double> secondaryPaneMinSize() const { return minSize_; }
  void setSecondaryPaneMinSize(std::optional<double> v) { minSize_ = v; }
  std::optional<double> secondaryPaneMaxSize() const { return maxSize_; }
  void setSecondaryPaneMaxSize(std::optional<double> v) { maxSize_ = v; }
  bool collapsed() const { return collapsed_; }
  void setCollapsed(bool c) { collapsed_ = c; }
  float collapsableViewWidth() const { return collapsableViewWidth_; }
  int secondaryViewIndex() const { return secondaryIndex_; }
  int primaryViewIndex() const { return primaryIndex_; }

  unsigned implementedSplitViewHooks() const override;
  double splitViewConstrainMinCoordinate(ui::SplitView& splitView, double proposed, long dividerIndex) override;
  double splitViewConstrainMaxCoordinate(ui::SplitView& splitView, double proposed, long dividerIndex) override;
  // Stores the secondary pane's width under the width key, when there is one, while the pane
  // is expanded and at least a point wide: a folded or hidden pane comes back at the width it had.
  void splitViewDidResizeSubviews(ui::SplitView& splitView, std::optional<long> dividerIndex) override;

 protected:
  ui::View* pane(int index) const;
  // The limits as floats; values below 1 count as absent and give the class defaults.
  float effectiveMin() const;
  float effectiveMax() const;
  virtual float defaultMin() const = 0;
  virtual float defaultMax() const = 0;
  // The user default the secondary pane's width is remembered under across launches; none
  // unless a subclass names one.
  virtual const char* widthKey() const { return nullptr; }
  // The remembered width, 0 when none is stored.
  float storedWidth() const;
  void setIndexes(int secondary, int primary) {
    secondaryIndex_ = secondary;
    primaryIndex_ = primary;
  }
  // Fills unset limits with the class defaults.
  void applyDefaults();
  // Collapse or expand the left secondary pane through the views' animators.
  void toggleLeftPane(bool ownGroup);
  // Secondary pane at width s on the left, primary after the divider; a collapsed secondary
  // pane keeps its width left of the view and the primary takes the whole width.
  void layoutLeftPanes(double s);

  std::optional<double> minSize_;
  std::optional<double> maxSize_;
  int secondaryIndex_ = 0;
  int primaryIndex_ = 1;
  float collapsableViewWidth_ = 0;
  bool collapsed_ = false;
};

// Secondary pane on the left; collapses over 0.2 s.
class BRWSplitViewVerticalSecondaryLeft : public TwoPaneSplitView {
 public:
  using TwoPaneSplitView::TwoPaneSplitView;
  void awakeFromNib() override;
  void splitViewResizeSubviewsWithOldSize(ui::SplitView& splitView, const fnd::Size& oldSize) override;
  void collapseSecondaryPane();

 protected:
  float defaultMin() const override { return 160; }
  float defaultMax() const override { return 250; }
};

// The folder list on the left; its width is remembered under "KestoFolderListWidth".
class KestoSplitViewVerticalSecondaryLeft : public TwoPaneSplitView {
 public:
  static constexpr const char* WidthKey = "KestoFolderListWidth";
  using TwoPaneSplitView::TwoPaneSplitView;
  void awakeFromNib() override;
  void splitViewResizeSubviewsWithOldSize(ui::SplitView& splitView, const fnd::Size& oldSize) override;
  void splitViewDidResizeSubviews(ui::SplitView& splitView, std::optional<long> dividerIndex) override;
  void collapseSecondaryPane();
  void resizeScrollView();
  // Called after every resize of the panes, once the width is stored.
  void setDidResizeHandler(std::function<void()> handler) { didResize_ = std::move(handler); }

 protected:
  float defaultMin() const override { return 160; }
  float defaultMax() const override { return 350; }
  const char* widthKey() const override { return WidthKey; }

 private:
  std::function<void()> didResize_;
};

// The inspector on the right; its width is remembered under "KestoInspectorView".
class KestoSplitViewVerticalSecondaryRight : public TwoPaneSplitView {
 public:
  static constexpr const char* WidthKey = "KestoInspectorView";
  using TwoPaneSplitView::TwoPaneSplitView;
  void awakeFromNib() override;
  void splitViewResizeSubviewsWithOldSize(ui::SplitView& splitView, const fnd::Size& oldSize) override;
  double splitViewConstrainMinCoordinate(ui::SplitView& splitView, double proposed, long dividerIndex) override;
  double splitViewConstrainMaxCoordinate(ui::SplitView& splitView, double proposed, long dividerIndex) override;
  std::optional<double> secondaryPaneSize() const { return paneSize_; }
  void setSecondaryPaneSize(std::optional<double> v) { paneSize_ = v; }
  // Hides the inspector (the list takes the whole width) or shows it again at the width it had.
  void setSecondaryPaneHidden(bool hidden);

 protected:
  float defaultMin() const override { return 210; }
  float defaultMax() const override { return 350; }
  const char* widthKey() const override { return WidthKey; }

 private:
  std::optional<double> paneSize_;
};

}  // namespace kesto
