#include "Views/Unused/BRWRoundedSecureTextField.h"

#include "Views/DarkRoundedLook.h"

namespace kesto {

void BRWRoundedSecureTextField::awakeFromNib() {
  setWraps(true);  // a secure field stays on one line
  setDelegate(this);
  applyDarkRoundedLook(*this);
  setBordered(false);
  setDrawsBackground(false);
  setTextColor(darkLookTextColor());
  setTakesFocusOnClick(false);
  setupPlaceholder();
}

void BRWRoundedSecureTextField::setupPlaceholder() { setPlaceholderColor(systemLightGrey()); }

}  // namespace kesto
