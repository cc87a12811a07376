#pragma once

#include "Platform/UI/LevelIndicator.h"

namespace kesto {

// A rating that always draws in its highlighted (white) style.
class BRWLevelIndicatorCell : public ui::LevelIndicator {
 public:
  using ui::LevelIndicator::LevelIndicator;
  bool isHighlighted() const override { return true; }
};

}  // namespace kesto
