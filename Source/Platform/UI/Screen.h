#pragma once

#include "Platform/Foundation/Geometry.h"

#include <vector>

namespace kesto::ui {

// A display. Frames are in global screen coordinates: origin at the bottom left of the primary
// screen, y upwards.
class Screen {
 public:
  static Screen main();  // the screen of the key window, else the primary screen
  static Screen primary();
  static std::vector<Screen> screens();

  bool isValid() const { return index_ >= 0; }
  int number() const { return index_; }
  fnd::Rect frame() const;
  fnd::Rect visibleFrame() const;
  double backingScaleFactor() const;
  double refreshRate() const;  // 60 when the display does not say
  bool operator==(const Screen& o) const { return index_ == o.index_; }

  // Conversion between global screen points and the toolkit's top-left global coordinates.
  static double primaryHeight();
  explicit Screen(int index) : index_(index) {}

 private:
  int index_ = -1;
};

}  // namespace kesto::ui
