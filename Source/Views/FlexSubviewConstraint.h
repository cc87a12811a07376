#pragma once

namespace kesto {

// Per-subview limits of a FlexSplitView; sizes of 0 mean "none".
struct FlexSubviewConstraint {
  bool canCollapse = false;
  double minSize = 0.0;
  double maxSize = 0.0;
  bool hasSizeContraints() const { return minSize > 0 || maxSize > 0; }
};

}  // namespace kesto
