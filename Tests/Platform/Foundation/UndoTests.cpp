#include "Harness/TestSupport.h"
#include "Platform/Foundation/Assert.h"
#include "Platform/Foundation/FoundationNotifications.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/UndoManager.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

using namespace kesto::fnd;

namespace {

// A value whose every change can be undone, the way store objects register their changes.
struct Counter {
  UndoManager& undo;
  int value = 0;
  void set(int v) {
    int old = value;
    undo.registerUndoWithTarget(this, [this, old] { set(old); });
    value = v;
  }
};

}  // namespace

TEST(UndoManager, ChangesOfOneEventLoopPassUndoTogether) {
  UndoManager undo;
  Counter c{undo};
  c.set(1);
  c.set(2);
  EXPECT_EQ(undo.groupingLevel(), 1);
  EXPECT_TRUE(undo.canUndo());
  kesto::test::spin(0.02);  // the pass ends: the group closes
  EXPECT_EQ(undo.groupingLevel(), 0);
  c.set(3);
  kesto::test::spin(0.02);

  undo.undo();
  EXPECT_EQ(c.value, 2);
  undo.undo();
  EXPECT_EQ(c.value, 0);
  EXPECT_FALSE(undo.canUndo());
}

TEST(UndoManager, UndoClosesTheOpenEventGroupFirst) {
  UndoManager undo;
  Counter c{undo};
  c.set(5);
  c.set(6);
  undo.undo();  // still in the same pass
  EXPECT_EQ(c.value, 0);
  EXPECT_TRUE(undo.canRedo());
}

TEST(UndoManager, UndoFeedsRedoAndANewChangeClearsRedo) {
  UndoManager undo;
  undo.setGroupsByEvent(false);
  Counter c{undo};
  undo.beginUndoGrouping();
  c.set(1);
  undo.endUndoGrouping();
  undo.beginUndoGrouping();
  c.set(2);
  undo.endUndoGrouping();

  undo.undo();
  EXPECT_EQ(c.value, 1);
  EXPECT_TRUE(undo.canRedo());
  undo.redo();
  EXPECT_EQ(c.value, 2);
  undo.undo();
  undo.undo();
  EXPECT_EQ(c.value, 0);
  undo.redo();
  EXPECT_EQ(c.value, 1);

  undo.beginUndoGrouping();
  c.set(9);
  undo.endUndoGrouping();
  EXPECT_FALSE(undo.canRedo());
  undo.undo();
  EXPECT_EQ(c.value, 1);
}

TEST(UndoManager, KeepsOnlyTheConfiguredNumberOfLevels) {
  UndoManager undo;
  undo.setGroupsByEvent(false);
  undo.setLevelsOfUndo(3);
  Counter c{undo};
  for (int i = 1; i <= 5; ++i) {
    undo.beginUndoGrouping();
    c.set(i);
    undo.endUndoGrouping();
  }
  int undos = 0;
  while (undo.canUndo()) {
    undo.undo();
    ++undos;
  }
  EXPECT_EQ(undos, 3);
  EXPECT_EQ(c.value, 2);
}

TEST(UndoManager, ActionNamesFollowTheGroupIntoRedo) {
  UndoManager undo;
  Counter c{undo};
  EXPECT_EQ(undo.undoMenuItemTitle(), "Undo");
  c.set(1);
  undo.setActionName("Delete");
  kesto::test::spin(0.02);
  EXPECT_EQ(undo.undoActionName(), "Delete");
  EXPECT_EQ(undo.undoMenuItemTitle(), "Undo Delete");
  undo.undo();
  EXPECT_EQ(undo.redoMenuItemTitle(), "Redo Delete");
  EXPECT_EQ(undo.undoActionName(), "");
  undo.redo();
  EXPECT_EQ(undo.undoActionName(), "Delete");
}

TEST(UndoManager, NestedGroupsUndoAsOne) {
  UndoManager undo;
  undo.setGroupsByEvent(false);
  Counter c{undo};
  undo.beginUndoGrouping();
  c.set(1);
  undo.beginUndoGrouping();
  c.set(2);
  c.set(3);
  undo.endUndoGrouping();
  c.set(4);
  undo.endUndoGrouping();
  undo.undo();
  EXPECT_EQ(c.value, 0);
  undo.redo();
  EXPECT_EQ(c.value, 4);
}

TEST(UndoManager, RemovingATargetDropsOnlyItsActions) {
  UndoManager undo;
  undo.setGroupsByEvent(false);
  Counter a{undo}, b{undo};
  undo.beginUndoGrouping();
  a.set(1);
  b.set(1);
  undo.endUndoGrouping();
  undo.beginUndoGrouping();
  a.set(2);
  undo.endUndoGrouping();

  undo.removeAllActionsWithTarget(&a);
  EXPECT_TRUE(undo.canUndo());
  undo.undo();  // only b's change is left
  EXPECT_EQ(a.value, 2);
  EXPECT_EQ(b.value, 0);
  EXPECT_FALSE(undo.canUndo());  // a's own group became empty and went away
}

TEST(UndoManager, DisabledRegistrationRecordsNothing) {
  UndoManager undo;
  Counter c{undo};
  undo.disableUndoRegistration();
  c.set(1);
  undo.enableUndoRegistration();
  EXPECT_FALSE(undo.canUndo());
  EXPECT_THROW(undo.enableUndoRegistration(), ContractViolation);
}

TEST(UndoManager, UnbalancedGroupingIsABrokenContract) {
  UndoManager undo;
  undo.setGroupsByEvent(false);
  EXPECT_THROW(undo.endUndoGrouping(), ContractViolation);
  Counter c{undo};
  EXPECT_THROW(c.set(1), ContractViolation);  // no group open and no event grouping
}

TEST(UndoManager, ManagerGoneBeforeTheLoopTurnsIsHarmless) {
  {
    UndoManager undo;
    Counter c{undo};
    c.set(1);
  }
  kesto::test::spin(0.02);  // the pending group close must find nothing to do
  SUCCEED();
}

TEST(UndoManager, ThrowingActionLeavesTheManagerUsable) {
  UndoManager undo;
  undo.setGroupsByEvent(false);
  Counter c{undo};
  undo.beginUndoGrouping();
  c.set(1);
  undo.registerUndoWithTarget(&c, [] { throw std::runtime_error("store gone"); });
  undo.endUndoGrouping();

  // The throwing step is logged; the rest of the group is still undone and redo is offered.
  EXPECT_NO_THROW(undo.undo());
  EXPECT_EQ(c.value, 0);
  EXPECT_FALSE(undo.isUndoing());
  EXPECT_EQ(undo.groupingLevel(), 0);
  EXPECT_TRUE(undo.canRedo());

  undo.beginUndoGrouping();
  c.set(5);
  undo.endUndoGrouping();
  undo.undo();
  EXPECT_EQ(c.value, 0);
}

TEST(UndoManager, UndoAndRedoAnnounceThemselvesAroundTheirOwnGroup) {
  UndoManager undo;
  undo.setGroupsByEvent(false);
  Counter c{undo};
  std::vector<std::string> heard;
  auto& center = NotificationCenter::defaultCenter();
  // Checkpoints come with every group opened and closed; the rest tell the story.
  center.addObserver(&heard, [&](const Notification& n) {
    if (n.name != kUndoManagerCheckpointNotification) heard.emplace_back(n.name.text());
  }, {}, &undo);
  undo.beginUndoGrouping();
  c.set(1);
  undo.endUndoGrouping();
  heard.clear();
  undo.undo();
  const std::vector<std::string> undone{"NSUndoManagerWillUndoChangeNotification",
                                        "NSUndoManagerDidOpenUndoGroupNotification",
                                        "NSUndoManagerDidCloseUndoGroupNotification",
                                        "NSUndoManagerDidUndoChangeNotification"};
  EXPECT_EQ(heard, undone);
  EXPECT_FALSE(undo.isUndoing());
  heard.clear();
  undo.redo();
  const std::vector<std::string> redone{"NSUndoManagerWillRedoChangeNotification",
                                        "NSUndoManagerDidOpenUndoGroupNotification",
                                        "NSUndoManagerDidCloseUndoGroupNotification",
                                        "NSUndoManagerDidRedoChangeNotification"};
  EXPECT_EQ(heard, redone);
  EXPECT_EQ(c.value, 1);
  EXPECT_FALSE(undo.isRedoing());
  center.removeObserver(&heard);

  // Inside a group still open, a nested undo closes only the group it opened, which becomes part
  // of the open one: undoing that brings the change back.
  undo.beginUndoGrouping();
  undo.undoNestedGroup();
  EXPECT_EQ(c.value, 0);
  EXPECT_EQ(undo.groupingLevel(), 1);
  EXPECT_FALSE(undo.canRedo());
  undo.endUndoGrouping();
  undo.undo();
  EXPECT_EQ(c.value, 1);
}
