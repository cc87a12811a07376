#include "Platform/UI/SplitView.h"

#include "Platform/UI/GraphicsContext.h"
#include "Platform/UI/ViewWidget_p.h"

#include <QChildEvent>
#include <QCursor>

#include <algorithm>
#include <cmath>

namespace kesto::ui {

namespace {

// The split view's own widget shows the resize cursor; the panes cover all of it but the
// dividers. Each pane gets the plain arrow unless it chose a cursor, so none takes the divider's.
class PaneCursors : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::ChildAdded)
      if (auto* pane = qobject_cast<QWidget*>(static_cast<QChildEvent*>(event)->child());
          pane && !pane->testAttribute(Qt::WA_SetCursor))
        pane->setCursor(Qt::ArrowCursor);
    return false;
  }
};

}  // namespace

SplitView::SplitView(const fnd::Rect& frame) : View(frame) {
  nativeWidget()->installEventFilter(new PaneCursors(nativeWidget()));
  showDividerCursor();
}
SplitView::~SplitView() = default;

void SplitView::showDividerCursor() {
  nativeWidget()->setCursor(vertical_ ? Qt::SplitHCursor : Qt::SplitVCursor);
}

void SplitView::setVertical(bool vertical) {
  if (vertical_ == vertical) return;
  vertical_ = vertical;
  showDividerCursor();
  adjustSubviews();
}

void SplitView::setDividerStyle(DividerStyle style) { setDrawnProperty(dividerStyle_, style); }

double SplitView::dividerThickness() const {
  switch (dividerStyle_) {
    case DividerStyle::Thin: return 1.0;
    case DividerStyle::PaneSplitter: return 10.0;
    case DividerStyle::Thick: default: return 9.0;
  }
}

Color SplitView::dividerColor() const { return Color::rgb(0.75, 0.75, 0.75); }

void SplitView::setDelegate(SplitViewDelegate* delegate) {
  delegate_ = delegate;
  hooks_ = delegate ? delegate->implementedSplitViewHooks() : 0;
}

double SplitView::sizeOf(const View* v) const { return vertical_ ? v->frame().size.width : v->frame().size.height; }
double SplitView::originOf(const View* v) const { return vertical_ ? v->frame().origin.x : v->frame().origin.y; }

bool SplitView::isSubviewCollapsed(View* subview) const {
  return std::find(collapsed_.begin(), collapsed_.end(), subview) != collapsed_.end();
}

void SplitView::setCollapsed(View* subview, bool collapsed) {
  bool was = isSubviewCollapsed(subview);
  if (collapsed && !was) collapsed_.push_back(subview);
  if (!collapsed && was) collapsed_.erase(std::remove(collapsed_.begin(), collapsed_.end(), subview), collapsed_.end());
  subview->setHidden(collapsed);
}

void SplitView::adjustSubviews() {
  const auto& subs = subviews();
  size_t n = subs.size();
  if (n == 0) return;
  double total = vertical_ ? frame().size.width : frame().size.height;
  double cross = vertical_ ? frame().size.height : frame().size.width;
  double available = total - dividerThickness() * double(n - 1);
  std::vector<double> sizes(n);
  double sum = 0;
  for (size_t i = 0; i < n; ++i) {
    sizes[i] = isSubviewCollapsed(subs[i].get()) ? 0 : std::max(0.0, sizeOf(subs[i].get()));
    sum += sizes[i];
  }
  double delta = available - sum;
  if (delta != 0) {
    std::vector<size_t> adjustable;
    for (size_t i = 0; i < n; ++i) {
      if (isSubviewCollapsed(subs[i].get())) continue;
      if ((hooks_ & SplitViewDelegate::ShouldAdjustSizeOfSubview) &&
          !delegate_->splitViewShouldAdjustSizeOfSubview(*this, subs[i].get()))
        continue;
      adjustable.push_back(i);
    }
    double adjustableSum = 0;
    for (size_t i : adjustable) adjustableSum += sizes[i];
    for (size_t i : adjustable) {
      double share = adjustableSum > 0 ? delta * sizes[i] / adjustableSum : delta / double(adjustable.size());
      sizes[i] = std::max(0.0, sizes[i] + share);
    }
  }
  double pos = 0;
  for (size_t i = 0; i < n; ++i) {
    View* v = subs[i].get();
    fnd::Rect f = vertical_ ? fnd::Rect(pos, 0, sizes[i], cross) : fnd::Rect(0, pos, cross, sizes[i]);
    v->setFrame(f);
    pos += sizes[i] + dividerThickness();
  }
  setNeedsDisplay(true);
}

void SplitView::resizeSubviewsWithOldSize(const fnd::Size& oldSize) {
  if (hooks_ & SplitViewDelegate::WillResizeSubviews) delegate_->splitViewWillResizeSubviews(*this);
  if (hooks_ & SplitViewDelegate::ResizeSubviewsWithOldSize)
    delegate_->splitViewResizeSubviewsWithOldSize(*this, oldSize);
  else
    adjustSubviews();
  postDidResizeSubviews(std::nullopt);
}

void SplitView::postDidResizeSubviews(std::optional<long> dividerIndex) {
  setNeedsDisplay(true);
  if (hooks_ & SplitViewDelegate::DidResizeSubviews) delegate_->splitViewDidResizeSubviews(*this, dividerIndex);
}

fnd::Rect SplitView::dividerRect(long i) const {
  const auto& subs = subviews();
  if (i < 0 || size_t(i) + 1 >= subs.size()) return fnd::Rect();
  const View* a = subs[size_t(i)].get();
  double start = originOf(a) + sizeOf(a);
  double t = dividerThickness();
  return vertical_ ? fnd::Rect(start, 0, t, frame().size.height) : fnd::Rect(0, start, frame().size.width, t);
}

long SplitView::dividerIndexAtPoint(const fnd::Point& p) const {
  long n = long(subviews().size());
  for (long i = 0; i + 1 < n; ++i) {
    fnd::Rect r = dividerRect(i);
    // Thin dividers get a few points of grab area on either side.
    double slop = std::max(0.0, (5.0 - dividerThickness()) / 2.0);
    fnd::Rect grab = vertical_ ? fnd::Rect(r.origin.x - slop, r.origin.y, r.size.width + 2 * slop, r.size.height)
                               : fnd::Rect(r.origin.x, r.origin.y - slop, r.size.width, r.size.height + 2 * slop);
    if (grab.contains(p)) return i;
  }
  return -1;
}

double SplitView::minPossiblePositionOfDividerAtIndex(long i) const {
  const auto& subs = subviews();
  if (i < 0 || size_t(i) + 1 >= subs.size()) return 0;
  return originOf(subs[size_t(i)].get());
}

double SplitView::maxPossiblePositionOfDividerAtIndex(long i) const {
  const auto& subs = subviews();
  if (i < 0 || size_t(i) + 1 >= subs.size()) return 0;
  const View* b = subs[size_t(i) + 1].get();
  return originOf(b) + sizeOf(b) - dividerThickness();
}

void SplitView::moveDivider(long i, double proposed, bool fromDrag) {
  const auto& subs = subviews();
  if (i < 0 || size_t(i) + 1 >= subs.size()) return;
  View* a = subs[size_t(i)].get();
  View* b = subs[size_t(i) + 1].get();
  double lo = minPossiblePositionOfDividerAtIndex(i), hi = maxPossiblePositionOfDividerAtIndex(i);
  double cmin = lo, cmax = hi;
  if (hooks_ & SplitViewDelegate::ConstrainMinCoordinate) cmin = delegate_->splitViewConstrainMinCoordinate(*this, lo, i);
  if (hooks_ & SplitViewDelegate::ConstrainMaxCoordinate) cmax = delegate_->splitViewConstrainMaxCoordinate(*this, hi, i);
  double pos = proposed;
  if (hooks_ & SplitViewDelegate::ConstrainSplitPosition) pos = delegate_->splitViewConstrainSplitPosition(*this, pos, i);
  bool collapseA = false, collapseB = false;
  auto canCollapse = [&](View* v) {
    return (hooks_ & SplitViewDelegate::CanCollapseSubview) && delegate_->splitViewCanCollapseSubview(*this, v);
  };
  if (pos < cmin) {
    if (fromDrag && canCollapse(a) && pos < (lo + cmin) / 2) collapseA = true;
    pos = collapseA ? lo : cmin;
  } else if (pos > cmax) {
    if (fromDrag && canCollapse(b) && pos > (cmax + hi) / 2) collapseB = true;
    pos = collapseB ? hi : cmax;
  }
  // Whatever the delegate answered, the divider stays between its neighbours.
  pos = std::clamp(pos, lo, std::max(lo, hi));
  placeDivider(i, pos);
  setCollapsed(a, collapseA);
  setCollapsed(b, collapseB);
  postDidResizeSubviews(i);
}

void SplitView::placeDivider(long i, double pos) {
  const auto& subs = subviews();
  View* a = subs[size_t(i)].get();
  View* b = subs[size_t(i) + 1].get();
  const double lo = minPossiblePositionOfDividerAtIndex(i);
  const double t = dividerThickness();
  const double bEnd = originOf(b) + sizeOf(b);
  const double cross = vertical_ ? frame().size.height : frame().size.width;
  auto place = [&](View* v, double origin, double size) {
    v->setFrame(vertical_ ? fnd::Rect(origin, 0, size, cross) : fnd::Rect(0, origin, cross, size));
  };
  place(a, lo, pos - lo);
  place(b, pos + t, bEnd - pos - t);
}

void SplitView::setPosition(double position, long dividerIndex) { moveDivider(dividerIndex, position, false); }

void SplitView::drawRect(GraphicsContext& context, const fnd::Rect&) {
  long n = long(subviews().size());
  for (long i = 0; i + 1 < n; ++i) {
    if ((hooks_ & SplitViewDelegate::ShouldHideDivider) && delegate_->splitViewShouldHideDividerAtIndex(*this, i) &&
        (isSubviewCollapsed(subviews()[size_t(i)].get()) || isSubviewCollapsed(subviews()[size_t(i) + 1].get())))
      continue;
    drawDividerInRect(context, dividerRect(i));
  }
}

void SplitView::drawDividerInRect(GraphicsContext& context, const fnd::Rect& rect) {
  context.setFillColor(dividerColor());
  context.fillRect(rect);
  if (dividerStyle_ != DividerStyle::Thin) {
    // The handle: a small dimple in the middle of the divider.
    double d = std::min(rect.size.width, rect.size.height) * 0.5;
    fnd::Rect dot(rect.origin.x + (rect.size.width - d) / 2, rect.origin.y + (rect.size.height - d) / 2, d, d);
    context.setFillColor(Color::rgb(0.55, 0.55, 0.55));
    context.fillPath(Path::oval(dot));
  }
}

View* SplitView::hitTest(const fnd::Point& pointInSuperview) {
  dividerHit_ = false;
  View* hit = View::hitTest(pointInSuperview);
  if (!hit) return nullptr;
  fnd::Point p = superview() ? convertPointFromView(pointInSuperview, superview()) : pointInSuperview;
  if (dividerIndexAtPoint(p) >= 0) {
    dividerHit_ = true;
    return this;
  }
  return hit;
}

void SplitView::mouseDown(const Event& event) {
  fnd::Point p = convertPointFromView(event.locationInWindow, nullptr);
  // Clicks in the panes travel up the responder chain; only a click on a divider is ours.
  long i = dividerHit_ ? dividerIndexAtPoint(p) : -1;
  dividerHit_ = false;
  if (i < 0) {
    View::mouseDown(event);
    return;
  }
  if (event.clickCount == 2) {
    const auto& subs = subviews();
    for (long k : {i, i + 1}) {
      View* v = subs[size_t(k)].get();
      bool can = (hooks_ & SplitViewDelegate::CanCollapseSubview) && delegate_->splitViewCanCollapseSubview(*this, v);
      if (!can || isSubviewCollapsed(v)) continue;
      if ((hooks_ & SplitViewDelegate::ShouldCollapseForDoubleClick) &&
          !delegate_->splitViewShouldCollapseSubviewForDoubleClickOnDividerAtIndex(*this, v, i))
        continue;
      placeDivider(i, k == i ? minPossiblePositionOfDividerAtIndex(i) : maxPossiblePositionOfDividerAtIndex(i));
      setCollapsed(v, true);
      postDidResizeSubviews(i);
      return;
    }
    return;
  }
  dragDivider_ = i;
  double coord = vertical_ ? p.x : p.y;
  dragOffset_ = coord - (vertical_ ? dividerRect(i).origin.x : dividerRect(i).origin.y);
}

void SplitView::mouseDragged(const Event& event) {
  if (dragDivider_ < 0) {
    View::mouseDragged(event);
    return;
  }
  fnd::Point p = convertPointFromView(event.locationInWindow, nullptr);
  moveDivider(dragDivider_, (vertical_ ? p.x : p.y) - dragOffset_, true);
}

void SplitView::mouseUp(const Event& event) {
  if (dragDivider_ < 0) {
    View::mouseUp(event);
    return;
  }
  dragDivider_ = -1;
}

}  // namespace kesto::ui
