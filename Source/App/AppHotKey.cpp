#include "App/AppHotKey.h"

#include "App/PreferencesController.h"
#include "MenuBar/GlobalHotKey.h"
#include "MenuBar/MenuBarWindow.h"
#include "MenuBar/MenuBookmarksController.h"
#include "Model/ModelNotifications.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/System/GlobalShortcuts.h"
#include "Platform/System/TrayIcon.h"
#include "Platform/UI/Alert.h"
#include "Platform/UI/Application.h"
#include "Platform/UI/ApplicationMain.h"
#include "Platform/UI/Window.h"

#include <map>

namespace kesto {

namespace {

// The desktop's global hot keys through the hot-key centre.
class HotKeyCenterRegistrar : public GlobalHotKeyRegistrar {
 public:
  bool registerHotKey(const std::string& identifier, const HotKeyCombo& combo, std::function<void()> action) override {
    unregisterHotKey(identifier);
    auto hotKey = std::make_shared<GlobalHotKey>(
        identifier, GlobalKeyCombo::keyComboWithKeyCode(combo.keyCode, std::uint64_t(combo.flags)));
    hotKey->setAction([action](GlobalHotKey&) { action(); });
    if (!GlobalHotKeyCenter::sharedCenter().registerHotKey(hotKey) || !hotKey->carbonHotKeyID()) return false;
    hotKeys_[identifier] = hotKey;
    return true;
  }
  void unregisterHotKey(const std::string& identifier) override {
    auto it = hotKeys_.find(identifier);
    if (it == hotKeys_.end()) return;
    GlobalHotKeyCenter::sharedCenter().unregisterHotKey(it->second);
    hotKeys_.erase(it);
  }

 private:
  std::map<std::string, std::shared_ptr<GlobalHotKey>> hotKeys_;
};

std::shared_ptr<GlobalHotKeyRegistrar>& hotKeyRegistrar() {
  static std::shared_ptr<GlobalHotKeyRegistrar> registrar;
  // Where the desktop offers global hot keys (X11), the centre registers them.
  if (!registrar && sys::GlobalShortcuts::isAvailable()) registrar = std::make_shared<HotKeyCenterRegistrar>();
  return registrar;
}

void showAlertSoon(const std::string& message, const std::string& information, ui::AlertStyle style) {
  // Never inside the event that asked for it: the alert's loop would run inside that callback.
  ui::Application::postToMain([message, information, style] {
    ui::Alert alert;
    alert.setMessageText(message);
    alert.setInformativeText(information);
    alert.setAlertStyle(style);
    alert.addButtonWithTitle("OK");
    alert.runModal();
  });
}

}  // namespace

AppHotKey::~AppHotKey() { lifetime_.end(); }

void AppHotKey::setHotKeyRegistrar(std::shared_ptr<GlobalHotKeyRegistrar> registrar) {
  hotKeyRegistrar() = std::move(registrar);
}

HotKeyCombo AppHotKey::storedHotKeyCombo() {
  auto& defaults = fnd::UserDefaults::standard();
  auto code = defaults.objectForKey("kComboCode");
  // Only an absent value or -1 means the default: 0 is the A key.
  if (!code.isNumber() || code.intValue() < 0) return HotKeyCombo{};
  return HotKeyCombo{static_cast<std::int32_t>(code.intValue()),
                     static_cast<std::int32_t>(defaults.integerForKey("kComboFlags"))};
}

void AppHotKey::initializeHotkey() {
  auto registrar = hotKeyRegistrar();
  if (!registrar) return;  // no global hot keys on this desktop session
  HotKeyCombo combo = storedHotKeyCombo();
  bool taken =
      registrar->registerHotKey("KestoLightSearch", combo, lifetime_.whileAlive([this] { hotkeyWithEvent(); }));
  if (taken) {
    registeredHotKey_ = combo;
  } else {
    fnd::logWarning("The global shortcut could not be registered; another program may hold it");
  }
}

void AppHotKey::hotkeyWithEvent() {
  // A dialog blocks every window: it is what comes to the user, as with the tray icon and a
  // later launch; a bookmark window shown behind it would take no input.
  if (ui::isApplicationModalShown()) return ui::bringModalWindowToUser();
  if (wiring_.menuWindow) {
    showMenuBarWindow();
  } else {
    ui::Application::shared().activateIgnoringOtherApps();
    if (wiring_.window) ui::reopenWindow(*wiring_.window);
  }
  fnd::NotificationCenter::defaultCenter().postNotificationName(BRWUpdateMenuBookmarksViewNotification);
}

void AppHotKey::showMenuBarWindow() {
  if (!wiring_.menuWindow) return;
  if (wiring_.window) wiring_.window->makeFirstResponder(nullptr);
  // Without the icon's place the window hangs under the pointer.
  wiring_.menuWindow->setAnchorPoint(sys::TrayIcon::pointerLocation());
  wiring_.menuWindow->showWindow();
  if (wiring_.menuBookmarksController && wiring_.menuBookmarksController->showingFind())
    wiring_.menuBookmarksController->find();
}

void AppHotKey::hideMenuBarWindow() {
  if (!wiring_.menuWindow) return;
  wiring_.menuWindow->makeFirstResponder(nullptr);
  wiring_.menuWindow->hideWindow();
}

void AppHotKey::toggleGlobalHotKey(const KeyCombo& combo) {
  auto registrar = hotKeyRegistrar();
  const bool reset = combo.code == -1;
  const HotKeyCombo next =
      reset ? HotKeyCombo{} : HotKeyCombo{combo.code, std::int64_t(KRCocoaFlagsToCarbon(combo.flags))};
  const std::optional<HotKeyCombo> previous = registeredHotKey_;
  if (registrar) registrar->unregisterHotKey("KestoLightSearch");
  registeredHotKey_.reset();
  auto action = lifetime_.whileAlive([this] { hotkeyWithEvent(); });
  if (registrar && !registrar->registerHotKey("KestoLightSearch", next, action)) {
    // Refused (another program holds it): the old hot key stays and nothing is stored.
    if (previous && registrar->registerHotKey("KestoLightSearch", *previous, action)) registeredHotKey_ = previous;
    if (wiring_.preferences) wiring_.preferences->updateKeyCombo();
    const std::string keys = KRCarbonShortcutWords(std::uint32_t(next.flags), long(next.keyCode));
    showAlertSoon("The key combination " + KRCarbonShortcutString(std::uint32_t(next.flags), long(next.keyCode)) +
                      " can't be used!",
                  "The key combination \"" + keys +
                      "\" can't be used because another program holds it. The previous shortcut stays in use.",
                  ui::AlertStyle::Critical);
    return;
  }
  if (registrar) registeredHotKey_ = next;
  auto& defaults = fnd::UserDefaults::standard();
  defaults.setInteger(reset ? -1 : next.keyCode, "kComboCode");
  defaults.setInteger(reset ? -1 : next.flags, "kComboFlags");
  defaults.synchronize();
  if (wiring_.preferences) wiring_.preferences->updateKeyCombo();
  if (reset) showAlertSoon("Success", "Shortcut reset to default", ui::AlertStyle::Informational);
}

}  // namespace kesto
