#pragma once

#include "Platform/UI/ScrollView.h"

namespace kesto {

// A scroll view that never shows a focus ring (ours never do).
class BRWScrollView : public ui::ScrollView {
 public:
  using ScrollView::ScrollView;
};

}  // namespace kesto
