#pragma once

#include "Platform/UI/Image.h"

#include <string>

namespace kesto {

// Images by the names the interface uses (the interface layer's artwork); unknown names give a
// null image.
ui::Image imageNamed(const std::string& name);

}  // namespace kesto
