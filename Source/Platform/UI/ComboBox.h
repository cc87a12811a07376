#pragma once

#include "Platform/UI/TextControl.h"

#include <functional>
#include <string>
#include <vector>

namespace kesto::ui {

// An editable text with a list of suggestions that opens below it, from the user's click on
// the arrow or from code. Return runs the action, as does a choice from the list.
//
// While the list is open the typing goes on in the field. Tab and Shift-Tab close the list and
// act as in the field (the delegate is asked, then the focus moves on); so does Return, unless
// the arrows have moved to an item of the list, which Return then chooses.
class ComboBox : public TextControl {
 public:
  explicit ComboBox(const fnd::Rect& frame = fnd::Rect());

  // Runs with the item's index when the user chooses an item of the list (a click, or Return on
  // the item the arrows reached), once the field shows it. Typed text is never a choice, not even
  // text that equals an item.
  void setSelectionAction(std::function<void(int index)> action) { selectionAction_ = std::move(action); }

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

  // Return in the field is told from a choice in the list.
  void keyDown(const Event& event) override;

 protected:
  void applyReadOnly(bool readOnly) override;

 private:
  std::function<void(int)> selectionAction_;
  bool returnInField_ = false;
};

}  // namespace kesto::ui
