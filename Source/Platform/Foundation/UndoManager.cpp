#include "Platform/Foundation/UndoManager.h"

#include "Platform/Foundation/Assert.h"
#include "Platform/Foundation/Lifetime.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/RunLoop.h"
#include "Platform/Foundation/RunLoop_p.h"

#include <deque>
#include <vector>

namespace kesto::fnd {

namespace {

struct Group;

// One recorded step: an action, or a nested group.
struct Item {
  const void* target = nullptr;
  UndoManager::Action action;
  std::unique_ptr<Group> group;
};

struct Group {
  std::vector<Item> items;
  std::string actionName;

  bool empty() const { return items.empty(); }

  // Undoing replays the most recent step first.
  void replay() {
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
      if (it->group)
        it->group->replay();
      else if (it->action)
        runGuarded(it->action);  // a throwing step must not leave the manager stuck mid-undo
    }
  }

  void removeTarget(const void* target) {
    std::vector<Item> kept;
    for (auto& item : items) {
      if (item.group) {
        item.group->removeTarget(target);
        if (!item.group->empty()) kept.push_back(std::move(item));
      } else if (item.target != target) {
        kept.push_back(std::move(item));
      }
    }
    items = std::move(kept);
  }
};

using Stack = std::deque<std::unique_ptr<Group>>;

}  // namespace

struct UndoManager::Impl {
  enum class State { Normal, Undoing, Redoing };

  Stack undoStack;
  Stack redoStack;
  std::vector<std::unique_ptr<Group>> open;  // open groups, outermost first
  State state = State::Normal;
  std::size_t levels = 0;
  bool groupsByEvent = true;
  bool eventGroupOpen = false;  // the outermost open group was opened by event grouping
  int disabled = 0;
  Lifetime lifetime;

  void trim() {
    if (levels == 0) return;
    while (undoStack.size() > levels) undoStack.pop_front();
    while (redoStack.size() > levels) redoStack.pop_front();
  }
};

UndoManager::UndoManager() : impl_(std::make_unique<Impl>()) {}
UndoManager::~UndoManager() = default;

void UndoManager::setLevelsOfUndo(std::size_t levels) {
  impl_->levels = levels;
  impl_->trim();
}
std::size_t UndoManager::levelsOfUndo() const { return impl_->levels; }

void UndoManager::setGroupsByEvent(bool groupsByEvent) { impl_->groupsByEvent = groupsByEvent; }
bool UndoManager::groupsByEvent() const { return impl_->groupsByEvent; }

void UndoManager::beginUndoGrouping() {
  NotificationCenter::defaultCenter().postNotificationName(kUndoManagerCheckpointNotification, this);
  impl_->open.push_back(std::make_unique<Group>());
  NotificationCenter::defaultCenter().postNotificationName(kUndoManagerDidOpenUndoGroupNotification, this);
}

void UndoManager::endUndoGrouping() {
  if (impl_->open.empty()) {
    assertionFailed("endUndoGrouping called with no open undo group");
    return;
  }
  NotificationCenter::defaultCenter().postNotificationName(kUndoManagerCheckpointNotification, this);
  std::unique_ptr<Group> group = std::move(impl_->open.back());
  impl_->open.pop_back();
  if (!impl_->open.empty()) {
    if (!group->empty()) impl_->open.back()->items.push_back(Item{nullptr, nullptr, std::move(group)});
  } else {
    impl_->eventGroupOpen = false;
    // A group that recorded nothing has nothing to undo.
    if (!group->empty()) {
      Stack& stack = impl_->state == Impl::State::Undoing ? impl_->redoStack : impl_->undoStack;
      stack.push_back(std::move(group));
      impl_->trim();
    }
  }
  NotificationCenter::defaultCenter().postNotificationName(kUndoManagerDidCloseUndoGroupNotification, this);
}

int UndoManager::groupingLevel() const { return static_cast<int>(impl_->open.size()); }

void UndoManager::registerUndoWithTarget(const void* target, Action action) {
  if (!action || impl_->disabled > 0) return;
  if (impl_->open.empty()) {
    if (!impl_->groupsByEvent) {
      assertionFailed("registerUndoWithTarget called with no open undo group");
      return;
    }
    beginUndoGrouping();
    impl_->eventGroupOpen = true;
    // The group closes when the main loop comes round again, after the current event.
    RunLoop::main().perform([this, alive = impl_->lifetime.watch()] {
      if (!alive || !impl_->eventGroupOpen) return;
      while (impl_->open.size() > 1) endUndoGrouping();  // groups left open by mistake
      if (impl_->open.size() == 1) endUndoGrouping();
    });
  }
  impl_->open.back()->items.push_back(Item{target, std::move(action), nullptr});
  if (impl_->state == Impl::State::Normal) impl_->redoStack.clear();
}

void UndoManager::disableUndoRegistration() { ++impl_->disabled; }

void UndoManager::enableUndoRegistration() {
  if (impl_->disabled == 0) {
    assertionFailed("enableUndoRegistration called without a matching disable");
    return;
  }
  --impl_->disabled;
}

bool UndoManager::isUndoRegistrationEnabled() const { return impl_->disabled == 0; }

bool UndoManager::canUndo() const {
  if (!impl_->undoStack.empty()) return true;
  return !impl_->open.empty() && !impl_->open.front()->empty();
}

bool UndoManager::canRedo() const { return !impl_->redoStack.empty(); }

void UndoManager::undo() {
  if (impl_->groupsByEvent && impl_->open.size() == 1) endUndoGrouping();
  if (!impl_->open.empty()) {
    assertionFailed("undo called with an undo group still open");
    return;
  }
  undoNestedGroup();
}

void UndoManager::undoNestedGroup() {
  if (impl_->undoStack.empty() || impl_->state != Impl::State::Normal) return;
  replayLast(false);
}

void UndoManager::redo() {
  if (impl_->redoStack.empty() || impl_->state != Impl::State::Normal) return;
  if (!impl_->open.empty()) {
    assertionFailed("redo called with an undo group still open");
    return;
  }
  replayLast(true);
}

void UndoManager::replayLast(bool redo) {
  auto& stack = redo ? impl_->redoStack : impl_->undoStack;
  auto& center = NotificationCenter::defaultCenter();
  center.postNotificationName(kUndoManagerCheckpointNotification, this);
  center.postNotificationName(redo ? kUndoManagerWillRedoChangeNotification : kUndoManagerWillUndoChangeNotification,
                              this);
  std::unique_ptr<Group> group = std::move(stack.back());
  stack.pop_back();
  impl_->state = redo ? Impl::State::Redoing : Impl::State::Undoing;
  // An undo may run inside groups still open (undoNestedGroup); only its own group is closed.
  std::size_t outer = impl_->open.size();
  beginUndoGrouping();
  impl_->open.back()->actionName = group->actionName;
  group->replay();
  while (impl_->open.size() > outer) endUndoGrouping();
  impl_->state = Impl::State::Normal;
  center.postNotificationName(redo ? kUndoManagerDidRedoChangeNotification : kUndoManagerDidUndoChangeNotification,
                              this);
}

bool UndoManager::isUndoing() const { return impl_->state == Impl::State::Undoing; }
bool UndoManager::isRedoing() const { return impl_->state == Impl::State::Redoing; }

void UndoManager::setActionName(const std::string& name) {
  if (!impl_->open.empty()) {
    impl_->open.front()->actionName = name;
    return;
  }
  Stack& stack = impl_->state == Impl::State::Undoing ? impl_->redoStack : impl_->undoStack;
  if (!stack.empty()) stack.back()->actionName = name;
}

std::string UndoManager::undoActionName() const {
  if (!impl_->open.empty() && impl_->state == Impl::State::Normal && !impl_->open.front()->empty())
    return impl_->open.front()->actionName;
  return impl_->undoStack.empty() ? std::string() : impl_->undoStack.back()->actionName;
}

std::string UndoManager::redoActionName() const {
  return impl_->redoStack.empty() ? std::string() : impl_->redoStack.back()->actionName;
}

std::string UndoManager::undoMenuItemTitle() const {
  std::string name = undoActionName();
  return name.empty() ? "Undo" : "Undo " + name;
}

std::string UndoManager::redoMenuItemTitle() const {
  std::string name = redoActionName();
  return name.empty() ? "Redo" : "Redo " + name;
}

void UndoManager::removeAllActions() {
  impl_->undoStack.clear();
  impl_->redoStack.clear();
  impl_->open.clear();
  impl_->eventGroupOpen = false;
  impl_->disabled = 0;
}

void UndoManager::removeAllActionsWithTarget(const void* target) {
  auto clean = [target](Stack& stack) {
    for (auto& g : stack) g->removeTarget(target);
    std::erase_if(stack, [](const std::unique_ptr<Group>& g) { return g->empty(); });
  };
  clean(impl_->undoStack);
  clean(impl_->redoStack);
  for (auto& g : impl_->open) g->removeTarget(target);
}

}  // namespace kesto::fnd
