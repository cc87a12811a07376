#pragma once

#include "Platform/UI/TextField.h"

#include <functional>
#include <string>
#include <vector>

namespace kesto::ui {

// A one-line field for search text with a magnifier that opens the search menu and a clear
// button. The action runs on every change the user makes, the clear button included.
class SearchField : public TextField {
 public:
  struct MenuItem {
    std::string title;
    int tag = 0;
    // A checkable item shows a check mark while on (the search options).
    bool checkable = false;
    bool on = false;
  };
  explicit SearchField(const fnd::Rect& frame = fnd::Rect());

  // The menu under the magnifier; choosing an item calls `chosen` with its tag.
  void setSearchMenu(std::vector<MenuItem> items, std::function<void(int tag)> chosen);
  const std::vector<MenuItem>& searchMenuItems() const { return menuItems_; }
  // Checks or clears the item with `tag`.
  void setSearchMenuItemState(int tag, bool on);
  // Opens the menu under the field, as a click on the magnifier does (nothing without items).
  void showSearchMenu();

 private:
  std::vector<MenuItem> menuItems_;
  std::function<void(int)> menuChosen_;
};

}  // namespace kesto::ui
