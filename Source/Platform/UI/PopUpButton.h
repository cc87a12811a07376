#pragma once

#include "Platform/UI/Control.h"
#include "Platform/UI/Image.h"

#include <string>
#include <vector>

namespace kesto::ui {

// A button that pops up a list of titles and shows the chosen one; choosing runs the action.
class PopUpButton : public Control {
 public:
  explicit PopUpButton(const fnd::Rect& frame = fnd::Rect());

  void addItemWithTitle(const std::string& title);
  // An item with an icon before its title.
  void addItemWithTitle(const std::string& title, const Image& image);
  void removeAllItems();
  std::vector<std::string> itemTitles() const;
  int numberOfItems() const;
  // -1 when there are no items.
  int indexOfSelectedItem() const;
  // Out-of-range indices select nothing.
  void selectItemAtIndex(int index);
  std::string titleOfSelectedItem() const;
  // As wide as its longest item needs, its height and origin kept.
  void sizeToFit();
};

}  // namespace kesto::ui
