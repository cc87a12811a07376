#include "Views/Unused/KestoFilterField.h"

#include "Platform/UI/GraphicsContext.h"

namespace kesto {

void KestoFilterField::awakeFromNib() {
  setDrawsBackground(true);
  setDrawsOverWidget(true);
}

void KestoFilterField::setFilterImage(const ui::Image& image) {
  filterImage_ = image;
  setNeedsDisplayOverWidget();
}

void KestoFilterField::drawOverWidget(ui::GraphicsContext& context, const fnd::Rect& dirty) {
  if (filterImage_.isNull()) return;
  // The part of the image under the dirty rectangle inset by 4 at its origin, the image upright
  // from the field's top-left corner.
  fnd::Rect target(dirty.origin.x + 4, dirty.origin.y + 4, dirty.size.width - 4, dirty.size.height - 4);
  if (target.size.width <= 0 || target.size.height <= 0) return;
  fnd::Size size = filterImage_.size();
  fnd::Rect b = bounds();
  double top = isFlipped() ? b.origin.y : b.origin.y + b.size.height - size.height;
  context.saveState();
  context.clipToRect(target);
  context.drawImage(filterImage_, fnd::Rect(b.origin.x, top, size.width, size.height));
  context.restoreState();
}

}  // namespace kesto
