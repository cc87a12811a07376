#include "Views/Unused/BRWImageView.h"

#include "Platform/UI/GraphicsContext.h"
#include "Views/BRWColoredView.h"

#include <cmath>

namespace kesto {

void BRWImageView::drawRect(ui::GraphicsContext& context, const fnd::Rect&) {
  fnd::Rect f(0, 0, kWidth, kHeight);
  context.drawImage(image_, f);
  context.setStrokeColor(BRWColoredView::systemLightGray());
  // Only this frame is two points wide; other strokes keep their own widths.
  context.frameRect(f, 2.0);
}

void KestoLine::awakeFromNib() {
  View::awakeFromNib();
  setBorderColor(BRWColoredView::systemLightGray());
}

void KestoLine::drawRect(ui::GraphicsContext& context, const fnd::Rect&) {
  // One point across the middle of the longer side.
  fnd::Rect b = bounds();
  bool horizontal = b.size.width >= b.size.height;
  fnd::Rect line = horizontal ? fnd::Rect(b.minX(), std::floor(b.midY()), b.size.width, 1.0)
                              : fnd::Rect(std::floor(b.midX()), b.minY(), 1.0, b.size.height);
  context.setFillColor(BRWColoredView::systemLightGray());
  context.fillRect(line);
}

}  // namespace kesto
