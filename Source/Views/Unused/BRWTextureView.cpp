#include "Views/Unused/BRWTextureView.h"

#include "Platform/UI/GraphicsContext.h"
#include "Views/BRWColoredView.h"

#include <cmath>

namespace kesto {

void BRWTextureView::fillWithWindowAlignedPattern(ui::View& view, ui::GraphicsContext& context, const ui::Image& image,
                                                  const fnd::Rect& rect) {
  if (image.isNull()) return;
  double w = image.size().width, h = image.size().height;
  // Where the window's tile grid falls in this view.
  fnd::Point origin = view.convertPointToView(fnd::Point{0, 0}, nullptr);
  double startX = rect.minX() - std::fmod(rect.minX() + origin.x, w);
  double startY = rect.minY() - std::fmod(rect.minY() + origin.y, h);
  if (startX > rect.minX()) startX -= w;
  if (startY > rect.minY()) startY -= h;
  context.saveState();
  context.clipToRect(rect);
  for (double y = startY; y < rect.maxY(); y += h)
    for (double x = startX; x < rect.maxX(); x += w) context.drawImage(image, fnd::Rect(x, y, w, h));
  context.restoreState();
}

void BRWTextureView::drawRect(ui::GraphicsContext& context, const fnd::Rect& dirty) {
  fillWithWindowAlignedPattern(*this, context, ui::Image::named("paper_background"), dirty);
}

void KestoMenuTextureView::drawRect(ui::GraphicsContext& context, const fnd::Rect&) {
  fnd::Rect b = bounds();
  BRWTextureView::fillWithWindowAlignedPattern(*this, context, ui::Image::named("page_background.png"), b);
  // A one-point line on the bounds: the half inside shows.
  context.setStrokeColor(BRWColoredView::systemLightGray());
  context.frameRect(b.insetBy(0.5, 0.5), 1.0);
}

}  // namespace kesto
