#pragma once

#include "Platform/UI/Control.h"

namespace kesto::ui {

// A horizontal slider (vertical when taller than wide) over a range of values; the action
// runs as the user moves it.
class Slider : public Control {
 public:
  explicit Slider(const fnd::Rect& frame = fnd::Rect());

  double minValue() const { return min_; }
  double maxValue() const { return max_; }
  // An empty or inverted range is ignored.
  void setRange(double minValue, double maxValue);
  double doubleValue() const;
  // Clamped to the range.
  void setDoubleValue(double value);

 private:
  double min_ = 0, max_ = 1;
};

}  // namespace kesto::ui
