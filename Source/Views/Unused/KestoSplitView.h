#pragma once

#include "Platform/UI/SplitView.h"

namespace kesto {

// A split view with a one-point divider, drawn as the base split view draws it.
class KestoSplitView : public ui::SplitView {
 public:
  using ui::SplitView::SplitView;
  double dividerThickness() const override { return 1.0; }
};

}  // namespace kesto
