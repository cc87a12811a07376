#pragma once

#include "Platform/UI/View.h"

namespace kesto {

// A plain container whose subviews are placed top down.
class FlippedView : public ui::View {
 public:
  using ui::View::View;
  bool isFlipped() const override { return true; }
};

}  // namespace kesto
