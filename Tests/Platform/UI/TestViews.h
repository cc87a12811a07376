#pragma once

#include "Platform/UI/View.h"

namespace kesto::test {

// A view whose y axis runs downwards, as documents and most test layouts want it.
class FlippedView : public ui::View {
 public:
  using ui::View::View;
  bool isFlipped() const override { return true; }
};

}  // namespace kesto::test
