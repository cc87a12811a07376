#include "MenuBar/PinMenuView.h"

#include "Platform/UI/Event.h"
#include "Platform/UI/GraphicsContext.h"
#include "Platform/UI/Path.h"

namespace kesto {

void PinMenuView::drawRect(ui::GraphicsContext& g, const fnd::Rect& dirty) {
  const fnd::Rect b = bounds();
  const fnd::Rect row(b.minX() + 2, b.minY() + 2, b.size.width - 4, b.size.height - 4);
  const ui::Path box = ui::Path::roundedRect(row, 2, 2);
  g.saveState();
  g.clipToPath(box);
  const ui::Color blue = ui::Color::rgb(0.744, 0.807, 0.914);
  ui::Gradient gradient = selected_ ? ui::Gradient{{{0, blue}, {1, ui::Color::rgb(0.744, 0.807, 0.914, 0.8)}}}
                                    : ui::Gradient{{{0, ui::Color::white(0.9)}, {1, ui::Color::white(1.0)}}};
  g.fillGradient(gradient, row, 90);
  g.setStrokeColor(ui::Color::white(2.0 / 3.0));
  g.strokePath(box);
  g.restoreState();
  ui::View::drawRect(g, dirty);
}

void PinMenuView::mouseDown(const ui::Event& event) {
  ui::View::mouseDown(event);
  if (event.clickCount > 1 && delegate_) delegate_->doubleClickOnPinView(*this);
}

}  // namespace kesto
