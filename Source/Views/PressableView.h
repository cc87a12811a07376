#pragma once

#include "Platform/UI/View.h"

namespace kesto {

// The press tracking every button drawn by its own view shares: pressed while the mouse is held
// inside, and a click when it is released inside. Subclasses draw the pressed look and say what
// a click does.
class PressableView : public ui::View {
 public:
  using ui::View::View;
  bool isPressed() const { return pressed_; }
  // What a click does; also callable without the mouse.
  virtual void performClick() = 0;

  void mouseDown(const ui::Event& event) override;
  void mouseDragged(const ui::Event& event) override;
  void mouseUp(const ui::Event& event) override;

 protected:
  // Whether a press takes at all (a disabled button shows no pressed look).
  virtual bool acceptsPress() const { return true; }

 private:
  void setPressed(bool pressed);
  bool containsEvent(const ui::Event& event) const;
  bool tracking_ = false;
  bool pressed_ = false;
};

}  // namespace kesto
