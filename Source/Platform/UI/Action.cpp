#include "Platform/UI/Action.h"

#include "Platform/UI/Menu.h"

#include <algorithm>

namespace kesto::ui {

std::shared_ptr<MenuItem> Action::makeMenuItem(const std::string& itemTitle) const {
  auto item = std::make_shared<MenuItem>(itemTitle.empty() ? title : itemTitle, command, keyEquivalent);
  if (!keyEquivalent.empty()) item->setKeyEquivalentModifierMask(modifierMask);
  return item;
}

ActionSet& ActionSet::add(Action action) {
  auto same = std::find_if(actions_.begin(), actions_.end(), [&](const Action& a) { return a.command == action.command; });
  if (same != actions_.end()) *same = std::move(action);
  else actions_.push_back(std::move(action));
  return *this;
}

ActionSet& ActionSet::add(Command command, std::function<void()> run, std::function<bool()> isAvailable) {
  Action action{command};
  action.perform = [run = std::move(run)](Responder*) { return run(), true; };
  action.isAvailable = std::move(isAvailable);
  return add(std::move(action));
}

const Action* ActionSet::find(Command command) const {
  if (command.empty()) return nullptr;
  for (const auto& a : actions_)
    if (a.command == command) return &a;
  return nullptr;
}

const Action* ActionSet::available(Command command) const {
  const Action* action = find(command);
  return action && (!action->isAvailable || action->isAvailable()) ? action : nullptr;
}

bool ActionSet::perform(Command command, Responder* sender) const {
  const Action* action = available(command);
  if (!action || !action->perform) return false;
  // A copy: the action may replace the set's actions while it runs.
  auto run = action->perform;
  return run(sender);
}

bool ActionSet::validate(MenuItem& item) const {
  const Action* action = available(item.action());
  if (!action || !action->isEnabled) return true;
  auto answer = action->isEnabled;
  return answer(item);
}

const ActionSet& ActionResponder::actions() const {
  if (!filled_) {
    filled_ = true;
    // Filling is the subclass's own business, not a change the caller can see.
    const_cast<ActionResponder*>(this)->addActions(actions_);
  }
  return actions_;
}

ActionSet& ActionResponder::actions() {
  static_cast<const ActionResponder&>(*this).actions();
  return actions_;
}

}  // namespace kesto::ui
