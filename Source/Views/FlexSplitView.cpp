#include "Views/FlexSplitView.h"

#include "Platform/UI/Animator.h"
#include "Platform/UI/GraphicsContext.h"

#include <algorithm>
#include <cmath>

namespace kesto {

namespace {
using Hook = ui::SplitViewDelegate::Hook;
constexpr long kNotFound = 9223372036854775807L;
constexpr int kMaxPasses = 10000;  // the sharing loops always settle well before this

// A pane's size limits; 0 is no limit.
struct Limits {
  double min = 0, max = 0;
  double clamp(double size) const {
    if (min > 0 && size < min) size = min;
    if (max > 0 && size > max) size = max;
    return size;
  }
};
Limits limitsOf(const FlexSubviewConstraint* r) { return r ? Limits{r->minSize, r->maxSize} : Limits{}; }
}  // namespace

FlexSplitView::FlexSplitView(const fnd::Rect& frame) : ui::SplitView(frame) { initializeSplitView(); }

void FlexSplitView::initializeSplitView() {
  setDelegate(this);
  resizeMode_ = 0;
  dividerThicknessOverriden_ = false;
  oDividerThickness_ = 1.0;
  deltaAdjustment_ = 0;
  priorityIndexes_.clear();
  viewsToCollapseByDivider_.clear();
  size_t n = subviews().size();
  constraints_.assign(n, FlexSubviewConstraint{});
  lastValuesBeforeCollapse_.assign(n, 0.0);
  subviewsStates_.assign(n, 0.0);
}

unsigned FlexSplitView::implementedSplitViewHooks() const {
  return Hook::ConstrainMinCoordinate | Hook::ConstrainMaxCoordinate | Hook::CanCollapseSubview |
         Hook::ShouldCollapseForDoubleClick | Hook::ShouldAdjustSizeOfSubview | Hook::ShouldHideDivider |
         Hook::DidResizeSubviews;
}

// ---- appearance ----

void FlexSplitView::setShouldDrawDivider(bool on) {
  shouldDrawDivider_ = on;
  setNeedsDisplay(true);
}
void FlexSplitView::setShouldDrawDividerHandle(bool on) {
  shouldDrawDividerHandle_ = on;
  setNeedsDisplay(true);
}
void FlexSplitView::setDividerRectEdge(unsigned edge) {
  dividerRectEdge_ = edge;
  setNeedsDisplay(true);
}
void FlexSplitView::setDividerColor(std::optional<ui::Color> color) {
  if (color == dividerColor_) return;
  dividerColor_ = color;
  setNeedsDisplay(true);
}

ui::Color FlexSplitView::dividerColor() const {
  if (drawingHandleOnly_) return ui::Color::clear();
  return dividerColor_ ? *dividerColor_ : ui::Color::clear();
}

double FlexSplitView::dividerThickness() const {
  return dividerThicknessOverriden_ ? oDividerThickness_ : ui::SplitView::dividerThickness();
}

void FlexSplitView::setDividerThickness(double thickness) {
  double n = double(subviews().size());
  deltaAdjustment_ += (thickness - oDividerThickness_) * (n - 1);
  oDividerThickness_ = thickness;
  dividerThicknessOverriden_ = true;
  setNeedsDisplay(true);
}

void FlexSplitView::drawRect(ui::GraphicsContext& context, const fnd::Rect& dirtyRect) {
  if (dividerColor_ && dividerColor_->alpha > 0) ui::SplitView::drawRect(context, dirtyRect);
}

void FlexSplitView::drawDividerInRect(ui::GraphicsContext& context, const fnd::Rect& rect) {
  if (!shouldDrawDivider_) {
    ui::SplitView::drawDividerInRect(context, rect);
    return;
  }
  ui::Color color = dividerColor_ ? *dividerColor_ : ui::Color::clear();
  if (dividerStyle() == DividerStyle::Thin) {
    context.setFillColor(color);
    context.fillRect(rect);
    return;
  }
  if (shouldDrawDividerHandle_) {
    // The base draws its handle over a clear divider; drawn without a redisplay request.
    drawingHandleOnly_ = true;
    ui::SplitView::drawDividerInRect(context, rect);
    drawingHandleOnly_ = false;
  }
  fnd::Rect r = rect;
  switch (dividerRectEdge_) {
    case 0: r.size.width = 1.0; break;
    case 1: r.size.height = 1.0; break;
    case 2: r.origin.x += r.size.width - 1.0; r.size.width = 1.0; break;
    case 3: r.origin.y += r.size.height - 1.0; r.size.height = 1.0; break;
    default: break;
  }
  context.setFillColor(color);
  context.fillRect(r);
}

// ---- constraints ----

const FlexSubviewConstraint* FlexSplitView::record(long index) const {
  if (index < 0 || size_t(index) >= constraints_.size()) return nullptr;
  return &constraints_[size_t(index)];
}

void FlexSplitView::setMaxSize(double size, unsigned long index) {
  if (index < constraints_.size()) constraints_[index].maxSize = size;
}
void FlexSplitView::setMinSize(double size, unsigned long index) {
  if (index < constraints_.size()) constraints_[index].minSize = size;
}
double FlexSplitView::minSizeForSubviewAtIndex(unsigned long index) const {
  return index < constraints_.size() ? constraints_[index].minSize : 0.0;
}
double FlexSplitView::maxSizeForSubviewAtIndex(unsigned long index) const {
  return index < constraints_.size() ? constraints_[index].maxSize : 0.0;
}
void FlexSplitView::setCanCollapse(bool on, unsigned long index) {
  if (index < constraints_.size()) constraints_[index].canCollapse = on;
}
bool FlexSplitView::canCollapseSubviewAtIndex(unsigned long index) const {
  return index < constraints_.size() && constraints_[index].canCollapse;
}

long FlexSplitView::subviewIndexToCollapseForDoubleClickOnDividerAtIndex(unsigned long divider) const {
  auto it = viewsToCollapseByDivider_.find(divider);
  return it == viewsToCollapseByDivider_.end() ? kNotFound : long(it->second);
}

long FlexSplitView::indexOf(const ui::View* view) const {
  const auto& subs = subviews();
  for (size_t i = 0; i < subs.size(); ++i)
    if (subs[i].get() == view) return long(i);
  return -1;
}

const FlexSubviewConstraint* FlexSplitView::constraintForSubview(const ui::View* view) const {
  long i = indexOf(view);
  return i < 0 ? nullptr : record(i);
}

double FlexSplitView::sizeAlong(const ui::View* v) const { return isVertical() ? v->frame().size.width : v->frame().size.height; }
double FlexSplitView::originAlong(const ui::View* v) const { return isVertical() ? v->frame().origin.x : v->frame().origin.y; }
double FlexSplitView::boundsAlong() const { return isVertical() ? bounds().size.width : bounds().size.height; }

bool FlexSplitView::isSubviewCollapsed(const ui::View* view) const {
  return ui::SplitView::isSubviewCollapsed(const_cast<ui::View*>(view)) || sizeAlong(view) == 0;
}

double FlexSplitView::splitViewConstrainMinCoordinate(ui::SplitView&, double proposed, long i) {
  const auto& subs = subviews();
  const FlexSubviewConstraint* r = record(i);
  // A subview without a record (added without reset) is unconstrained.
  if (!r || size_t(i) >= subs.size() || !r->hasSizeContraints()) return proposed;
  return originAlong(subs[size_t(i)].get()) + r->minSize;
}

double FlexSplitView::splitViewConstrainMaxCoordinate(ui::SplitView&, double proposed, long i) {
  const auto& subs = subviews();
  if (i < 0 || size_t(i) + 1 >= subs.size()) return proposed;
  const ui::View* a = subs[size_t(i)].get();
  const ui::View* b = subs[size_t(i) + 1].get();
  const FlexSubviewConstraint* ra = record(i);
  const FlexSubviewConstraint* rb = record(i + 1);
  if (ra && ra->maxSize != 0) return originAlong(a) + ra->maxSize;
  return originAlong(a) + sizeAlong(a) + sizeAlong(b) - (rb ? rb->minSize : 0.0);
}

bool FlexSplitView::splitViewCanCollapseSubview(ui::SplitView&, ui::View* subview) {
  const FlexSubviewConstraint* r = constraintForSubview(subview);
  return r && r->canCollapse;
}

bool FlexSplitView::splitViewShouldCollapseSubviewForDoubleClickOnDividerAtIndex(ui::SplitView&, ui::View* subview,
                                                                                  long divider) {
  if (divider < 0) return false;
  auto it = viewsToCollapseByDivider_.find((unsigned long)divider);
  if (it == viewsToCollapseByDivider_.end()) return true;
  return indexOf(subview) == long(it->second);
}

bool FlexSplitView::splitViewShouldAdjustSizeOfSubview(ui::SplitView&, ui::View* subview) { return indexOf(subview) == 1; }

// ---- positions ----

double FlexSplitView::positionOfDividerAtIndex(long divider) const {
  const auto& subs = subviews();
  if (divider < 0 || size_t(divider) + 1 >= subs.size()) return 0.0;
  for (long k = divider; k >= 0; --k) {
    const ui::View* v = subs[size_t(k)].get();
    if (!isSubviewCollapsed(v)) return originAlong(v) + sizeAlong(v);
  }
  return 0.0;
}

void FlexSplitView::getNewSubviewsRects(std::vector<fnd::Rect>& rects, const std::vector<long>& indexes,
                                        const std::vector<double>& positions) {
  const auto& subs = subviews();
  rects.resize(subs.size());
  for (size_t i = 0; i < subs.size(); ++i) rects[i] = subs[i]->frame();
  bool vertical = isVertical();
  auto origin = [&](fnd::Rect& r) -> double& { return vertical ? r.origin.x : r.origin.y; };
  auto size = [&](fnd::Rect& r) -> double& { return vertical ? r.size.width : r.size.height; };
  for (long d : indexes) {
    size_t place = size_t(std::find(indexes.begin(), indexes.end(), d) - indexes.begin());
    double p = place < positions.size() ? positions[place] : 0.0;
    if (d < 0 || size_t(d) + 1 >= rects.size()) continue;
    saveCurrentDivididerState();
    fnd::Rect& a = rects[size_t(d)];
    fnd::Rect& b = rects[size_t(d) + 1];
    double end = origin(b) + size(b);
    size(a) = p - origin(a);
    double gap = p < boundsAlong() ? dividerThickness() : 0.0;
    origin(b) = p + gap;
    size(b) = end - p - gap;
  }
}

bool FlexSplitView::setPositions(const std::vector<double>& positions, const std::vector<long>& indexes, bool animated,
                                 Completion completion) {
  size_t n = subviews().size();
  if (positions.size() != indexes.size() || indexes.size() >= n) return false;
  // Every index must name an existing divider; one past the end would write past the rects.
  for (long d : indexes)
    if (d < 0 || size_t(d) + 1 >= n) return false;
  auto subs = subviews();
  if (!animated) {
    std::vector<fnd::Rect> rects;
    getNewSubviewsRects(rects, indexes, positions);
    for (size_t i = 0; i < subs.size(); ++i) subs[i]->setFrame(rects[i]);
    if (completion) completion(true);
    return true;
  }
  bool tell = eventsDelegate_ && (eventsDelegate_->implementedFlexSplitViewMethods() & FlexSplitViewDelegate::IsAnimating);
  if (tell) eventsDelegate_->splitViewSplitViewIsAnimating(*this, true);
  isAnimating_ = true;
  std::weak_ptr<ui::View> weak = weak_from_this();
  ui::AnimationContext::runAnimationGroup(
      [&](ui::AnimationContext& ctx) {
        ctx.setDuration(0.2);
        std::vector<fnd::Rect> rects;
        getNewSubviewsRects(rects, indexes, positions);
        for (size_t i = 0; i < subs.size(); ++i) {
          double newSize = isVertical() ? rects[i].size.width : rects[i].size.height;
          if (subs[i]->isHidden() && newSize > 0) subs[i]->setHidden(false);
          subs[i]->animator().setFrame(rects[i]);
        }
      },
      [weak, this, completion] {
        if (!weak.lock()) return;
        isAnimating_ = false;
        setNeedsDisplay(true);
        if (completion) completion(true);
        if (eventsDelegate_ && (eventsDelegate_->implementedFlexSplitViewMethods() & FlexSplitViewDelegate::IsAnimating))
          eventsDelegate_->splitViewSplitViewIsAnimating(*this, false);
      });
  return true;
}

bool FlexSplitView::setPosition(double position, long divider, bool animated, Completion completion) {
  if (divider < 0 || size_t(divider) + 1 >= subviews().size()) return false;
  return setPositions({position}, {divider}, animated, std::move(completion));
}

bool FlexSplitView::setSize(double size, long i, bool animated, Completion completion) {
  const auto& subs = subviews();
  long n = long(subs.size());
  if (i < 0 || i >= n) return false;
  double delta = size - sizeAlong(subs[size_t(i)].get());
  if (delta == 0) return false;
  std::vector<double> positions;
  std::vector<long> indexes;
  if (i > 0 && i < n - 1 && n > 2) {
    positions = {positionOfDividerAtIndex(i - 1) - delta / 2, positionOfDividerAtIndex(i) + delta / 2};
    indexes = {i - 1, i};
  } else {
    long d = i > 0 ? i - 1 : 0;
    double p = std::trunc(positionOfDividerAtIndex(d));
    positions = {std::trunc(i == 0 ? p + delta : p - delta)};
    indexes = {d};
  }
  return setPositions(positions, indexes, animated, [completion](bool finished) {
    if (completion) completion(finished);
  });
}

bool FlexSplitView::collapseOrExpandSubviewAtIndex(unsigned long index, bool animated) {
  size_t n = subviews().size();
  if (index >= n) return false;
  bool first = index == 0, last = index == n - 1;
  if (!first && !last) return false;
  const ui::View* v = subviews()[index].get();
  bool wasCollapsed = isSubviewCollapsed(v);
  long d = (last && index > 0) ? long(index) - 1 : 0;
  double target;
  if (wasCollapsed) target = size_t(d) < lastValuesBeforeCollapse_.size() ? lastValuesBeforeCollapse_[size_t(d)] : 0.0;
  else if (last && index > 0) target = positionOfDividerAtIndex(d) + sizeAlong(v);
  else target = 0.0;
  setPosition(target, d, animated, nullptr);
  return wasCollapsed;
}

bool FlexSplitView::collapseOrExpandSubview(const ui::View* view, bool animated) {
  long i = indexOf(view);
  return i >= 0 && collapseOrExpandSubviewAtIndex((unsigned long)i, animated);
}

void FlexSplitView::saveCurrentDivididerState() {
  long n = long(subviews().size());
  double along = isVertical() ? frame().size.width : frame().size.height;
  for (long i = 0; i + 1 < n; ++i) {
    double p = positionOfDividerAtIndex(i);
    if (p != 0 && p != along - dividerThickness() && size_t(i) < lastValuesBeforeCollapse_.size())
      lastValuesBeforeCollapse_[size_t(i)] = p;
  }
}

void FlexSplitView::splitViewDidResizeSubviews(ui::SplitView&, std::optional<long> dividerIndex) {
  long d = dividerIndex.value_or(0);
  double p = positionOfDividerAtIndex(d);
  if (!isAnimating_) {
    saveCurrentDivididerState();
    unsigned m = eventsDelegate_ ? eventsDelegate_->implementedFlexSplitViewMethods() : 0;
    if (m & FlexSplitViewDelegate::DividerMovedAt) eventsDelegate_->splitViewDividerMovedAt(*this, d, p);
    if (d >= 0 && size_t(d) < subviewsStates_.size() && (m & FlexSplitViewDelegate::SubviewStateChanged)) {
      double s = subviewsStates_[size_t(d)];
      if (s > 0 && p == 0) eventsDelegate_->splitViewSubviewStateChanged(*this, (unsigned long)d, 0);
      else if (s == 0 && p > 0) eventsDelegate_->splitViewSubviewStateChanged(*this, (unsigned long)d, 1);
    }
  }
  updateSubviewsState();
}

void FlexSplitView::updateSubviewsState() {
  const auto& subs = subviews();
  for (size_t i = 0; i < subs.size() && i < subviewsStates_.size(); ++i)
    subviewsStates_[i] = isSubviewCollapsed(subs[i].get()) ? 0.0 : sizeAlong(subs[i].get());
}

// ---- resize rules ----

void FlexSplitView::setSubviewSize(ui::View* v, double size) {
  fnd::Size b = bounds().size;
  v->setFrameSize(isVertical() ? fnd::Size{size, b.height} : fnd::Size{b.width, size});
}

void FlexSplitView::layoutSubviews() {
  double pos = 0;
  for (auto& v : subviews()) {
    fnd::Rect f = v->frame();
    if (isVertical()) f.origin.x = pos;
    else f.origin.y = pos;
    v->setFrame(f);
    double size = sizeAlong(v.get());
    pos += size + dividerThickness();
    v->setHidden(size <= 0);
  }
}

void FlexSplitView::setSubviewsSizes(const std::vector<double>& sizes) {
  const auto& subs = subviews();
  for (size_t i = 0; i < subs.size() && i < sizes.size(); ++i) setSubviewSize(subs[i].get(), sizes[i]);
  layoutSubviews();
}

void FlexSplitView::calculateSubviewsSizesArrayInto(std::vector<double>& sizes) const {
  sizes.clear();
  for (auto& v : subviews()) sizes.push_back(sizeAlong(v.get()));
}

void FlexSplitView::calculateResizableSubviews(std::vector<bool>* flags, long* count, double* total, double delta) const {
  const auto& subs = subviews();
  if (flags) flags->assign(subs.size(), false);
  for (size_t i = 0; i < subs.size(); ++i) {
    double s = sizeAlong(subs[i].get());
    const Limits limits = limitsOf(record(long(i)));
    bool resizable = true;
    if (delta < 0 && limits.min > 0) resizable = std::fabs(s - limits.min) >= 0.5;
    if (delta > 0 && limits.max > 0) resizable = std::fabs(s - limits.max) >= 0.5;
    if (flags) (*flags)[i] = resizable;
    if (resizable) {
      if (count) ++*count;
      if (total) *total += s;
    }
  }
}

void FlexSplitView::applyUniformResizeFromOldSize(const fnd::Size& oldSize) {
  double delta = isVertical() ? bounds().size.width - oldSize.width : bounds().size.height - oldSize.height;
  std::vector<bool> flags;
  long count = 0;
  calculateResizableSubviews(&flags, &count, nullptr, delta);
  std::vector<double> sizes;
  calculateSubviewsSizesArrayInto(sizes);
  for (int pass = 0; std::fabs(delta) > 0.5 && pass < kMaxPasses; ++pass) {
    if (count == 0) break;  // the share would be infinite: nobody can take it
    double share = delta / double(count);
    share = share < 0 ? std::floor(share) : std::ceil(share);
    for (size_t i = 0; i < sizes.size(); ++i) {
      if (!flags[i]) continue;
      const double size = limitsOf(record(long(i))).clamp(sizes[i] + share);
      if (size != sizes[i] + share) {
        flags[i] = false;
        --count;
      }
      delta -= size - sizes[i];
      sizes[i] = size;
      if (std::fabs(delta) <= 0.5) break;
    }
  }
  setSubviewsSizes(sizes);
}

double FlexSplitView::takeResizeDelta(const fnd::Size& oldSize) {
  double delta = isVertical() ? bounds().size.width - oldSize.width : bounds().size.height - oldSize.height;
  if (deltaAdjustment_ != 0) {
    delta -= deltaAdjustment_;
    deltaAdjustment_ = 0;
  }
  return delta;
}

void FlexSplitView::applyProportionalResizeFromOldSize(const fnd::Size& oldSize) {
  double delta = takeResizeDelta(oldSize);
  std::vector<bool> flags;
  long count = 0;
  double total = 0;
  calculateResizableSubviews(&flags, &count, &total, delta);
  std::vector<double> sizes;
  calculateSubviewsSizesArrayInto(sizes);
  std::vector<double> ratios(sizes.size(), 0.0);
  for (size_t i = 0; i < sizes.size(); ++i) {
    if (!flags[i]) continue;
    // Panes that are all empty share evenly instead of dividing 0 by 0.
    ratios[i] = total > 0 ? sizes[i] / total : 1.0 / double(count);
  }
  for (int pass = 0; delta != 0 && pass < kMaxPasses; ++pass) {
    double remaining = delta;
    for (size_t i = 0; i < sizes.size(); ++i) {
      double step = std::round(float(ratios[i] * delta));
      const double size = limitsOf(record(long(i))).clamp(sizes[i] + step);
      remaining -= size - sizes[i];
      sizes[i] = size;
      if (std::fabs(remaining) <= 0.5) break;
    }
    if (delta != 0 && remaining == delta) {
      size_t chosen = 0;
      double best = 0;
      for (size_t i = 0; i < sizes.size(); ++i) {
        if (ratios[i] <= best) continue;
        const Limits limits = limitsOf(record(long(i)));
        double size = sizes[i] + remaining;
        if ((limits.min > 0 && size < limits.min) || (limits.max > 0 && size >= limits.max)) continue;
        chosen = i;
        best = ratios[i];
      }
      if (!sizes.empty()) sizes[chosen] += remaining;
      remaining = 0;
    }
    delta = remaining;
  }
  setSubviewsSizes(sizes);
}

void FlexSplitView::applyPriorityResizeFromOldSize(const fnd::Size& oldSize) {
  double delta = takeResizeDelta(oldSize);
  const auto& subs = subviews();
  for (auto& [priority, index] : priorityIndexes_) {
    if (index < 0 || size_t(index) >= subs.size()) continue;
    ui::View* v = subs[size_t(index)].get();
    if (isSubviewCollapsed(v)) continue;
    double s = sizeAlong(v);
    const FlexSubviewConstraint* r = record(index);
    double m = r ? r->minSize : 0;
    if (delta > 0 || s + delta >= m) {
      s += delta;
      delta = 0;
    } else if (delta < 0) {
      delta += s - m;
      s = m;
    }
    setSubviewSize(v, s);
  }
  layoutSubviews();
}

}  // namespace kesto
