#include "SidebarFixture.h"

#include "Harness/LocaleGuard.h"
#include "Harness/StoreConnection.h"

#include "Model/Config.h"
#include "Model/DataModel.h"
#include "Model/ViewUpdater.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Store/StoreNotifications.h"
#include "Platform/UI/Window.h"
#include "Synchronize/HTMLImport.h"

namespace kesto::test {
namespace {

using FolderTreeTest = FolderListTest;

TEST_F(FolderTreeTest, FirstStartMakesInboxAndImportedOnceAndFixedRowsLeadTheLibrary) {
  ASSERT_NO_FATAL_FAILURE(start());
  auto inbox = Folder::existingFolderWithFolderID(Folder::kInboxID);
  auto imported = Folder::existingFolderWithFolderID(Folder::kImportedID);
  ASSERT_TRUE(inbox);
  ASSERT_TRUE(imported);
  EXPECT_EQ(inbox->name(), "Inbox");
  EXPECT_EQ(imported->name(), "Imported");
  controller->createInboxAtFirstLaunch();
  EXPECT_EQ(Folder::countWithPredicate(store::Predicate::parse("folderID == %@", {std::string("_inbox")})), 1);
  EXPECT_EQ(titles(controller->homeItem()), (std::vector<std::string>{"Inbox", "Delicious", "Pinboard", "Imported"}));

  defaults().setBool(true, "disableDelicious");
  defaults().setBool(true, "disablePinboard");
  controller->loadFolders();
  EXPECT_EQ(titles(controller->homeItem()), (std::vector<std::string>{"Inbox", "Imported"}));
}

// The first start waits on the disk for each save before the window shows: Inbox and Imported
// go in one save, and a later start saves nothing.
TEST_F(FolderTreeTest, FirstStartMakesInboxAndImportedInOneSave) {
  int saves = 0;
  fnd::NotificationCenter::defaultCenter().addObserver(&saves, [&](const fnd::Notification&) { ++saves; },
                                                       store::kContextDidSaveNotification);
  FoldersController first;
  first.createInboxAtFirstLaunch();
  EXPECT_EQ(saves, 1);
  auto other = WrenDataManager::sharedInstance().newManagedObjectContext();
  for (const char* id : {Folder::kInboxID, Folder::kImportedID}) {
    auto stored = Folder::fetchEntityWhereProperty("folderID", fnd::Value(id), other);
    ASSERT_TRUE(stored) << id;
    EXPECT_EQ(stored->parentFolderID(), Folder::kRootID);
  }
  first.createInboxAtFirstLaunch();
  EXPECT_EQ(saves, 1);
  fnd::NotificationCenter::defaultCenter().removeObserver(&saves);
}

TEST_F(FolderTreeTest, ManualOrderNumbersTopLevelFromOneAndSubfoldersFromZero) {
  auto b = folder("B", Folder::kRootID, 7);
  auto a = folder("A", Folder::kRootID, 3);
  auto a2 = folder("A2", a->folderID(), 9);
  auto a1 = folder("A1", a->folderID(), 4);
  auto imp = folder("Imp", Folder::kImportedID, 5);
  ASSERT_NO_FATAL_FAILURE(start());
  // The Imported level shares the top level's numbering.
  EXPECT_EQ(titles(controller->homeItem()), (std::vector<std::string>{"Inbox", "Delicious", "Pinboard", "Imported", "A", "B"}));
  EXPECT_EQ(titles(controller->itemForFolderID(a->folderID())), (std::vector<std::string>{"A1", "A2"}));
  EXPECT_EQ(titles(controller->importedItem()), (std::vector<std::string>{"Imp"}));
  EXPECT_EQ(storedOrder(a), 1);
  EXPECT_EQ(storedOrder(imp), 2);
  EXPECT_EQ(storedOrder(b), 3);
  EXPECT_EQ(storedOrder(a1), 0);
  EXPECT_EQ(storedOrder(a2), 1);
  EXPECT_EQ(Folder::existingFolderWithFolderID(Folder::kInboxID)->orderIndex(), 0);

  // Alphabetical order renumbers nothing.
  b->setOrderIndex(42);
  save();
  controller->toggleFolderSorting(0);
  EXPECT_FALSE(controller->isUserSorted());
  EXPECT_EQ(storedOrder(b), 42);
  EXPECT_FALSE(defaults().boolForKey(kFoldersUserSortedKey));
}

TEST_F(FolderTreeTest, AParentCycleFromASyncFileNeitherHangsNorDuplicatesRows) {
  auto x = folder("X");
  auto y = folder("Y", x->folderID());
  x->setParentFolderID(y->folderID());
  auto top = folder("Top");
  ASSERT_NO_FATAL_FAILURE(start());
  EXPECT_EQ(titles(controller->homeItem()).back(), "Top");
  EXPECT_FALSE(controller->itemForFolderID(x->folderID()));
}

TEST_F(FolderTreeTest, AFolderWithoutANameGoesButItsChildrenAndBookmarksStay) {
  auto nameless = folder("");
  auto child = folder("Child", nameless->folderID());
  auto kept = bookmark("http://kept.example/", nameless);
  ASSERT_NO_FATAL_FAILURE(start());
  EXPECT_FALSE(Folder::existingFolderWithFolderID(nameless->folderID()));
  ASSERT_TRUE(controller->itemForFolderID(child->folderID()));
  EXPECT_EQ(Folder::existingFolderWithFolderID(child->folderID())->parentFolderID(), Folder::kRootID);
  ASSERT_TRUE(kept->folder());
  EXPECT_EQ(kept->folder()->folderID(), Folder::kInboxID);
}

TEST_F(FolderTreeTest, BadgesCountLiveBookmarksAndLockedFoldersShowNone) {
  auto work = folder("Work");
  auto locked = folder("Locked");
  locked->setBlocked(1);
  bookmark("http://1.example/", work);
  bookmark("http://2.example/", work);
  bookmark("http://3.example/", work)->setTrashed(1);
  bookmark("http://4.example/", locked)->setBlocked(1);
  ASSERT_NO_FATAL_FAILURE(start());
  EXPECT_EQ(badge(work), 2);
  EXPECT_EQ(badge(locked), std::nullopt);
  EXPECT_EQ(controller->itemForFolderID(locked->folderID())->icon().isNull(), false);
  EXPECT_EQ(controller->homeItem()->badgeValue(), 2);
}

TEST_F(FolderTreeTest, RenameStoresTheNameOnceAndRefusesABlankOne) {
  auto f = folder("Old");
  ASSERT_NO_FATAL_FAILURE(start());
  const auto version = f->version();
  auto* item = controller->itemForFolderID(f->folderID());
  ASSERT_TRUE(item);
  controller->sourceListSetObjectValueForItem(list(), fnd::Value("  New name "), item);
  EXPECT_EQ(Folder::existingFolderWithFolderID(f->folderID())->name(), "New name");
  EXPECT_EQ(f->version(), version + 1);
  EXPECT_EQ(item->title(), "New name");
  // A blank name would lose the folder at the next start.
  controller->sourceListSetObjectValueForItem(list(), fnd::Value("   "), item);
  EXPECT_EQ(Folder::existingFolderWithFolderID(f->folderID())->name(), "New name");
  EXPECT_FALSE(controller->renameFolder(Folder::kInboxID, "Mine"));
  EXPECT_FALSE(controller->sourceListShouldEditItem(list(), controller->inboxItem()));
  EXPECT_TRUE(controller->sourceListShouldEditItem(list(), item));
}

TEST_F(FolderTreeTest, ExpansionIsStoredAndALockedFolderNeitherExpandsNorEdits) {
  auto parent = folder("Parent");
  folder("Child", parent->folderID());
  auto locked = folder("Locked");
  locked->setBlocked(1);
  folder("Hidden", locked->folderID());
  ASSERT_NO_FATAL_FAILURE(start());
  auto* item = controller->itemForFolderID(parent->folderID());
  ASSERT_TRUE(item);
  list().expandItem(item);
  EXPECT_EQ(Folder::existingFolderWithFolderID(parent->folderID())->isExpanded(), 1);
  list().collapseItem(item);
  EXPECT_EQ(Folder::existingFolderWithFolderID(parent->folderID())->isExpanded(), 0);
  auto* lockedItem = controller->itemForFolderID(locked->folderID());
  EXPECT_FALSE(controller->sourceListShouldExpandItem(list(), lockedItem));
  EXPECT_FALSE(controller->sourceListShouldEditItem(list(), lockedItem));
}

TEST_F(FolderTreeTest, SelectionLoadsTheRightListAndIsRemembered) {
  auto work = folder("Work");
  auto sub = folder("Sub", work->folderID());
  auto other = folder("Other");
  bookmark("http://w.example/", work);
  bookmark("http://o.example/", other);
  bookmark("http://i.example/", nullptr);
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_NO_FATAL_FAILURE(select(work->folderID()));
  controller->updateSelection();
  ASSERT_TRUE(dm->currentFolder());
  EXPECT_EQ(dm->currentFolder()->folderID(), work->folderID());
  ASSERT_EQ(dm->bookmarks().size(), 1u);
  EXPECT_EQ(dm->bookmarks()[0]->url(), std::optional<std::string>("http://w.example/"));
  EXPECT_EQ(defaults().stringForKey(kCurrentlySelectedFolderKey), std::optional<std::string>(work->folderID()));

  ASSERT_NO_FATAL_FAILURE(select(Folder::kInboxID));
  controller->updateSelection();
  EXPECT_FALSE(dm->currentFolder());
  ASSERT_EQ(dm->bookmarks().size(), 1u);
  EXPECT_EQ(dm->bookmarks()[0]->url(), std::optional<std::string>("http://i.example/"));

  ASSERT_NO_FATAL_FAILURE(select("home"));
  controller->updateSelection();
  EXPECT_EQ(dm->bookmarks().size(), 3u);

  // Another list shown: the folder list leaves the bookmark list alone.
  ViewManager::sharedInstance().setCurrentView(ViewManager::Tags);
  ASSERT_NO_FATAL_FAILURE(select(other->folderID()));
  controller->updateSelection();
  EXPECT_EQ(dm->bookmarks().size(), 3u);
  ViewManager::sharedInstance().setCurrentView(ViewManager::Folders);

  // Selecting by identifier reveals a folder inside collapsed ones.
  controller->selectFolderWithID(sub->folderID());
  EXPECT_EQ(controller->selectedIdentifier(), sub->folderID());
  EXPECT_EQ(work->isExpanded(), 1);
}

TEST_F(FolderTreeTest, RebuildingTheRowsLoadsTheShownListOnce) {
  auto work = folder("Work");
  folder("Sub", work->folderID());
  work->setIsExpanded(1);  // the rebuild expands it again
  bookmark("http://w.example/", work);
  bookmark("http://o.example/", nullptr);
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_NO_FATAL_FAILURE(select(work->folderID()));
  controller->updateSelection();
  settle();
  // A load tells the list once, with the list it made, and the rebuild tells it once more: a
  // second load (for the expansions the rebuild restores) made it four, a third (the
  // selection's delayed update) six.
  int refreshes = 0;
  auto& center = fnd::NotificationCenter::defaultCenter();
  for (auto name : {BRWUpdateBookmarksViewNotification, BRWUpdateBookmarksAndResetViewNotification})
    center.addObserver(&refreshes, [&](const fnd::Notification&) { ++refreshes; }, name);
  controller->updateViewCompletely();
  // Nor does the selection it makes load the list again after the selection delay.
  ASSERT_TRUE(waitPast(kSelectionDelay));
  center.removeObserver(&refreshes);
  EXPECT_EQ(refreshes, 2);
  ASSERT_EQ(dm->bookmarks().size(), 1u);
  EXPECT_EQ(dm->bookmarks()[0]->url(), std::optional<std::string>("http://w.example/"));
  EXPECT_EQ(controller->selectedIdentifier(), work->folderID());
}

TEST_F(FolderTreeTest, ALockedFolderShowsNothingWhenSelected) {
  auto locked = folder("Locked");
  locked->setBlocked(1);
  bookmark("http://secret.example/", locked)->setBlocked(1);
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_NO_FATAL_FAILURE(select(locked->folderID()));
  controller->updateSelection();
  EXPECT_TRUE(dm->bookmarks().empty());
}

TEST_F(FolderTreeTest, SearchFindsFoldersByNameInNameOrderAndMovesToTheNextMatch) {
  auto cab = folder("Cab");
  auto abc = folder("abc");
  auto lab = folder("Lab");
  folder("Other");
  ASSERT_NO_FATAL_FAILURE(start());
  auto type = [&](const std::string& text) {
    controller->searchField()->setStringValue(text);
    controller->search();
  };
  type("a");
  EXPECT_EQ(controller->occurrencesLabel()->stringValue(), "");
  type(" ab ");
  EXPECT_EQ(controller->occurrencesLabel()->stringValue(), "3 matches");
  EXPECT_EQ(controller->firstFoundFolderID(), abc->folderID());
  EXPECT_EQ(controller->selectedIdentifier(), abc->folderID());
  type("ab");
  EXPECT_EQ(controller->firstFoundFolderID(), cab->folderID());
  type("ab");
  EXPECT_EQ(controller->firstFoundFolderID(), lab->folderID());
  type("ab");
  EXPECT_EQ(controller->firstFoundFolderID(), abc->folderID());
  type("zzz");
  EXPECT_EQ(controller->occurrencesLabel()->stringValue(), "Not found");
  EXPECT_EQ(controller->firstFoundFolderID(), abc->folderID());
  // Folders made since the last full load are found too.
  auto fresh = folder("Zebra stripes");
  save();
  type("stripes");
  EXPECT_EQ(controller->occurrencesLabel()->stringValue(), "1 match");
  EXPECT_EQ(controller->firstFoundFolderID(), fresh->folderID());
  type("");
  EXPECT_EQ(controller->occurrencesLabel()->stringValue(), "");
  EXPECT_EQ(controller->firstFoundFolderID(), "");
}

// Find folder with "App" where the C library does not pair "i" with "I" (Turkish): the one
// folder holding the text, not every folder.
TEST_F(FolderTreeTest, SearchFindsTheSameFoldersInTurkish) {
  kesto::test::LocaleGuard turkish("tr_TR.UTF-8");
  KESTO_SKIP_WITHOUT_LOCALE(turkish);
  auto apple = folder("Apple");
  folder("Added since 2001.5");
  folder("Inbox items");
  auto city = folder("\xC4\xB0zmir");
  ASSERT_NO_FATAL_FAILURE(start());
  auto type = [&](const std::string& text) {
    controller->searchField()->setStringValue(text);
    controller->search();
  };
  type("App");
  EXPECT_EQ(controller->occurrencesLabel()->stringValue(), "1 match");
  EXPECT_EQ(controller->firstFoundFolderID(), apple->folderID());
  type("izmir");
  EXPECT_EQ(controller->occurrencesLabel()->stringValue(), "1 match");
  EXPECT_EQ(controller->firstFoundFolderID(), city->folderID());
  type("ITEMS");
  EXPECT_EQ(controller->occurrencesLabel()->stringValue(), "1 match");
}

// Folders an import filed three deep inside the closed Imported row: Find Folder and Go To
// Folder open every row above the folder (Imported too) and store them open, select the folder
// and bring it to the middle of a list too long to show whole.
TEST_F(FolderTreeTest, FindAndGoToFolderRevealAFolderInsideClosedRowsUnderImported) {
  auto file = folder("bookmarks.html", Folder::kImportedID, 1);
  auto marks = folder("Bookmarks", file->folderID(), 1);
  for (int i = 0; i < 20; ++i) folder("Above " + std::to_string(i), marks->folderID(), i + 1);
  auto recipes = folder("Recipes", marks->folderID(), 30);
  for (int i = 0; i < 30; ++i) folder("Below " + std::to_string(i), marks->folderID(), i + 31);
  auto other = folder("Kitchen", recipes->folderID(), 1);
  ASSERT_NO_FATAL_FAILURE(start());
  ui::Window window(fnd::Rect(0, 0, 240, 600));
  window.contentView()->addSubview(controller->view());
  window.makeKeyAndOrderFront();
  auto storedOpen = [](const std::string& id) {
    return onStoreConnection("select ZISEXPANDED from ZFOLDER where ZFOLDERID = '" + id + "'") == 1;
  };
  auto centred = [&] {
    const fnd::Rect row = list().rectOfRow(list().selectedRow());
    const double middle = list().bounds().origin.y + list().frame().size.height / 2;
    return std::abs(row.midY() - middle) <= list().rowHeight();
  };
  ASSERT_LT(list().rowForItem(controller->itemForFolderID(recipes->folderID())), 0);

  controller->searchField()->setStringValue("Recip");
  controller->search();
  EXPECT_EQ(controller->occurrencesLabel()->stringValue(), "1 match");
  EXPECT_EQ(controller->selectedIdentifier(), recipes->folderID());
  for (const std::string& id : {std::string(Folder::kImportedID), file->folderID(), marks->folderID()})
    EXPECT_TRUE(storedOpen(id)) << id;
  EXPECT_TRUE(runUntil([&] { return centred(); }, 30)) << list().bounds().origin.y;

  controller->clearSearch();
  list().collapseItem(controller->importedItem());
  ASSERT_FALSE(storedOpen(Folder::kImportedID));
  controller->selectFolderWithID(other->folderID());
  EXPECT_EQ(controller->selectedIdentifier(), other->folderID());
  for (const std::string& id : {std::string(Folder::kImportedID), recipes->folderID(), other->folderID()})
    EXPECT_TRUE(storedOpen(id)) << id;
  EXPECT_TRUE(runUntil([&] { return centred(); }, 30)) << list().bounds().origin.y;
  controller->view()->removeFromSuperview();
}

TEST_F(FolderTreeTest, AddFolderGoesUnderTheSelectedFolderOrTheTopLevel) {
  auto parent = folder("Parent");
  auto locked = folder("Locked");
  locked->setBlocked(1);
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_NO_FATAL_FAILURE(select(parent->folderID()));
  auto child = controller->doAddNewFolderIsSmart(false);
  ASSERT_TRUE(child);
  EXPECT_EQ(child->parentFolderID(), parent->folderID());
  EXPECT_EQ(child->name(), "New Folder");
  EXPECT_EQ(Folder::existingFolderWithFolderID(parent->folderID())->isExpanded(), 1);
  EXPECT_EQ(controller->selectedIdentifier(), child->folderID());

  ASSERT_NO_FATAL_FAILURE(select(Folder::kInboxID));
  EXPECT_EQ(controller->doAddNewFolderIsSmart(false)->parentFolderID(), Folder::kRootID);
  // A locked folder takes no children: they could never be seen.
  ASSERT_NO_FATAL_FAILURE(select(locked->folderID()));
  EXPECT_EQ(controller->doAddNewFolderIsSmart(false)->parentFolderID(), Folder::kRootID);
}

TEST_F(FolderTreeTest, ASmartFolderStoresAPredicateThatParsesBackWhateverTheText) {
  ASSERT_NO_FATAL_FAILURE(start());
  auto smart = controller->addSmartFolderMatching("it's \"quoted\"");
  ASSERT_TRUE(smart);
  EXPECT_TRUE(smart->isSmart());
  EXPECT_EQ(smart->color(), std::optional<std::string>("smart"));
  ASSERT_TRUE(smart->predicate());
  auto parsed = store::Predicate::parse(*smart->predicate());
  ASSERT_TRUE(parsed);
  EXPECT_NE(smart->predicate()->find("it's"), std::string::npos);
  EXPECT_FALSE(controller->addSmartFolderMatching("   "));
}

// An import's folders get their rows beside the others, in the list's order and with their
// counts: the rows there were are kept as they are, not made again.
TEST_F(FolderTreeTest, AnImportsFoldersGetTheirRowsBesideTheRowsThereAre) {
  auto work = folder("Work");
  folder("Old import", Folder::kImportedID, 1);
  bookmark("http://w.example/", work);
  start();
  select(work->folderID());
  controller->updateSelection();
  settle();
  SourceListItem* workRow = controller->itemForFolderID(work->folderID());
  ASSERT_TRUE(workRow);
  auto importFile = [&](const std::string& name, const std::string& body) {
    const std::string path = fnd::FileManager::createTemporaryDirectory("rows") + "/" + name;
    EXPECT_TRUE(fnd::FileManager::writeFile(path, "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<DL><p>\n" + body + "</DL><p>\n"));
    HTMLImport import;
    import.setDataManager(dm.get());
    bool done = false;
    import.setCompletionHandler([&](bool) { done = true; });
    EXPECT_TRUE(import.importFromFile(path));
    EXPECT_TRUE(runUntil([&] { return done; }, 20));
    settle();
    return import.importRootFolderID();
  };
  const std::string root =
      importFile("new.html", "<DT><H3>zeta</H3>\n<DL><p>\n<DT><A HREF=\"http://z.example/\">z</A>\n</DL><p>\n"
                             "<DT><H3>Alpha</H3>\n<DL><p>\n<DT><H3>Inner</H3>\n<DL><p>\n</DL><p>\n"
                             "<DT><A HREF=\"http://a.example/\">a</A>\n<DT><A HREF=\"http://b.example/\">b</A>\n"
                             "</DL><p>\n");
  EXPECT_EQ(controller->itemForFolderID(work->folderID()), workRow) << "the rows there were are kept";
  EXPECT_EQ(titles(controller->importedItem()), (std::vector<std::string>{"Old import", "new.html"}));
  SourceListItem* received = controller->itemForFolderID(root);
  ASSERT_TRUE(received);
  // The file's list is a folder of its own, named by the text before it (none: "Untitled").
  ASSERT_EQ(titles(received), (std::vector<std::string>{"Untitled"}));
  const bool manual = controller->isUserSorted();
  EXPECT_EQ(titles(received->childAt(0)),
            manual ? (std::vector<std::string>{"zeta", "Alpha"}) : (std::vector<std::string>{"Alpha", "zeta"}));
  auto named = [&](const std::string& name) {
    return Found{Folder::fetchEntityWhereProperty("name", fnd::Value(name)), "the folder named " + name};
  };
  ASSERT_TRUE(named("Alpha") && named("zeta"));
  EXPECT_EQ(badge(named("Alpha")), 2);
  EXPECT_EQ(badge(named("zeta")), 1);
  EXPECT_EQ(titles(controller->itemForFolderID(named("Alpha")->folderID())), (std::vector<std::string>{"Inner"}));
  // The list shown is the one chosen before, and it stays in step.
  EXPECT_EQ(controller->selectedIdentifier(), work->folderID());
  ASSERT_EQ(dm->bookmarks().size(), 1u);

  // A second import goes after the first, and the first keeps its rows.
  importFile("other.html", "<DT><H3>Oak</H3>\n<DL><p>\n<DT><A HREF=\"http://o.example/\">o</A>\n</DL><p>\n");
  EXPECT_EQ(controller->itemForFolderID(root), received);
  EXPECT_EQ(titles(controller->importedItem()), (std::vector<std::string>{"Old import", "new.html", "other.html"}));
  EXPECT_EQ(badge(named("Oak")), 1);
}

}  // namespace
}  // namespace kesto::test
