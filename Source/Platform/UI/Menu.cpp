#include "Platform/UI/Menu.h"

#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/UI/Application.h"
#include "Platform/UI/Image_p.h"
#include "Platform/UI/ImplAccess_p.h"
#include "Platform/UI/Menu_p.h"
#include "Platform/UI/View.h"
#include "Platform/UI/ViewWidget_p.h"
#include "Platform/UI/Window.h"
#include "Platform/Foundation/Strings.h"

#include <QApplication>
#include <QIcon>
#include <QPainter>
#include <QPixmap>

#include <algorithm>
#include <cctype>

namespace kesto::ui {

namespace {

constexpr std::uint64_t kShortcutModifiers =
    ModifierFlag::Command | ModifierFlag::Option | ModifierFlag::Control | ModifierFlag::Shift;

// Key codes of the ANSI layout for the characters a key equivalent can name by position.
std::uint16_t keyCodeForCharacter(char c) {
  if (c >= 'a' && c <= 'z') return KeyCode::forLetter(c - 'a');
  if (c >= '0' && c <= '9') return KeyCode::forDigit(c - '0');
  switch (c) {
    case ',': return 43;
    case '.': return 47;
    case '/': return 44;
    case '-': return 27;
    case '=': return 24;
    default: return KeyCode::Invalid;
  }
}

bool isAscii(const std::string& s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The mixed state has no mark of its own in the toolkit's menus: a dash stands for it.
QIcon mixedStateIcon() {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setPen(QPen(QColor(60, 60, 60), 2));
  p.drawLine(4, 8, 12, 8);
  return QIcon(pixmap);
}

Menu* rootMenu(Menu* m) {
  while (m && m->supermenu()) m = m->supermenu();
  return m;
}

}  // namespace

namespace menubridge {
QString actionText(const std::string& title, bool mnemonic) {
  QString text = QString::fromStdString(title);
  text.replace('&', "&&");
  if (mnemonic && !text.isEmpty()) text.prepend('&');
  return text;
}

bool menuIsOpen() { return qobject_cast<QMenu*>(QApplication::activePopupWidget()) != nullptr; }
}  // namespace menubridge

// ---- MenuItem ----

MenuItem::MenuItem(std::string title, Command action, std::string keyEquivalent)
    : d_(std::make_unique<Impl>()),
      title_(std::move(title)),
      action_(action),
      keyMask_(ModifierFlag::Command) {
  d_->action = new QAction();
  QObject::connect(d_->action, &QAction::triggered, d_->action, [this] {
    auto keep = weak_from_this().lock();
    ++d_->firing;
    qtbridge::guarded("menu action", [&] {
      sync();  // the toolkit flips a checkable action on its own; the state stays ours
      if (!enabled_ || hidden_) return;
      Menu* root = rootMenu(menu_);
      View* context = root ? root->contextView() : nullptr;
      Application::shared().sendAction(action_, target_, this, context);
    });
    --d_->firing;
  });
  setKeyEquivalent(std::move(keyEquivalent));
}

MenuItem::~MenuItem() {
  if (submenu_) submenu_->supermenu_ = nullptr;
  if (d_->firing) d_->action->deleteLater();
  else delete d_->action;
}

std::shared_ptr<MenuItem> MenuItem::separatorItem() {
  auto item = std::make_shared<MenuItem>();
  item->separator_ = true;
  item->enabled_ = false;
  item->d_->action->setSeparator(true);
  return item;
}

void MenuItem::setTitle(const std::string& title) {
  title_ = title;
  sync();
}

void MenuItem::setKeyEquivalent(const std::string& key) {
  keyEquivalent_ = key;
  sync();
}

void MenuItem::setKeyEquivalentModifierMask(std::uint64_t mask) {
  keyMask_ = mask & ModifierFlag::DeviceIndependentMask;
  sync();
}

void MenuItem::setState(ControlState state) {
  state_ = state;
  sync();
}

void MenuItem::setEnabled(bool enabled) {
  enabled_ = enabled;
  d_->action->setEnabled(enabled && !separator_);
}

void MenuItem::setHidden(bool hidden) {
  hidden_ = hidden;
  d_->action->setVisible(!hidden);
}

void MenuItem::setImage(const Image& image) {
  image_ = image;
  sync();
}

void MenuItem::setToolTip(const std::string& tip) {
  toolTip_ = tip;
  d_->action->setToolTip(QString::fromStdString(tip));
}

void MenuItem::setSubmenu(std::shared_ptr<Menu> submenu) {
  if (submenu_) submenu_->supermenu_ = nullptr;
  submenu_ = std::move(submenu);
  if (submenu_) {
    submenu_->supermenu_ = menu_;
    d_->action->setMenu(submenu_->d_->menu);
  } else {
    d_->action->setMenu(static_cast<QMenu*>(nullptr));
  }
  sync();
}

std::string MenuItem::keyEquivalentText() const {
  if (keyEquivalent_.empty()) return {};
  std::uint64_t mask = keyMask_;
  std::string key = keyEquivalent_;
  if (key.size() == 1 && fnd::isAsciiUppercase(key[0])) mask |= ModifierFlag::Shift;
  std::string text;
  if (mask & ModifierFlag::Command) text += "Ctrl+";
  if (mask & ModifierFlag::Control) text += "Super+";
  if (mask & ModifierFlag::Option) text += "Alt+";
  if (mask & ModifierFlag::Shift) text += "Shift+";
  if (key == "\r") return text + "Return";
  if (key == "\x1b") return text + "Esc";
  if (key == "\t") return text + "Tab";
  if (key == " ") return text + "Space";
  if (key == "\x7f" || key == "\b") return text + "Backspace";
  return text + fnd::asciiUppercase(key);
}

bool MenuItem::matchesKeyEquivalent(const Event& event) const {
  if (keyEquivalent_.empty() || event.type != EventType::KeyDown || separator_) return false;
  std::string key = keyEquivalent_;
  std::uint64_t required = keyMask_ & kShortcutModifiers;
  bool upper = key.size() == 1 && fnd::isAsciiUppercase(key[0]);
  if (upper) required |= ModifierFlag::Shift;
  key = fnd::asciiLowercase(key);
  std::uint64_t have = event.modifierFlags & kShortcutModifiers;
  const std::string& chars = event.charactersIgnoringModifiers;
  // A symbol typed with Shift ("?") names itself: Shift is part of the character then.
  bool letter = key.size() == 1 && fnd::isAsciiLetter(key[0]);
  if (!letter && chars == key) {
    required &= ~ModifierFlag::Shift;
    have &= ~ModifierFlag::Shift;
  }
  if (have != required) return false;
  if (!chars.empty() && isAscii(chars)) return fnd::asciiLowercase(chars) == key;
  // Another script's layout: the key in the equivalent's position.
  return key.size() == 1 && event.keyCode != KeyCode::Invalid && keyCodeForCharacter(key[0]) == event.keyCode;
}

void MenuItem::sync() {
  QAction* a = d_->action;
  if (separator_) return;
  bool mnemonic = menu_ && menu_->d_->isMainMenu;
  QString text = menubridge::actionText(title_, mnemonic);
  std::string shortcut = keyEquivalentText();
  // Shown in the menu's shortcut column; the key itself is dispatched by our own key handling,
  // which asks the responder chain first.
  if (!shortcut.empty() && !mnemonic) text += '\t' + QString::fromStdString(shortcut);
  a->setText(text);
  a->setCheckable(state_ == ControlState::On);
  a->setChecked(state_ == ControlState::On);
  if (state_ == ControlState::Mixed) a->setIcon(mixedStateIcon());
  else if (!image_.isNull()) a->setIcon(QIcon(QPixmap::fromImage(ImplAccess::of(image_)->image)));
  else a->setIcon(QIcon());
  if (menu_) menu_->itemChanged(*this);
}

// ---- Menu ----

Menu::Menu(std::string title) : d_(std::make_unique<Impl>()), title_(std::move(title)) {
  d_->menu = new QMenu();
  d_->menu->setTitle(QString::fromStdString(title_));
  d_->willShow = QObject::connect(d_->menu, &QMenu::aboutToShow, d_->menu, [this] {
    qtbridge::guarded("menu update", [&] {
      if (delegate_) delegate_->menuWillOpen(*this);
      update();
    });
  });
  d_->willHide = QObject::connect(d_->menu, &QMenu::aboutToHide, d_->menu, [this] {
    qtbridge::guarded("menu close", [&] {
      if (delegate_) delegate_->menuDidClose(*this);
    });
    if (!d_->hasContext) return;
    // The chosen item is sent right after the menu hides; the context goes after that.
    std::weak_ptr<Menu> weak = weak_from_this();
    fnd::DispatchQueue::main().async([weak] {
      if (auto m = weak.lock()) {
        m->d_->context.reset();
        m->d_->hasContext = false;
      }
    });
  });
}

Menu::~Menu() {
  // An open menu hides below as it goes, and its toolkit menu lives on until the loop's next
  // turn: neither may reach this Menu, half destroyed, nor its delegate, which may be gone by now
  // (a menu bar outlives the controllers it was built with). Nobody is told.
  QObject::disconnect(d_->willShow);
  QObject::disconnect(d_->willHide);
  for (auto& item : items_) item->menu_ = nullptr;
  items_.clear();
  if (d_->menu->isVisible()) {
    d_->menu->hide();
    d_->menu->deleteLater();
  } else {
    delete d_->menu;
  }
}

void Menu::setTitle(const std::string& title) {
  title_ = title;
  d_->menu->setTitle(QString::fromStdString(title));
}

void Menu::addItem(std::shared_ptr<MenuItem> item) { insertItem(std::move(item), items_.size()); }

std::shared_ptr<MenuItem> Menu::addItemWithTitle(const std::string& title, Command action,
                                                 const std::string& keyEquivalent) {
  auto item = std::make_shared<MenuItem>(title, action, keyEquivalent);
  addItem(item);
  return item;
}

void Menu::insertItem(std::shared_ptr<MenuItem> item, std::size_t index) {
  if (!item) return;
  // An item lives in one menu at a time.
  if (item->menu_) item->menu_->removeItem(item);
  index = std::min(index, items_.size());
  QAction* before = index < items_.size() ? items_[index]->d_->action : nullptr;
  d_->menu->insertAction(before, item->d_->action);
  item->menu_ = this;
  if (item->submenu_) item->submenu_->supermenu_ = this;
  items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(index), item);
  item->sync();
  if (d_->isMainMenu) Application::shared().mainMenuDidChange();
}

void Menu::removeItem(const std::shared_ptr<MenuItem>& item) {
  auto it = std::find(items_.begin(), items_.end(), item);
  if (it == items_.end()) return;
  d_->menu->removeAction(item->d_->action);
  item->menu_ = nullptr;
  if (item->submenu_) item->submenu_->supermenu_ = nullptr;
  auto keep = *it;
  items_.erase(it);
  keep->sync();
  if (d_->isMainMenu) Application::shared().mainMenuDidChange();
}

void Menu::removeAllItems() {
  while (!items_.empty()) removeItem(items_.back());
}

std::shared_ptr<MenuItem> Menu::itemWithTitle(const std::string& title) const {
  for (const auto& item : items_)
    if (item->title() == title) return item;
  return nullptr;
}

std::shared_ptr<MenuItem> Menu::itemWithTag(std::int64_t tag) const {
  for (const auto& item : items_)
    if (item->tag() == tag) return item;
  return nullptr;
}

std::int64_t Menu::indexOfItem(const MenuItem* item) const {
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (items_[i].get() == item) return static_cast<std::int64_t>(i);
  return -1;
}

void Menu::itemChanged(MenuItem&) {
  if (d_->isMainMenu) Application::shared().mainMenuDidChange();
}

View* Menu::contextView() const {
  if (!d_->hasContext) return nullptr;
  auto view = d_->context.lock();
  return view.get();
}

void Menu::update() {
  if (delegate_) delegate_->menuNeedsUpdate(*this);
  if (!autoenables_) return;
  Menu* root = rootMenu(this);
  View* context = root ? root->contextView() : nullptr;
  auto items = items_;  // validation may change the menu
  for (const auto& item : items) {
    if (item->isSeparatorItem()) continue;
    if (item->hasSubmenu() && item->action().empty()) {
      item->setEnabled(true);
      continue;
    }
    item->setEnabled(Application::shared().validateMenuItemAction(*item, context));
  }
}

bool Menu::performKeyEquivalent(const Event& event) {
  auto items = items_;
  for (const auto& item : items) {
    if (item->isHidden()) continue;
    if (item->submenu()) {
      if (item->submenu()->performKeyEquivalent(event)) return true;
      continue;
    }
    if (!item->matchesKeyEquivalent(event)) continue;
    // Only this item's menu is brought up to date; a disabled match sends nothing.
    if (delegate_) delegate_->menuNeedsUpdate(*this);
    if (autoenables_) item->setEnabled(Application::shared().validateMenuItemAction(*item, nullptr));
    if (!item->isEnabled()) return false;
    Application::shared().sendAction(item->action(), item->target(), item.get(), nullptr);
    return true;
  }
  return false;
}

bool Menu::performActionForItemAtIndex(std::size_t index) {
  if (index >= items_.size()) return false;
  auto item = items_[index];
  if (!item->isEnabled() || item->isHidden() || item->isSeparatorItem() || item->action().empty()) return false;
  Menu* root = rootMenu(this);
  return Application::shared().sendAction(item->action(), item->target(), item.get(),
                                          root ? root->contextView() : nullptr);
}

void Menu::popUpAtLocation(const fnd::Point& location, View& view) {
  d_->context = view.weak_from_this();
  d_->hasContext = true;
  QPoint global;
  if (Window* window = view.window()) {
    fnd::Point screen = window->convertPointToScreen(view.convertPointToView(location, nullptr));
    global = QPoint(int(std::lround(screen.x)), int(std::lround(Screen::primaryHeight() - screen.y)));
  } else {
    global = view.nativeWidget()->mapToGlobal(QPoint(int(location.x), int(location.y)));
  }
  d_->menu->popup(global);
}

void Menu::popUpContextMenu(const std::shared_ptr<Menu>& menu, const Event& event, View& view) {
  if (!menu) return;
  menu->popUpAtLocation(view.convertPointFromView(event.locationInWindow, nullptr), view);
}

void Menu::cancelTracking() { d_->menu->hide(); }
bool Menu::isTracking() const { return d_->menu->isVisible(); }

}  // namespace kesto::ui
