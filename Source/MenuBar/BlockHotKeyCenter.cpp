#include "MenuBar/BlockHotKeyCenter.h"

#include "MenuBar/GlobalHotKey.h"
#include "MenuBar/KeyCodeNames.h"
#include "Platform/Foundation/Assert.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Strings.h"

#include <algorithm>
#include <cstdio>

namespace kesto {

namespace {

constexpr std::uint64_t kFourModifiers = kr::CocoaControl | kr::CocoaCommand | kr::CocoaShift | kr::CocoaOption;

// Shared by every centre object: the registered hot keys, in the order they came, and the
// number the next registration takes.
struct Registry {
  std::vector<std::shared_ptr<BlockHotKey>> hotKeys;
  std::uint32_t nextID = 1;
};

Registry& registry() {
  static Registry r;
  return r;
}

}  // namespace

std::uint32_t carbonModifierFlags(std::uint64_t cocoaFlags) {
  return KRCocoaFlagsToCarbon(cocoaFlags & kFourModifiers);
}

std::string modifierFlagsDescription(std::uint64_t cocoaFlags) {
  const std::pair<std::uint64_t, const char*> names[] = {{kr::CocoaControl, "NSControlKeyMask"},
                                                         {kr::CocoaCommand, "NSCommandKeyMask"},
                                                         {kr::CocoaShift, "NSShiftKeyMask"},
                                                         {kr::CocoaOption, "NSAlternateKeyMask"}};
  std::vector<std::string> present;
  for (const auto& [bit, name] : names)
    if (cocoaFlags & bit) present.emplace_back(name);
  if (present.empty()) return "ERROR: No valid flags";
  return "(" + fnd::join(present, " | ") + ")";
}

std::string BlockHotKey::description() const {
  auto address = [](const void* p) {
    char text[32];
    std::snprintf(text, sizeof text, "%p", p);
    return std::string(text);
  };
  const std::string invokes = target_ && !action_.empty() ? "[" + address(target_.get()) + " " + action_ + "]" : "(block)";
  return "<BlockHotKey: " + address(this) + ">\n\t(key: " + std::to_string(keyCode_) +
         "\n\tflags: " + modifierFlagsDescription(modifierFlags_) + "\n\tinvokes: " + invokes + ")";
}

void BlockHotKey::invoke(const ui::Event& event) const {
  if (target_ && !action_.empty() && target_->respondsToAction(action_)) target_->performAction(action_, event, object_);
  else if (task_) task_(event);
}

bool BlockHotKeyCenter::registerHotKeyWithKeyCode(std::uint16_t keyCode, std::uint64_t modifierFlags,
                                                  BlockHotKey::Task task) {
  auto hotKey = std::make_shared<BlockHotKey>(keyCode, modifierFlags);
  hotKey->task_ = std::move(task);
  return add(hotKey);
}

bool BlockHotKeyCenter::registerHotKeyWithKeyCode(std::uint16_t keyCode, std::uint64_t modifierFlags,
                                                  std::shared_ptr<BlockHotKeyTarget> target, std::string action,
                                                  fnd::Value object) {
  auto hotKey = std::make_shared<BlockHotKey>(keyCode, modifierFlags);
  hotKey->target_ = std::move(target);
  hotKey->action_ = std::move(action);
  hotKey->object_ = std::move(object);
  return add(hotKey);
}

bool BlockHotKeyCenter::add(const std::shared_ptr<BlockHotKey>& hotKey) {
  KESTO_ASSERT_MAIN_THREAD();
  if (hasRegisteredHotKeyWithKeyCode(hotKey->keyCode(), hotKey->modifierFlags())) return false;
  auto& r = registry();
  const std::uint32_t id = r.nextID;
  const std::uint32_t reference = GlobalHotKeyCenter::sharedCenter().backend().registerCombo(
      hotKey->keyCode(), carbonModifierFlags(hotKey->modifierFlags()), [id] { fire(id); },
      HotKeyBackend::Trigger::Release);
  // A refusal leaves the counter where it was.
  if (!reference) return false;
  hotKey->madeByCenter_ = true;
  hotKey->hotKeyID_ = id;
  hotKey->reference_ = reference;
  ++r.nextID;
  r.hotKeys.push_back(hotKey);
  return true;
}

void BlockHotKeyCenter::fire(std::uint32_t hotKeyID) {
  auto found = BlockHotKeyCenter().hotKeysMatchingPredicate([&](const BlockHotKey& k) { return k.hotKeyID() == hotKeyID; });
  // An identifier no longer registered invokes nothing.
  if (found.empty()) return;
  if (found.size() > 1) fnd::logError("ERROR!");
  const auto& hotKey = found.front();
  ui::Event event = ui::Event::key(hotKey->keyCode(), hotKey->modifierFlags());
  event.type = ui::EventType::KeyUp;
  hotKey->invoke(event);
}

bool BlockHotKeyCenter::hasRegisteredHotKeyWithKeyCode(std::uint16_t keyCode, std::uint64_t modifierFlags) const {
  return !hotKeysMatchingPredicate([&](const BlockHotKey& k) {
            return k.keyCode() == keyCode && k.modifierFlags() == modifierFlags;
          }).empty();
}

void BlockHotKeyCenter::unregisterHotKey(const std::shared_ptr<BlockHotKey>& hotKey) {
  if (!hotKey || !hotKey->madeByCenter_) {
    fnd::raiseFailure(fnd::kInvalidArgumentException, "Invalid hotkey");
    return;
  }
  unregisterHotKeysMatchingPredicate([&](const BlockHotKey& k) { return &k == hotKey.get(); });
}

void BlockHotKeyCenter::unregisterHotKeysWithTarget(const std::shared_ptr<BlockHotKeyTarget>& target) {
  unregisterHotKeysMatchingPredicate([&](const BlockHotKey& k) { return k.target() == target; });
}

void BlockHotKeyCenter::unregisterHotKeysWithTarget(const std::shared_ptr<BlockHotKeyTarget>& target,
                                                    const std::string& action) {
  unregisterHotKeysMatchingPredicate([&](const BlockHotKey& k) { return k.target() == target && k.action() == action; });
}

void BlockHotKeyCenter::unregisterHotKeyWithKeyCode(std::uint16_t keyCode, std::uint64_t modifierFlags) {
  unregisterHotKeysMatchingPredicate(
      [&](const BlockHotKey& k) { return k.keyCode() == keyCode && k.modifierFlags() == modifierFlags; });
}

void BlockHotKeyCenter::unregisterHotKeysMatchingPredicate(const Predicate& predicate) {
  KESTO_ASSERT_MAIN_THREAD();
  auto matching = hotKeysMatchingPredicate(predicate);
  auto& keys = registry().hotKeys;
  // All leave the registry before the desktop is told, so nothing fires for them meanwhile.
  keys.erase(std::remove_if(keys.begin(), keys.end(), [&](const auto& k) { return predicate(*k); }), keys.end());
  for (const auto& k : matching) {
    GlobalHotKeyCenter::sharedCenter().backend().unregisterCombo(k->reference_);
    k->reference_ = 0;
  }
}

std::vector<std::shared_ptr<BlockHotKey>> BlockHotKeyCenter::hotKeysMatchingPredicate(const Predicate& predicate) const {
  std::vector<std::shared_ptr<BlockHotKey>> found;
  for (const auto& k : registry().hotKeys)
    if (predicate(*k)) found.push_back(k);
  return found;
}

std::vector<std::shared_ptr<BlockHotKey>> BlockHotKeyCenter::registeredHotKeys() const {
  return hotKeysMatchingPredicate([](const BlockHotKey& k) { return k.isRegistered(); });
}

}  // namespace kesto
