#pragma once

#include "Platform/UI/TextField.h"

namespace kesto {

// A text field of several lines (Return and Tab insert) that gives up the focus on Escape.
class BRWTextField : public ui::TextField, public ui::TextEditingDelegate {
 public:
  explicit BRWTextField(const fnd::Rect& frame = fnd::Rect(), Style style = Style::Plain)
      : ui::TextField(frame, style) {}
  void awakeFromNib() override;
  void keyDown(const ui::Event& event) override;
  bool controlTextShouldBeginEditing(ui::Control& control) override { return true; }
  void controlTextDidChange(ui::Control& control) override {}
};

}  // namespace kesto
