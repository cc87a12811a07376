#include "Views/KestoPanel.h"

#include "Platform/UI/SheetPresenter.h"

namespace kesto {

void KestoPanel::cancelOperation() {
  if (auto* presenter = ui::SheetPresenter::current()) presenter->dismissSheetForWindow(*this);
  else ui::Panel::cancelOperation();
}

fnd::Rect KestoPanel::constrainFrameRect(const fnd::Rect& proposed, const ui::Screen&) const {
  auto* presenter = ui::SheetPresenter::current();
  ui::Window* library = presenter ? presenter->libraryWindow() : nullptr;
  fnd::Rect m = library ? library->frame() : fnd::Rect();
  fnd::Rect f = proposed;
  if (shouldBeCentered_) {
    f.origin = fnd::Point{m.origin.x + (m.size.width - f.size.width) / 2, m.origin.y + (m.size.height - f.size.height) / 2};
  } else if (shouldBeBottomCentered_) {
    f.origin = fnd::Point{m.origin.x + (m.size.width - f.size.width) / 2, m.origin.y + 50.0};
  }
  return ui::Panel::constrainFrameRect(f, library ? library->screen() : ui::Screen(-1));
}

}  // namespace kesto
