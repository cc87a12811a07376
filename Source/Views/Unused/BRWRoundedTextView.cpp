#include "Views/Unused/BRWRoundedTextView.h"

#include "Views/DarkRoundedLook.h"

namespace kesto {

void BRWRoundedTextView::awakeFromNib() {
  applyDarkRoundedLook(*this);
  setDrawsBackground(false);
  setTextColor(darkLookTextColor());
}

}  // namespace kesto
