#include "MenuBar/KRValidator.h"

#include "MenuBar/GlobalHotKey.h"
#include "MenuBar/KeyCodeNames.h"
#include "Platform/Foundation/Strings.h"
#include "Platform/UI/Alert.h"
#include "Platform/UI/Application.h"
#include "Platform/UI/Event.h"
#include "Platform/UI/Menu.h"

namespace kesto {

namespace {

KRError takenError(long keyCode, std::uint32_t carbonFlags, const std::string& explanation) {
  KRError e;
  e.description = "The key combination " + KRCarbonShortcutString(carbonFlags, keyCode) + " can't be used!";
  e.recoverySuggestion = explanation;
  return e;
}

std::string quotedWords(long keyCode, std::uint32_t carbonFlags) {
  return "\"" + KRCarbonShortcutWords(carbonFlags, keyCode) + "\"";
}

bool samePresence(std::uint64_t mask, std::uint64_t maskBit, std::uint32_t flags, std::uint32_t flagBit) {
  return ((mask & maskBit) != 0) == ((flags & flagBit) != 0);
}

// The item's modifiers as it is matched: an upper-case letter as key equivalent implies Shift.
std::uint64_t effectiveMask(const ui::MenuItem& item) {
  std::uint64_t mask = item.keyEquivalentModifierMask();
  const std::string& key = item.keyEquivalent();
  if (key.size() == 1 && key[0] >= 'A' && key[0] <= 'Z') mask |= ui::ModifierFlag::Shift;
  return mask;
}

}  // namespace

bool KRValidator::isKeyCodeAndFlagsTaken(long keyCode, std::uint32_t carbonFlags, std::optional<KRError>* error) {
  if (delegate_) {
    std::string reason;
    if (delegate_->shortcutValidatorIsKeyCodeAndFlagsTaken(*this, keyCode, KRCarbonFlagsToCocoa(carbonFlags), reason)) {
      if (error)
        *error = takenError(keyCode, carbonFlags,
                            "The key combination " + quotedWords(keyCode, carbonFlags) + " can't be used because " +
                                (reason.empty() ? "it's already used" : reason) + ".");
      return true;
    }
  }
  // The desktop has no list of its shortcuts to read: a combination another program (the window
  // manager, the desktop's shortcut daemon) has grabbed cannot be grabbed again.
  if (GlobalHotKeyCenter::sharedCenter().backend().isTakenElsewhere(keyCode, carbonFlags)) {
    if (error)
      *error = takenError(keyCode, carbonFlags,
                          "The key combination " + quotedWords(keyCode, carbonFlags) +
                              " can't be used because it's already used by a system-wide keyboard shortcut. (If you "
                              "really want to use this key combination, most shortcuts can be changed in the keyboard "
                              "settings of your desktop.)");
    return true;
  }
  return isKeyCodeAndFlagsTakenInMenu(keyCode, carbonFlags, ui::Application::shared().mainMenu().get(), error);
}

bool KRValidator::isKeyCodeAndFlagsTakenInMenu(long keyCode, std::uint32_t carbonFlags, const ui::Menu* menu,
                                               std::optional<KRError>* error) {
  if (!menu) return false;
  const std::string name = KRKeyCodeName(keyCode);
  for (const auto& item : menu->items()) {
    if (item->hasSubmenu() && isKeyCodeAndFlagsTakenInMenu(keyCode, carbonFlags, item->submenu().get(), error))
      return true;
    if (item->keyEquivalent().empty() || name.empty()) continue;
    std::uint64_t mask = effectiveMask(*item);
    if (fnd::uppercase(item->keyEquivalent()) != name) continue;
    if (!samePresence(mask, kr::CocoaCommand, carbonFlags, kr::CarbonCommand) ||
        !samePresence(mask, kr::CocoaOption, carbonFlags, kr::CarbonOption) ||
        !samePresence(mask, kr::CocoaShift, carbonFlags, kr::CarbonShift) ||
        !samePresence(mask, kr::CocoaControl, carbonFlags, kr::CarbonControl))
      continue;
    if (error)
      *error = takenError(keyCode, carbonFlags,
                          "The key combination \"" + KRCocoaShortcutWords(mask, keyCode) +
                              "\" can't be used because it's already used by the menu item \"" + item->title() + "\".");
    return true;
  }
  return false;
}

ui::Alert alertWithNonRecoverableError(const std::optional<KRError>& error) {
  ui::Alert alert;
  if (!error) {
    alert.addButtonWithTitle("OK");
    return alert;
  }
  alert.setMessageText(error->description);
  alert.addButtonWithTitle(error->recoveryOptions.empty() ? std::string("OK") : error->recoveryOptions.front());
  alert.setInformativeText(error->recoverySuggestion);
  return alert;
}

}  // namespace kesto
