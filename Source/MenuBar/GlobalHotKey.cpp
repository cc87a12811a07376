#include "MenuBar/GlobalHotKey.h"

#include "MenuBar/KeyCodeNames.h"
#include "Platform/Foundation/Assert.h"
#include "Platform/System/GlobalShortcuts.h"

namespace kesto {

namespace {

class X11Backend : public HotKeyBackend {
 public:
  std::uint32_t registerCombo(std::int64_t keyCode, std::uint32_t flags, std::function<void()> fired,
                              Trigger trigger) override {
    return sys::GlobalShortcuts::grab(int(keyCode), flags, std::move(fired),
                                      trigger == Trigger::Release ? sys::GlobalShortcuts::Trigger::Release
                                                                  : sys::GlobalShortcuts::Trigger::Press);
  }
  void unregisterCombo(std::uint32_t reference) override { sys::GlobalShortcuts::ungrab(reference); }
  bool isTakenElsewhere(std::int64_t keyCode, std::uint32_t flags) override {
    return sys::GlobalShortcuts::isTakenElsewhere(int(keyCode), flags);
  }
};

}  // namespace

GlobalKeyCombo GlobalKeyCombo::fromPlistRepresentation(const fnd::Value& plist) {
  if (!plist.isDictionary() || plist.size() == 0) return clearKeyCombo();
  std::int64_t code = plist["keyCode"].intValue(0);
  std::int64_t modifiers = plist["modifiers"].intValue(0);
  return GlobalKeyCombo(code < 0 ? -1 : code, modifiers < 1 ? ~std::uint64_t(0) : std::uint64_t(modifiers));
}

fnd::Value GlobalKeyCombo::plistRepresentation() const {
  return fnd::Value(fnd::Dictionary{{"keyCode", fnd::Value(static_cast<long long>(keyCode_))},
                                    {"modifiers", fnd::Value(static_cast<long long>(modifiers_))}});
}

std::string GlobalKeyCombo::keyCodeString() const { return isClearCombo() ? std::string() : KRKeyCodeName(long(keyCode_)); }

std::uint64_t GlobalKeyCombo::modifierMask() const {
  return isClearCombo() ? 0 : KRCarbonFlagsToCocoa(std::uint32_t(modifiers_)) & ~kr::CocoaFunction;
}

std::string GlobalKeyCombo::description() const {
  if (!isValidHotKeyCombo()) return "(None)";
  return KRCarbonShortcutString(std::uint32_t(modifiers_), long(keyCode_));
}

std::string GlobalHotKey::description() const {
  return "<GlobalHotKey: " + identifier_ + ", " + keyCombo_.description() + ">";
}

GlobalHotKeyCenter& GlobalHotKeyCenter::sharedCenter() {
  static GlobalHotKeyCenter center;
  return center;
}

void GlobalHotKeyCenter::setBackend(std::shared_ptr<HotKeyBackend> backend) {
  KESTO_ASSERT_MAIN_THREAD();
  backend_ = std::move(backend);
}

HotKeyBackend& GlobalHotKeyCenter::backend() {
  if (!backend_) backend_ = std::make_shared<X11Backend>();
  return *backend_;
}

bool GlobalHotKeyCenter::registerHotKey(const std::shared_ptr<GlobalHotKey>& hotKey) {
  KESTO_ASSERT_MAIN_THREAD();
  if (!hotKey) return false;
  if (hotKey->hotKeyID_ && hotKeys_.count(hotKey->hotKeyID_)) unregisterHotKey(hotKey);
  if (!hotKey->keyCombo().isValidHotKeyCombo()) return true;
  // Drawn before the system is asked, so a refused attempt uses up its number.
  std::uint32_t id = ++hotKeyCount_;
  std::weak_ptr<GlobalHotKey> weak = hotKey;
  std::uint32_t reference =
      backend().registerCombo(hotKey->keyCombo().keyCode(), std::uint32_t(hotKey->keyCombo().modifiers()), [weak] {
        if (auto key = weak.lock(); key && key->hotKeyID_) key->invoke();
      });
  if (!reference) return false;
  hotKey->hotKeyID_ = id;
  hotKey->registration_ = reference;
  hotKeys_[id] = hotKey;
  return true;
}

void GlobalHotKeyCenter::unregisterHotKey(const std::shared_ptr<GlobalHotKey>& hotKey) {
  KESTO_ASSERT_MAIN_THREAD();
  if (!hotKey || !hotKey->hotKeyID_ || !hotKey->registration_) return;
  backend().unregisterCombo(hotKey->registration_);
  hotKeys_.erase(hotKey->hotKeyID_);
  hotKey->hotKeyID_ = 0;
  hotKey->registration_ = 0;
}

std::vector<std::shared_ptr<GlobalHotKey>> GlobalHotKeyCenter::allHotKeys() const {
  std::vector<std::shared_ptr<GlobalHotKey>> all;
  for (const auto& [id, key] : hotKeys_) all.push_back(key);
  return all;
}

std::shared_ptr<GlobalHotKey> GlobalHotKeyCenter::hotKeyWithIdentifier(const std::string& identifier) const {
  for (const auto& [id, key] : hotKeys_)
    if (key->identifier() == identifier) return key;
  return nullptr;
}

}  // namespace kesto
