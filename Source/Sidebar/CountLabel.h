#pragma once

#include "Platform/Foundation/Geometry.h"

#include <memory>

namespace kesto {

namespace ui {
class Label;
}

// The small grey line beside a list's search field that counts what it found.
std::shared_ptr<ui::Label> makeCountLabel(const fnd::Rect& frame);

}  // namespace kesto
