#pragma once

// Private to the UI layer: the toolkit's menus behind Menu and MenuItem.

#include "Platform/UI/Menu.h"

#include <QAction>
#include <QMenu>
#include <QPointer>

namespace kesto::ui {

struct MenuItem::Impl {
  QAction* action = nullptr;
  int firing = 0;  // an item may be released by its own action
};

struct Menu::Impl {
  QMenu* menu = nullptr;
  bool isMainMenu = false;  // top-level titles carry Alt mnemonics in the menu bar
  std::weak_ptr<View> context;
  bool hasContext = false;
  // The toolkit menu's show and hide reach this Menu and its delegate through these.
  QMetaObject::Connection willShow, willHide;
};

namespace menubridge {
// The text of a title for the toolkit: '&' doubled, or the first letter made the mnemonic.
QString actionText(const std::string& title, bool mnemonic);
// Whether one of the menus is open (from the menu bar or as a context menu): the keys are the
// menu's then, and a key it leaves unused reaches no window behind it.
bool menuIsOpen();
}  // namespace menubridge

}  // namespace kesto::ui
