#include "SidebarListFixture.h"

#include "Platform/UI/Menu.h"
#include "Sidebar/HistoryController.h"
#include "Sidebar/MaintenanceController.h"
#include "Sidebar/PopularsController.h"
#include "Sidebar/TrashController.h"
#include "Synchronize/SyncTombstones.h"

namespace kesto::test {
namespace {

template <typename T>
struct Wired {
  explicit Wired(DataManager& dm) {
    list.setDataManager(&dm);
    list.awakeFromNib();
  }
  T list;
};

// ---- History ---------------------------------------------------------------------------------

TEST_F(SidebarListTest, TheSmartListsUseTheFolderTreesFontSize) {
  Wired<HistoryController> history(dm);
  Wired<PopularsController> popular(dm);
  Wired<MaintenanceController> maintenance(dm);
  for (SmartListController* list :
       std::initializer_list<SmartListController*>{&history.list, &popular.list, &maintenance.list}) {
    ui::TextCell cell;
    cell.font.pointSize = 7;
    list->sourceListWillDisplayCellForItem(*list->sourceList(), cell, nullptr);
    EXPECT_EQ(cell.font.pointSize, ui::TextCell().font.pointSize) << "the folder tree's rows are drawn at this size";
  }
}

// Each list is rebuilt by its own refresh notification and by the folder tree's, and only while
// its tab is the one shown.
TEST_F(SidebarListTest, EachListRefreshesOnItsNotificationsOnlyWhileShown) {
  loadLibrary();
  Wired<HistoryController> history(dm);
  Wired<PopularsController> popular(dm);
  Wired<MaintenanceController> maintenance(dm);
  struct Case {
    SmartListController& list;
    fnd::NotificationName own;
    const char* tab;
    std::int64_t index;
  };
  // Whether posting `name` built the list's rows anew.
  auto rebuilds = [](SmartListController& list, fnd::NotificationName name) {
    const SourceListItem* before = list.entries().empty() ? nullptr : list.entries().front().get();
    fnd::NotificationCenter::defaultCenter().postNotificationName(name);
    return !list.entries().empty() && list.entries().front().get() != before;
  };
  for (const Case& c : {Case{history.list, BRWUpdateHistoryViewNotification, SelectedHistoryView, ViewManager::History},
                        Case{popular.list, UpdatePopularsViewNotification, SelectedPopularView, ViewManager::Popular},
                        Case{maintenance.list, UpdateMaintenanceViewNotification, SelectedMaintenanceView,
                             ViewManager::Maintenance}}) {
    show(SelectedLibraryView, ViewManager::Folders);
    EXPECT_FALSE(rebuilds(c.list, c.own)) << c.tab;
    EXPECT_FALSE(rebuilds(c.list, BRWUpdateFoldersViewNotification)) << c.tab;
    show(c.tab, c.index);
    EXPECT_TRUE(rebuilds(c.list, c.own)) << c.tab;
    EXPECT_TRUE(rebuilds(c.list, BRWUpdateFoldersViewNotification)) << c.tab;
    EXPECT_FALSE(rebuilds(c.list, UpdateTrashViewNotification)) << c.tab;
  }
}

class HistoryListTest : public SidebarListTest {};

TEST_F(HistoryListTest, WindowsBadgesAndSelectionFollowTheClock) {
  // Started at 10:00 on 14 March: Today from 14 March 00:00, Yesterday the 13th, This week from
  // 7 March to 15 March 00:00, This month from 1 March to 14 March 00:00; bounds exclusive.
  struct Visit {
    const char* title;
    const char* opened;
  };
  for (Visit v : {Visit{"this morning", "2026-03-14 08:00:00 +0100"}, Visit{"midnight", "2026-03-14 00:00:00 +0100"},
                  Visit{"yesterday", "2026-03-13 18:00:00 +0100"}, Visit{"week", "2026-03-08 12:00:00 +0100"},
                  Visit{"early month", "2026-03-02 12:00:00 +0100"}, Visit{"february", "2026-02-27 12:00:00 +0100"}}) {
    auto b = bookmark(std::string("http://h.example/") + v.title, v.title);
    b->setLastOpened(at(v.opened));
  }
  auto trashed = bookmark("http://h.example/trashed", "trashed today");
  trashed->setLastOpened(at("2026-03-14 09:00:00 +0100"));
  trashed->setTrashed(1);
  saveLoadAndShow(SelectedHistoryView, ViewManager::History);
  Wired<HistoryController> h(dm);
  ViewUpdater::updateHistory();

  ASSERT_EQ(h.list.entries().size(), 15u);
  // The bookmark opened exactly at midnight is only in This week.
  expectBadges(h.list, {{"Today", 1}, {"Yesterday", 1}, {"Week", 4}, {"Month", 3}});
  // Separators have neither badge nor icon and cannot be chosen.
  auto& separator = *h.list.entries()[3];
  EXPECT_EQ(separator.identifier(), "separator");
  EXPECT_FALSE(separator.badgeValue());
  EXPECT_TRUE(separator.icon().isNull());
  EXPECT_FALSE(h.list.sourceListShouldSelectItem(*h.list.sourceList(), &separator));
  // Nothing was stored: nothing is chosen and the list stays empty.
  ASSERT_NO_FATAL_FAILURE(waitPast(kSelectionDelay));
  EXPECT_TRUE(dm.bookmarks().empty());

  ASSERT_NO_FATAL_FAILURE(choose(h.list, "Week"));
  EXPECT_EQ(listed(), (std::vector<std::string>{"midnight", "this morning", "week", "yesterday"}));
  EXPECT_EQ(fnd::UserDefaults::standard().integerForKey(HistoryController::kSelectedItemKey), 9);
  EXPECT_EQ(posted[BRWUpdateBookmarksAndResetViewNotification], 1);
  ASSERT_NO_FATAL_FAILURE(choose(h.list, "Month"));
  EXPECT_EQ(listed(), (std::vector<std::string>{"early month", "week", "yesterday"}));
  EXPECT_EQ(posted[BRWUpdateBookmarksAndResetViewNotification], 2);

  // Shown again (the tab chosen anew): the refresh empties the list, and the restored entry
  // loads it again instead of staying highlighted over an empty list.
  ViewUpdater::updateHistory();
  EXPECT_TRUE(dm.bookmarks().empty());
  const std::vector<std::string> again{"early month", "week", "yesterday"};
  EXPECT_TRUE(runUntil([&] { return listed() == again; }, 30));
  EXPECT_EQ(listed(), again);
  EXPECT_EQ(h.list.sourceList()->numberOfSelectedRows(), 1);
}

TEST_F(HistoryListTest, RefreshActsOnlyWhileShownAndRestoresTheStoredRow) {
  bookmark("http://h.example/a", "added")->setAddedDate(at("2026-03-14 09:00:00 +0100"));
  save();
  loadLibrary();
  fnd::UserDefaults::standard().setInteger(2, HistoryController::kSelectedItemKey);
  show(SelectedPopularView, ViewManager::Popular);
  Wired<HistoryController> h(dm);
  ASSERT_FALSE(dm.allBookmarks().empty());
  dm.bookmarks().push_back(dm.allBookmarks().front());
  ViewUpdater::updateHistory();
  // Another list is shown: no rebuild, and its list is left alone.
  EXPECT_TRUE(h.list.entries().empty());
  EXPECT_EQ(dm.bookmarks().size(), 1u);

  show(SelectedHistoryView, ViewManager::History);
  const int redraws = posted[BRWUpdateBookmarksViewNotification];
  ViewUpdater::updateSourceLists();
  // The emptied list is drawn at once, before the restored row loads again.
  EXPECT_TRUE(dm.bookmarks().empty());
  EXPECT_GT(posted[BRWUpdateBookmarksViewNotification], redraws);
  ASSERT_TRUE(runUntil([&] { return !dm.bookmarks().empty(); }, 30));
  EXPECT_EQ(titles(dm.bookmarks()), (std::vector<std::string>{"added"}));
  EXPECT_EQ(h.list.lastSelectedIdentifier(), std::optional<std::string>("AddedToday"));
  EXPECT_EQ(h.list.currentlySelectedFolderIndex(), 2);

  // A stored row past the list selects nothing.
  fnd::UserDefaults::standard().setInteger(40, HistoryController::kSelectedItemKey);
  Wired<HistoryController> other(dm);
  ViewUpdater::updateHistory();
  ASSERT_NO_FATAL_FAILURE(waitPast(kSelectionDelay));
  EXPECT_EQ(other.list.sourceList()->numberOfSelectedRows(), 0);
}

// ---- Popular ---------------------------------------------------------------------------------

class PopularListTest : public SidebarListTest {};

TEST_F(PopularListTest, EntriesCountAndLoadTheirCollections) {
  for (int i = 0; i < 40; ++i) bookmark("http://p.example/" + std::to_string(i), "opened " + std::to_string(i))->setTimesOpened(1 + i % 3);
  auto five = bookmark("http://p.example/five", "five");
  five->setRating(5.0);
  five->setColor(std::string("Blue"));  // the colour word in any case
  auto trashedFive = bookmark("http://p.example/trashed", "trashed five");
  trashedFive->setRating(5.0);
  trashedFive->setTrashed(1);
  bookmark("http://p.example/grey", "grey")->setColor(std::string("grey"));
  saveLoadAndShow(SelectedPopularView, ViewManager::Popular);
  Wired<PopularsController> p(dm);
  ViewUpdater::updatePopulars();

  ASSERT_EQ(p.list.entries().size(), 13u);
  // A count of 0 still shows.
  expectBadges(p.list, {{"top25", 25}, {"fivestars", 1}, {"popBlue", 1}, {"popGrey", 1}, {"creds", 0}});

  ASSERT_NO_FATAL_FAILURE(choose(p.list, "top25"));
  EXPECT_EQ(dm.bookmarks().size(), 25u);
  EXPECT_EQ(fnd::UserDefaults::standard().integerForKey(PopularsController::kSelectedItemKey), 1);
  ASSERT_NO_FATAL_FAILURE(choose(p.list, "fivestars"));
  EXPECT_EQ(titles(dm.bookmarks()), (std::vector<std::string>{"five"}));
  ASSERT_NO_FATAL_FAILURE(choose(p.list, "popBlue"));
  EXPECT_EQ(titles(dm.bookmarks()), (std::vector<std::string>{"five"}));
  EXPECT_EQ(posted[BRWUpdateBookmarksAndResetViewNotification], 3);

  // Clearing the selection keeps what was loaded.
  p.list.sourceList()->deselectAll();
  ASSERT_NO_FATAL_FAILURE(waitPast(kSelectionDelay));
  EXPECT_EQ(titles(dm.bookmarks()), (std::vector<std::string>{"five"}));

  // The restore hands the same entry over again: a plain update this time.
  const int resets = posted[BRWUpdateBookmarksAndResetViewNotification];
  ViewUpdater::updatePopulars();
  ASSERT_NO_FATAL_FAILURE(waitPast(kSelectionDelay));
  EXPECT_EQ(posted[BRWUpdateBookmarksAndResetViewNotification], resets);
  EXPECT_EQ(titles(dm.bookmarks()), (std::vector<std::string>{"five"}));
}

TEST_F(PopularListTest, FewVisitedBookmarksAndTheContextMenu) {
  for (int i = 0; i < 3; ++i) bookmark("http://p.example/" + std::to_string(i), "o" + std::to_string(i))->setTimesOpened(2);
  saveLoadAndShow(SelectedPopularView, ViewManager::Popular);
  Wired<PopularsController> p(dm);
  ViewUpdater::updatePopulars();
  EXPECT_EQ(badge(p.list, "top25"), 3);
  ASSERT_NO_FATAL_FAILURE(choose(p.list, "top25"));
  EXPECT_EQ(dm.bookmarks().size(), 3u);

  auto menu = p.list.menuForItem(p.list.itemWithIdentifier("tags"));
  ASSERT_EQ(menu->numberOfItems(), 1u);
  EXPECT_EQ(menu->items()[0]->title(), "With tags");
  EXPECT_FALSE(menu->items()[0]->isEnabled());
  EXPECT_EQ(p.list.menuForItem(nullptr)->items()[0]->title(), "clicked outside");
}

// ---- Maintenance -----------------------------------------------------------------------------

class MaintenanceListTest : public SidebarListTest {};

TEST_F(MaintenanceListTest, DuplicatesAreFoundAndMovedToTheTrash) {
  bookmark("http://dup.example/", "first");
  bookmark("http://dup.example/", "second");
  bookmark("http://other.example/", "single");
  saveLoadAndShow(SelectedMaintenanceView, ViewManager::Maintenance);
  Wired<MaintenanceController> m(dm);
  ViewUpdater::updateMaintenance();
  ASSERT_EQ(m.list.entries().size(), 7u);
  EXPECT_FALSE(badge(m.list, "Duplicates"));

  ASSERT_NO_FATAL_FAILURE(choose(m.list, "Duplicates"));
  EXPECT_EQ(titles(dm.bookmarks()), (std::vector<std::string>{"second"}));
  EXPECT_EQ(badge(m.list, "Duplicates"), 1);
  EXPECT_TRUE(messages.empty());

  // Cancelled: nothing moves.
  responder->alertAnswers.push_back({ui::AlertSecondButtonReturn});
  ASSERT_NO_FATAL_FAILURE(choose(m.list, "CleanDuplicates"));
  ASSERT_TRUE(runUntil([&] { return !responder->alerts.empty(); }, 30));
  ASSERT_EQ(responder->alerts.size(), 1u);
  EXPECT_EQ(responder->alerts[0].message, "Remove Duplicates?");
  EXPECT_EQ(responder->alerts[0].buttons, (std::vector<std::string>{"Remove Duplicates", "Cancel"}));
  ASSERT_NO_FATAL_FAILURE(waitPast(kConfirmedRemovalDelay));
  EXPECT_EQ(dm.duplicates().size(), 1u);

  // Confirmed: the later copy goes to the trash half a second later; the first stays.
  ASSERT_NO_FATAL_FAILURE(choose(m.list, "Duplicates"));
  ASSERT_NO_FATAL_FAILURE(choose(m.list, "CleanDuplicates"));
  const int sidebarRefreshes = posted[SelectCurrentSidebarViewNotification];
  ASSERT_TRUE(runUntil([&] { return posted[SelectCurrentSidebarViewNotification] > sidebarRefreshes; }, 30));
  auto second = Bookmark::fetchEntityWhereProperty("title", std::string("second"));
  auto first = Bookmark::fetchEntityWhereProperty("title", std::string("first"));
  EXPECT_EQ(second->trashed(), 1);
  EXPECT_EQ(first->trashed(), 0);
  EXPECT_TRUE(dm.duplicates().empty());
}

TEST_F(MaintenanceListTest, BrokenLinksAndNothingFound) {
  auto broken = bookmark("http://gone.example/", "gone");
  broken->setBroken(1);
  bookmark("http://fine.example/", "fine");
  saveLoadAndShow(SelectedMaintenanceView, ViewManager::Maintenance);
  Wired<MaintenanceController> m(dm);
  ViewUpdater::updateMaintenance();
  ASSERT_NO_FATAL_FAILURE(choose(m.list, "Duplicates"));
  EXPECT_EQ(badge(m.list, "Duplicates"), 0);
  EXPECT_EQ(messages, (std::vector<std::string>{"No duplicates found"}));
  const int resets = posted[BRWUpdateBookmarksAndResetViewNotification];
  ASSERT_NO_FATAL_FAILURE(choose(m.list, "Broken"));
  EXPECT_EQ(posted[BRWUpdateBookmarksAndResetViewNotification], resets + 1);
  EXPECT_EQ(titles(dm.bookmarks()), (std::vector<std::string>{"gone"}));
  EXPECT_EQ(badge(m.list, "Broken"), 1);

  // No preferences window answers: the user is told, and the list stays.
  ASSERT_NO_FATAL_FAILURE(choose(m.list, "Preferences"));
  ASSERT_TRUE(runUntil([&] { return !responder->alerts.empty(); }, 30));
  EXPECT_EQ(responder->alerts.back().message, "Preferences are not available");
  EXPECT_EQ(titles(dm.bookmarks()), (std::vector<std::string>{"gone"}));

  ASSERT_NO_FATAL_FAILURE(choose(m.list, "CleanBroken"));
  ASSERT_TRUE(runUntil([&] { return broken->trashed() == 1; }, 30));
  EXPECT_GT(broken->version(), 0);
  // The rebuild that follows clears the badges.
  ViewUpdater::updateMaintenance();
  EXPECT_FALSE(badge(m.list, "Broken"));
  ASSERT_NO_FATAL_FAILURE(choose(m.list, "Broken"));
  EXPECT_EQ(badge(m.list, "Broken"), 0);
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back(), "No broken links found");
}

TEST_F(MaintenanceListTest, ACleanUpConfirmedForAListClosedSinceDoesNothing) {
  bookmark("http://dup.example/", "first");
  auto second = bookmark("http://dup.example/", "second");
  save();
  loadLibrary();
  show(SelectedMaintenanceView, ViewManager::Maintenance);
  auto m = std::make_unique<Wired<MaintenanceController>>(dm);
  ViewUpdater::updateMaintenance();
  ASSERT_NO_FATAL_FAILURE(choose(m->list, "Duplicates"));
  const int resets = posted[BRWUpdateBookmarksAndResetViewNotification];
  const int updates = posted[BRWUpdateBookmarksViewNotification];
  // The same entry acted on again only updates the list shown; it does not reset it.
  m->list.updateSelection();
  EXPECT_EQ(posted[BRWUpdateBookmarksAndResetViewNotification], resets);
  EXPECT_GT(posted[BRWUpdateBookmarksViewNotification], updates);

  // Confirmed, then the list goes before the half second is up.
  ASSERT_NO_FATAL_FAILURE(choose(m->list, "CleanDuplicates"));
  ASSERT_TRUE(runUntil([&] { return !responder->alerts.empty(); }, 30));
  ASSERT_EQ(responder->alerts.size(), 1u);
  m.reset();
  ASSERT_NO_FATAL_FAILURE(waitPast(kConfirmedRemovalDelay));
  EXPECT_EQ(second->trashed(), 0);
  EXPECT_EQ(dm.duplicates().size(), 1u);
}

// ---- Trash -----------------------------------------------------------------------------------

class TrashListTest : public SidebarListTest {
 protected:
  Bookmark::Ref trashed(const std::string& url, bool blocked = false) {
    auto b = bookmark(url, url);
    b->setTrashed(1);
    if (blocked) b->setBlocked(1);
    return b;
  }
};

TEST_F(TrashListTest, EmptyTrashRecordsTombstonesBeforeDeleting) {
  auto a = trashed("http://t.example/a");
  auto b = trashed("http://t.example/b");
  auto locked = trashed("http://t.example/locked", true);
  bookmark("http://t.example/kept", "kept");
  a->setVersion(7);
  save();
  const std::string idA = *a->uniqueIDValue(), idB = *b->uniqueIDValue(), idLocked = *locked->uniqueIDValue();
  const std::string vB = std::to_string(b->version()), vLocked = std::to_string(locked->version());
  // A tombstone already there is not repeated.
  SyncTombstones::record(idA, 7, "b");
  loadLibrary();
  show(SelectedTrashView, ViewManager::Trash);
  Wired<TrashController> t(dm);
  ViewUpdater::updateTrash();
  EXPECT_EQ(badge(t.list, TrashController::kEmptyTrashID), 2);
  EXPECT_EQ(dm.bookmarks().size(), 3u);

  // The list acts on a choice a turn or two of the loop later, which a loaded machine takes long
  // over: each step waits for the question it brings.
  responder->alertAnswers.push_back({ui::AlertSecondButtonReturn});
  ASSERT_NO_FATAL_FAILURE(choose(t.list, TrashController::kEmptyTrashID));
  ASSERT_TRUE(runUntil([&] { return !responder->alerts.empty(); }, 30));
  ASSERT_EQ(responder->alerts.size(), 1u);
  EXPECT_EQ(responder->alerts[0].message, "Empty the trash?");
  EXPECT_EQ(responder->alerts[0].buttons, (std::vector<std::string>{"Empty Trash", "Cancel"}));
  EXPECT_EQ(SyncTombstones::tombstones().size(), 1u);
  EXPECT_EQ(Bookmark::countWithPredicate(nullptr), 4);

  // The entry can be chosen again at once.
  ASSERT_NO_FATAL_FAILURE(choose(t.list, TrashController::kEmptyTrashID));
  ASSERT_TRUE(runUntil([&] { return responder->alerts.size() > 1; }, 30));
  EXPECT_EQ(responder->alerts.size(), 2u);
  EXPECT_EQ(Bookmark::countWithPredicate(nullptr), 1);
  std::vector<std::string> stored;
  for (const auto& s : SyncTombstones::tombstones()) stored.push_back(s.objectID + "|" + std::to_string(s.version) + "|" + s.type);
  EXPECT_EQ(sorted(stored), sorted({idA + "|7|b", idB + "|" + vB + "|b", idLocked + "|" + vLocked + "|b"}));
  // Stored at once, in the settings file.
  fnd::UserDefaults::standard().synchronize();
  const std::string file = readFile(tempHome() + "/.config/kesto/defaults.plist");
  EXPECT_NE(file.find(idLocked + "|" + vLocked + "|b"), std::string::npos);
  // Out of the in-memory library as well: the refresh neither counts nor lists them.
  EXPECT_EQ(dm.allBookmarks().size(), 1u);
  ViewUpdater::updateTrash();
  EXPECT_FALSE(badge(t.list, TrashController::kEmptyTrashID));
  EXPECT_TRUE(dm.bookmarks().empty());
  EXPECT_FALSE(dm.currentBookmark());
}

TEST_F(TrashListTest, WhileAnotherListIsShownOnlyTheBadgeFollows) {
  trashed("http://t.example/a");
  auto kept = bookmark("http://t.example/kept", "kept");
  saveLoadAndShow(SelectedLibraryView, ViewManager::Folders);
  dm.bookmarks() = {kept};
  Wired<TrashController> t(dm);
  // A folder removed elsewhere refreshes the trash: the list keeps the folders' bookmarks, so
  // the sidebar, the path bar and the list name the same thing (and Delete never deletes for
  // good what it does not show).
  ViewUpdater::updateTrash();
  EXPECT_EQ(badge(t.list, TrashController::kEmptyTrashID), 1);
  ASSERT_EQ(dm.bookmarks().size(), 1u);
  EXPECT_EQ(dm.bookmarks()[0], kept);

  show(SelectedTrashView, ViewManager::Trash);
  ViewUpdater::updateTrash();
  ASSERT_EQ(dm.bookmarks().size(), 1u);
  EXPECT_EQ(dm.bookmarks()[0]->url(), std::optional<std::string>("http://t.example/a"));
}

TEST_F(TrashListTest, EmptyingAnEmptyTrashStillAsksAndWritesNothing) {
  bookmark("http://t.example/kept", "kept");
  save();
  loadLibrary();
  Wired<TrashController> t(dm);
  ViewUpdater::updateTrash();
  EXPECT_FALSE(badge(t.list, TrashController::kEmptyTrashID));
  EXPECT_TRUE(t.list.emptyTrash());
  EXPECT_EQ(responder->alerts.size(), 1u);
  EXPECT_TRUE(SyncTombstones::tombstones().empty());
  EXPECT_EQ(Bookmark::countWithPredicate(nullptr), 1);
}

}  // namespace
}  // namespace kesto::test
