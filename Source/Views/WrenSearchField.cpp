#include "Views/WrenSearchField.h"

namespace kesto {

void WrenSearchField::mouseDown(const ui::Event& event) {
  ui::SearchField::mouseDown(event);
  if (mouseDownHandler_) mouseDownHandler_();
}

bool SearchInScopeDelegate::controlTextViewDoCommandBySelector(ui::Control&, ui::Command selector) {
  if (selector != ui::cmd::moveUp && selector != ui::cmd::insertTab) return false;
  if (leaveField_) leaveField_();
  return true;
}

}  // namespace kesto
