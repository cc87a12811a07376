#pragma once

#include "Platform/Foundation/Value.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kesto {

// A key code with Carbon modifier flags (command 0x100, shift 0x200, option 0x800, control
// 0x1000). The clear combination is key code -1 with every modifier bit set.
class GlobalKeyCombo {
 public:
  static GlobalKeyCombo clearKeyCombo() { return GlobalKeyCombo(-1, ~std::uint64_t(0)); }
  static GlobalKeyCombo keyComboWithKeyCode(std::int64_t keyCode, std::uint64_t modifiers) {
    return GlobalKeyCombo(keyCode, modifiers);
  }
  GlobalKeyCombo() : GlobalKeyCombo(clearKeyCombo()) {}
  GlobalKeyCombo(std::int64_t keyCode, std::uint64_t modifiers) : keyCode_(keyCode), modifiers_(modifiers) {}
  // From {"keyCode", "modifiers"}: a negative code reads as -1, modifiers below 1 as all set; an
  // empty or missing dictionary is the clear combination.
  static GlobalKeyCombo fromPlistRepresentation(const fnd::Value& plist);
  fnd::Value plistRepresentation() const;

  std::int64_t keyCode() const { return keyCode_; }
  std::uint64_t modifiers() const { return modifiers_; }
  bool isValidHotKeyCombo() const { return keyCode_ >= 0 && modifiers_ > 0; }
  bool isClearCombo() const { return keyCode_ == -1 && modifiers_ == ~std::uint64_t(0); }
  bool operator==(const GlobalKeyCombo&) const = default;

  std::string keyCodeString() const;
  // The Cocoa form of the modifiers; 0 for the clear combination.
  std::uint64_t modifierMask() const;
  // "Super+Alt+Ctrl+P", or "(None)".
  std::string description() const;

 private:
  std::int64_t keyCode_;
  std::uint64_t modifiers_;
};

// A named combination with what it does when pressed.
class GlobalHotKey {
 public:
  GlobalHotKey() = default;
  GlobalHotKey(std::string identifier, GlobalKeyCombo combo) : identifier_(std::move(identifier)), keyCombo_(combo) {}

  const std::string& identifier() const { return identifier_; }
  void setIdentifier(std::string identifier) { identifier_ = std::move(identifier); }
  const std::string& name() const { return name_; }
  void setName(std::string name) { name_ = std::move(name); }
  const GlobalKeyCombo& keyCombo() const { return keyCombo_; }
  void setKeyCombo(const GlobalKeyCombo& combo) { keyCombo_ = combo; }
  // Stands in for target and action: called with the hot key.
  void setAction(std::function<void(GlobalHotKey&)> action) { action_ = std::move(action); }
  void invoke() {
    if (action_) action_(*this);
  }
  // The centre's registration number (0 while not registered) and the system's reference.
  std::uint32_t carbonHotKeyID() const { return hotKeyID_; }
  std::uint32_t registration() const { return registration_; }
  std::string description() const;

 private:
  friend class GlobalHotKeyCenter;
  std::string identifier_, name_;
  GlobalKeyCombo keyCombo_;
  std::function<void(GlobalHotKey&)> action_;
  std::uint32_t hotKeyID_ = 0, registration_ = 0;
};

// What registers combinations with the desktop; tests put a fake in its place.
class HotKeyBackend {
 public:
  virtual ~HotKeyBackend() = default;
  // When a combination fires: as it is pressed, or as its key is let go.
  enum class Trigger { Press, Release };
  // Answers a reference above 0, or 0 when the desktop refused.
  virtual std::uint32_t registerCombo(std::int64_t keyCode, std::uint32_t carbonFlags, std::function<void()> fired,
                                      Trigger trigger = Trigger::Press) = 0;
  virtual void unregisterCombo(std::uint32_t reference) = 0;
  // Whether another program holds the combination.
  virtual bool isTakenElsewhere(std::int64_t keyCode, std::uint32_t carbonFlags) = 0;
};

// The registry of the process's global hot keys. Main thread only.
class GlobalHotKeyCenter {
 public:
  static GlobalHotKeyCenter& sharedCenter();
  // The X11 backend by default; null puts it back.
  void setBackend(std::shared_ptr<HotKeyBackend> backend);
  HotKeyBackend& backend();

  // False when the desktop refused the combination (the hot key then stays unregistered). An
  // invalid combination registers nothing and answers true.
  bool registerHotKey(const std::shared_ptr<GlobalHotKey>& hotKey);
  void unregisterHotKey(const std::shared_ptr<GlobalHotKey>& hotKey);
  std::vector<std::shared_ptr<GlobalHotKey>> allHotKeys() const;
  std::shared_ptr<GlobalHotKey> hotKeyWithIdentifier(const std::string& identifier) const;

 private:
  GlobalHotKeyCenter() = default;
  std::map<std::uint32_t, std::shared_ptr<GlobalHotKey>> hotKeys_;
  std::uint32_t hotKeyCount_ = 0;
  std::shared_ptr<HotKeyBackend> backend_;
};

}  // namespace kesto
