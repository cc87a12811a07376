#include "Views/DarkRoundedLook.h"

#include "Platform/UI/View.h"

namespace kesto {

void applyDarkRoundedLook(ui::View& view) {
  view.setWantsLayer(true);
  view.setBackgroundColor(ui::Color::white(0.15));
  view.setCornerRadius(2.0);
  view.setBorderColor(ui::Color::white(0.25));
  view.setBorderWidth(2.0);
  view.setOpaque(true);
}

}  // namespace kesto
