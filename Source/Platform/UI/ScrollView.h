#pragma once

#include "Platform/UI/ClipView.h"

namespace kesto::ui {

enum class ScrollerStyle { Overlay, Legacy };

// A scroll view: a clip view showing part of a document view, with scrollers. With the
// overlay style (the default) the scrollers float over the content and take no space, so the
// visible width is the scroll view's own width; the legacy style sets them beside the content.
class ScrollView : public View {
 public:
  explicit ScrollView(const fnd::Rect& frame = fnd::Rect());
  ~ScrollView() override;

  const std::shared_ptr<ClipView>& contentView() const { return clipView_; }
  // Installs a new clip view; the caller moves the document view over when it wants to keep it.
  void setContentView(std::shared_ptr<ClipView> clipView);
  const std::shared_ptr<View>& documentView() const;
  void setDocumentView(std::shared_ptr<View> view);
  fnd::Rect documentVisibleRect() const;
  fnd::Size contentSize() const;

  bool hasVerticalScroller() const { return hasVertical_; }
  void setHasVerticalScroller(bool on);
  bool hasHorizontalScroller() const { return hasHorizontal_; }
  void setHasHorizontalScroller(bool on);
  ScrollerStyle scrollerStyle() const { return scrollerStyle_; }
  void setScrollerStyle(ScrollerStyle style);
  // Off, the background colour is kept but not painted: what lies behind shows through.
  bool drawsBackground() const override { return drawsBackground_; }
  void setDrawsBackground(bool on);
  // The height of a line in points (the application font's line spacing unless set): a wheel
  // notch scrolls the desktop's lines per notch times this, the scroller arrows one, and the
  // page keys keep one line of the last page in view.
  double lineScroll() const { return lineScroll_; }
  void setLineScroll(double points) { lineScroll_ = points; }

  // Brings the scrollers in line with the clip view.
  virtual void reflectScrolledClipView(ClipView* clipView);
  // Places the clip view and scrollers.
  virtual void tile();
  void setFrame(const fnd::Rect& frame) override;
  void scrollWheel(const Event& event) override;
  // Page Up/Down, Home and End scroll the document; other keys go up the responder chain.
  void keyDown(const Event& event) override;
  bool respondsToAction(Command selector) const override;
  bool performAction(Command selector, Responder* sender) override;
  void layout() override;

  // Called by the clip view after each move of its bounds.
  virtual void clipViewBoundsDidChange(ClipView* clipView);

  // Scroller positions, for tests: value and maximum of each native scroller.
  int verticalScrollerValue() const;
  int verticalScrollerMaximum() const;
  bool isVerticalScrollerShown() const;

  struct Impl;

 private:
  // The page keys' commands.
  void scrollByPages(int pages);
  void scrollToEdge(bool beginning);

  std::shared_ptr<ClipView> clipView_;
  std::unique_ptr<Impl> d_;
  bool hasVertical_ = false;
  bool hasHorizontal_ = false;
  bool drawsBackground_ = true;
  ScrollerStyle scrollerStyle_ = ScrollerStyle::Overlay;
  double lineScroll_ = 10.0;
  int documentFrameToken_ = 0;
  fnd::Size lastTiledSize_{-1, -1};
};

}  // namespace kesto::ui
