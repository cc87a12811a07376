#include "Views/OverlayView.h"

#include "Platform/UI/GraphicsContext.h"
#include "Platform/UI/Path.h"

namespace kesto {

OverlayView::OverlayView(const fnd::Rect& frame) : ui::View(frame) {}

void OverlayView::drawRect(ui::GraphicsContext& context, const fnd::Rect&) {
  drawBezel(context);
  drawLabel(context);
}

void OverlayView::drawBezel(ui::GraphicsContext& context) {
  context.setFillColor(ui::Color::white(0.0, 0.75));
  context.fillPath(ui::Path::roundedRect(bounds(), bezelRadius_, bezelRadius_));
}

void OverlayView::drawLabel(ui::GraphicsContext& context) {
  if (label_.empty()) return;
  ui::Font font;
  font.pointSize = 18.0;
  fnd::Size text = ui::GraphicsContext::sizeOfText(label_, font);
  fnd::Rect b = bounds();
  fnd::Rect rect(b.origin.x + (b.size.width - text.width) / 2, b.origin.y + (b.size.height - text.height) / 2,
                 text.width, text.height);
  context.drawText(label_, rect, font, ui::Color::white());
}

}  // namespace kesto
