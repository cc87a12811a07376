#pragma once

#include "Platform/UI/TextField.h"

namespace kesto {

// A secure field in the dark rounded look; one line, no Escape handling of its own. A click
// does not start editing.
class BRWRoundedSecureTextField : public ui::TextField, public ui::TextEditingDelegate {
 public:
  explicit BRWRoundedSecureTextField(const fnd::Rect& frame = fnd::Rect()) : ui::TextField(frame, Style::Secure) {}
  void awakeFromNib() override;
  void setupPlaceholder();
  void mouseDown(const ui::Event& event) override {}
};

}  // namespace kesto
