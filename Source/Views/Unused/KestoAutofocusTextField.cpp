#include "Views/Unused/KestoAutofocusTextField.h"

#include "Platform/UI/Window.h"

namespace kesto {

void KestoAutofocusTextField::mouseDown(const ui::Event&) {
  if (ui::Window* w = window()) w->makeFirstResponder(this);
}

}  // namespace kesto
