#pragma once

#include "Views/Unused/BRWTextField.h"

namespace kesto {

// A BRWTextField in the dark rounded look of the sheets. A click does not start editing (the
// field is reached with Tab or from code).
class BRWRoundedTextField : public BRWTextField {
 public:
  using BRWTextField::BRWTextField;
  void awakeFromNib() override;
  void setupPlaceholder();
  void mouseDown(const ui::Event& event) override {}
};

}  // namespace kesto
