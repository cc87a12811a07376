// Menu-bar mode in the application: the preferences' recorder changes the global hot key, a
// refused combination keeps the old one, a reset registers the default at once, Escape hides the
// menu-bar window, a start in menu-bar mode needs a tray, and the launch-at-login switch.
#include "AppFixture.h"

#include "App/PreferencesController.h"
#include "Harness/TestDialogResponder.h"
#include "MenuBar/MenuBarWindow.h"
#include "MenuBar/MenuBookmarksController.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/System/LoginItems.h"
#include "Platform/System/TrayIcon.h"
#include "Platform/UI/Button.h"
#include "Platform/UI/Event.h"
#include "Platform/UI/Label.h"

#include <set>

namespace kesto::test {
namespace {

// The desktop's hot keys: what is registered now, and the combinations another program holds.
class DesktopHotKeys : public GlobalHotKeyRegistrar {
 public:
  bool registerHotKey(const std::string& identifier, const HotKeyCombo& combo, std::function<void()> a) override {
    attempts.push_back(combo);
    if (held.count({combo.keyCode, combo.flags})) return false;
    current[identifier] = combo;
    action = std::move(a);
    return true;
  }
  void unregisterHotKey(const std::string& identifier) override { current.erase(identifier); }
  std::optional<HotKeyCombo> registered() const {
    auto it = current.find("KestoLightSearch");
    return it == current.end() ? std::nullopt : std::optional<HotKeyCombo>(it->second);
  }
  std::set<std::pair<std::int64_t, std::int64_t>> held;
  std::map<std::string, HotKeyCombo> current;
  std::vector<HotKeyCombo> attempts;
  std::function<void()> action;
};

class MenuBarMode : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    responder = TestDialogResponder::install();
    AppDelegate::setHotKeyRegistrar(desktop);
  }
  void TearDown() override {
    AppDelegate::setHotKeyRegistrar(nullptr);
    sys::TrayIcon::setAvailableForTesting(std::nullopt);
    TestDialogResponder::uninstall();
    AppTest::TearDown();
  }
  PreferencesController& prefs() { return ui->preferencesController(); }
  KRRecorderControl& recorder() {
    prefs().showPreferencesPanel();
    return *prefs().panelViews().keyRecorder;
  }
  void record(std::uint16_t keyCode, std::uint64_t flags, const std::string& chars) {
    recorder().keyDown(ui::Event::key(ui::KeyCode::Space, 0, " "));
    ui::Event e = ui::Event::key(keyCode, flags, chars);
    e.charactersIgnoringModifiers = chars;
    recorder().keyDown(e);
    spin(0.05);
  }

  std::shared_ptr<DesktopHotKeys> desktop = std::make_shared<DesktopHotKeys>();
  std::shared_ptr<TestDialogResponder> responder;
};

TEST_F(MenuBarMode, TheHotKeyPartAloneRegistersAndIsSilentOnceGone) {
  int reloads = 0;
  auto& center = fnd::NotificationCenter::defaultCenter();
  center.addObserver(&reloads, [&](const fnd::Notification&) { ++reloads; }, BRWUpdateMenuBookmarksViewNotification);
  {
    AppHotKey hotKey;  // no windows: the hot key only asks the menu-bar list to reload
    hotKey.initializeHotkey();
    ASSERT_TRUE(desktop->registered());
    ASSERT_TRUE(hotKey.registeredHotKey());
    EXPECT_EQ(*hotKey.registeredHotKey(), HotKeyCombo{});
    desktop->action();
    EXPECT_EQ(reloads, 1);
    hotKey.showMenuBarWindow();
    hotKey.hideMenuBarWindow();
  }
  // The desktop may still hold the key a moment after its owner went: a press does nothing.
  desktop->action();
  EXPECT_EQ(reloads, 1);
  center.removeObserver(&reloads);
}

TEST_F(MenuBarMode, TheRecorderChangesTheHotKeyAtOnce) {
  build(0);
  app().initializeHotkey();
  EXPECT_EQ(desktop->registered(), (HotKeyCombo{35, 0x1900}));
  EXPECT_EQ(recorder().displayedText(), "Super+Alt+Ctrl+P");
  record(ui::KeyCode::B, 0xC0000, "b");  // Super+Alt+B
  EXPECT_EQ(desktop->registered(), (HotKeyCombo{11, 0x1800}));
  EXPECT_EQ(defaults().integerForKey("kComboCode"), 11);
  EXPECT_EQ(defaults().integerForKey("kComboFlags"), 0x1800);
  EXPECT_EQ(prefs().panelViews().currentShortcutLabel->stringValue(), "Current shortcut: Super+Alt+B");
  EXPECT_TRUE(responder->alerts.empty());
  // The new combination opens the menu-bar window.
  desktop->action();
  EXPECT_TRUE(ui->menuBarWindow().isVisible());
}

TEST_F(MenuBarMode, ARefusedCombinationKeepsTheOldHotKeyAndIsTold) {
  build(0);
  app().initializeHotkey();
  desktop->held.insert({40, 0x1800});
  record(ui::KeyCode::K, 0xC0000, "k");  // Super+Alt+K, which another program holds
  EXPECT_EQ(desktop->registered(), (HotKeyCombo{35, 0x1900}));
  EXPECT_FALSE(defaults().hasValueForKey("kComboCode"));
  ASSERT_EQ(responder->alerts.size(), 1u);
  EXPECT_EQ(responder->alerts[0].message, "The key combination Super+Alt+K can't be used!");
  EXPECT_EQ(responder->alerts[0].style, ui::AlertStyle::Critical);
  EXPECT_EQ(recorder().displayedText(), "Super+Alt+Ctrl+P");
}

TEST_F(MenuBarMode, ClearingTheRecorderRegistersTheDefaultAtOnce) {
  defaults().setInteger(11, "kComboCode");
  defaults().setInteger(0x300, "kComboFlags");
  build(0);
  app().initializeHotkey();
  EXPECT_EQ(desktop->registered(), (HotKeyCombo{11, 0x300}));
  fnd::Rect remove = recorder().removeButtonRect();
  ASSERT_GT(remove.size.width, 0);
  fnd::Point at = recorder().convertPointToView({remove.midX(), remove.midY()}, nullptr);
  recorder().mouseDown(ui::Event::mouse(ui::EventType::LeftMouseDown, at));
  recorder().mouseUp(ui::Event::mouse(ui::EventType::LeftMouseUp, at));
  spin(0.05);
  EXPECT_EQ(desktop->registered(), (HotKeyCombo{35, 0x1900}));
  EXPECT_EQ(defaults().integerForKey("kComboCode"), -1);
  EXPECT_EQ(defaults().integerForKey("kComboFlags"), -1);
  ASSERT_EQ(responder->alerts.size(), 1u);
  EXPECT_EQ(responder->alerts[0].message, "Success");
  EXPECT_EQ(responder->alerts[0].informative, "Shortcut reset to default");
  EXPECT_EQ(responder->alerts[0].style, ui::AlertStyle::Informational);
  EXPECT_EQ(recorder().displayedText(), "Super+Alt+Ctrl+P");
}

TEST_F(MenuBarMode, EscapeHidesTheWindowTheHotKeyShowed) {
  build(0);
  app().applicationDidFinishLaunching();
  app().hotkeyWithEvent();
  ASSERT_TRUE(ui->menuBarWindow().isVisible());
  EXPECT_TRUE(ui->menuBookmarksController().showingFind());
  fnd::NotificationCenter::defaultCenter().postNotificationName(CloseMenubarNotification);
  EXPECT_TRUE(runUntil([&] { return !ui->menuBarWindow().isVisible(); }, 30));
}

// Its edges dragged far inwards, the menu-bar window stops at the least size that shows every
// control of both its tabs whole below the title bar.
TEST_F(MenuBarMode, TheMenuBarWindowShrinksNoSmallerThanItsControlsNeed) {
  build(0);
  app().applicationDidFinishLaunching();
  app().hotkeyWithEvent();
  MenuBarWindow& window = ui->menuBarWindow();
  ASSERT_TRUE(window.isVisible());
  const auto drag = [&](fnd::Point from, fnd::Point to) {
    window.sendEvent(ui::Event::mouse(ui::EventType::LeftMouseDown, from, 0, 1, &window));
    window.sendEvent(ui::Event::mouse(ui::EventType::LeftMouseDragged, to, 0, 1, &window));
    window.sendEvent(ui::Event::mouse(ui::EventType::LeftMouseUp, to, 0, 1, &window));
  };
  fnd::Size size = window.frame().size;
  drag({1, size.height / 2}, {size.width / 2, size.height / 2});
  size = window.frame().size;
  drag({size.width / 2, 1}, {size.width / 2, size.height / 2});
  const fnd::Size least = window.frame().size;
  const fnd::Rect content(0, 0, least.width, least.height - window.titleBarRect().size.height - 1);
  auto& menu = ui->menuBookmarksController();
  for (const auto& pane : {menu.view(), menu.editPane})
    for (const auto& control : pane->subviews()) {
      if (control == menu.listPane || control == menu.editPane) continue;
      const fnd::Rect f = control->convertRectToView(control->bounds(), nullptr);
      EXPECT_TRUE(content.contains(f)) << "cut off at " << least.width << " by " << least.height << ": ("
                                       << f.minX() << ", " << f.minY() << ", " << f.size.width << ", "
                                       << f.size.height << ")";
    }
}

TEST_F(MenuBarMode, AStartInMenuBarModeWithoutATrayShowsTheMainWindow) {
  defaults().setBool(true, "useMenuBarMode");
  sys::TrayIcon::setAvailableForTesting(false);
  EXPECT_FALSE(AppDelegate::startsInMenuBarMode());
  build(0);
  ui->window().orderOut();
  app().applicationDidFinishLaunching();
  EXPECT_FALSE(app().menuBarMode());
  EXPECT_TRUE(ui->window().isVisible());
  prefs().showPreferencesPanel();
  EXPECT_NE(prefs().panelViews().menubarModeCheck->title().find("no system tray"), std::string::npos);
}

TEST_F(MenuBarMode, TheLaunchAtLoginSwitchWritesTheAutostartEntry) {
  build(0);
  prefs().showPreferencesPanel();
  ASSERT_TRUE(prefs().panelViews().launchAtLoginCheck);
  EXPECT_EQ(prefs().panelViews().launchAtLoginCheck->state(), 0);
  prefs().panelViews().launchAtLoginCheck->performClick();
  EXPECT_TRUE(fnd::FileManager::fileExists(sys::LoginItems::autostartEntryPath()));
  EXPECT_TRUE(prefs().loginItems().launchAtLogin());
  EXPECT_EQ(prefs().panelViews().launchAtLoginCheck->state(), 1);
  prefs().panelViews().launchAtLoginCheck->performClick();
  EXPECT_FALSE(fnd::FileManager::fileExists(sys::LoginItems::autostartEntryPath()));
  EXPECT_EQ(prefs().panelViews().launchAtLoginCheck->state(), 0);
}

}  // namespace
}  // namespace kesto::test
