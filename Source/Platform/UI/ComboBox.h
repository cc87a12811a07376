#pragma once

#include "Platform/UI/TextControl.h"

#include <string>
#include <vector>

namespace kesto::ui {

// An editable text with a list of suggestions that opens below it, from the user's click on
// the arrow or from code. Return runs the action.
class ComboBox : public TextControl {
 public:
  explicit ComboBox(const fnd::Rect& frame = fnd::Rect());

  std::string stringValue() const override;
  void setStringValue(const std::string& text) override;
  void addItemWithObjectValue(const std::string& item);
  void addItemsWithObjectValues(const std::vector<std::string>& items);
  void removeAllItems();
  std::vector<std::string> objectValues() const;
  int numberOfItems() const;
  int numberOfVisibleItems() const;
  void setNumberOfVisibleItems(int count);

  // The list: open or closed. Opening an empty list, or one already open, does nothing.
  void showPopup();
  void hidePopup();
  bool isPopupOpen() const;

 protected:
  void applyReadOnly(bool readOnly) override;
};

}  // namespace kesto::ui
