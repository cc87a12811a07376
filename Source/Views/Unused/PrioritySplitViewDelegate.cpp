#include "Views/Unused/PrioritySplitViewDelegate.h"

#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/NumberText.h"
#include "Platform/UI/Window.h"

#include <cmath>
#include <cstdio>
#include <set>

namespace kesto {

double PrioritySplitViewDelegate::minimumLength(long index) const {
  auto it = lengthsByViewIndex_.find(index);
  return it == lengthsByViewIndex_.end() ? 0.0 : it->second;
}

double PrioritySplitViewDelegate::minimumLengthOfSplitView(const ui::SplitView& splitView) const {
  long n = long(splitView.subviews().size());
  double total = n > 1 ? double(n - 1) * splitView.dividerThickness() : 0.0;
  for (long i = 0; i < n; ++i) total += minimumLength(i);
  return total;
}

void PrioritySplitViewDelegate::splitViewResizeSubviewsWithOldSize(ui::SplitView& split, const fnd::Size& oldSize) {
  const auto& subs = split.subviews();
  long n = long(subs.size());
  bool vertical = split.isVertical();
  fnd::Rect b = split.bounds();
  double d = vertical ? b.size.width - oldSize.width : b.size.height - oldSize.height;
  // Count distinct subviews: two priorities naming one subview do not cover another.
  std::set<long> counted;
  for (auto& [priority, index] : viewIndicesByPriority_) {
    if (index < 0 || index >= n) continue;
    ui::View* v = subs[size_t(index)].get();
    double m = minimumLength(index);
    fnd::Size size = v->frame().size;
    double length = vertical ? size.width : size.height;
    if (d > 0) {
      length += d;
      d = 0;
    } else if (length + d >= m) {
      length += d;
      d = 0;
    } else if (d < 0) {
      d = length - m + d;
      length = m;
    }
    v->setFrameSize(vertical ? fnd::Size{length, b.size.height} : fnd::Size{b.size.width, length});
    counted.insert(index);
  }
  // Broken contracts are logged, never raised: this runs inside window resizes. What fits is
  // still laid out.
  char message[200];
  if (long(counted.size()) != n) {
    std::snprintf(message, sizeof message,
                  "Number of valid views in priority list is less than the subview count of split view %p.",
                  (void*)&split);
    fnd::logError(std::string(message) + " (PrioritySplitViewDelegate)");
  }
  if (std::fabs(d) >= 0.5) {
    double length = (vertical ? split.frame().size.width : split.frame().size.height) - d;
    std::snprintf(message, sizeof message, "Split view %p resized smaller than minimum %s of %s", (void*)&split,
                  vertical ? "width" : "height", fnd::shortestNumberText(length).c_str());
    fnd::logError(std::string(message) + " (PrioritySplitViewDelegate)");
  }
  // Keep the window from being made smaller than the minimums again.
  if (ui::Window* window = split.window()) {
    fnd::Size content = window->contentView() ? window->contentView()->frame().size : fnd::Size{};
    fnd::Size minimum = window->minSize();
    double extra = vertical ? content.width - split.frame().size.width : content.height - split.frame().size.height;
    double needed = minimumLengthOfSplitView(split) + std::max(0.0, extra);
    if (vertical && needed > minimum.width) window->setMinSize(fnd::Size{needed, minimum.height});
    if (!vertical && needed > minimum.height) window->setMinSize(fnd::Size{minimum.width, needed});
  }
  double offset = 0;
  for (auto& v : subs) {
    fnd::Rect f = v->frame();
    if (vertical) f.origin.x = offset;
    else f.origin.y = offset;
    v->setFrame(f);
    offset += (vertical ? f.size.width : f.size.height) + split.dividerThickness();
  }
}

double PrioritySplitViewDelegate::splitViewConstrainMinCoordinate(ui::SplitView& split, double, long i) {
  const auto& subs = split.subviews();
  if (i < 0 || size_t(i) >= subs.size()) return 0;
  fnd::Rect f = subs[size_t(i)]->frame();
  return (split.isVertical() ? f.origin.x : f.origin.y) + minimumLength(i);
}

double PrioritySplitViewDelegate::splitViewConstrainMaxCoordinate(ui::SplitView& split, double, long i) {
  const auto& subs = split.subviews();
  if (i < 0 || size_t(i) + 1 >= subs.size()) return 0;
  fnd::Rect a = subs[size_t(i)]->frame(), b = subs[size_t(i) + 1]->frame();
  bool v = split.isVertical();
  double end = v ? a.origin.x + a.size.width : a.origin.y + a.size.height;
  double nextLength = v ? b.size.width : b.size.height;
  return end + (nextLength - minimumLength(i + 1));
}

}  // namespace kesto
