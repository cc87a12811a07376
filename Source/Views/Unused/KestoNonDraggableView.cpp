#include "Views/Unused/KestoNonDraggableView.h"

#include "Platform/UI/GraphicsContext.h"
#include "Views/BRWColoredView.h"

namespace kesto {

void KestoNonDraggableDarkView::drawRect(ui::GraphicsContext& context, const fnd::Rect&) {
  context.fillGradient(ui::Gradient{{{0.0, ui::Color::white(0.189)}, {1.0, ui::Color::white(0.289)}}}, bounds(), 90.0);
  if (wantsLayer() && borderWidth() != 0.5) setBorderWidth(0.5);
  if (wantsLayer() && borderColor() != BRWColoredView::systemGray()) setBorderColor(BRWColoredView::systemGray());
}

}  // namespace kesto
