#include "Views/Unused/Brightwren.h"

#include "Platform/UI/Button.h"
#include "Platform/UI/TextView.h"

namespace kesto::brightwren {

ui::Color controlTextColor() { return ui::Color::black(); }

std::optional<ui::Color> textColor(const ui::Button& button) {
  if (button.title().empty()) return controlTextColor();
  return button.titleColor();
}

void setTextColor(ui::Button& button, const ui::Color& color) { button.setTitleColor(color); }

void insertText(ui::TextView& view, const std::string& text, const ui::Color& color) {
  view.insertText(text);
  view.setTextColor(color);
}

}  // namespace kesto::brightwren
