#include "Views/Unused/BRWTextField.h"

namespace kesto {

void BRWTextField::awakeFromNib() {
  setDelegate(this);
  setWraps(true);
}

void BRWTextField::keyDown(const ui::Event& event) {
  if (event.keyCode == ui::KeyCode::Escape) {
    endEditing();  // the text stays as it is
    return;
  }
  ui::TextField::keyDown(event);
}

}  // namespace kesto
