#include "Views/Unused/BorderlessSegmentedControl.h"

#include <cmath>

namespace kesto {

void BorderlessSegmentedControl::drawRect(ui::GraphicsContext& context, const fnd::Rect& dirtyRect) {
  drawInterior(context, dirtyRect);
}

void BorderlessSegmentedControl::drawSegment(long segment, ui::GraphicsContext& context, const fnd::Rect& frame) {
  ui::Image image = imageForSegment(segment);
  if (image.isNull()) return;
  drawCenteredImage(image, context, frame, 1.0, isSelectedForSegment(segment), isEnabled());
}

fnd::Rect BorderlessSegmentedControl::centeredImageRect(const fnd::Size& imageSize, const fnd::Rect& f) {
  if (imageSize.width <= 0 || imageSize.height <= 0 || f.size.height <= 0) return fnd::Rect();
  double a = imageSize.width / imageSize.height, b = f.size.width / f.size.height;
  fnd::Size drawn = a > b ? fnd::Size{f.size.width, f.size.width / a} : fnd::Size{a * f.size.height, f.size.height};
  double x = f.origin.x + (f.size.width - drawn.width) / 2;
  double y = f.origin.y + (f.size.height - drawn.height) / 2 + 1;
  // Integral: the origin rounded down, the far edges rounded up.
  double x0 = std::floor(x), y0 = std::floor(y);
  double x1 = std::ceil(x + drawn.width), y1 = std::ceil(y + drawn.height);
  return fnd::Rect(x0, y0, x1 - x0, y1 - y0);
}

void BorderlessSegmentedControl::drawCenteredImage(const ui::Image& image, ui::GraphicsContext& context,
                                                   const fnd::Rect& frame, double, bool selected, bool enabled) {
  fnd::Rect r = centeredImageRect(image.size(), frame);
  if (r.isEmpty()) return;
  drawastemplate::rp_drawAsTemplateInRect(image, context, r, selected, enabled);
}

namespace drawastemplate {
void rp_drawAsTemplateInRect(const ui::Image& image, ui::GraphicsContext& context, const fnd::Rect& rect,
                             bool highlighted, bool enabled) {
  ui::Image glyph = ui::templateGlyph(image, rect.size, highlighted, enabled);
  if (!glyph.isNull()) context.drawImage(glyph, rect);
}
}  // namespace drawastemplate

}  // namespace kesto
