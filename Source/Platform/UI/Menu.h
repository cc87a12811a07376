#pragma once

#include "Platform/Foundation/Geometry.h"
#include "Platform/UI/Image.h"
#include "Platform/UI/Responder.h"

#include <any>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kesto::ui {

class Menu;
class View;

enum class ControlState { Mixed = -1, Off = 0, On = 1 };

// One entry of a menu: a title, an action sent to its target (or, with no target, along the
// responder chain), an optional key equivalent, a state mark and an optional submenu. An item is
// a responder only so that it can be the sender of its action.
class MenuItem : public Responder, public std::enable_shared_from_this<MenuItem> {
 public:
  MenuItem(std::string title = {}, Command action = {}, std::string keyEquivalent = {});
  ~MenuItem() override;
  MenuItem(const MenuItem&) = delete;
  MenuItem& operator=(const MenuItem&) = delete;
  static std::shared_ptr<MenuItem> separatorItem();

  const std::string& title() const { return title_; }
  void setTitle(const std::string& title);
  bool isSeparatorItem() const { return separator_; }

  // The command sent when the item is chosen ("performClose:", ...).
  Command action() const { return action_; }
  void setAction(Command command) { action_ = command; }
  // Not owned: the target must outlive the item or be cleared first. None means the chain.
  Responder* target() const { return target_; }
  void setTarget(Responder* target) { target_ = target; }

  // A single character; an upper-case letter implies Shift. The mask uses ModifierFlag bits and
  // defaults to Command (Ctrl on this desktop).
  const std::string& keyEquivalent() const { return keyEquivalent_; }
  void setKeyEquivalent(const std::string& key);
  std::uint64_t keyEquivalentModifierMask() const { return keyMask_; }
  void setKeyEquivalentModifierMask(std::uint64_t mask);
  // The shortcut as the desktop writes it ("Ctrl+W"); empty without a key equivalent.
  std::string keyEquivalentText() const;
  // Whether a key event is this item's key equivalent (by character, or by the physical key
  // when the layout gives another character, so Ctrl+W works on a Cyrillic layout too).
  bool matchesKeyEquivalent(const Event& event) const;

  ControlState state() const { return state_; }
  void setState(ControlState state);
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool enabled);
  bool isHidden() const { return hidden_; }
  void setHidden(bool hidden);
  std::int64_t tag() const { return tag_; }
  void setTag(std::int64_t tag) { tag_ = tag; }
  const std::any& representedObject() const { return represented_; }
  void setRepresentedObject(std::any object) { represented_ = std::move(object); }
  const Image& image() const { return image_; }
  void setImage(const Image& image);
  const std::string& toolTip() const { return toolTip_; }
  void setToolTip(const std::string& tip);

  const std::shared_ptr<Menu>& submenu() const { return submenu_; }
  void setSubmenu(std::shared_ptr<Menu> submenu);
  bool hasSubmenu() const { return submenu_ != nullptr; }
  // The menu holding the item, if any.
  Menu* menu() const { return menu_; }

  struct Impl;

 private:
  friend class Menu;
  friend struct ImplAccess;
  Impl* impl() const { return d_.get(); }
  void sync();
  std::unique_ptr<Impl> d_;
  std::string title_;
  Command action_;
  std::string keyEquivalent_, toolTip_;
  std::uint64_t keyMask_;
  Responder* target_ = nullptr;
  ControlState state_ = ControlState::Off;
  bool enabled_ = true, hidden_ = false, separator_ = false;
  std::int64_t tag_ = 0;
  std::any represented_;
  Image image_;
  std::shared_ptr<Menu> submenu_;
  Menu* menu_ = nullptr;
};

class MenuDelegate {
 public:
  virtual ~MenuDelegate() = default;
  // Before validation, each time the menu is about to show (and before its key equivalents).
  virtual void menuNeedsUpdate(Menu& menu) {}
  virtual void menuWillOpen(Menu& menu) {}
  virtual void menuDidClose(Menu& menu) {}
};

// A list of items, shown in the menu bar, as a submenu or as a context menu. With automatic
// enabling (the default) each item with an action is enabled exactly when a receiver for it is
// found and that receiver's validateMenuItem agrees; this runs each time the menu is about to show
// and before a key equivalent is sent.
class Menu : public std::enable_shared_from_this<Menu> {
 public:
  explicit Menu(std::string title = {});
  ~Menu();
  Menu(const Menu&) = delete;
  Menu& operator=(const Menu&) = delete;

  const std::string& title() const { return title_; }
  void setTitle(const std::string& title);

  const std::vector<std::shared_ptr<MenuItem>>& items() const { return items_; }
  std::size_t numberOfItems() const { return items_.size(); }
  void addItem(std::shared_ptr<MenuItem> item);
  // Makes, adds and answers an item.
  std::shared_ptr<MenuItem> addItemWithTitle(const std::string& title, Command action,
                                             const std::string& keyEquivalent = {});
  void insertItem(std::shared_ptr<MenuItem> item, std::size_t index);
  void removeItem(const std::shared_ptr<MenuItem>& item);
  void removeAllItems();
  std::shared_ptr<MenuItem> itemWithTitle(const std::string& title) const;
  std::shared_ptr<MenuItem> itemWithTag(std::int64_t tag) const;
  // -1 when absent.
  std::int64_t indexOfItem(const MenuItem* item) const;

  bool autoenablesItems() const { return autoenables_; }
  void setAutoenablesItems(bool on) { autoenables_ = on; }
  MenuDelegate* delegate() const { return delegate_; }
  void setDelegate(MenuDelegate* delegate) { delegate_ = delegate; }
  Menu* supermenu() const { return supermenu_; }

  // Runs the delegate's update and, when automatic, the validation of every item now.
  void update();
  // Finds an enabled item whose key equivalent the event is, in this menu or a submenu, and sends
  // its action. Answers whether one was sent.
  bool performKeyEquivalent(const Event& event);
  // Sends the item's action as a click on it would (nothing for a disabled or hidden item).
  bool performActionForItemAtIndex(std::size_t index);

  // Shows the menu as a context menu at a point of `view` (its own coordinates) and returns at
  // once; the chosen item's action starts its search for a receiver at `view`. The menu can be
  // driven with the keyboard.
  void popUpAtLocation(const fnd::Point& location, View& view);
  // As above, at the event's location in its window.
  static void popUpContextMenu(const std::shared_ptr<Menu>& menu, const Event& event, View& view);
  void cancelTracking();
  bool isTracking() const;
  // The view a shown context menu belongs to (null otherwise).
  View* contextView() const;

  struct Impl;

 private:
  friend class MenuItem;
  friend struct ImplAccess;
  Impl* impl() const { return d_.get(); }
  void itemChanged(MenuItem& item);
  std::unique_ptr<Impl> d_;
  std::string title_;
  std::vector<std::shared_ptr<MenuItem>> items_;
  bool autoenables_ = true;
  MenuDelegate* delegate_ = nullptr;
  Menu* supermenu_ = nullptr;
};

}  // namespace kesto::ui
