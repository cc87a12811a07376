#pragma once

#include "Platform/UI/UINotifications.h"
#include "Platform/UI/View.h"

namespace kesto::ui {

class ScrollView;


// The clip view of a scroll view: its bounds origin is the scroll position in the document
// view's coordinates. Every scroll (wheel, scrollers, scrollRectToVisible) goes through the
// virtual scrollToPoint; moveToPoint is the plain move underneath it. Each move tells the
// enclosing scroll view and the bounds-change observers.
class ClipView : public View {
 public:
  explicit ClipView(const fnd::Rect& frame = fnd::Rect());
  ~ClipView() override;

  const std::shared_ptr<View>& documentView() const { return documentView_; }
  void setDocumentView(std::shared_ptr<View> view);
  bool isFlipped() const override;

  // The document's frame, and the part of it now visible, in document coordinates.
  fnd::Rect documentRect() const;
  fnd::Rect documentVisibleRect() const;
  // Clamps a proposed origin so the visible area stays inside the document.
  fnd::Point constrainScrollPoint(const fnd::Point& proposed) const;

  fnd::Point boundsOrigin() const;
  virtual void scrollToPoint(const fnd::Point& point);
  // The plain move: sets the bounds origin (clamped) without any animation.
  void moveToPoint(const fnd::Point& point);
  // Makes the smallest move that shows `rect` (document coordinates): when the rect is larger
  // than the visible area its top (or left) edge is shown. Answers whether a move was needed.
  virtual bool scrollRectToVisible(const fnd::Rect& rect);

  void setBoundsOrigin(const fnd::Point& origin) override;
  void setFrame(const fnd::Rect& frame) override;

  // The enclosing scroll view (nullptr when the clip view is not inside one).
  ScrollView* enclosingScrollView() const;

  bool postsBoundsChangedNotifications() const { return postsBoundsChanged_; }
  void setPostsBoundsChangedNotifications(bool on) { postsBoundsChanged_ = on; }
  // Observers of every bounds change (animation steps included); answers a token for removal.
  int addBoundsObserver(std::function<void()> observer);
  void removeBoundsObserver(int token);

 protected:
  virtual void boundsDidChange();

 private:
  std::shared_ptr<View> documentView_;
  std::vector<std::pair<int, std::function<void()>>> observers_;
  int nextToken_ = 1;
  bool postsBoundsChanged_ = true;
};

}  // namespace kesto::ui
