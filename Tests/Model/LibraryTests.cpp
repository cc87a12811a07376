#include "LibraryFixture.h"

#include "Model/DateAdditions.h"
#include "Model/Service.h"
#include "Model/ViewUpdater.h"

#include "Platform/Foundation/FileManager.h"

#include <array>
#include <thread>

namespace kesto::test {
namespace {

class DataManagerTest : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    stopClockInParisAt("2021-06-16 12:00:00 +0200");  // a Wednesday
  }
  fnd::Date hoursAgo(double h) const { return now.dateByAddingTimeInterval(-h * 3600); }
  // A bookmark last opened `h` hours before now.
  Bookmark::Ref openedHoursAgo(const std::string& url, const std::string& title, double h) {
    auto b = bookmark(url, title);
    b->setLastOpened(hoursAgo(h));
    return b;
  }
};

TEST_F(DataManagerTest, LoadPostsRefreshesAndFillsTheMenuWithLiveBookmarks) {
  auto live = bookmark("http://a.example/", "live");
  auto trashed = bookmark("http://b.example/", "trashed");
  trashed->setTrashed(1);
  auto locked = bookmark("http://c.example/", "locked");
  locked->setBlocked(1);
  save();
  std::vector<fnd::NotificationName> posted;
  fnd::NotificationCenter::defaultCenter().addObserver(&posted, [&](const fnd::Notification& n) { posted.push_back(n.name); }, {});
  DataManager dm;
  loadAwake(dm);
  load(dm);
  fnd::NotificationCenter::defaultCenter().removeObserver(&posted);
  EXPECT_EQ(dm.allBookmarks().size(), 3u);
  EXPECT_EQ(titles(dm.menuBookmarks()), std::vector<std::string>{"live"});
  EXPECT_NE(std::find(posted.begin(), posted.end(), KestoPerformAutoSync), posted.end());
  EXPECT_NE(std::find(posted.begin(), posted.end(), BRWUpdateFoldersCompletelyViewNotification), posted.end());
  EXPECT_EQ(std::count(posted.begin(), posted.end(), ShowInitialPopup), 0);
  EXPECT_EQ(&dm.folders(), &dm.allFolders());
  dm.fetchAllBookmarksFromCoreDataFromService();
  posted.clear();
}

// A read from Pinboard or Delicious reloads the library; the service's list on show follows at
// once with what the read brought (nothing else chooses its row again).
TEST_F(DataManagerTest, AServiceListOnShowFollowsItsImport) {
  using Browsing = DataManager::BrowsingState;
  for (const char* name : {"pinboard", "delicious"}) {
    SCOPED_TRACE(name);
    auto service = Service::initEntity();
    service->setName(name);
    bookmark(std::string("http://first.") + name + ".example/", "first")->addService(service);
    save();
    DataManager dm;
    loadAwake(dm);
    const bool pinboard = std::string(name) == "pinboard";
    dm.browse({nullptr, false, {}, pinboard ? Browsing::Service::Pinboard : Browsing::Service::Delicious});
    dm.loadSmartList(pinboard ? DataManager::SmartList::Pinboard : DataManager::SmartList::Delicious);
    ASSERT_EQ(dm.bookmarks().size(), 1u);
    // The import stored a second one.
    bookmark(std::string("http://second.") + name + ".example/", "second")->addService(service);
    save();
    bool done = false;
    fnd::NotificationCenter::defaultCenter().addObserver(&done, [&](const fnd::Notification&) { done = true; },
                                                         UpdateFoldersNotification);
    dm.fetchAllBookmarksFromCoreDataFromService();
    ASSERT_TRUE(runUntil([&] { return done; }, 10));
    fnd::NotificationCenter::defaultCenter().removeObserver(&done);
    EXPECT_EQ(dm.bookmarks().size(), 2u);
  }
}

TEST_F(DataManagerTest, EmptyLibraryAsksForTheInitialPanelOncePerLoad) {
  int popups = 0;
  fnd::NotificationCenter::defaultCenter().addObserver(&popups, [&](const fnd::Notification&) { ++popups; }, ShowInitialPopup);
  DataManager dm;
  loadAwake(dm);
  EXPECT_EQ(popups, 1);
  load(dm);
  EXPECT_EQ(popups, 2);
  fnd::NotificationCenter::defaultCenter().removeObserver(&popups);
}

TEST_F(DataManagerTest, SmartListsAndCounters) {
  auto opened = openedHoursAgo("http://1.example/", "opened", 1);
  opened->setTimesOpened(3);
  opened->setNotes(std::string("note"));
  opened->setColor(std::string("BLUE"));
  opened->setRating(5.0);
  auto fav = bookmark("http://2.example/", "fav");
  fav->setIsFavorite(1);
  fav->setLogin(std::string("me"));
  fav->setBroken(1);
  auto midnight = bookmark("http://3.example/", "midnight");
  midnight->setLastOpened(brightwren::dateAtStartOfDay(now));
  auto lockedTrash = bookmark("http://4.example/", "locked trash");
  lockedTrash->setTrashed(1);
  lockedTrash->setBlocked(1);
  openedHoursAgo("http://5.example/", "yesterday", 20);
  save();
  DataManager dm;
  loadAwake(dm);

  dm.prepareNonFolderViews();
  using Titles = std::vector<std::string>;
  const std::vector<std::pair<void (DataManager::*)(), Titles>> lists = {
      {&DataManager::loadTodayBookmarks, {"opened"}},
      {&DataManager::loadYesterdayBookmarks, {"yesterday"}},
      {&DataManager::loadThisWeekBookmarks, {"midnight", "opened", "yesterday"}},
      {&DataManager::loadThisMonthBookmarks, {"yesterday"}},
      {&DataManager::loadTrashedBookmarks, {"locked trash"}},
      {&DataManager::loadBlueBookmarks, {"opened"}},
      {&DataManager::loadFavoriteBookmarks, {"fav"}},
      {&DataManager::loadBrokenBookmarks, {"fav"}},
      {&DataManager::loadBookmarksInInbox, {"fav", "midnight", "opened", "yesterday"}}};
  for (std::size_t i = 0; i < lists.size(); ++i) {
    (dm.*lists[i].first)();
    EXPECT_EQ(sorted(titles(dm.bookmarks())), lists[i].second) << "list " << i;
  }

  const std::vector<std::pair<std::int32_t (DataManager::*)(), std::int32_t>> counts = {
      {&DataManager::numberOfBookmarksInLibrary, 4},      {&DataManager::numberOfTotalBookmarks, 4},
      {&DataManager::numberOBookmarksInTrash, 0},         {&DataManager::numberOfBookmarksInInbox, 4},
      {&DataManager::numberOfBookmarksVisitedToday, 1},   {&DataManager::numberOfBookmarksVisitedYesterday, 1},
      {&DataManager::numberOfBookmarksWithFiveStars, 1},  {&DataManager::numberOfBookmarksWithNotes, 1},
      {&DataManager::numberOfBookmarksWithCredentials, 1}, {&DataManager::numberOfBookmarksWithFavorite, 1},
      {&DataManager::numberOfBookmarksWithColorBlue, 1},  {&DataManager::numberOfBookmarksAddedToday, 4},
      {&DataManager::numberOfBookmarksInTop25, 1}};
  for (std::size_t i = 0; i < counts.size(); ++i) EXPECT_EQ((dm.*counts[i].first)(), counts[i].second) << "count " << i;
  EXPECT_EQ(dm.numberOfBookmarksInFolder(Folder::kInboxID), 4);
}

TEST_F(DataManagerTest, DateWindowsFollowTheDay) {
  openedHoursAgo("http://d.example/", "visited", 1);
  save();
  DataManager dm;
  loadAwake(dm);
  dm.loadTodayBookmarks();
  EXPECT_EQ(dm.bookmarks().size(), 1u);
  EXPECT_EQ(dm.numberOfBookmarksVisitedToday(), 1);
  // The application stays open past midnight.
  now = now.dateByAddingTimeInterval(86400);
  dm.loadBookmarks();
  EXPECT_TRUE(dm.bookmarks().empty());
  EXPECT_EQ(dm.numberOfBookmarksVisitedToday(), 0);
  EXPECT_EQ(dm.numberOfBookmarksVisitedYesterday(), 1);
}

// Paris moves its clocks on at 02:00 on 28 March 2021 (a 23-hour day) and back at 03:00 on
// 31 October 2021 (a 25-hour day). The windows' bounds are the start of the day of now minus
// one or seven times 86,400 s and of now plus 86,400 s, so next to such a change they take in
// a day more or one less than the calendar would.
TEST_F(DataManagerTest, DateWindowsStepBy86400SecondsAcrossDaylightSavingChanges) {
  auto at = [](const char* text) { return *present(brightwren::dateFromString(text), std::string("the date ") + text); };
  // Saves a bookmark for each row: address, title, when it was last opened.
  auto opened = [&](std::initializer_list<std::array<const char*, 3>> rows) {
    for (const auto& [url, title, when] : rows) bookmark(url, title)->setLastOpened(at(when));
    save();
  };
  now = at("2021-03-29 00:30:00 +0200");
  opened({{"http://sat.example/", "saturday", "2021-03-27 12:00:00 +0100"},
          {"http://sun.example/", "sunday", "2021-03-28 12:00:00 +0200"},
          {"http://mon.example/", "monday", "2021-03-29 00:10:00 +0200"},
          {"http://old.example/", "week before", "2021-03-21 23:00:00 +0100"},
          {"http://older.example/", "long before", "2021-03-20 23:00:00 +0100"}});
  {
    DataManager dm;
    loadAwake(dm);
    // now - 86,400 s is Saturday 23:30: Yesterday starts with Saturday.
    dm.loadYesterdayBookmarks();
    EXPECT_EQ(sorted(titles(dm.bookmarks())), (std::vector<std::string>{"saturday", "sunday"}));
    EXPECT_EQ(dm.numberOfBookmarksVisitedYesterday(), 2);
    dm.loadTodayBookmarks();
    EXPECT_EQ(titles(dm.bookmarks()), std::vector<std::string>{"monday"});
    // now - 7 x 86,400 s is Sunday 21 March 23:30.
    dm.loadThisWeekBookmarks();
    EXPECT_EQ(sorted(titles(dm.bookmarks())), (std::vector<std::string>{"monday", "saturday", "sunday", "week before"}));
  }

  // Just after midnight starting the 25-hour day: now + 86,400 s is still the same day, so This
  // week ends where today starts.
  now = at("2021-10-31 00:30:00 +0200");
  opened({{"http://fri.example/", "friday", "2021-10-29 23:30:00 +0200"},
          {"http://sat2.example/", "october saturday", "2021-10-30 12:00:00 +0200"},
          {"http://now.example/", "just now", "2021-10-31 00:10:00 +0200"}});
  DataManager dm;
  loadAwake(dm);
  dm.loadYesterdayBookmarks();
  EXPECT_EQ(titles(dm.bookmarks()), std::vector<std::string>{"october saturday"});
  dm.loadThisWeekBookmarks();
  EXPECT_EQ(sorted(titles(dm.bookmarks())), (std::vector<std::string>{"friday", "october saturday"}));
  // Still the same day at 23:45, but Today ended 24 hours after start-up (23:30).
  now = at("2021-10-31 23:45:00 +0100");
  opened({{"http://late.example/", "late", "2021-10-31 23:40:00 +0100"}});
  load(dm);
  dm.loadTodayBookmarks();
  EXPECT_EQ(titles(dm.bookmarks()), std::vector<std::string>{"just now"});
}

// Top 25 is the first 25 opened bookmarks the library walk meets, not a ranking by visits.
TEST_F(DataManagerTest, Top25HoldsTheFirstOpenedInLibraryOrder) {
  for (int i = 1; i <= 30; ++i) {
    auto b = bookmark("http://top.example/" + std::to_string(i), "t" + std::to_string(i));
    b->setTimesOpened(i == 3 ? 0 : i);  // the newest are opened least
    b->setAddedDate(now.dateByAddingTimeInterval(-i));
  }
  save();
  DataManager dm;
  loadAwake(dm);
  dm.loadTop25Bookmarks();
  ASSERT_EQ(dm.bookmarks().size(), 25u);
  // Date descending: t1 is newest; t3 was never opened, so the list runs t1, t2, t4 ... t26.
  EXPECT_EQ(dm.bookmarks()[0]->title(), "t1");
  EXPECT_EQ(dm.bookmarks()[2]->title(), "t4");
  EXPECT_EQ(dm.bookmarks().back()->title(), "t26");
  EXPECT_EQ(dm.numberOfBookmarksInTop25(), 29);
}

TEST_F(DataManagerTest, TagViewsUseNamesAsArguments) {
  auto both = Bookmark::addBookmarkWithURL("http://tags.example/1", std::vector<std::string>{"it's", "x"});
  both->setTitle(std::string("both"));
  auto one = Bookmark::addBookmarkWithURL("http://tags.example/2", std::vector<std::string>{"it's"});
  one->setTitle(std::string("one"));
  auto gone = Bookmark::addBookmarkWithURL("http://tags.example/3", std::vector<std::string>{"x"});
  gone->setTitle(std::string("gone"));
  gone->setTrashed(1);
  save();
  DataManager dm;
  loadAwake(dm);
  dm.prepareForTagView();
  dm.currentlySelectedTags() = {"it's", "x"};
  dm.loadBookmarks();
  EXPECT_EQ(sorted(titles(dm.bookmarks())), (std::vector<std::string>{"both", "one"}));
  prefs->allTags = true;
  dm.loadBookmarks();
  EXPECT_EQ(titles(dm.bookmarks()), std::vector<std::string>{"both"});
  dm.currentlySelectedTags().clear();
  dm.loadBookmarks();
  EXPECT_TRUE(dm.bookmarks().empty());
  auto tags = dm.allTags();
  EXPECT_FALSE(tags.has_value());
}

TEST_F(DataManagerTest, FolderListsHonourLocksServicesAndSmartPredicates) {
  auto top = folder("top\"id", "Top");
  auto sub = folder("sub", "Sub", "top\"id");
  auto lockedSub = folder("locked", "Locked", "top\"id");
  lockedSub->setBlocked(1);
  bookmark("http://f.example/1", "in top", top);
  bookmark("http://f.example/2", "in sub", sub);
  auto hidden = bookmark("http://f.example/3", "in locked", lockedSub);
  hidden->setBlocked(1);
  auto service = Service::initEntity();
  service->setName("pinboard");
  auto marked = bookmark("http://f.example/4", "marked", top);
  marked->addService(service);
  auto smart = folder("smart", "Smart");
  smart->setIsSmart(true);
  smart->setPredicate(std::string("title == \"in sub\""));
  auto broken = folder("broken", "Broken");
  broken->setIsSmart(true);
  broken->setPredicate(std::string("title == == ("));
  save();
  DataManager dm;
  loadAwake(dm);
  dm.prepareFolderView();
  dm.setCurrentFolder(top);
  dm.loadBookmarks();
  EXPECT_EQ(titles(dm.bookmarks()), std::vector<std::string>{"in top"});
  prefs->subFolders = true;
  dm.loadBookmarks();
  // The locked subfolder's bookmark never shows, and a quote in an identifier is harmless.
  EXPECT_EQ(sorted(titles(dm.bookmarks())), (std::vector<std::string>{"in sub", "in top", "marked"}));
  prefs->subFolders = false;
  dm.setCurrentFolder(smart);
  dm.loadBookmarks();
  EXPECT_EQ(titles(dm.bookmarks()), std::vector<std::string>{"in sub"});
  dm.setCurrentFolder(broken);
  dm.loadBookmarks();
  EXPECT_TRUE(dm.bookmarks().empty());
  EXPECT_EQ(dm.numberOfBookmarksInFolder("top\"id"), 2);
  EXPECT_EQ(dm.bookmarksWithFolder("locked").size(), 1u);
  EXPECT_EQ(dm.numberOfBookmarksInPinboard(), 1);
}

TEST_F(DataManagerTest, SortOrdersFollowThePreferences) {
  auto a = bookmark("http://s.example/a", "banana");
  a->setAddedDate(hoursAgo(3));
  auto b = bookmark("http://s.example/b", "Apple");
  b->setAddedDate(hoursAgo(2));
  b->setRating(4.0);
  auto c = bookmark("http://s.example/c", "cherry");
  c->setAddedDate(hoursAgo(1));
  c->setIsFavorite(1);
  save();
  DataManager dm;
  loadAwake(dm);
  auto listed = [&] {
    dm.loadAllBookmarksInLibrary();
    return titles(dm.bookmarks());
  };
  EXPECT_EQ(listed(), (std::vector<std::string>{"cherry", "Apple", "banana"}));
  prefs->dateDescending = false;
  prefs->dateAscending = true;
  EXPECT_EQ(listed(), (std::vector<std::string>{"banana", "Apple", "cherry"}));
  prefs->dateAscending = false;
  prefs->alphabetically = true;
  EXPECT_EQ(listed(), (std::vector<std::string>{"Apple", "banana", "cherry"}));
  prefs->rating = true;
  const auto byRating = listed();
  ASSERT_FALSE(byRating.empty());
  EXPECT_EQ(byRating.front(), "Apple");
  prefs->favorite = true;
  EXPECT_EQ(listed(), (std::vector<std::string>{"cherry", "Apple", "banana"}));
  prefs->alphabetically = false;  // no primary mode: no order, the extra keys do nothing
  EXPECT_TRUE(dm.folderSortDescriptors().empty());
  prefs->inboxAscending = true;
  ASSERT_EQ(dm.inboxSortDescriptors().size(), 1u);
  EXPECT_TRUE(dm.inboxSortDescriptors()[0].ascending);
}

TEST_F(DataManagerTest, DuplicatesNeverTrashTheLastLiveCopy) {
  auto keep = bookmark("http://dup.example/", "first");
  auto copy = bookmark("http://dup.example/", "second");
  auto trashedCopy = bookmark("http://dup.example/", "trashed");
  trashedCopy->setTrashed(1);
  auto service = Service::initEntity();
  service->setName("pinboard");
  auto pinned = bookmark("http://dup.example/", "pinned");
  pinned->addService(service);
  bookmark("http://DUP.example/", "other case");
  auto lone = bookmark("http://lone.example/", "lone");
  auto loneTrash = bookmark("http://lone.example/", "lone trashed");
  loneTrash->setTrashed(1);
  save();
  DataManager dm;
  loadAwake(dm);
  EXPECT_EQ(titles(dm.duplicates()), std::vector<std::string>{"second"});
  dm.prepareNonFolderViews();
  dm.loadDuplicatedBookmarks();
  EXPECT_EQ(titles(dm.bookmarks()), std::vector<std::string>{"second"});
  dm.removeDuplicates();
  EXPECT_EQ(copy->trashed(), 1);
  EXPECT_EQ(keep->trashed(), 0);
  EXPECT_EQ(pinned->trashed(), 0);
  EXPECT_EQ(lone->trashed(), 0);
  EXPECT_TRUE(dm.duplicates().empty());
  dm.removeDuplicates();
  EXPECT_EQ(keep->trashed(), 0);
}

TEST_F(DataManagerTest, DuplicatesQueryNeverCreatesAStrayStore) {
  bookmark("http://dup.example/", "one");
  bookmark("http://dup.example/", "two");
  save();
  DataManager dm;
  loadAwake(dm);
  auto& stack = WrenDataManager::sharedInstance();
  stack.setCoreDataFolder("elsewhere");
  EXPECT_TRUE(dm.duplicates().empty());
  EXPECT_FALSE(fnd::FileManager::fileExists(stack.persistentStorePath()));
  stack.setCoreDataFolder("kesto");
  EXPECT_EQ(dm.duplicates().size(), 1u);
}

TEST_F(DataManagerTest, BrokenLinkCleanUpAndSearches) {
  auto broken = bookmark("http://broken.example/", "Wiki broken");
  broken->setBroken(1);
  bookmark("http://ok.example/", "wiki ok");
  bookmark("http://other.example/", "other");
  save();
  DataManager dm;
  loadAwake(dm);
  dm.removeBrokenLinks();
  EXPECT_EQ(broken->trashed(), 1);
  EXPECT_EQ(broken->version(), 2);
  dm.applySearchPredicate(store::Predicate::parse("title contains[cd] %@", {"WIKI"}));
  EXPECT_EQ(dm.bookmarks().size(), 2u);
  dm.applySearchPredicateFromMenu(store::Predicate::parse("title contains[cd] %@", {"other"}));
  EXPECT_EQ(titles(dm.menuBookmarks()), std::vector<std::string>{"other"});
  dm.prepareNonFolderViews();
  dm.loadAllBookmarksInLibrary();
  dm.applySearchPredicateOnCurrentSelection(store::Predicate::parse("title contains[cd] %@", {"wiki"}));
  EXPECT_EQ(titles(dm.bookmarks()), std::vector<std::string>{"wiki ok"});
}

TEST_F(DataManagerTest, LoadIncludesBookmarksNotSavedYet) {
  bookmark("http://saved.example/", "saved");
  save();
  auto pending = Bookmark::newBookmark();
  pending->setTitle(std::string("pending"));
  DataManager dm;
  loadAwake(dm);
  EXPECT_EQ(sorted(titles(dm.allBookmarks())), (std::vector<std::string>{"pending", "saved"}));
}

// While the library is read (on a thread of its own) the list on show starts with its first
// screen from the store; the whole list follows when the load ends, with what was saved meanwhile.
TEST_F(DataManagerTest, AListShownWhileTheLibraryLoadsStartsWithItsFirstScreen) {
  std::vector<Bookmark::Ref> made;
  for (int i = 0; i < 260; ++i) {
    made.push_back(bookmark("http://" + std::to_string(i) + ".example/", "t" + std::to_string(i)));
    made.back()->setAddedDate(hoursAgo(i));
  }
  made[1]->setTrashed(1);
  save();
  bool done = false;
  fnd::NotificationCenter::defaultCenter().addObserver(&done, [&](const fnd::Notification&) { done = true; },
                                                       UpdateFoldersNotification);
  DataManager dm;
  dm.setPreferences(prefs);
  dm.awakeFromNib();
  dm.loadAllBookmarksInLibrary();
  ASSERT_EQ(dm.bookmarks().size(), 200u);
  EXPECT_TRUE(dm.isReadingLibrary());
  EXPECT_EQ(dm.bookmarks().front()->title(), "t0");
  EXPECT_EQ(dm.bookmarks()[1]->title(), "t2");
  EXPECT_EQ(dm.bookmarks().back()->title(), "t200");
  EXPECT_TRUE(dm.allBookmarks().empty());
  // Saved before the load is taken in: a new bookmark, one deleted, one retitled.
  auto added = bookmark("http://new.example/", "new");
  added->setAddedDate(hoursAgo(-1));
  made[5]->deleteBookmark();
  made[7]->setTitle(std::string("seven"));
  save();
  ASSERT_TRUE(runUntil([&] { return done; }, 10));
  fnd::NotificationCenter::defaultCenter().removeObserver(&done);
  EXPECT_FALSE(dm.isReadingLibrary());
  dm.loadAllBookmarksInLibrary();
  const auto shown = titles(dm.bookmarks());
  ASSERT_EQ(shown.size(), 259u);
  EXPECT_EQ(std::vector<std::string>(shown.begin(), shown.begin() + 7),
            (std::vector<std::string>{"new", "t0", "t2", "t3", "t4", "t6", "seven"}));
  EXPECT_EQ(dm.allBookmarks().size(), 260u);
  EXPECT_EQ(dm.bookmarks()[1].get(), made[0].get());
  EXPECT_EQ(dm.numberOfBookmarksInLibrary(), 259);
}

TEST_F(DataManagerTest, TrashCountLeavesOutLockedBookmarksTheTrashListShows) {
  auto lockedTrash = bookmark("http://lt.example/", "locked trash");
  lockedTrash->setTrashed(1);
  lockedTrash->setBlocked(1);
  auto trash = bookmark("http://t.example/", "trash");
  trash->setTrashed(1);
  save();
  DataManager dm;
  loadAwake(dm);
  dm.prepareNonFolderViews();
  dm.loadTrashedBookmarks();
  EXPECT_EQ(dm.bookmarks().size(), 2u);
  EXPECT_EQ(dm.numberOBookmarksInTrash(), 1);
  EXPECT_EQ(dm.numberOfTotalBookmarks(), 0);
  // Saved since the load: the store counters see it at once, the in-memory ones after addBookmarks.
  auto fresh = bookmark("http://fresh.example/", "fresh");
  fresh->setIsFavorite(1);
  save();
  EXPECT_EQ(dm.numberOfBookmarksWithFavorite(), 1);
  EXPECT_EQ(dm.numberOfBookmarksInLibrary(), 0);
  dm.addBookmarks({fresh});
  EXPECT_EQ(dm.numberOfBookmarksInLibrary(), 1);
}

TEST_F(DataManagerTest, MenuBarListsAndNotificationsItObserves) {
  auto never = bookmark("http://menu.example/never", "b never opened");
  auto recent = openedHoursAgo("http://menu.example/recent", "a recent", 1);
  recent->setIsFavorite(1);
  auto old = openedHoursAgo("http://menu.example/old", "C old", 500);
  old->setIsFavorite(1);
  auto gone = bookmark("http://menu.example/gone", "gone");
  gone->setTrashed(1);
  save();
  DataManager dm;
  loadAwake(dm);
  dm.loadWeekBookmarksMenu();
  // No date window: every live bookmark, most recently opened first, never-opened ones last.
  EXPECT_EQ(titles(dm.menuBookmarks()), (std::vector<std::string>{"a recent", "C old", "b never opened"}));
  dm.loadFavoriteBookmarksMenu();
  EXPECT_EQ(titles(dm.menuBookmarks()), (std::vector<std::string>{"C old", "a recent"}));
  dm.prepareNonFolderViews();
  dm.loadAllBookmarksInLibrary();
  EXPECT_EQ(dm.bookmarks().size(), 3u);
  ViewUpdater::clearBookmarks();
  EXPECT_TRUE(dm.bookmarks().empty());
  bool reloaded = false;
  fnd::NotificationCenter::defaultCenter().addObserver(&reloaded, [&](const fnd::Notification&) { reloaded = true; },
                                                       UpdateFoldersNotification);
  fnd::NotificationCenter::defaultCenter().postNotificationName(FetchBookmarksFromCoreDataNotification);
  EXPECT_TRUE(runUntil([&] { return reloaded; }, 10));
  fnd::NotificationCenter::defaultCenter().removeObserver(&reloaded);
}

TEST_F(DataManagerTest, InMemoryAdditionsNeverHoldABookmarkTwice) {
  auto a = bookmark("http://m.example/a", "a");
  auto b = bookmark("http://m.example/b", "b");
  save();
  DataManager dm;
  loadAwake(dm);
  dm.addBookmarks({a});
  ASSERT_EQ(dm.allBookmarks().size(), 2u);
  EXPECT_EQ(dm.allBookmarks().back(), a);
  auto c = bookmark("http://m.example/c", "c");
  EXPECT_EQ(dm.numberOfBookmarksInLibrary(), 2);
  dm.addBookmarks({c});
  EXPECT_EQ(dm.numberOfBookmarksInLibrary(), 3);
  dm.removeBookmarks({a, b});
  EXPECT_EQ(titles(dm.allBookmarks()), std::vector<std::string>{"c"});
}

TEST(DataManagerContract, MadeOffTheMainThreadItRefusesToExist) {
  bool refused = false;
  std::thread([&] {
    try {
      DataManager off;
    } catch (const fnd::ContractViolation& e) {
      refused = e.failure().reason.find("DataManager::DataManager") != std::string::npos;
    }
  }).join();
  EXPECT_TRUE(refused);
  DataManager here;  // the main thread is fine
}

}  // namespace
}  // namespace kesto::test
