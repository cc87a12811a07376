#pragma once

#include "Platform/UI/TextField.h"

namespace kesto {

// A field with its own rounded, gradient-framed body and focus ring; the text sits on a white
// face inside the frame.
class GradientTextField : public ui::TextField {
 public:
  explicit GradientTextField(const fnd::Rect& frame = fnd::Rect());
  void drawRect(ui::GraphicsContext& context, const fnd::Rect& dirtyRect) override;
  void setFrame(const fnd::Rect& frame) override;

 protected:
  void widgetDidGainFocus() override;
  void widgetDidLoseFocus() override;

 private:
  bool drawsFocusRing() const;
};

}  // namespace kesto
