#pragma once

#include "Platform/Foundation/FoundationNotifications.h"
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace kesto::fnd {


// Records undo actions in groups and replays them. An action registered while undoing goes to
// the redo stack; one registered while redoing, or normally, to the undo stack (a normal
// registration clears the redo stack).
//
// With groupsByEvent (the default), a registration outside any group opens one that closes when
// the current pass of the main event loop ends, so everything one user action changes is undone
// together. Use from one thread (the main thread for grouping by event).
class UndoManager {
 public:
  using Action = std::function<void()>;

  UndoManager();
  ~UndoManager();
  UndoManager(const UndoManager&) = delete;
  UndoManager& operator=(const UndoManager&) = delete;

  // How many top-level groups are kept (0 = no limit); the oldest go first.
  void setLevelsOfUndo(std::size_t levels);
  std::size_t levelsOfUndo() const;

  void setGroupsByEvent(bool groupsByEvent);
  bool groupsByEvent() const;

  void beginUndoGrouping();
  // Ending a group that was never begun is a contract failure and is ignored.
  void endUndoGrouping();
  int groupingLevel() const;

  // Records `action` (which should undo a change of `target` and, usually, register its own
  // opposite). `target` may be null; removeAllActionsWithTarget drops by it.
  void registerUndoWithTarget(const void* target, Action action);

  void disableUndoRegistration();
  void enableUndoRegistration();
  bool isUndoRegistrationEnabled() const;

  bool canUndo() const;
  bool canRedo() const;
  // Closes a group opened by event grouping first, then undoes the last group.
  void undo();
  void redo();
  // Undoes the last group without closing an open one.
  void undoNestedGroup();
  bool isUndoing() const;
  bool isRedoing() const;

  // Names the current (open, else last) group: "Delete" makes "Undo Delete".
  void setActionName(const std::string& name);
  std::string undoActionName() const;
  std::string redoActionName() const;
  std::string undoMenuItemTitle() const;
  std::string redoMenuItemTitle() const;

  void removeAllActions();
  void removeAllActionsWithTarget(const void* target);

 private:
  struct Impl;
  // Replays the last undo (or redo) group; what its actions register forms the opposite group.
  void replayLast(bool redo);
  std::unique_ptr<Impl> impl_;
};

}  // namespace kesto::fnd
