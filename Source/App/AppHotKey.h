#pragma once

#include "MenuBar/KRRecorderControl.h"
#include "MenuBar/KeyCodeNames.h"
#include "Platform/Foundation/Lifetime.h"
#include "Platform/UI/UIForward.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kesto {

class MenuBarWindow;
class MenuBookmarksController;
class PreferencesController;

// A key combination: virtual key code and Carbon modifier flags (command 0x100, shift 0x200,
// option 0x800, control 0x1000).
struct HotKeyCombo {
  std::int64_t keyCode = kDefaultHotKeyCode;
  std::int64_t flags = kDefaultHotKeyFlags;
  bool operator==(const HotKeyCombo&) const = default;
};

// Registers the global hot key with the desktop; the menu-bar mode supplies it. Answers whether
// the desktop took the combination.
class GlobalHotKeyRegistrar {
 public:
  virtual ~GlobalHotKeyRegistrar() = default;
  virtual bool registerHotKey(const std::string& identifier, const HotKeyCombo& combo,
                              std::function<void()> action) = 0;
  virtual void unregisterHotKey(const std::string& identifier) = 0;
};

// The global hot key and the menu-bar window it brings up. Main thread only.
class AppHotKey {
 public:
  struct Wiring {
    ui::Window* window = nullptr;
    MenuBarWindow* menuWindow = nullptr;
    MenuBookmarksController* menuBookmarksController = nullptr;
    // Shows the combination in use on its panel.
    PreferencesController* preferences = nullptr;
  };

  AppHotKey() = default;
  ~AppHotKey();
  AppHotKey(const AppHotKey&) = delete;
  AppHotKey& operator=(const AppHotKey&) = delete;

  void wire(const Wiring& wiring) { wiring_ = wiring; }

  // The stored combination, or the default (control-option-command P) when none is stored or it
  // was reset (-1). Key code 0 is the A key, a combination like any other.
  static HotKeyCombo storedHotKeyCombo();
  static void setHotKeyRegistrar(std::shared_ptr<GlobalHotKeyRegistrar> registrar);
  // Registers the stored combination, where the desktop has global hot keys.
  void initializeHotkey();
  const std::optional<HotKeyCombo>& registeredHotKey() const { return registeredHotKey_; }
  // What the hot key does: shows the menu-bar window (the main window where there is none) and
  // reloads the menu-bar list.
  void hotkeyWithEvent();
  // Replaces the hot key by `combo` and stores it; a cleared combination (-1) puts back the
  // default at once. A combination the desktop refuses keeps the old hot key and nothing is
  // stored; the user is told.
  void toggleGlobalHotKey(const KeyCombo& combo);
  void showMenuBarWindow();
  void hideMenuBarWindow();

 private:
  Wiring wiring_;
  std::optional<HotKeyCombo> registeredHotKey_;
  fnd::Lifetime lifetime_{fnd::Lifetime::Affinity::MainThread};
};

}  // namespace kesto
