#pragma once

#include "Platform/UI/Control.h"

namespace kesto::ui {

// A rating: a row of stars, as many as the maximum value, filled up to the value. An editable
// indicator takes its value from a click (the star clicked; the left edge clears it) and runs
// its action. Highlighted (in a selected row) it draws in white.
class LevelIndicator : public Control {
 public:
  explicit LevelIndicator(const fnd::Rect& frame = fnd::Rect());

  double minValue() const { return 0; }
  double maxValue() const { return max_; }
  // At least one star.
  void setMaxValue(double maxValue);
  double doubleValue() const { return value_; }
  // Clamped to 0 ... maxValue.
  void setDoubleValue(double value);
  bool isEditable() const { return editable_; }
  void setEditable(bool editable) { editable_ = editable; }
  virtual bool isHighlighted() const { return highlighted_; }
  void setHighlighted(bool highlighted);

  // The value a click at `x` (in the view's coordinates) gives.
  double valueForClickAt(double x) const;
  // The rectangle of star `index` (0-based), in the view's coordinates.
  fnd::Rect rectOfStar(int index) const;

  void userClickedAt(double x);

 private:
  double max_ = 5;
  double value_ = 0;
  bool editable_ = true;
  bool highlighted_ = false;
};

}  // namespace kesto::ui
