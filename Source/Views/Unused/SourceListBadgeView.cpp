#include "Views/Unused/SourceListBadgeView.h"

#include <cmath>

namespace kesto {

void SourceListBadgeView::setBadgeValue(std::uint64_t value) {
  cell_.setBadgeValue(value);
  setNeedsDisplay();
}

void SourceListBadgeView::setTextColor(std::optional<ui::Color> color) {
  cell_.setTextColor(std::move(color));
  setNeedsDisplay();
}

void SourceListBadgeView::setBackgroundColor(std::optional<ui::Color> color) {
  cell_.setBackgroundColor(std::move(color));
  setNeedsDisplay();
}

void SourceListBadgeView::drawRect(ui::GraphicsContext& context, const fnd::Rect&) {
  cell_.drawWithFrame(context, bounds(), this);
}

void SourceListTableCellView::layout() {
  ui::View::layout();
  SourceListBadgeView* badge = badgeView();
  if (!badge) return;
  badge->sizeToFit();
  fnd::Size s = badge->frame().size;
  fnd::Rect b = bounds();
  badge->setFrameOrigin(fnd::Point{b.origin.x + b.size.width - s.width,
                                   b.origin.y + b.size.height * 0.5 - std::round(s.height / 2)});
}

}  // namespace kesto
