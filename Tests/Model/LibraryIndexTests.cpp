// The lists and counts the library answers from its index, compared with a test of every
// bookmark against the same predicate, on random libraries through random changes.
#include "LibraryFixture.h"

#include "Model/Service.h"
#include "Model/ViewUpdater.h"

#include "Platform/Foundation/UndoManager.h"

#include <random>
#include <set>

namespace kesto::test {
namespace {

using SmartList = DataManager::SmartList;

// Lists print as their bookmarks' addresses, with the flags the lists test.
std::vector<std::string> described(const DataManager::BookmarkList& list) {
  std::vector<std::string> out;
  for (const auto& b : list)
    out.push_back(b->url().value_or("?") + " t" + std::to_string(b->trashed()) + "b" + std::to_string(b->blocked()) +
                  "f" + std::to_string(b->isFavorite()) + "r" + std::to_string(b->rating().value_or(-1)) + " " + b->title().value_or(""));
  return out;
}

class LibraryIndexTest : public LibraryTest {
 protected:
  // Every bookmark of the library the predicate text accepts, in library order.
  static DataManager::BookmarkList plain(const DataManager& dm, const std::string& text, const fnd::Array& args = {}) {
    auto p = store::Predicate::parse(text, args);
    EXPECT_TRUE(p) << text;
    return plain(dm, p);
  }
  static DataManager::BookmarkList plain(const DataManager& dm, const store::PredicateRef& p) {
    DataManager::BookmarkList out;
    for (const auto& b : dm.allBookmarks())
      if (p && p->evaluate(fnd::Value(std::static_pointer_cast<fnd::Object>(b)))) out.push_back(b);
    return out;
  }
  static DataManager::BookmarkList sortedBy(DataManager::BookmarkList list, const DataManager& dm) {
    sortBookmarks(list, dm.folderSortDescriptors());
    return list;
  }

  // Shows one of four lists (the library, a folder, a folder with its subfolders, a smart list)
  // and answers what a plain test finds for it.
  DataManager::BookmarkList show(DataManager& dm, int which, const Folder::Ref& f) {
    prefs->subFolders = which == 2;
    if (which == 1 || which == 2) {
      dm.prepareFolderView();
      dm.setCurrentFolder(f);
    } else {
      dm.prepareNonFolderViews();
    }
    if (which == 0) dm.loadAllBookmarksInLibrary();
    else if (which == 3) dm.loadFavoriteBookmarks();
    else dm.loadBookmarks();
    prefs->subFolders = false;
    const fnd::Array args{fnd::Value(f->folderID())};
    if (which == 0) return sortedBy(plain(dm, "trashed < 1 and blocked < 1"), dm);
    if (which == 3) return sortedBy(plain(dm, "isFavorite > 0 and trashed < 1 and blocked < 1"), dm);
    if (which == 1)
      return sortedBy(plain(dm, "folder.folderID = %@ and trashed < 1 and blocked < 1 and services.@count == 0", args), dm);
    fnd::Array ids;
    for (const auto& id : Bookmark::folderIDsForFolder(f->folderID())) ids.emplace_back(id);
    return sortedBy(plain(dm, "trashed < 1 and blocked < 1 and folder.folderID IN %@", {fnd::Value(ids)}), dm);
  }

  // Every folder list, badge, smart list and in-memory counter against the plain test.
  void expectSameAsPlain(DataManager& dm, const std::vector<Folder::Ref>& folders, const std::string& step) {
    SCOPED_TRACE(step);
    const auto badges = dm.numberOfBookmarksInFolders();
    for (const auto& f : folders) {
      const std::string id = f->folderID();
      const fnd::Array args{fnd::Value(id)};
      dm.prepareFolderView();
      dm.setCurrentFolder(f);
      dm.loadBookmarks();
      EXPECT_EQ(described(dm.bookmarks()),
                described(sortedBy(plain(dm, "folder.folderID = %@ and trashed < 1 and blocked < 1 and services.@count == 0", args), dm)))
          << id;
      auto counted = static_cast<std::int32_t>(plain(dm, "folder.folderID = %@ and trashed < 1 and blocked < 1", args).size());
      auto it = badges.find(id);
      EXPECT_EQ(it == badges.end() ? 0 : it->second, counted) << id;
      EXPECT_EQ(dm.numberOfBookmarksInFolder(id), counted) << id;
      EXPECT_EQ(dm.bookmarksWithFolder(id), plain(dm, "folder.folderID = %@", args)) << id;
    }
    // No badge for a folder the plain test finds empty.
    for (const auto& [id, n] : badges) EXPECT_GT(n, 0) << id;
    prefs->subFolders = true;
    dm.setCurrentFolder(folders.front());
    dm.loadBookmarks();
    auto ids = Bookmark::folderIDsForFolder(folders.front()->folderID());
    fnd::Array idArgs;
    for (const auto& id : ids) idArgs.emplace_back(id);
    EXPECT_EQ(described(dm.bookmarks()),
              described(sortedBy(plain(dm, "trashed < 1 and blocked < 1 and folder.folderID IN %@", {fnd::Value(idArgs)}), dm)));
    prefs->subFolders = false;

    dm.prepareNonFolderViews();
    for (int i = 0; i <= static_cast<int>(SmartList::MissingImages); ++i) {
      const auto list = static_cast<SmartList>(i);
      if (list == SmartList::Duplicates) continue;
      dm.loadSmartList(list);
      ASSERT_EQ(dm.currentPredicate(), dm.predicateFor(list));
      auto expected = plain(dm, dm.predicateFor(list));
      if (list == SmartList::Top25) {
        if (expected.size() > 25) expected.resize(25);
      } else {
        expected = sortedBy(expected, dm);
      }
      EXPECT_EQ(described(dm.bookmarks()), described(expected)) << "smart list " << i;
    }
    auto count = [&](const char* text) { return static_cast<std::int32_t>(plain(dm, text).size()); };
    EXPECT_EQ(dm.numberOfBookmarksInLibrary(), count("trashed < 1 and blocked < 1"));
    EXPECT_EQ(dm.numberOfTotalBookmarks(), count("trashed < 1"));
    EXPECT_EQ(dm.numberOfImportedBookmarks(), count("showImported >0 and trashed < 1 and blocked < 1"));
    EXPECT_EQ(dm.numberOBookmarksInTrash(), count("trashed > 0 and blocked < 1"));
    EXPECT_EQ(dm.numberOfBookmarksInInbox(), count("folder.folderID = '_inbox' and trashed < 1 and blocked < 1"));
  }
};

TEST_F(LibraryIndexTest, ListsAndCountsMatchATestOfEveryBookmarkThroughRandomChanges) {
  std::mt19937 random(20261207);
  auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
  std::vector<Folder::Ref> folders{Folder::inboxFolder()};
  for (int i = 0; i < 6; ++i)
    folders.push_back(folder("f" + std::to_string(i), "Folder " + std::to_string(i), i < 3 ? std::string(Folder::kRootID) : "f" + std::to_string(i - 3)));
  auto service = Service::initEntity();
  service->setName("pinboard");
  const std::vector<std::string> colors{"blue", "Orange", "RED", "green", "yellow", "grey", "purple"};
  // Every attribute a smart list tests, set at random.
  auto shake = [&](const Bookmark::Ref& b) {
    switch (pick(11)) {
      case 0: b->setFolder(folders[pick(folders.size())]); break;
      case 1: b->setTrashed(static_cast<std::int64_t>(pick(2))); break;
      case 2: b->setBlocked(static_cast<std::int64_t>(pick(3) == 0)); break;
      case 3: b->setTimesOpened(static_cast<std::int64_t>(pick(3))); break;
      case 4: b->setColor(colors[pick(colors.size())]); break;
      case 5: b->setRating(static_cast<std::int64_t>(pick(6))); break;
      case 6: b->setNotes(pick(2) ? std::optional<std::string>("note") : std::nullopt); break;
      case 7: b->setIsFavorite(static_cast<std::int64_t>(pick(2))); break;
      case 8: b->setLogin(pick(2) ? std::optional<std::string>("me") : std::nullopt); break;
      case 9: b->setLastOpened(fnd::Date::now().dateByAddingTimeInterval(-3600.0 * static_cast<double>(pick(24 * 40)))); break;
      default: b->setShowImported(static_cast<std::int64_t>(pick(2))); break;
    }
  };
  for (int i = 0; i < 120; ++i) {
    // One draw after the other: the order a compiler evaluates arguments in must not change the run.
    const std::string title = "t" + std::to_string(pick(40));
    auto b = bookmark("http://r.example/" + std::to_string(i), title, folders[pick(folders.size())]);
    for (int k = 0; k < 3; ++k) shake(b);
    if (pick(15) == 0) b->addService(service);
  }
  save();
  // Sorted by rating, then title: many ties, which must keep the library's order.
  prefs->dateDescending = false;
  prefs->rating = prefs->alphabetically = true;
  DataManager dm;
  loadAwake(dm);
  auto* undo = dm.context()->undoManager();
  ASSERT_NE(undo, nullptr);
  undo->setGroupsByEvent(false);
  expectSameAsPlain(dm, folders, "loaded");

  for (int step = 0; step < 60; ++step) {
    const auto& all = dm.allBookmarks();
    // Edits go to bookmarks of the store: one deleted but still held is no longer edited.
    std::vector<Bookmark::Ref> stored;
    for (const auto& b : all)
      if (b->context()) stored.push_back(b);
    auto any = [&] { return stored[pick(stored.size())]; };
    std::string what;
    // A list is shown before the change and shown again after it, as the browser does.
    const int watched = static_cast<int>(pick(4));
    const auto& watchedFolder = folders[pick(3)];
    show(dm, watched, watchedFolder);
    const auto kind = pick(8);
    // Each change is one undo step.
    if (kind != 4) undo->beginUndoGrouping();
    switch (kind) {
      case 0:  // edits, saved
      case 1: {
        what = "saved edits";
        for (int k = 0; k < 4; ++k) shake(any());
        save();
        break;
      }
      case 2:  // edits not saved yet
        what = "unsaved edits";
        for (int k = 0; k < 3; ++k) shake(any());
        break;
      case 3:  // edits thrown away
        what = "rolled back edits";
        for (int k = 0; k < 3; ++k) shake(any());
        expectSameAsPlain(dm, folders, "before the rollback");
        dm.context()->rollback();
        break;
      case 4:  // the last saved group undone and saved
        what = "undo";
        if (undo->canUndo()) undo->undo();
        // As the application saves an undo: without recording the save as a new step.
        undo->disableUndoRegistration();
        save();
        undo->enableUndoRegistration();
        break;
      case 5: {  // a new bookmark, then one taken out of the library
        what = "added and removed";
        auto b = bookmark("http://n.example/" + std::to_string(step), "new", folders[pick(folders.size())]);
        shake(b);
        save();
        dm.addBookmarks({b, all[pick(all.size())]});
        dm.removeBookmarks({all[pick(all.size())]});
        break;
      }
      case 6: {  // a folder's identifier changes
        what = "folder renamed";
        auto& f = folders[1 + pick(folders.size() - 1)];
        f->setFolderID(f->folderID() + "x");
        save();
        break;
      }
      default: {  // a bookmark deleted from the store
        what = "deleted";
        auto b = all[pick(all.size())];
        dm.context()->deleteObject(b);
        save();
        if (pick(2)) dm.removeBookmarks({b});
        break;
      }
    }
    if (kind != 4) undo->endUndoGrouping();
    // Shown again first, then read: the list as the change left it after the refresh.
    const auto expected = described(show(dm, watched, watchedFolder));
    EXPECT_EQ(described(dm.bookmarks()), expected) << "step " << step << ": " << what << ", list " << watched;
    expectSameAsPlain(dm, folders, "step " + std::to_string(step) + ": " + what);
    if (HasFailure()) return;
  }
}

// An undo can add, delete and change anything; the library follows the save that writes it
// without reading the store again, and ends as a fresh load would.
TEST_F(LibraryIndexTest, AFollowedSaveOfUndoAndRedoEndsAsAFreshLoad) {
  auto kept = folder("kept", "Kept");
  auto a = bookmark("http://a.example/", "a", kept);
  auto b = bookmark("http://b.example/", "b", kept);
  bookmark("http://c.example/", "c", Folder::inboxFolder());
  save();
  DataManager dm;
  loadAwake(dm);
  auto* undo = dm.context()->undoManager();
  ASSERT_NE(undo, nullptr);
  undo->setGroupsByEvent(false);
  auto identities = [](const auto& list) {
    std::set<const void*> out;
    for (const auto& o : list) out.insert(o.get());
    return out;
  };
  auto expectAsStored = [&](const std::string& step) {
    SCOPED_TRACE(step);
    EXPECT_EQ(identities(dm.allBookmarks()), identities(Bookmark::fetchEntities().value_or(Bookmark::List{})));
    const auto stored = Folder::fetchEntities().value_or(Folder::List{});
    EXPECT_EQ(identities(dm.allFolders()), identities(stored));
    expectSameAsPlain(dm, std::vector<Folder::Ref>(stored.begin(), stored.end()), step);
  };
  // One step: a bookmark and a folder made, one bookmark deleted, one trashed.
  dm.loadAllBookmarksInLibrary();
  undo->beginUndoGrouping();
  // Made without the helpers' own saves: the step's one save writes everything.
  auto made = folder("made", "Made");
  auto d = Bookmark::initEntity();
  d->setUrl("http://d.example/");
  d->setTitle("d");
  d->setFolder(made);
  dm.context()->deleteObject(b);
  a->setTrashed(1);
  undo->endUndoGrouping();
  dm.followSave([&] { save(); });
  expectAsStored("done");
  for (const char* step : {"undone", "redone", "undone again"}) {
    if (std::string(step) == "redone") undo->redo();
    else undo->undo();
    undo->disableUndoRegistration();
    dm.followSave([&] { save(); });
    undo->enableUndoRegistration();
    expectAsStored(step);
    dm.loadAllBookmarksInLibrary();
    const bool undone = std::string(step) != "redone";
    EXPECT_EQ(sorted(titles(dm.bookmarks())), undone ? (std::vector<std::string>{"a", "b", "c"})
                                                     : (std::vector<std::string>{"c", "d"}));
  }
  undo->setGroupsByEvent(true);
}

// After an undo the folder list is built again only when folders came, went or changed; the
// menu-bar list is made when it is asked for, from the library as it is then.
TEST_F(LibraryIndexTest, AFollowedSaveRebuildsTheFolderListOnlyForFolderChanges) {
  auto kept = folder("kept", "Kept");
  auto a = bookmark("http://a.example/", "a", kept);
  bookmark("http://b.example/", "b", kept);
  save();
  DataManager dm;
  loadAwake(dm);
  int completely = 0, badges = 0;
  auto& center = fnd::NotificationCenter::defaultCenter();
  center.addObserver(this, [&](const fnd::Notification&) { ++completely; }, BRWUpdateFoldersCompletelyViewNotification);
  center.addObserver(this, [&](const fnd::Notification&) { ++badges; }, BRWUpdateFoldersViewNotification);
  auto step = [&](const char* what, const std::function<void()>& change, bool folders) {
    SCOPED_TRACE(what);
    completely = badges = 0;
    change();
    dm.followSave([&] { save(); });
    EXPECT_EQ(completely, folders ? 1 : 0);
    EXPECT_EQ(badges, folders ? 0 : 1);
  };
  step("bookmark made", [&] { Bookmark::initEntity()->setUrl("http://c.example/"); }, false);
  EXPECT_EQ(dm.menuBookmarks().size(), 3u);
  step("bookmark trashed", [&] { a->setTrashed(1); }, false);
  EXPECT_EQ(dm.menuBookmarks().size(), 2u);
  EXPECT_EQ(std::count(dm.menuBookmarks().begin(), dm.menuBookmarks().end(), a), 0);
  step("folder renamed", [&] { kept->setName("Renamed"); }, true);
  Folder::Ref made;
  step("folder made", [&] { made = folder("made", "Made"); }, true);
  step("folder deleted", [&] { dm.context()->deleteObject(made); }, true);
  // The favourites asked for in the menu bar stay until the next change.
  dm.loadFavoriteBookmarksMenu();
  EXPECT_TRUE(dm.menuBookmarks().empty());
  step("bookmark changed", [&] { a->setTitle("A"); }, false);
  EXPECT_EQ(dm.menuBookmarks().size(), 2u);
  center.removeObserver(this);
}

// Folders that only came are named to the folder list, which can put their rows in beside the
// others; with a folder changed or gone in the same save the list is built again whole.
TEST_F(LibraryIndexTest, FoldersThatOnlyCameAreNamedToTheFolderList) {
  auto kept = folder("kept", "Kept");
  save();
  DataManager dm;
  loadAwake(dm);
  std::vector<std::vector<std::string>> named;
  auto& center = fnd::NotificationCenter::defaultCenter();
  center.addObserver(this, [&](const fnd::Notification& n) {
    std::vector<std::string> ids;
    for (const auto& f : ViewUpdater::addedFolders(n)) ids.push_back(f->folderID());
    named.push_back(ids);
  }, BRWUpdateFoldersCompletelyViewNotification);
  dm.followSave([&] {
    folder("one", "One");
    folder("two", "Two", "one");
    save();
  });
  ASSERT_EQ(named.size(), 1u);
  std::sort(named[0].begin(), named[0].end());
  EXPECT_EQ(named[0], (std::vector<std::string>{"one", "two"}));
  dm.followSave([&] {
    folder("three", "Three");
    kept->setName("Renamed");
    save();
  });
  ASSERT_EQ(named.size(), 2u);
  EXPECT_TRUE(named[1].empty());
  dm.followSave([&] {
    folder("four", "Four");
    dm.context()->deleteObject(Folder::existingFolderWithFolderID("three"));
    save();
  });
  ASSERT_EQ(named.size(), 3u);
  EXPECT_TRUE(named[2].empty());
  center.removeObserver(this);
}

TEST_F(LibraryIndexTest, ChangesMergedFromAnotherContextAreSeen) {
  auto f = folder("merged", "Merged");
  auto b = bookmark("http://merge.example/", "merged", f);
  save();
  DataManager dm;
  loadAwake(dm);
  EXPECT_EQ(dm.numberOfBookmarksInFolder("merged"), 1);
  // A background context trashes it and the main context takes the save in.
  auto other = WrenDataManager::sharedInstance().newManagedObjectContext();
  auto copy = std::dynamic_pointer_cast<Bookmark>(other->objectWithID(b->objectID()));
  ASSERT_TRUE(copy);
  copy->setTrashed(1);
  store::SaveNotification saved;
  int token = other->addSaveObserver([&](const store::SaveNotification& n) { saved = n; });
  ASSERT_TRUE(other->save());
  other->removeSaveObserver(token);
  dm.context()->mergeChangesFromSave(saved);
  EXPECT_EQ(b->trashed(), 1);
  EXPECT_EQ(dm.numberOfBookmarksInFolder("merged"), 0);
  EXPECT_EQ(dm.numberOBookmarksInTrash(), 1);
  // The same taken in slice by slice: counted once the last slice is in.
  copy->setTrashed(0);
  token = other->addSaveObserver([&](const store::SaveNotification& n) { saved = n; });
  ASSERT_TRUE(other->save());
  other->removeSaveObserver(token);
  bool done = false;
  dm.context()->mergeChangesFromSaveInSlices(saved, [&] { done = true; }, 1);
  ASSERT_TRUE(runUntil([&] { return done; }, 10));
  EXPECT_EQ(dm.numberOfBookmarksInFolder("merged"), 1);
  EXPECT_EQ(dm.numberOBookmarksInTrash(), 0);
}

// Rows another context saved (an import's) are in the library at once; the views follow in a turn
// of their own, so taking many rows in and redrawing never hold the window up in one piece.
TEST_F(LibraryIndexTest, AMergedSaveIsHeldAtOnceAndShownInATurnOfItsOwn) {
  DataManager dm;
  loadAwake(dm);
  auto other = WrenDataManager::sharedInstance().newManagedObjectContext();
  auto made = Folder::folderWithFolderID("made", other);
  made->setName("Made");
  made->setParentFolderID(Folder::kImportedID);
  auto b = Bookmark::initEntityInContext(other);
  b->setUrl("http://made.example/");
  b->setFolder(made);
  store::SaveNotification saved;
  const int token = other->addSaveObserver([&](const store::SaveNotification& n) { saved.insertedIDs = n.insertedIDs; });
  ASSERT_TRUE(other->save());
  other->removeSaveObserver(token);
  dm.context()->mergeChangesFromSave(saved);
  std::vector<std::vector<std::string>> named;
  auto& center = fnd::NotificationCenter::defaultCenter();
  center.addObserver(this, [&](const fnd::Notification& n) {
    std::vector<std::string> ids;
    for (const auto& f : ViewUpdater::addedFolders(n)) ids.push_back(f->folderID());
    named.push_back(ids);
  }, BRWUpdateFoldersCompletelyViewNotification);
  dm.followMergedSave(saved);
  EXPECT_EQ(dm.numberOfBookmarksInFolder("made"), 1);
  EXPECT_TRUE(named.empty());
  ASSERT_TRUE(runUntil([&] { return !named.empty(); }, 10));
  EXPECT_EQ(named, (std::vector<std::vector<std::string>>{{"made"}}));
  center.removeObserver(this);
}

TEST_F(LibraryIndexTest, EverySmartListLoaderShowsItsOwnPredicate) {
  DataManager dm;
  loadAwake(dm);
  const auto& p = dm.predicates();
  const std::vector<std::pair<void (DataManager::*)(), store::PredicateRef>> loaders{
      {&DataManager::loadAllBookmarksInLibrary, p.library}, {&DataManager::loadBookmarksInInbox, p.inbox},
      {&DataManager::loadTrashedBookmarks, p.trash}, {&DataManager::loadDeliciousBookmarks, p.delicious},
      {&DataManager::loadPinboardBookmarks, p.pinboard}, {&DataManager::loadTodayBookmarks, p.today},
      {&DataManager::loadYesterdayBookmarks, p.yesterday}, {&DataManager::loadThisWeekBookmarks, p.thisweek},
      {&DataManager::loadThisMonthBookmarks, p.thisMonth}, {&DataManager::loadAddedTodayBookmarks, p.addedToday},
      {&DataManager::loadAddedYesterdayBookmarks, p.addedYesterday},
      {&DataManager::loadAddedThisWeekBookmarks, p.addedThisweek},
      {&DataManager::loadAddedThisMonthBookmarks, p.addedThisMonth},
      {&DataManager::loadModifiedTodayBookmarks, p.modifiedToday},
      {&DataManager::loadModifiedYesterdayBookmarks, p.modifiedYesterday},
      {&DataManager::loadModifiedThisWeekBookmarks, p.modifiedThisweek},
      {&DataManager::loadModifiedThisMonthBookmarks, p.modifiedThisMonth},
      {&DataManager::loadAnnotatedBookmarks, p.annotated}, {&DataManager::loadTop25Bookmarks, p.top25},
      {&DataManager::loadFiveStarsBookmarks, p.fiveStars}, {&DataManager::loadFavoriteBookmarks, p.favorites},
      {&DataManager::loadBookmarksWithCredentials, p.withCredentials},
      {&DataManager::loadBookmarksWithTags, p.withTags}, {&DataManager::loadBlueBookmarks, p.blue},
      {&DataManager::loadOrangeBookmarks, p.orange}, {&DataManager::loadRedBookmarks, p.red},
      {&DataManager::loadGreenBookmarks, p.green}, {&DataManager::loadYellowBookmarks, p.yellow},
      {&DataManager::loadGreyBookmarks, p.grey}, {&DataManager::loadBrokenBookmarks, p.brokenLinks},
      {&DataManager::loadDuplicatedBookmarks, p.duplicates},
      {&DataManager::loadMissingImagesBookmarks, p.missingImages},
  };
  std::set<const store::Predicate*> distinct;
  for (const auto& [load, predicate] : loaders) {
    ASSERT_TRUE(predicate);
    (dm.*load)();
    EXPECT_EQ(dm.currentPredicate(), predicate) << predicate->format();
    distinct.insert(predicate.get());
  }
  EXPECT_EQ(distinct.size(), loaders.size());
}

TEST_F(LibraryIndexTest, ARenamedServiceMovesItsBookmarksBetweenTheServiceLists) {
  auto service = Service::initEntity();
  service->setName("pinboard");
  auto marked = bookmark("http://service.example/", "marked");
  marked->addService(service);
  save();
  DataManager dm;
  loadAwake(dm);
  dm.prepareNonFolderViews();
  dm.loadPinboardBookmarks();
  EXPECT_EQ(titles(dm.bookmarks()), std::vector<std::string>{"marked"});
  service->setName("delicious");
  save();
  dm.loadPinboardBookmarks();
  EXPECT_TRUE(dm.bookmarks().empty());
  dm.loadDeliciousBookmarks();
  EXPECT_EQ(titles(dm.bookmarks()), std::vector<std::string>{"marked"});
}

TEST_F(LibraryIndexTest, BrowsingStateIsSetInOneStepAndReadBackWhole) {
  using Browsing = DataManager::BrowsingState;
  DataManager dm;
  dm.setPreferences(prefs);
  auto f = folder("browsed", "Browsed");
  dm.browse({f, true, {"a", "b"}, Browsing::Service::Pinboard});
  EXPECT_EQ(dm.currentFolder(), f);
  EXPECT_TRUE(dm.loadingFromTags());
  EXPECT_EQ(dm.currentlySelectedTags(), (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(dm.loadingFromPinboard());
  EXPECT_FALSE(dm.loadingFromDelicious());
  auto state = dm.browsingState();
  EXPECT_EQ(state.service, Browsing::Service::Pinboard);
  state.service = Browsing::Service::Delicious;
  dm.browse(state);
  EXPECT_TRUE(dm.loadingFromDelicious());
  EXPECT_FALSE(dm.loadingFromPinboard());
  EXPECT_EQ(dm.currentlySelectedTags().size(), 2u);
  // The empty state is what the library row and the smart lists show.
  dm.browse({});
  EXPECT_FALSE(dm.currentFolder());
  EXPECT_FALSE(dm.loadingFromTags() || dm.loadingFromPinboard() || dm.loadingFromDelicious());
  EXPECT_TRUE(dm.currentlySelectedTags().empty());
}

}  // namespace
}  // namespace kesto::test
