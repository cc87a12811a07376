#pragma once

#include "Platform/UI/Color.h"
#include "Platform/UI/UIForward.h"

#include <optional>
#include <string>

namespace kesto::brightwren {

// The colour of a button's title: the control text colour when the title is empty (it carries
// no attributes), otherwise the colour set on it, absent when none was.
std::optional<ui::Color> textColor(const ui::Button& button);
void setTextColor(ui::Button& button, const ui::Color& color);

// Inserts at the insertion point, then colours the whole text.
void insertText(ui::TextView& view, const std::string& text, const ui::Color& color);

// The desktop's control text colour.
ui::Color controlTextColor();

}  // namespace kesto::brightwren
