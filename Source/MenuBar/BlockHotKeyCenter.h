#pragma once

#include "Platform/Foundation/Value.h"
#include "Platform/UI/Event.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kesto {

// What a hot key's target and action stand for: an object that answers whether it handles an
// action by name, and performs it with the key event and the hot key's object.
class BlockHotKeyTarget {
 public:
  virtual ~BlockHotKeyTarget() = default;
  virtual bool respondsToAction(const std::string& action) const = 0;
  virtual void performAction(const std::string& action, const ui::Event& event, const fnd::Value& object) = 0;
};

// One hot key of the block hot-key centre: a key code with Cocoa modifier flags, and either a
// target and action or a task. Two hot keys are equal when key code and flags are; what they
// invoke is not compared. Only the centre makes registered ones.
class BlockHotKey {
 public:
  using Task = std::function<void(const ui::Event&)>;

  BlockHotKey(std::uint16_t keyCode, std::uint64_t modifierFlags) : keyCode_(keyCode), modifierFlags_(modifierFlags) {}

  const std::shared_ptr<BlockHotKeyTarget>& target() const { return target_; }
  const std::string& action() const { return action_; }
  const fnd::Value& object() const { return object_; }
  std::uint16_t keyCode() const { return keyCode_; }
  std::uint64_t modifierFlags() const { return modifierFlags_; }
  const Task& task() const { return task_; }
  // The desktop registration's number; 0 until registered.
  std::uint32_t hotKeyID() const { return hotKeyID_; }
  bool isRegistered() const { return reference_ != 0; }

  std::size_t hash() const { return std::size_t(keyCode_) + std::size_t(modifierFlags_); }
  bool operator==(const BlockHotKey& other) const {
    return keyCode_ == other.keyCode_ && modifierFlags_ == other.modifierFlags_;
  }
  // "<BlockHotKey: 0x…>\n\t(key: 35\n\tflags: (NSCommandKeyMask)\n\tinvokes: [target action])",
  // or "invokes: (block)" without a target and action.
  std::string description() const;

  // Sends the action to the target when it handles it; otherwise runs the task.
  void invoke(const ui::Event& event) const;

 private:
  friend class BlockHotKeyCenter;
  std::shared_ptr<BlockHotKeyTarget> target_;
  std::string action_;
  fnd::Value object_;
  std::uint16_t keyCode_;
  std::uint64_t modifierFlags_;
  Task task_;
  std::uint32_t hotKeyID_ = 0, reference_ = 0;
  bool madeByCenter_ = false;
};

// Cocoa modifier flags to Carbon ones (control, command, shift, option); other bits are dropped.
std::uint32_t carbonModifierFlags(std::uint64_t cocoaFlags);
// "(NSControlKeyMask | NSShiftKeyMask)", or "ERROR: No valid flags" without any of the four.
std::string modifierFlagsDescription(std::uint64_t cocoaFlags);

// A second registry of system-wide hot keys, over the same desktop backend as the application's
// hot key, firing when the key is let go. Every centre object shares one registry. Nothing in
// the application registers with it; it is a component that stands ready. Main thread only.
class BlockHotKeyCenter {
 public:
  using Predicate = std::function<bool(const BlockHotKey&)>;

  // False when that key code and exactly those flags are registered already, or when the
  // desktop refuses.
  bool registerHotKeyWithKeyCode(std::uint16_t keyCode, std::uint64_t modifierFlags, BlockHotKey::Task task);
  bool registerHotKeyWithKeyCode(std::uint16_t keyCode, std::uint64_t modifierFlags,
                                 std::shared_ptr<BlockHotKeyTarget> target, std::string action, fnd::Value object);
  bool hasRegisteredHotKeyWithKeyCode(std::uint16_t keyCode, std::uint64_t modifierFlags) const;

  // A hot key the centre did not make is a broken contract ("Invalid hotkey").
  void unregisterHotKey(const std::shared_ptr<BlockHotKey>& hotKey);
  void unregisterHotKeysWithTarget(const std::shared_ptr<BlockHotKeyTarget>& target);
  void unregisterHotKeysWithTarget(const std::shared_ptr<BlockHotKeyTarget>& target, const std::string& action);
  void unregisterHotKeyWithKeyCode(std::uint16_t keyCode, std::uint64_t modifierFlags);
  void unregisterHotKeysMatchingPredicate(const Predicate& predicate);

  std::vector<std::shared_ptr<BlockHotKey>> hotKeysMatchingPredicate(const Predicate& predicate) const;
  std::vector<std::shared_ptr<BlockHotKey>> registeredHotKeys() const;

 private:
  bool add(const std::shared_ptr<BlockHotKey>& hotKey);
  static void fire(std::uint32_t hotKeyID);
};

}  // namespace kesto
