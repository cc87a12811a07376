#pragma once

#include "Platform/UI/TextField.h"

namespace kesto {

// A field that takes the focus on any click; the click itself places nothing.
class KestoAutofocusTextField : public ui::TextField {
 public:
  using ui::TextField::TextField;
  void mouseDown(const ui::Event& event) override;
};

}  // namespace kesto
