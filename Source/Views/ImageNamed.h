#pragma once

#include "Platform/UI/Image.h"

#include <string>

namespace kesto {

// Images by the names the interface uses. The application ships no artwork of its own yet, so
// each name gets a small generated glyph in a colour of its own; unknown names give a null image.
ui::Image imageNamed(const std::string& name);

}  // namespace kesto
