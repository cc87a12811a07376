#include "SidebarFixture.h"

#include "Model/RecordedServiceCalls.h"
#include "Model/Service.h"

namespace kesto::test {
namespace {

using FolderDropTest = FolderListTest;

std::string bm(const Bookmark::Ref& b) { return "bm:" + *b->uniqueIDValue() + "\n"; }
std::string fd(const Folder::Ref& f) { return "folder:" + f->folderID(); }

std::vector<std::string> childNames(const std::string& parent) {
  std::vector<store::SortDescriptor> sorts{store::SortDescriptor("orderIndex", true)};
  std::vector<std::string> out;
  for (auto& f : Folder::fetchEntitiesWithPredicate(store::Predicate::parse("parentFolderID == %@", {parent}), &sorts)
                     .value_or(Folder::List{}))
    if (f->folderID() != Folder::kInboxID && f->folderID() != Folder::kImportedID) out.push_back(f->name());
  return out;
}

TEST_F(FolderDropTest, AFolderNeverMovesIntoItselfOrItsSubtree) {
  auto a = folder("A");
  auto child = folder("Child", a->folderID());
  auto grandchild = folder("Grandchild", child->folderID());
  ASSERT_NO_FATAL_FAILURE(start());
  EXPECT_FALSE(controller->acceptDrop(fd(a), a->folderID(), -1, false));
  EXPECT_FALSE(controller->acceptDrop(fd(a), grandchild->folderID(), -1, false));
  EXPECT_EQ(Folder::existingFolderWithFolderID(a->folderID())->parentFolderID(), Folder::kRootID);
  // Nor onto the Inbox or a service row.
  EXPECT_FALSE(controller->acceptDrop(fd(a), Folder::kInboxID, -1, false));
  EXPECT_FALSE(controller->acceptDrop(fd(a), "pinboard", -1, false));
  ui::OutlineDraggingInfo info;
  info.payload.setString(ui::DragPayload::PlainText, fd(a));
  EXPECT_EQ(controller->sourceListValidateDropProposedItemProposedChildIndex(list(), info, controller->inboxItem(), -1),
            ui::DragOperation::None);
}

TEST_F(FolderDropTest, StaleDragIdentifiersCreateNothing) {
  auto target = folder("Target");
  ASSERT_NO_FATAL_FAILURE(start());
  const auto folders = Folder::countWithPredicate(nullptr), bookmarks = Bookmark::countWithPredicate(nullptr);
  EXPECT_FALSE(controller->acceptDrop("folder:no-such-folder", target->folderID(), -1, false));
  controller->acceptDrop("bm:no-such-bookmark\n", target->folderID(), -1, false);
  controller->acceptDrop("bm:no-such-bookmark\n", "home", -1, false);
  EXPECT_FALSE(controller->acceptDrop("bm:x\n", "no-such-target", -1, false));
  save();
  EXPECT_EQ(Bookmark::countWithPredicate(nullptr), bookmarks);
  // Three top-level folders already (Inbox, Imported, Target): the new-folder drop makes none.
  EXPECT_EQ(Folder::countWithPredicate(nullptr), folders);
  EXPECT_FALSE(Folder::existingFolderWithFolderID("no-such-folder"));
}

TEST_F(FolderDropTest, DroppingOnAFolderRowMakesItTheFirstChildAndRenumbers) {
  auto a = folder("A", Folder::kRootID, 1);
  auto b = folder("B", Folder::kRootID, 2);
  folder("B1", b->folderID(), 1);
  auto a1 = folder("A1", a->folderID(), 1);
  ASSERT_NO_FATAL_FAILURE(start());
  const auto version = a1->version();
  ASSERT_TRUE(controller->acceptDrop(fd(a1), b->folderID(), -1, false));
  EXPECT_EQ(childNames(b->folderID()), (std::vector<std::string>{"A1", "B1"}));
  EXPECT_TRUE(childNames(a->folderID()).empty());
  EXPECT_GT(a1->version(), version);
  EXPECT_EQ(titles(controller->itemForFolderID(b->folderID())), (std::vector<std::string>{"A1", "B1"}));
}

TEST_F(FolderDropTest, ReorderingAmongTopLevelFoldersSkipsTheFixedRows) {
  auto a = folder("A", Folder::kRootID, 1);
  auto b = folder("B", Folder::kRootID, 2);
  auto c = folder("C", Folder::kRootID, 3);
  ASSERT_NO_FATAL_FAILURE(start());
  // Rows under Library: Inbox, Delicious, Pinboard, Imported, A, B, C. Between A and B is 5.
  ASSERT_TRUE(controller->acceptDrop(fd(c), "home", 5, false));
  EXPECT_EQ(childNames(Folder::kRootID), (std::vector<std::string>{"A", "C", "B"}));
  // Just below itself (index 7 is after B... C is at 5 now; 6 is just below it): no change.
  ASSERT_TRUE(controller->acceptDrop(fd(c), "home", 6, false));
  EXPECT_EQ(childNames(Folder::kRootID), (std::vector<std::string>{"A", "C", "B"}));
  // Down by one: just below the next sibling swaps them.
  ASSERT_TRUE(controller->acceptDrop(fd(a), "home", 6, false));
  EXPECT_EQ(childNames(Folder::kRootID), (std::vector<std::string>{"C", "A", "B"}));
  // Past the end changes nothing.
  controller->acceptDrop(fd(a), "home", 40, false);
  EXPECT_EQ(childNames(Folder::kRootID), (std::vector<std::string>{"C", "A", "B"}));
  EXPECT_EQ(titles(controller->homeItem()),
            (std::vector<std::string>{"Inbox", "Delicious", "Pinboard", "Imported", "C", "A", "B"}));

  // With the service rows hidden there are two fixed rows.
  defaults().setBool(true, "disableDelicious");
  defaults().setBool(true, "disablePinboard");
  controller->loadFolders();
  ASSERT_TRUE(controller->acceptDrop(fd(b), "home", 2, false));
  EXPECT_EQ(childNames(Folder::kRootID), (std::vector<std::string>{"B", "C", "A"}));
}

TEST_F(FolderDropTest, FolderDragsWaitForManualOrder) {
  auto a = folder("A");
  auto b = folder("B");
  ASSERT_NO_FATAL_FAILURE(start());
  controller->toggleFolderSorting(0);
  EXPECT_FALSE(controller->acceptDrop(fd(a), b->folderID(), -1, false));
  ASSERT_FALSE(dialogs->alerts.empty());
  EXPECT_NE(dialogs->alerts.back().informative.find("alphabetically sorted"), std::string::npos);
  EXPECT_EQ(Folder::existingFolderWithFolderID(a->folderID())->parentFolderID(), Folder::kRootID);
}

TEST_F(FolderDropTest, BookmarksMoveOrCopyAndBadgesFollow) {
  auto from = folder("From");
  auto to = folder("To");
  auto locked = folder("Locked");
  locked->setBlocked(1);
  auto b1 = bookmark("http://1.example/", from);
  auto b2 = bookmark("http://2.example/", from);
  auto trashed = bookmark("http://t.example/", from);
  trashed->setTrashed(1);
  ASSERT_NO_FATAL_FAILURE(start());
  EXPECT_EQ(badge(from), 2);
  ASSERT_TRUE(controller->acceptDrop(bm(b1), to->folderID(), -1, false));
  EXPECT_EQ(b1->folder()->folderID(), to->folderID());
  EXPECT_EQ(badge(from), 1);
  EXPECT_EQ(badge(to), 1);

  const auto count = Bookmark::countWithPredicate(nullptr);
  ASSERT_TRUE(controller->acceptDrop(bm(b2), to->folderID(), -1, true));
  EXPECT_EQ(Bookmark::countWithPredicate(nullptr), count + 1);
  EXPECT_EQ(b2->folder()->folderID(), from->folderID());
  EXPECT_EQ(badge(to), 2);
  // Copying a trashed bookmark takes it out of the trash instead.
  ASSERT_TRUE(controller->acceptDrop(bm(trashed), to->folderID(), -1, true));
  EXPECT_EQ(Bookmark::countWithPredicate(nullptr), count + 1);
  EXPECT_EQ(trashed->trashed(), 0);
  EXPECT_EQ(trashed->folder()->folderID(), to->folderID());
  // The last emptied folder loses its badge.
  ASSERT_TRUE(controller->acceptDrop(bm(b2), to->folderID(), -1, false));
  EXPECT_EQ(badge(from), std::nullopt);

  // A locked folder takes no drop; the copy modifier shows as a copy.
  ui::OutlineDraggingInfo info;
  info.payload.setString(ui::DragPayload::PlainText, bm(b1));
  EXPECT_EQ(controller->sourceListValidateDropProposedItemProposedChildIndex(
                list(), info, controller->itemForFolderID(locked->folderID()), -1),
            ui::DragOperation::None);
  info.sourceOperationMask = ui::DragOperation::Copy;
  EXPECT_EQ(controller->sourceListValidateDropProposedItemProposedChildIndex(
                list(), info, controller->itemForFolderID(to->folderID()), -1),
            ui::DragOperation::Copy);
  info.sourceOperationMask = ui::DragOperation::Every;
  EXPECT_EQ(controller->sourceListValidateDropProposedItemProposedChildIndex(
                list(), info, controller->itemForFolderID(to->folderID()), -1),
            ui::DragOperation::Generic);
}

TEST_F(FolderDropTest, BookmarksOntoTheLibraryRowMakeANewFolderWhileTheLibraryHasNone) {
  auto inInbox = bookmark("http://inbox.example/", nullptr);
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_TRUE(controller->acceptDrop(bm(inInbox), "home", -1, false));
  ASSERT_TRUE(inInbox->folder());
  EXPECT_EQ(inInbox->folder()->name(), "New Folder");
  EXPECT_EQ(inInbox->folder()->parentFolderID(), Folder::kRootID);
  EXPECT_TRUE(controller->itemForFolderID(inInbox->folder()->folderID()));
  // With three top-level folders, none is made.
  EXPECT_FALSE(controller->acceptDrop(bm(inInbox), "home", -1, false));
}

TEST_F(FolderDropTest, OnlyTheSelectedFolderStartsADrag) {
  auto a = folder("A");
  auto b = folder("B");
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_NO_FATAL_FAILURE(select(a->folderID()));
  ui::DragPayload payload;
  EXPECT_FALSE(controller->sourceListWriteItemsToPasteboard(list(), {controller->itemForFolderID(b->folderID())}, payload));
  EXPECT_FALSE(controller->sourceListWriteItemsToPasteboard(list(), {controller->inboxItem()}, payload));
  ASSERT_TRUE(controller->sourceListWriteItemsToPasteboard(list(), {controller->itemForFolderID(a->folderID())}, payload));
  EXPECT_EQ(payload.string(ui::DragPayload::PlainText), std::optional<std::string>(fd(a)));
  ASSERT_NO_FATAL_FAILURE(select("home"));
  ui::DragPayload library;
  ASSERT_TRUE(controller->sourceListWriteItemsToPasteboard(list(), {controller->homeItem()}, library));
  EXPECT_EQ(library.string(ui::DragPayload::PlainText), std::optional<std::string>("invalid:DragItem"));
  EXPECT_FALSE(controller->acceptDrop("invalid:DragItem", a->folderID(), -1, false));
}

TEST_F(FolderDropTest, AServiceDropMarksOnlyBookmarksTheServiceLacks) {
  auto f = folder("F");
  auto b = bookmark("http://svc.example/", f);
  ASSERT_NO_FATAL_FAILURE(start());
  EXPECT_FALSE(controller->acceptDrop(bm(b), "pinboard", -1, false)) << "no account";
  auto pinboard = Service::initEntity();
  pinboard->setValue(0, fnd::Value("pinboard"));
  save();
  ASSERT_TRUE(controller->acceptDrop(bm(b), "pinboard", -1, false));
  EXPECT_EQ(b->serviceNames(), std::vector<std::string>{"pinboard"});
  EXPECT_FALSE(b->folder());
  const auto count = Bookmark::countWithPredicate(nullptr);
  ASSERT_TRUE(controller->acceptDrop(bm(b), "pinboard", -1, true));
  EXPECT_EQ(Bookmark::countWithPredicate(nullptr), count);
  // Moving it into a folder takes the mark off.
  ASSERT_TRUE(controller->acceptDrop(bm(b), f->folderID(), -1, false));
  EXPECT_TRUE(b->serviceNames().empty());
}

TEST_F(FolderDropTest, AServiceDropPostsEachNewlyMarkedBookmarkOnce) {
  auto f = folder("F");
  auto a = bookmark("http://a.example/", f);
  auto b = bookmark("http://b.example/", f);
  auto c = bookmark("http://c.example/", f);
  auto pinboard = Service::initEntity();
  pinboard->setValue(0, fnd::Value("pinboard"));
  c->addService(pinboard);
  save();
  ASSERT_NO_FATAL_FAILURE(start());
  RecordedServiceCalls calls;
  const auto version = a->version();
  // c already carries the mark and is skipped; a copy drop posts the copy.
  ASSERT_TRUE(controller->acceptDrop(bm(a) + bm(c), "pinboard", -1, false));
  ASSERT_TRUE(controller->acceptDrop(bm(b), "pinboard", -1, true));
  EXPECT_EQ(calls.bookmarks, (std::vector<std::string>{"pinboard http://a.example/", "pinboard http://b.example/"}));
  EXPECT_GT(a->version(), version);
}

}  // namespace
}  // namespace kesto::test
