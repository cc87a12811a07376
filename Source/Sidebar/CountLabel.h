#pragma once

#include "Platform/Foundation/Geometry.h"
#include "Platform/UI/UIForward.h"

#include <memory>

namespace kesto {

// The small grey line beside a list's search field that counts what it found.
std::shared_ptr<ui::Label> makeCountLabel(const fnd::Rect& frame);

}  // namespace kesto
