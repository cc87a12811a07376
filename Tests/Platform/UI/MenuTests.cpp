// Menus: enabling through the responder chain, key equivalents (also with a text field focused),
// the menu bar above the content, and context menus driven from the keyboard.
#include "Harness/LocaleGuard.h"
#include "Harness/TestSupport.h"
#include "Platform/Foundation/NotificationName.h"
#include "Platform/Foundation/UndoManager.h"
#include "Platform/UI/Action.h"
#include "Platform/UI/Application.h"
#include "Platform/UI/Menu.h"
#include "Platform/UI/Menu_p.h"
#include "Platform/UI/Panel.h"
#include "Platform/UI/Pasteboard.h"
#include "Platform/UI/TestAccess_p.h"
#include "Platform/UI/TextField.h"
#include "Platform/UI/View.h"
#include "Platform/UI/ViewWidget_p.h"
#include "Platform/UI/Window.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <string_view>

using namespace kesto;
using namespace kesto::ui;

namespace tc {
constexpr kesto::ui::Command clear{"clear:"};
constexpr kesto::ui::Command find{"find:"};
constexpr kesto::ui::Command openItem{"openItem:"};
constexpr kesto::ui::Command plain{"plain:"};
constexpr kesto::ui::Command removeItem{"removeItem:"};
constexpr kesto::ui::Command renameItem{"renameItem:"};
constexpr kesto::ui::Command selectThumbnailView{"selectThumbnailView:"};
constexpr kesto::ui::Command showHelp{"showHelp:"};
constexpr kesto::ui::Command toggle{"toggle:"};
}  // namespace tc

namespace {

// Takes the actions it is given; validates by a per-action switch and records what it got.
class Receiver : public View {
 public:
  explicit Receiver(std::set<Command> actions = {}, const fnd::Rect& frame = fnd::Rect(10, 10, 100, 80))
      : View(frame), actions(std::move(actions)) {}
  std::set<Command> actions;
  std::set<Command> refused;
  std::vector<Command> got;
  std::vector<const Responder*> senders;
  bool acceptsFirstResponder() override { return true; }
  bool respondsToAction(Command s) const override { return actions.count(s) > 0; }
  bool validateMenuItem(MenuItem& item) override {
    if (item.action() == tc::toggle) item.setState(ControlState::On);
    return refused.count(item.action()) == 0;
  }
  bool performAction(Command s, Responder* sender) override {
    if (!respondsToAction(s)) return false;
    got.emplace_back(s);
    senders.push_back(sender);
    return true;
  }
};

// A plain responder placed behind the window, as a controller would be.
class Controller : public Responder {
 public:
  std::vector<Command> got;
  bool respondsToAction(Command s) const override { return s == tc::selectThumbnailView || s == ui::cmd::selectAll; }
  bool performAction(Command s, Responder*) override {
    if (!respondsToAction(s)) return false;
    got.emplace_back(s);
    return true;
  }
};

Event keyWithCommand(std::uint16_t code, const std::string& chars, std::uint64_t extra = 0) {
  return Event::key(code, ModifierFlag::Command | extra, chars);
}

struct MainMenuScope {
  ~MainMenuScope() { Application::shared().setMainMenu(nullptr); }
};

// A text field in the shown window, holding the keyboard focus; null when the focus never came.
QLineEdit* focusedField(Window& window) {
  auto* field = new QLineEdit(window.contentView()->nativeWidget());
  field->setGeometry(10, 10, 200, 24);
  window.makeKeyAndOrderFront();
  field->show();
  field->setFocus();
  return test::runUntil([&] { return QApplication::focusWidget() == field; }, 2) ? field : nullptr;
}

bool sendKey(QWidget* to, int key, Qt::KeyboardModifiers mods, const QString& text) {
  QKeyEvent press(QEvent::KeyPress, key, mods, text);
  QCoreApplication::sendEvent(to, &press);
  return press.isAccepted();
}

}  // namespace

TEST(Menu, ItemsAreEnabledExactlyWhenTheirReceiverIsFoundAndAgrees) {
  Window window(fnd::Rect(100, 100, 400, 300));
  auto receiver = std::make_shared<Receiver>(std::set<Command>{ui::cmd::copy, ui::cmd::cut, tc::toggle});
  receiver->refused = {ui::cmd::cut};
  window.contentView()->addSubview(receiver);
  window.makeKeyAndOrderFront();
  ASSERT_TRUE(window.makeFirstResponder(receiver.get()));

  Receiver stranger(std::set<Command>{});
  auto menu = std::make_shared<Menu>("Edit");
  auto copy = menu->addItemWithTitle("Copy", ui::cmd::copy, "c");
  auto cut = menu->addItemWithTitle("Cut", ui::cmd::cut, "x");
  auto paste = menu->addItemWithTitle("Paste", ui::cmd::paste, "v");  // nobody takes it
  auto close = menu->addItemWithTitle("Close Window", ui::cmd::performClose, "w");  // the window does
  auto quit = menu->addItemWithTitle("Quit", ui::cmd::terminate, "q");  // the application does
  auto toggle = menu->addItemWithTitle("Toggle", tc::toggle);
  auto targeted = menu->addItemWithTitle("Copy elsewhere", ui::cmd::copy);
  targeted->setTarget(&stranger);  // an explicit target that does not take it
  auto noAction = menu->addItemWithTitle("Nothing", {});
  auto sub = menu->addItemWithTitle("More", {});
  sub->setSubmenu(std::make_shared<Menu>("More"));
  menu->addItem(MenuItem::separatorItem());

  menu->update();
  EXPECT_TRUE(copy->isEnabled());
  EXPECT_FALSE(cut->isEnabled());  // the receiver said no
  EXPECT_FALSE(paste->isEnabled());
  EXPECT_TRUE(close->isEnabled());
  EXPECT_TRUE(quit->isEnabled());
  EXPECT_EQ(toggle->state(), ControlState::On);  // validation may set the state
  EXPECT_FALSE(targeted->isEnabled());
  EXPECT_FALSE(noAction->isEnabled());
  EXPECT_TRUE(sub->isEnabled());

  // Another first responder, another answer: validation runs each time.
  window.makeFirstResponder(nullptr);
  menu->update();
  EXPECT_FALSE(copy->isEnabled());
  EXPECT_TRUE(close->isEnabled());

  // A menu that does not enable automatically keeps what it was given.
  menu->setAutoenablesItems(false);
  paste->setEnabled(true);
  menu->update();
  EXPECT_TRUE(paste->isEnabled());
}

TEST(Menu, TheNearestReceiverDecidesAndGetsTheAction) {
  Window window(fnd::Rect(100, 100, 400, 300));
  auto outer = std::make_shared<Receiver>(std::set<Command>{ui::cmd::copy}, fnd::Rect(0, 0, 300, 200));
  auto inner = std::make_shared<Receiver>(std::set<Command>{ui::cmd::copy}, fnd::Rect(10, 10, 50, 50));
  window.contentView()->addSubview(outer);
  outer->addSubview(inner);
  window.makeKeyAndOrderFront();
  window.makeFirstResponder(inner.get());
  auto menu = std::make_shared<Menu>();
  auto copy = menu->addItemWithTitle("Copy", ui::cmd::copy);
  inner->refused = {ui::cmd::copy};
  menu->update();
  EXPECT_FALSE(copy->isEnabled());  // the outer view would agree, but the inner one is asked
  inner->refused.clear();
  menu->update();
  ASSERT_TRUE(copy->isEnabled());
  ASSERT_TRUE(menu->performActionForItemAtIndex(0));
  EXPECT_EQ(inner->got, std::vector<Command>{ui::cmd::copy});
  EXPECT_TRUE(outer->got.empty());
  ASSERT_FALSE(inner->senders.empty());
  EXPECT_EQ(inner->senders.front(), copy.get());  // the item is the sender
}

// Where the C library does not pair "i" with "I" (Turkish), Ctrl+Shift+I still imports and
// the menus still show the letter.
TEST(Menu, LetterKeysMatchAndShowTheSameInTurkish) {
  kesto::test::LocaleGuard turkish("tr_TR.UTF-8");
  KESTO_SKIP_WITHOUT_LOCALE(turkish);
  MenuItem import("Import", ui::cmd::selectAll, "I");
  EXPECT_EQ(import.keyEquivalentText(), "Ctrl+Shift+I");
  EXPECT_TRUE(import.matchesKeyEquivalent(keyWithCommand(KeyCode::I, "i", ModifierFlag::Shift)));
  EXPECT_TRUE(import.matchesKeyEquivalent(keyWithCommand(KeyCode::I, "I", ModifierFlag::Shift)));
  EXPECT_FALSE(import.matchesKeyEquivalent(keyWithCommand(KeyCode::I, "i")));
  MenuItem info("Info", ui::cmd::selectAll, "i");
  EXPECT_EQ(info.keyEquivalentText(), "Ctrl+I");
  EXPECT_TRUE(info.matchesKeyEquivalent(keyWithCommand(KeyCode::I, "i")));
  EXPECT_FALSE(info.matchesKeyEquivalent(keyWithCommand(KeyCode::I, "i", ModifierFlag::Shift)));
}

TEST(Menu, KeyEquivalentsMatchByCharacterModifiersAndPhysicalKey) {
  MenuItem quit("Quit", ui::cmd::terminate, "q");
  EXPECT_TRUE(quit.matchesKeyEquivalent(keyWithCommand(KeyCode::Q, "q")));
  EXPECT_FALSE(quit.matchesKeyEquivalent(keyWithCommand(KeyCode::Q, "q", ModifierFlag::Shift)));
  EXPECT_FALSE(quit.matchesKeyEquivalent(Event::key(KeyCode::Q, 0, "q")));
  EXPECT_FALSE(quit.matchesKeyEquivalent(keyWithCommand(KeyCode::Q, "q", ModifierFlag::Option)));
  // Another script's layout: the key in the Q position still quits.
  EXPECT_TRUE(quit.matchesKeyEquivalent(keyWithCommand(KeyCode::Q, "\u0439")));
  // A Latin layout with other positions (AZERTY): the character decides, not the position.
  EXPECT_FALSE(quit.matchesKeyEquivalent(keyWithCommand(KeyCode::Q, "a")));
  MenuItem selectAll("Select All", ui::cmd::selectAll, "a");
  EXPECT_TRUE(selectAll.matchesKeyEquivalent(keyWithCommand(KeyCode::Q, "a")));

  MenuItem redo("Redo", ui::cmd::redo, "Z");  // upper case: with Shift
  EXPECT_TRUE(redo.matchesKeyEquivalent(keyWithCommand(KeyCode::Z, "z", ModifierFlag::Shift)));
  EXPECT_FALSE(redo.matchesKeyEquivalent(keyWithCommand(KeyCode::Z, "z")));
  EXPECT_EQ(redo.keyEquivalentText(), "Ctrl+Shift+Z");

  MenuItem mode("Thumbnails", tc::selectThumbnailView, "1");
  EXPECT_TRUE(mode.matchesKeyEquivalent(keyWithCommand(18, "1")));
  EXPECT_TRUE(mode.matchesKeyEquivalent(keyWithCommand(18, "")));  // no text with Ctrl held
  EXPECT_FALSE(mode.matchesKeyEquivalent(keyWithCommand(19, "2")));
  EXPECT_EQ(mode.keyEquivalentText(), "Ctrl+1");

  MenuItem help("Help", tc::showHelp, "?");  // typed with Shift on most layouts
  EXPECT_TRUE(help.matchesKeyEquivalent(keyWithCommand(44, "?", ModifierFlag::Shift)));

  MenuItem hotkey("Search", tc::find, "p");
  hotkey.setKeyEquivalentModifierMask(ModifierFlag::Command | ModifierFlag::Option | ModifierFlag::Control);
  EXPECT_EQ(hotkey.keyEquivalentText(), "Ctrl+Super+Alt+P");
  EXPECT_TRUE(hotkey.matchesKeyEquivalent(
      keyWithCommand(KeyCode::P, "p", ModifierFlag::Option | ModifierFlag::Control)));
  MenuItem none("Plain", tc::plain);
  EXPECT_FALSE(none.matchesKeyEquivalent(keyWithCommand(KeyCode::A, "a")));
  EXPECT_EQ(none.keyEquivalentText(), "");
}

TEST(Menu, KeyEquivalentsReachTheChainWhileATextFieldHasTheFocusButTheFieldKeepsItsEditingKeys) {
  MainMenuScope scope;
  Window window(fnd::Rect(100, 100, 400, 300));
  Controller controller;
  controller.setNextResponder(window.nextResponder());
  window.setNextResponder(&controller);
  auto menu = std::make_shared<Menu>();
  auto view = std::make_shared<Menu>("View");
  view->addItemWithTitle("Thumbnails", tc::selectThumbnailView, "1");
  auto edit = std::make_shared<Menu>("Edit");
  edit->addItemWithTitle("Select All", ui::cmd::selectAll, "a");
  menu->addItemWithTitle("Edit", {})->setSubmenu(edit);
  menu->addItemWithTitle("View", {})->setSubmenu(view);
  Application::shared().setMainMenu(menu);

  auto* field = focusedField(window);
  ASSERT_TRUE(field);
  field->setText("typed");

  EXPECT_TRUE(sendKey(field, Qt::Key_1, Qt::ControlModifier, "1"));
  EXPECT_EQ(controller.got, std::vector<Command>{tc::selectThumbnailView});
  EXPECT_EQ(field->text().toStdString(), "typed");  // the field never saw the key

  // Ctrl+A is the field's own (select its text): the menu's Select All does not take it.
  sendKey(field, Qt::Key_A, Qt::ControlModifier, "\x01");
  EXPECT_EQ(controller.got.size(), 1u);
  EXPECT_EQ(field->selectedText().toStdString(), "typed");

  // Without a matching item the key goes on to the field as before.
  sendKey(field, Qt::Key_X, Qt::ShiftModifier, "X");
  EXPECT_EQ(field->text().toStdString(), "X");

  // A widget that takes every key press still leaves the key equivalents to the menus, which
  // see keys before the focused widget (as long as it does not claim them as its own).
  class Greedy : public QWidget {
   public:
    using QWidget::QWidget;
    int keys = 0;

   protected:
    void keyPressEvent(QKeyEvent* e) override {
      ++keys;
      e->accept();
    }
  };
  auto* greedy = new Greedy(window.contentView()->nativeWidget());
  greedy->setFocusPolicy(Qt::StrongFocus);
  greedy->show();
  greedy->setFocus();
  ASSERT_TRUE(test::runUntil([&] { return QApplication::focusWidget() == greedy; }, 30));
  sendKey(greedy, Qt::Key_1, Qt::ControlModifier, "1");
  EXPECT_EQ(controller.got.size(), 2u);
  EXPECT_EQ(greedy->keys, 0);
  sendKey(greedy, Qt::Key_2, Qt::ControlModifier, "2");
  EXPECT_EQ(greedy->keys, 1);

  // The key equivalent also reaches the chain through our own event delivery.
  window.sendEvent(keyWithCommand(18, "1"));
  EXPECT_EQ(controller.got.size(), 3u);
  window.setNextResponder(controller.nextResponder());
}

// A letter the open menu matches to no item goes on to the menu bar, which leaves it too: it is
// the menu's all the same, and the field being edited behind the menu never gets it.
TEST(Menu, LettersTypedWhileAMenuIsOpenReachNoFieldBehindIt) {
  MainMenuScope scope;
  Window window(fnd::Rect(100, 100, 400, 300));
  auto menu = std::make_shared<Menu>();
  auto file = std::make_shared<Menu>("File");
  file->addItemWithTitle("Close", ui::cmd::performClose, "w");
  auto edit = std::make_shared<Menu>("Edit");
  edit->addItemWithTitle("Select All", ui::cmd::selectAll, "a");
  menu->addItemWithTitle("File", {})->setSubmenu(file);
  menu->addItemWithTitle("Edit", {})->setSubmenu(edit);
  Application::shared().setMainMenu(menu);
  window.setShowsMainMenu(true);
  auto field = std::make_shared<TextField>(fnd::Rect(10, 10, 200, 24));
  window.contentView()->addSubview(field);
  window.makeKeyAndOrderFront();
  ASSERT_TRUE(test::runUntil([&] {
    window.makeFirstResponder(field.get());
    return field->isEditing();
  }, 30));
  field->setStringValue("notes");

  ASSERT_TRUE(window.openMenuBar());
  ASSERT_TRUE(test::runUntil([&] { return qobject_cast<QMenu*>(QApplication::activePopupWidget()) != nullptr; }, 30));
  QWidget* popup = QApplication::activePopupWidget();
  sendKey(popup, Qt::Key_Right, Qt::NoModifier, "");  // on to Edit
  popup = QApplication::activePopupWidget();
  ASSERT_NE(popup, nullptr);
  sendKey(popup, Qt::Key_X, Qt::NoModifier, "x");
  sendKey(popup, Qt::Key_Q, Qt::NoModifier, "q");
  EXPECT_EQ(field->stringValue(), "notes");
  EXPECT_TRUE(QApplication::activePopupWidget()) << "the menu stays open";
  sendKey(QApplication::activePopupWidget(), Qt::Key_Escape, Qt::NoModifier, "");
  ASSERT_TRUE(test::runUntil([&] { return QApplication::activePopupWidget() == nullptr; }, 30));
  window.setShowsMainMenu(false);
}

TEST(Menu, ADisabledKeyEquivalentSendsNothingAndTheKeyGoesOn) {
  MainMenuScope scope;
  Window window(fnd::Rect(100, 100, 400, 300));
  auto receiver = std::make_shared<Receiver>(std::set<Command>{ui::cmd::copy, ui::cmd::selectAll});
  window.contentView()->addSubview(receiver);
  window.makeKeyAndOrderFront();
  window.makeFirstResponder(receiver.get());
  auto menu = std::make_shared<Menu>();
  auto edit = std::make_shared<Menu>("Edit");
  edit->addItemWithTitle("Copy", ui::cmd::copy, "c");
  menu->addItemWithTitle("Edit", {})->setSubmenu(edit);
  Application::shared().setMainMenu(menu);
  receiver->refused = {ui::cmd::copy};
  EXPECT_FALSE(Application::shared().performKeyEquivalent(keyWithCommand(KeyCode::C, "c")));
  EXPECT_TRUE(receiver->got.empty());
  receiver->refused.clear();
  EXPECT_TRUE(Application::shared().performKeyEquivalent(keyWithCommand(KeyCode::C, "c")));
  EXPECT_EQ(receiver->got, std::vector<Command>{ui::cmd::copy});
  // Ctrl+A has no item: the window's standard binding still sends selectAll: down the chain.
  window.sendEvent(keyWithCommand(KeyCode::A, "a"));
  ASSERT_FALSE(receiver->got.empty());
  EXPECT_EQ(receiver->got.back(), ui::cmd::selectAll);
}

TEST(Menu, TheMenuBarSitsAboveTheContentWhoseCoordinatesStayPut) {
  MainMenuScope scope;
  Window window(fnd::Rect(100, 100, 400, 300));
  auto probe = std::make_shared<View>(fnd::Rect(0, 0, 40, 30));
  window.contentView()->addSubview(probe);
  auto menu = std::make_shared<Menu>();
  menu->addItemWithTitle("File", {})->setSubmenu(std::make_shared<Menu>("File"));
  auto help = menu->addItemWithTitle("Help & Info", {});
  help->setSubmenu(std::make_shared<Menu>("Help"));
  Application::shared().setMainMenu(menu);
  window.setShowsMainMenu(true);
  window.makeKeyAndOrderFront();

  auto* top = static_cast<QWidget*>(window.nativeHandle());
  auto* bar = top->findChild<QMenuBar*>();
  ASSERT_NE(bar, nullptr);
  const int barHeight = bar->height();
  ASSERT_GT(barHeight, 10);
  // The content keeps its size; the frame takes the bar.
  EXPECT_DOUBLE_EQ(window.contentView()->frame().size.height, 300);
  EXPECT_DOUBLE_EQ(window.frame().size.height, 300 + barHeight);
  EXPECT_DOUBLE_EQ(window.contentLayoutRect().size.height, 300);
  // Window (0, 0) is the content's bottom left: the probe's widget sits at the window's bottom.
  QPoint probeTopLeft = probe->nativeWidget()->mapTo(top, QPoint(0, 0));
  EXPECT_EQ(probeTopLeft, QPoint(0, top->height() - 30));
  fnd::Point screen = window.convertPointToScreen({0, 0});
  EXPECT_DOUBLE_EQ(screen.x, window.frame().origin.x);
  EXPECT_DOUBLE_EQ(screen.y, window.frame().origin.y);
  // A resize lays the bar and the content out again.
  window.setContentSize(fnd::Size{500, 200});
  EXPECT_DOUBLE_EQ(window.contentView()->frame().size.height, 200);
  EXPECT_DOUBLE_EQ(window.frame().size.height, 200 + barHeight);

  // Top-level titles carry Alt mnemonics; an '&' of a title stays a character.
  ASSERT_EQ(bar->actions().size(), 2);
  EXPECT_EQ(bar->actions()[0]->text().toStdString(), "&File");
  EXPECT_EQ(bar->actions()[1]->text().toStdString(), "&Help && Info");
  // The bar follows the main menu.
  menu->removeItem(help);
  EXPECT_EQ(bar->actions().size(), 1);
  help->setHidden(true);
  menu->addItem(help);
  EXPECT_EQ(bar->actions().size(), 1);

  window.setShowsMainMenu(false);
  EXPECT_EQ(top->findChild<QMenuBar*>(), nullptr);
  EXPECT_DOUBLE_EQ(window.frame().size.height, 200);
  EXPECT_DOUBLE_EQ(window.contentView()->frame().size.height, 200);
}

TEST(Menu, AContextMenuIsValidatedForItsViewAndChosenWithTheKeyboard) {
  Window window(fnd::Rect(100, 100, 400, 300));
  auto target = std::make_shared<Receiver>(std::set<Command>{tc::openItem, tc::renameItem});
  auto other = std::make_shared<Receiver>(std::set<Command>{}, fnd::Rect(200, 10, 50, 50));
  window.contentView()->addSubview(target);
  window.contentView()->addSubview(other);
  window.makeKeyAndOrderFront();
  window.makeFirstResponder(other.get());  // the chain of the view, not the first responder's
  target->refused = {tc::renameItem};

  auto menu = std::make_shared<Menu>();
  auto open = menu->addItemWithTitle("Open", tc::openItem);
  auto rename = menu->addItemWithTitle("Rename", tc::renameItem);
  menu->addItem(MenuItem::separatorItem());
  auto remove = menu->addItemWithTitle("Remove", tc::removeItem);
  auto info = menu->addItemWithTitle("Get Info", tc::openItem);

  Menu::popUpContextMenu(menu, Event::mouse(EventType::RightMouseDown, {30, 40}), *target);
  ASSERT_TRUE(test::runUntil([&] { return QApplication::activePopupWidget() != nullptr; }, 30));
  EXPECT_TRUE(menu->isTracking());
  EXPECT_EQ(menu->contextView(), target.get());
  EXPECT_TRUE(open->isEnabled());
  EXPECT_FALSE(rename->isEnabled());
  EXPECT_FALSE(remove->isEnabled());
  EXPECT_TRUE(info->isEnabled());
  // Down twice passes over the disabled items to "Get Info".
  QWidget* popup = QApplication::activePopupWidget();
  sendKey(popup, Qt::Key_Down, Qt::NoModifier, "");
  sendKey(popup, Qt::Key_Down, Qt::NoModifier, "");
  sendKey(popup, Qt::Key_Return, Qt::NoModifier, "\r");
  ASSERT_TRUE(test::runUntil([&] { return !target->got.empty(); }, 30));
  EXPECT_EQ(target->got, std::vector<Command>{tc::openItem});
  ASSERT_FALSE(target->senders.empty());
  EXPECT_EQ(target->senders.front(), info.get());
  EXPECT_FALSE(menu->isTracking());
  test::spin(0.05);
  EXPECT_EQ(menu->contextView(), nullptr);  // the context ends with the menu
}

// At the program's end the menu bar's menus go after the controllers that are their delegates:
// a menu still open then must call nobody as it hides, while an ordinary close still tells the
// delegate. The delegate here outlives the test and records calls made after it "went".
TEST(Menu, AnOpenMenuGoingAwayTellsNoDelegateButAnOrdinaryCloseDoes) {
  struct Recorder : MenuDelegate {
    bool gone = false;
    int closed = 0, closedWhenGone = 0;
    void menuDidClose(Menu&) override { gone ? ++closedWhenGone : ++closed; }
  };
  auto open = [](Menu& menu) {
    TestAccess::impl(menu)->menu->popup(QPoint(20, 20));
    return test::runUntil([&] { return menu.isTracking(); }, 30);
  };
  Recorder recorder;
  auto root = std::make_shared<Menu>();
  auto edit = std::make_shared<Menu>("Edit");
  edit->addItemWithTitle("Undo", tc::plain);
  edit->setDelegate(&recorder);
  root->addItemWithTitle("Edit", {})->setSubmenu(edit);

  ASSERT_TRUE(open(*edit));
  edit->cancelTracking();
  EXPECT_EQ(recorder.closed, 1);

  // Released with the menu bar (through its item) while open.
  ASSERT_TRUE(open(*edit));
  recorder.gone = true;
  std::weak_ptr<Menu> weakEdit = edit;
  QPointer<QMenu> editWidget = TestAccess::impl(*edit)->menu;
  edit.reset();
  root.reset();
  EXPECT_TRUE(weakEdit.expired());
  // A context menu released on its own while open.
  auto context = std::make_shared<Menu>();
  context->addItemWithTitle("Open", tc::openItem);
  context->setDelegate(&recorder);
  ASSERT_TRUE(open(*context));
  QPointer<QMenu> contextWidget = TestAccess::impl(*context)->menu;
  context.reset();
  // The toolkit's menus go too.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(editWidget.isNull() && contextWidget.isNull());
  EXPECT_EQ(recorder.closedWhenGone, 0);
  EXPECT_EQ(recorder.closed, 1);
  EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
}

TEST(Menu, AnItemMayTakeItsOwnMenuApartFromItsAction) {
  class Clearer : public Responder {
   public:
    std::shared_ptr<Menu> menu;
    bool respondsToAction(Command s) const override { return s == tc::clear; }
    bool performAction(Command s, Responder*) override {
      if (s != tc::clear) return false;
      menu->removeAllItems();
      menu.reset();
      return true;
    }
  };
  Clearer clearer;
  auto menu = std::make_shared<Menu>();
  auto item = menu->addItemWithTitle("Clear", tc::clear);
  item->setTarget(&clearer);
  clearer.menu = menu;
  std::weak_ptr<MenuItem> weak = item;
  item.reset();
  menu->update();
  ASSERT_FALSE(menu->items().empty());
  QAction* action = TestAccess::impl(*menu->items().front())->action;
  menu.reset();
  action->trigger();  // the item and its menu go while the action runs
  test::spin(0.05);
  EXPECT_TRUE(weak.expired());
}

TEST(Menu, SubmenusAreSearchedForKeyEquivalentsAndItemsMoveBetweenMenus) {
  Controller controller;
  auto root = std::make_shared<Menu>();
  auto view = std::make_shared<Menu>("View");
  auto item = view->addItemWithTitle("Thumbnails", tc::selectThumbnailView, "1");
  item->setTarget(&controller);
  root->addItemWithTitle("View", {})->setSubmenu(view);
  EXPECT_EQ(view->supermenu(), root.get());
  EXPECT_TRUE(root->performKeyEquivalent(keyWithCommand(18, "1")));
  EXPECT_EQ(controller.got.size(), 1u);
  item->setHidden(true);
  EXPECT_FALSE(root->performKeyEquivalent(keyWithCommand(18, "1")));
  item->setHidden(false);
  // Added elsewhere, it leaves its first menu.
  auto other = std::make_shared<Menu>();
  other->addItem(item);
  EXPECT_EQ(view->numberOfItems(), 0u);
  EXPECT_EQ(item->menu(), other.get());
  EXPECT_EQ(other->indexOfItem(item.get()), 0);
  EXPECT_EQ(other->itemWithTitle("Thumbnails"), item);
  item->setTag(7);
  EXPECT_EQ(other->itemWithTag(7), item);
  EXPECT_EQ(root->indexOfItem(item.get()), -1);
}

TEST(Menu, AKeyReachingTheWidgetOfAWindowAlreadyGoneReachesNoWindow) {
  MainMenuScope scope;
  Controller controller;
  auto menu = std::make_shared<Menu>();
  auto view = std::make_shared<Menu>("View");
  view->addItemWithTitle("Thumbnails", tc::selectThumbnailView, "1")->setTarget(&controller);
  menu->addItemWithTitle("View", {})->setSubmenu(view);
  Application::shared().setMainMenu(menu);
  auto window = std::make_unique<Window>(fnd::Rect(100, 100, 300, 200));
  window->makeKeyAndOrderFront();
  auto* widget = static_cast<QWidget*>(window->nativeHandle());
  window.reset();  // the widget itself goes on the next turn of the loop
  EXPECT_EQ(Window::fromNativeHandle(widget), nullptr);
  sendKey(widget, Qt::Key_1, Qt::ControlModifier, "1");
  EXPECT_TRUE(controller.got.empty());
  test::spin(0.05);
}

TEST(Menu, TheEditItemsActOnTheFocusedTextFieldAsItsStateAllows) {
  Window window(fnd::Rect(100, 100, 400, 300));
  auto* field = focusedField(window);
  ASSERT_TRUE(field);
  auto edit = std::make_shared<Menu>("Edit");
  auto undo = edit->addItemWithTitle("Undo", ui::cmd::undo, "z");
  auto cut = edit->addItemWithTitle("Cut", ui::cmd::cut, "x");
  auto copy = edit->addItemWithTitle("Copy", ui::cmd::copy, "c");
  auto paste = edit->addItemWithTitle("Paste", ui::cmd::paste, "v");
  auto all = edit->addItemWithTitle("Select All", ui::cmd::selectAll, "a");
  QApplication::clipboard()->clear();

  edit->update();
  EXPECT_FALSE(undo->isEnabled());
  EXPECT_FALSE(copy->isEnabled());  // nothing selected
  EXPECT_FALSE(paste->isEnabled());  // nothing to paste
  EXPECT_FALSE(all->isEnabled());   // nothing to select

  field->insert("kesto.app");
  edit->update();
  EXPECT_TRUE(undo->isEnabled());
  EXPECT_TRUE(all->isEnabled());
  ASSERT_TRUE(edit->performActionForItemAtIndex(4));  // Select All
  EXPECT_EQ(field->selectedText().toStdString(), "kesto.app");
  edit->update();
  EXPECT_TRUE(copy->isEnabled());
  ASSERT_TRUE(edit->performActionForItemAtIndex(2));  // Copy
  EXPECT_EQ(QApplication::clipboard()->text().toStdString(), "kesto.app");
  ASSERT_TRUE(edit->performActionForItemAtIndex(1));  // Cut
  EXPECT_TRUE(field->text().isEmpty());
  edit->update();
  EXPECT_TRUE(paste->isEnabled());
  ASSERT_TRUE(edit->performActionForItemAtIndex(3));  // Paste
  EXPECT_EQ(field->text().toStdString(), "kesto.app");

  // A read-only field copies but takes nothing in.
  field->setReadOnly(true);
  field->selectAll();
  edit->update();
  EXPECT_TRUE(copy->isEnabled());
  EXPECT_FALSE(cut->isEnabled());
  EXPECT_FALSE(paste->isEnabled());
  EXPECT_FALSE(undo->isEnabled());
}

// With no text on the clipboard (bookmarks copied from a list), the paste keys leave a line
// edit's selected text in place, as the Edit menu's Paste is then disabled: a name being edited
// never goes blank that way. With text there, they paste it.
TEST(Menu, ThePasteKeysLeaveALineEditAsItIsWhileTheClipboardHoldsNoText) {
  Application::shared();
  Window window(fnd::Rect(100, 100, 400, 300));
  auto* field = focusedField(window);
  ASSERT_TRUE(field);
  field->setText("Folder");
  field->selectAll();
  ui::PasteboardItem bookmarks;
  bookmarks.setString("http://a.example/\n", "BookmarkCopyType");
  ASSERT_TRUE(Pasteboard::general().writeObjects({bookmarks}));
  ASSERT_TRUE(QApplication::clipboard()->text().isEmpty());
  sendKey(field, Qt::Key_V, Qt::ControlModifier, "\x16");
  EXPECT_EQ(field->text().toStdString(), "Folder");
  EXPECT_EQ(field->selectedText().toStdString(), "Folder");
  sendKey(field, Qt::Key_Insert, Qt::ShiftModifier, "");
  EXPECT_EQ(field->text().toStdString(), "Folder");
  QApplication::clipboard()->clear();
  sendKey(field, Qt::Key_V, Qt::ControlModifier, "\x16");
  EXPECT_EQ(field->text().toStdString(), "Folder");

  QApplication::clipboard()->setText("Renamed");
  sendKey(field, Qt::Key_V, Qt::ControlModifier, "\x16");
  EXPECT_EQ(field->text().toStdString(), "Renamed");
  field->selectAll();
  QApplication::clipboard()->setText("Again");
  sendKey(field, Qt::Key_Insert, Qt::ShiftModifier, "");
  EXPECT_EQ(field->text().toStdString(), "Again");
}

// A focused field with nothing of its own to take back leaves Ctrl+Z and Edit > Undo to the
// window's last change (a folder just deleted); once it holds typing, its own undo comes first.
TEST(Menu, UndoInAFieldWithNothingToUndoTakesBackTheWindowsChange) {
  MainMenuScope scope;
  Window window(fnd::Rect(100, 100, 400, 300));
  int undone = 0;
  ActionResponder library;
  library.actions().add(
      {ui::cmd::undo, {}, {}, ModifierFlag::Command, nullptr, [&](Responder*) { return ++undone, true; }});
  library.setNextResponder(window.nextResponder());
  window.setNextResponder(&library);
  auto menu = std::make_shared<Menu>();
  auto edit = std::make_shared<Menu>("Edit");
  auto undo = edit->addItemWithTitle("Undo", ui::cmd::undo, "z");
  menu->addItemWithTitle("Edit", {})->setSubmenu(edit);
  Application::shared().setMainMenu(menu);
  auto* field = focusedField(window);
  ASSERT_TRUE(field);

  edit->update();
  EXPECT_TRUE(undo->isEnabled());
  sendKey(field, Qt::Key_Z, Qt::ControlModifier, "\x1a");
  EXPECT_EQ(undone, 1);
  ASSERT_TRUE(edit->performActionForItemAtIndex(0));
  EXPECT_EQ(undone, 2);

  field->insert("typed");
  sendKey(field, Qt::Key_Z, Qt::ControlModifier, "\x1a");
  EXPECT_EQ(undone, 2);
  EXPECT_TRUE(field->text().isEmpty());
  window.setNextResponder(library.nextResponder());
}

// Commands come only from constants: a literal or text made at run time does not compile where
// a command is taken.
template <typename Text>
concept SendableAsCommand = requires(Responder& r, Text text) { r.tryToPerform(text); };
template <typename Text>
concept MenuCommand = requires(Menu& menu, Text text) { menu.addItemWithTitle("Title", text); };
static_assert(SendableAsCommand<Command>);
static_assert(!SendableAsCommand<const char*>);
static_assert(!SendableAsCommand<std::string>);
static_assert(!SendableAsCommand<std::string_view>);
static_assert(MenuCommand<Command>);
static_assert(!MenuCommand<const char*>);
static_assert(!MenuCommand<std::string>);
static_assert(!MenuCommand<fnd::NotificationName>);  // a notification's name is no command

TEST(Action, OneActionAnswersTheMenuItemsTheirKeysAndTheButtonsThatSendIt) {
  MainMenuScope scope;
  Window window(fnd::Rect(100, 100, 400, 300));
  window.makeKeyAndOrderFront();
  int runs = 0;
  bool allowed = true;
  std::vector<const Responder*> senders;
  ActionResponder target;
  target.actions().add({tc::toggle, "Toggle", "t", ModifierFlag::Command | ModifierFlag::Option,
                        [&](MenuItem& item) {
                          item.setState(runs > 0 ? ControlState::On : ControlState::Off);
                          return allowed;
                        },
                        [&](Responder* sender) {
                          ++runs;
                          senders.push_back(sender);
                          return true;
                        }});
  const Action& toggle = *target.actions().find(tc::toggle);
  auto menu = std::make_shared<Menu>("Edit");
  auto item = toggle.makeMenuItem();
  item->setTarget(&target);
  menu->addItem(item);
  auto renamed = toggle.makeMenuItem("Toggle here");  // a context menu's own title, same command
  renamed->setTarget(&target);
  menu->addItem(renamed);
  EXPECT_EQ(item->title(), "Toggle");
  EXPECT_EQ(renamed->title(), "Toggle here");
  EXPECT_EQ(item->keyEquivalentText(), "Ctrl+Alt+T");
  EXPECT_EQ(renamed->action(), tc::toggle);

  menu->update();
  EXPECT_TRUE(item->isEnabled());
  EXPECT_EQ(item->state(), ControlState::Off);
  ASSERT_TRUE(menu->performActionForItemAtIndex(0));
  EXPECT_EQ(runs, 1);
  ASSERT_FALSE(senders.empty());
  EXPECT_EQ(senders.back(), item.get());
  // A button sends the same action straight to it.
  EXPECT_TRUE(target.actions().perform(tc::toggle));
  EXPECT_EQ(runs, 2);
  menu->update();
  EXPECT_EQ(item->state(), ControlState::On);

  // Not allowed now: the items are off and their key is not sent.
  allowed = false;
  menu->update();
  EXPECT_FALSE(item->isEnabled());
  EXPECT_FALSE(renamed->isEnabled());
  Application::shared().setMainMenu(menu);
  EXPECT_FALSE(menu->performKeyEquivalent(keyWithCommand(KeyCode::T, "t", ModifierFlag::Option)));
  allowed = true;
  EXPECT_TRUE(menu->performKeyEquivalent(keyWithCommand(KeyCode::T, "t", ModifierFlag::Option)));
  EXPECT_EQ(runs, 3);
}

TEST(Action, ASetHoldsOneActionPerCommandAndADeclinedOneGoesOnAlongTheChain) {
  ActionSet set;
  int first = 0, second = 0;
  set.add({tc::plain, "First", {}, ModifierFlag::Command, nullptr, [&](Responder*) { return ++first, true; }});
  set.add({tc::plain, "Second", {}, ModifierFlag::Command, nullptr, [&](Responder*) { return ++second, true; }});
  ASSERT_EQ(set.actions().size(), 1u);  // the second replaced the first
  EXPECT_EQ(set.find(tc::plain)->title, "Second");
  EXPECT_TRUE(set.perform(tc::plain));
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 1);
  EXPECT_FALSE(set.perform(tc::clear));  // none for it
  EXPECT_FALSE(set.contains(Command()));
  MenuItem unknown("Unknown", tc::clear);
  EXPECT_TRUE(set.validate(unknown));  // no answer: enabled

  // The nearer responder declines (nothing to undo there); the one behind it takes the command.
  ActionResponder near, far;
  near.setNextResponder(&far);
  int nearRuns = 0, farRuns = 0;
  near.actions().add({cmd::undo, {}, {}, ModifierFlag::Command, nullptr, [&](Responder*) { return ++nearRuns, false; }});
  far.actions().add({cmd::undo, {}, {}, ModifierFlag::Command, nullptr, [&](Responder*) { return ++farRuns, true; }});
  EXPECT_TRUE(near.tryToPerform(cmd::undo));
  EXPECT_EQ(nearRuns, 1);
  EXPECT_EQ(farRuns, 1);
  EXPECT_FALSE(near.tryToPerform(cmd::redo));
}

TEST(Action, AnUnavailableActionIsAsIfTheSetHadNone) {
  bool open = false;
  int runs = 0;
  ActionResponder near, far;
  near.setNextResponder(&far);
  near.actions().add(tc::plain, [&] { ++runs; }, [&] { return open; });
  Action refusing{tc::plain};
  refusing.isEnabled = [](MenuItem&) { return false; };
  near.actions().add(std::move(refusing));
  // Replaced: the last action for the command counts, availability and all.
  EXPECT_TRUE(near.respondsToAction(tc::plain));
  near.actions().add(tc::plain, [&] { ++runs; }, [&] { return open; });
  EXPECT_FALSE(near.respondsToAction(tc::plain));
  EXPECT_TRUE(near.actions().contains(tc::plain));  // held, but not taken now
  EXPECT_FALSE(near.actions().perform(tc::plain));
  EXPECT_EQ(runs, 0);

  int farRuns = 0;
  far.actions().add(tc::plain, [&] { ++farRuns; });
  EXPECT_TRUE(near.tryToPerform(tc::plain));  // goes on to the responder behind
  EXPECT_EQ(farRuns, 1);
  open = true;
  EXPECT_TRUE(near.tryToPerform(tc::plain));
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(farRuns, 1);
}

TEST(Window, UndoAndRedoAreTheWindowsOnlyWhileItsDelegateGivesAnUndoManager) {
  struct Delegate : WindowDelegate {
    fnd::UndoManager* manager = nullptr;
    fnd::UndoManager* windowWillReturnUndoManager(Window&) override { return manager; }
  } delegate;
  fnd::UndoManager undo;
  undo.setGroupsByEvent(false);
  Window window(fnd::Rect(100, 100, 400, 300));
  window.setDelegate(&delegate);
  MenuItem undoItem("Undo", cmd::undo, "z"), redoItem("Redo", cmd::redo, "Z");
  EXPECT_FALSE(window.respondsToAction(cmd::undo));  // no manager: the command goes on
  EXPECT_FALSE(window.performAction(cmd::undo, nullptr));

  delegate.manager = &undo;
  int value = 0;
  undo.beginUndoGrouping();
  value = 1;
  undo.registerUndoWithTarget(nullptr, [&] { value = 0; });
  undo.setActionName("Rename");
  undo.endUndoGrouping();
  EXPECT_TRUE(window.respondsToAction(cmd::undo));
  EXPECT_TRUE(window.respondsToAction(cmd::redo));
  EXPECT_TRUE(window.validateMenuItem(undoItem));
  EXPECT_EQ(undoItem.title(), undo.undoMenuItemTitle());
  EXPECT_FALSE(window.validateMenuItem(redoItem));  // nothing to redo: shown, but disabled
  EXPECT_TRUE(window.performAction(cmd::undo, nullptr));
  EXPECT_EQ(value, 0);
  // Nothing left to undo: still taken, so it reaches nobody behind the window.
  EXPECT_TRUE(window.performAction(cmd::undo, nullptr));
  EXPECT_EQ(value, 0);

  // A sheet answers neither undo nor the window commands, but a panel sheet still cancels.
  Window parent(fnd::Rect(100, 100, 600, 400));
  parent.makeKeyAndOrderFront();
  Panel sheet(fnd::Rect(0, 0, 200, 100));
  sheet.setDelegate(&delegate);
  int ended = -1;
  parent.beginSheet(sheet, [&](int code) { ended = code; });
  EXPECT_FALSE(sheet.respondsToAction(cmd::undo));
  EXPECT_FALSE(sheet.respondsToAction(cmd::performZoom));
  EXPECT_TRUE(sheet.respondsToAction(cmd::cancelOperation));
  EXPECT_TRUE(sheet.performAction(cmd::cancelOperation, nullptr));
  EXPECT_EQ(ended, ModalResponse::Cancel);
  EXPECT_TRUE(sheet.respondsToAction(cmd::undo));  // an ordinary window again
  window.setDelegate(nullptr);
  sheet.setDelegate(nullptr);
}
