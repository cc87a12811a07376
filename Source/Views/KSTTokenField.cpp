#include "Views/KSTTokenField.h"

#include "Views/DarkRoundedLook.h"

namespace kesto {

void KSTTokenField::awakeFromNib() {
  applyDarkRoundedLook(*this);
  setDrawsBackground(false);
  setTextColor(darkLookTextColor());
  setupPlaceholder();
}

void KSTTokenField::setupPlaceholder() { setPlaceholderColor(systemLightGrey()); }

void KestoTokenField::keyDown(const ui::Event& event) {
  if (event.charactersIgnoringModifiers == "\r") return;
  ui::TokenField::keyDown(event);
}

void KestoRoundedTokenField::awakeFromNib() {
  setWantsLayer(true);
  setBackgroundColor(ui::Color::white(1.0));
  setCornerRadius(2.0);
  setBorderColor(ui::Color::white(0.75));
  setBorderWidth(1.2);
  setOpaque(true);
  setDrawsBackground(false);
}

}  // namespace kesto
