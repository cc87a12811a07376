#pragma once

#include "Platform/UI/ComboBox.h"

namespace kesto {

// A combo box whose list is opened and closed from code (the menu-bar window's folder field).
class BRWRoundedComboBox : public ui::ComboBox {
 public:
  using ui::ComboBox::ComboBox;
  bool isExpanded() const { return isPopupOpen(); }
  void setExpanded(bool expanded) {
    if (expanded) showPopup();
    else hidePopup();
  }
};

}  // namespace kesto
