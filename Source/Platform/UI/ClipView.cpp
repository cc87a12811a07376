#include "Platform/UI/ClipView.h"

#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/UI/ScrollView.h"

#include <algorithm>
#include <cmath>

namespace kesto::ui {

ClipView::ClipView(const fnd::Rect& frame) : View(frame) {}
ClipView::~ClipView() = default;

void ClipView::setDocumentView(std::shared_ptr<View> view) {
  if (documentView_ == view) return;
  if (documentView_) documentView_->removeFromSuperview();
  documentView_ = std::move(view);
  if (documentView_) addSubview(documentView_);
  moveToPoint(boundsOrigin());
  boundsDidChange();
}

bool ClipView::isFlipped() const { return documentView_ && documentView_->isFlipped(); }

fnd::Rect ClipView::documentRect() const {
  return documentView_ ? documentView_->frame() : fnd::Rect();
}

fnd::Rect ClipView::documentVisibleRect() const {
  if (!documentView_) return fnd::Rect();
  fnd::Rect visible = bounds().intersection(documentView_->frame());
  if (visible.isNull()) return fnd::Rect();
  return documentView_->convertRectFromView(visible, this);
}

fnd::Point ClipView::constrainScrollPoint(const fnd::Point& p) const {
  fnd::Rect doc = documentRect();
  fnd::Size vis = frame().size;
  double maxX = std::max(doc.origin.x, doc.origin.x + doc.size.width - vis.width);
  double maxY = std::max(doc.origin.y, doc.origin.y + doc.size.height - vis.height);
  return fnd::Point{std::clamp(p.x, doc.origin.x, maxX), std::clamp(p.y, doc.origin.y, maxY)};
}

fnd::Point ClipView::boundsOrigin() const { return bounds().origin; }

void ClipView::scrollToPoint(const fnd::Point& point) { moveToPoint(point); }

void ClipView::moveToPoint(const fnd::Point& point) {
  fnd::Point p = constrainScrollPoint(point);
  if (p == bounds().origin) return;
  View::setBoundsOrigin(p);
  boundsDidChange();
}

void ClipView::setBoundsOrigin(const fnd::Point& origin) { moveToPoint(origin); }

void ClipView::setFrame(const fnd::Rect& frame) {
  if (frame == this->frame()) return;
  View::setFrame(frame);
  // A larger clip view may leave the origin past the document's end.
  fnd::Point p = constrainScrollPoint(bounds().origin);
  if (!(p == bounds().origin)) View::setBoundsOrigin(p);
  boundsDidChange();
}

bool ClipView::scrollRectToVisible(const fnd::Rect& rect) {
  fnd::Rect vis = bounds();
  fnd::Point origin = vis.origin;
  auto axis = [](double rMin, double rSize, double vMin, double vSize) {
    double rMax = rMin + rSize;
    if (rSize >= vSize || rMin < vMin) return rMin;
    if (rMax > vMin + vSize) return rMax - vSize;
    return vMin;
  };
  // A zero-width target names no horizontal extent: leave x alone.
  if (rect.size.width > 0 || rect.origin.x != 0)
    origin.x = axis(rect.origin.x, rect.size.width, vis.origin.x, vis.size.width);
  origin.y = axis(rect.origin.y, rect.size.height, vis.origin.y, vis.size.height);
  fnd::Point target = constrainScrollPoint(origin);
  if (target == vis.origin) return false;
  scrollToPoint(target);
  return true;
}

ScrollView* ClipView::enclosingScrollView() const {
  for (View* v = superview(); v; v = v->superview())
    if (auto* sv = dynamic_cast<ScrollView*>(v)) return sv;
  return nullptr;
}

int ClipView::addBoundsObserver(std::function<void()> observer) {
  observers_.emplace_back(nextToken_, std::move(observer));
  return nextToken_++;
}

void ClipView::removeBoundsObserver(int token) {
  observers_.erase(std::remove_if(observers_.begin(), observers_.end(),
                                  [&](auto& o) { return o.first == token; }),
                   observers_.end());
}

void ClipView::boundsDidChange() {
  // An observer may release this view, or remove another observer whose owner is then gone.
  auto keep = weak_from_this().lock();
  if (ScrollView* sv = enclosingScrollView()) sv->clipViewBoundsDidChange(this);
  auto observers = observers_;
  for (auto& [token, fn] : observers) {
    const bool registered = std::any_of(observers_.begin(), observers_.end(),
                                        [token = token](const auto& o) { return o.first == token; });
    if (registered && fn) fn();
  }
  if (postsBoundsChanged_)
    fnd::NotificationCenter::defaultCenter().postNotificationName(ViewBoundsDidChangeNotification, this);
}

}  // namespace kesto::ui
