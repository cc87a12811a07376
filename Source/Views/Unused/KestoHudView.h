#pragma once

#include "Platform/UI/View.h"

namespace kesto {

// A translucent panel background.
class KestoHudView : public ui::View {
 public:
  using View::View;
  void awakeFromNib() override {
    View::awakeFromNib();
    setAlphaValue(0.8);
  }
};

}  // namespace kesto
