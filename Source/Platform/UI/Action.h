#pragma once

#include "Platform/UI/Command.h"
#include "Platform/UI/Event.h"
#include "Platform/UI/Responder.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kesto::ui {

class MenuItem;

// One command as its owner answers it, whatever sent it: a menu-bar item, a context-menu item,
// a key equivalent or a toolbar button. The title and key equivalent are the menu bar's; a
// context menu may show its own title for the same command.
struct Action {
  Command command;
  std::string title = {};
  // A single character; an upper-case letter implies Shift. Empty: no key equivalent.
  std::string keyEquivalent = {};
  std::uint64_t modifierMask = ModifierFlag::Command;
  // Whether the command can run now, asked before a menu shows the item or its key is sent. It
  // may also set the item's state or title. None: always.
  std::function<bool(MenuItem& item)> isEnabled = {};
  // Runs the command; the sender is the item or control that sent it, if any. Answers false
  // when it could not run, so the command goes on along the responder chain.
  std::function<bool(Responder* sender)> perform = {};
  // Whether the owner takes the command at all now; while it does not, the command goes on
  // along the responder chain as if the owner had no such action. None: always.
  std::function<bool()> isAvailable = {};

  // A menu item showing this action (its title unless `title` is given), sent along the
  // responder chain.
  std::shared_ptr<MenuItem> makeMenuItem(const std::string& title = {}) const;
};

// The actions a responder answers, one per command; its respondsToAction, performAction and
// validateMenuItem read this one list.
class ActionSet {
 public:
  // Adds an action; a second one for the same command replaces the first.
  ActionSet& add(Action action);
  // Adds an action without title or key that runs `run` and always succeeds, taken only while
  // `isAvailable` answers true (always without it).
  ActionSet& add(Command command, std::function<void()> run, std::function<bool()> isAvailable = {});
  const Action* find(Command command) const;
  bool contains(Command command) const { return find(command) != nullptr; }
  // Whether the set has an action for the command that is available now.
  bool answers(Command command) const { return available(command) != nullptr; }
  // Runs the command's action; false when the set has none available for it or the action declined.
  bool perform(Command command, Responder* sender = nullptr) const;
  // The available action's answer for the item's command (true without an answer or an action).
  bool validate(MenuItem& item) const;
  const std::vector<Action>& actions() const { return actions_; }

 private:
  const Action* available(Command command) const;

  std::vector<Action> actions_;
};

// A responder that answers exactly the commands of its action set: a controller of the chain,
// or a menu item's target for commands that belong to no view or controller.
class ActionResponder : public Responder {
 public:
  ActionResponder() = default;
  explicit ActionResponder(ActionSet actions) : actions_(std::move(actions)), filled_(true) {}

  // Its commands; a subclass gives them in addActions, asked once on first use.
  const ActionSet& actions() const;
  ActionSet& actions();

  bool respondsToAction(Command command) const override { return actions().answers(command); }
  bool performAction(Command command, Responder* sender) override { return actions().perform(command, sender); }
  bool validateMenuItem(MenuItem& item) override { return actions().validate(item); }

 protected:
  virtual void addActions(ActionSet& actions) {}

 private:
  mutable ActionSet actions_;
  mutable bool filled_ = false;
};

}  // namespace kesto::ui
