#include "Views/Unused/BRWRoundedTextField.h"

#include "Views/DarkRoundedLook.h"

namespace kesto {

namespace {
void styleDarkField(ui::TextField& field) {
  applyDarkRoundedLook(field);
  field.setBordered(false);
  field.setDrawsBackground(false);
  field.setTextColor(darkLookTextColor());
  field.setTakesFocusOnClick(false);
}
}  // namespace

void BRWRoundedTextField::awakeFromNib() {
  setWraps(true);
  setDelegate(this);
  styleDarkField(*this);
  setupPlaceholder();
}

void BRWRoundedTextField::setupPlaceholder() { setPlaceholderColor(systemLightGrey()); }

}  // namespace kesto
