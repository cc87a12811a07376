// New and changed bookmarks merge into the lists already computed instead of the lists being
// filtered and sorted again: the merged list must be exactly the one a full computation gives,
// ties included, and the views are told which rows left and came.
#include "LibraryFixture.h"

#include "Model/ViewUpdater.h"

#include <random>
#include <set>
#include <unordered_map>

namespace kesto::test {
namespace {

using SortDescriptors = DataManager::SortDescriptors;
using Comparison = store::SortDescriptor::Comparison;

// Lists print as address and the keys the orders use.
std::vector<std::string> described(const DataManager::BookmarkList& list) {
  std::vector<std::string> out;
  for (const auto& b : list)
    out.push_back(b->url().value_or("?") + " " + b->title().value_or("-") + " r" +
                  std::to_string(b->rating().value_or(-1)) + " f" + std::to_string(b->isFavorite()));
  return out;
}

// The orders the preferences can ask for, each with many equal keys in the bookmarks below.
const std::vector<SortDescriptors>& orders() {
  static const std::vector<SortDescriptors> all{
      {store::SortDescriptor("addedDate", false)},
      {store::SortDescriptor("rating", false), store::SortDescriptor("title", true, Comparison::CaseInsensitive)},
      {store::SortDescriptor("isFavorite", false), store::SortDescriptor("addedDate", true)},
      {store::SortDescriptor("title", true, Comparison::CaseInsensitive)},
      {},
  };
  return all;
}

class MergedListTest : public LibraryTest {
 protected:
  // A bookmark with keys drawn from few values: equal keys, titles equal but for case, missing
  // titles and ratings.
  Bookmark::Ref shaken(std::mt19937& random, int n, const std::vector<Folder::Ref>& folders) {
    static const std::vector<std::optional<std::string>> titles{"apple", "Apple", "APPLE", "banana", "Banana",
                                                                "éclair", "Éclair", "zebra", std::nullopt, ""};
    auto b = Bookmark::initEntity();
    b->setUrl("http://m.example/" + std::to_string(n));
    b->setTitle(titles[random() % titles.size()]);
    if (random() % 4) b->setRating(static_cast<double>(random() % 3));
    b->setIsFavorite(static_cast<std::int64_t>(random() % 2));
    b->setTrashed(static_cast<std::int64_t>(random() % 9 == 0));
    b->setAddedDate(fnd::Date(1.0e9 + 86400.0 * static_cast<double>(random() % 4)));
    b->setFolder(folders[random() % folders.size()]);
    return b;
  }
};

// The merge alone, against a stable sort of the whole list in library order.
TEST_F(MergedListTest, AMergedBatchIsWhatSortingTheWholeListGives) {
  std::mt19937 random(4207);
  const std::vector<Folder::Ref> folders{Folder::inboxFolder()};
  for (int round = 0; round < 60; ++round) {
    const auto& sorts = orders()[static_cast<std::size_t>(round) % orders().size()];
    // Empty lists, batches larger than the list, and a batch that all goes to one end.
    const std::size_t n = round % 7 == 0 ? 0 : random() % 120, k = round % 5 == 0 ? 1 : random() % 200;
    DataManager::BookmarkList library;
    for (std::size_t i = 0; i < n + k; ++i) library.push_back(shaken(random, static_cast<int>(i), folders));
    std::shuffle(library.begin(), library.end(), random);
    std::unordered_map<const Bookmark*, std::uint32_t> order;
    for (std::uint32_t i = 0; i < library.size(); ++i) order[library[i].get()] = i;
    std::vector<bool> isNew(n + k);
    std::fill(isNew.begin(), isNew.begin() + static_cast<long>(k), true);
    std::shuffle(isNew.begin(), isNew.end(), random);
    if (round % 10 == 3) {
      // The batch all sorts after the list: its places are the end.
      auto all = library;
      sortBookmarks(all, sorts);
      std::set<const Bookmark*> last;
      for (std::size_t i = n; i < n + k; ++i) last.insert(all[i].get());
      for (std::size_t i = 0; i < library.size(); ++i) isNew[i] = last.count(library[i].get()) > 0;
    }
    DataManager::BookmarkList list, incoming;
    for (std::size_t i = 0; i < library.size(); ++i) (isNew[i] ? incoming : list).push_back(library[i]);
    std::shuffle(incoming.begin(), incoming.end(), random);
    sortBookmarks(list, sorts);
    const auto before = list;
    const auto batch = incoming;
    auto places = mergeSortedBookmarks(list, std::move(incoming), sorts, [&](const Bookmark* b) { return order.at(b); });
    auto expected = library;
    sortBookmarks(expected, sorts);
    ASSERT_EQ(described(list), described(expected)) << "round " << round;
    EXPECT_EQ(list, expected) << "round " << round;
    // The places name exactly the batch, in increasing order, and the rest keep their order.
    ASSERT_EQ(places.size(), batch.size());
    EXPECT_TRUE(std::is_sorted(places.begin(), places.end()));
    DataManager::BookmarkList rest, taken;
    for (std::size_t i = 0, p = 0; i < list.size(); ++i)
      (p < places.size() && places[p] == i ? (++p, taken) : rest).push_back(list[i]);
    EXPECT_EQ(rest, before);
    EXPECT_EQ(std::set<Bookmark::Ref>(taken.begin(), taken.end()), std::set<Bookmark::Ref>(batch.begin(), batch.end()));
  }
}

// An import larger than any limit a patch once had: each list shown takes the new bookmarks in
// as a full computation would, and the views hear which rows came instead of reloading.
TEST_F(MergedListTest, AnImportMergesIntoTheListsShownAsAFullComputationWould) {
  std::mt19937 random(99);
  std::vector<Folder::Ref> folders{Folder::inboxFolder(), folder("m1", "M1"), folder("m2", "M2", "m1")};
  for (int i = 0; i < 300; ++i) shaken(random, i, folders);
  save();
  prefs->dateDescending = false;
  prefs->rating = prefs->alphabetically = true;
  DataManager dm;
  loadAwake(dm);
  std::optional<ViewUpdater::RowChange> heard;
  int refreshes = 0;
  fnd::NotificationCenter::defaultCenter().addObserver(
      &heard,
      [&](const fnd::Notification& n) {
        heard = ViewUpdater::rowChange(n);
        ++refreshes;
      },
      BRWUpdateBookmarksViewNotification);
  struct Shown {
    const char* name;
    std::function<void()> show;
    const char* predicate;
  };
  const std::vector<Shown> lists{
      {"library", [&] { dm.loadAllBookmarksInLibrary(); }, "trashed < 1 and blocked < 1"},
      {"favorites", [&] { dm.loadFavoriteBookmarks(); }, "isFavorite > 0 and trashed < 1 and blocked < 1"},
      {"folder",
       [&] {
         dm.prepareFolderView();
         dm.setCurrentFolder(folders[1]);
         dm.loadBookmarks();
       },
       "folder.folderID = 'm1' and trashed < 1 and blocked < 1 and services.@count == 0"},
  };
  auto expected = [&](const char* text) {
    DataManager::BookmarkList out;
    auto p = store::Predicate::parse(text);
    for (const auto& b : dm.allBookmarks())
      if (p->evaluate(fnd::Value(std::static_pointer_cast<fnd::Object>(b)))) out.push_back(b);
    sortBookmarks(out, dm.folderSortDescriptors());
    return out;
  };
  int next = 1000;
  for (const auto& shown : lists) {
    SCOPED_TRACE(shown.name);
    dm.prepareNonFolderViews();
    shown.show();
    const auto before = dm.bookmarks();
    ASSERT_EQ(described(before), described(expected(shown.predicate)));
    // 5,000 new bookmarks written by another context, and an old one changed there: taken in
    // as the import takes them.
    auto other = WrenDataManager::sharedInstance().newManagedObjectContext();
    ASSERT_FALSE(before.empty());
    auto changed = std::dynamic_pointer_cast<Bookmark>(other->objectWithID(before.front()->objectID()));
    ASSERT_TRUE(changed);
    changed->setRating(0.0);
    changed->setTitle(std::string("Apple"));
    std::vector<Folder::Ref> theirs;
    for (const auto& f : folders) theirs.push_back(std::dynamic_pointer_cast<Folder>(other->objectWithID(f->objectID())));
    for (int i = 0; i < 5000; ++i) {
      auto b = Bookmark::initEntityInContext(other);
      b->setUrl("http://new.example/" + std::to_string(next++));
      b->setTitle(std::string(i % 2 ? "apple" : "Banana"));
      b->setRating(static_cast<double>(random() % 3));
      b->setIsFavorite(static_cast<std::int64_t>(random() % 2));
      b->setAddedDate(fnd::Date(1.0e9 + 86400.0 * static_cast<double>(random() % 4)));
      b->setFolder(theirs[random() % theirs.size()]);
    }
    store::SaveNotification saved;
    const int token = other->addSaveObserver([&](const store::SaveNotification& n) { saved = n; });
    ASSERT_TRUE(other->save());
    other->removeSaveObserver(token);
    dm.context()->mergeChangesFromSave(saved);
    dm.followMergedSave(saved);
    heard.reset();
    refreshes = 0;
    shown.show();
    const auto now = dm.bookmarks();
    EXPECT_EQ(described(now), described(expected(shown.predicate)));
    // One refresh, telling the rows that left and came: applied to the list as it was, it gives
    // the list as it is.
    ASSERT_EQ(refreshes, 1);
    ASSERT_TRUE(heard);
    EXPECT_GT(heard->inserted.size(), std::size_t{1000});
    DataManager::BookmarkList applied;
    std::size_t r = 0, kept = 0;
    std::vector<bool> came(now.size());
    for (auto i : heard->inserted) came.at(static_cast<std::size_t>(i)) = true;
    for (std::size_t i = 0; i < now.size(); ++i) {
      if (came[i]) {
        applied.push_back(now[i]);
        continue;
      }
      while (r < heard->removed.size() && static_cast<std::size_t>(heard->removed[r]) == kept) ++r, ++kept;
      ASSERT_LT(kept, before.size());
      applied.push_back(before[kept++]);
    }
    EXPECT_EQ(applied, now);
  }
  fnd::NotificationCenter::defaultCenter().removeObserver(&heard);
}

// At start nothing is held yet: the rows are read and sorted for the list on the reading thread,
// and the Library list taken in that order is the one a sort gives, ties in library order.
TEST_F(MergedListTest, TheLibraryListOfALoadIsTheSortedList) {
  std::mt19937 random(7);
  std::vector<Folder::Ref> folders{Folder::inboxFolder(), folder("s1", "S1")};
  for (int i = 0; i < 400; ++i) shaken(random, i, folders);
  save();
  for (const bool alphabetically : {false, true}) {
    SCOPED_TRACE(alphabetically ? "by rating and title" : "by date");
    prefs->dateDescending = !alphabetically;
    prefs->rating = prefs->alphabetically = alphabetically;
    WrenDataManager::sharedInstance().managedObjectContext()->reset();
    DataManager dm;
    loadAwake(dm);
    dm.loadAllBookmarksInLibrary();
    DataManager::BookmarkList expected;
    for (const auto& b : dm.allBookmarks())
      if (b->trashed() < 1 && b->blocked() < 1) expected.push_back(b);
    sortBookmarks(expected, dm.folderSortDescriptors());
    EXPECT_EQ(described(dm.bookmarks()), described(expected));
    EXPECT_EQ(dm.bookmarks(), expected);
  }
}

// A folder moved out of the one shown with its subfolders takes its bookmarks along, though none
// of them changed: the list is computed again rather than patched from the bookmarks changed.
TEST_F(MergedListTest, AFolderMovedOutTakesItsBookmarksFromTheListWithSubfolders) {
  auto a = folder("a", "A"), b = folder("b", "B", "a"), c = folder("c", "C");
  bookmark("http://a.example/", "in a", a);
  bookmark("http://b.example/", "in b", b);
  save();
  prefs->subFolders = true;
  DataManager dm;
  loadAwake(dm);
  dm.prepareFolderView();
  dm.setCurrentFolder(a);
  dm.loadBookmarks();
  ASSERT_EQ(sorted(titles(dm.bookmarks())), (std::vector<std::string>{"in a", "in b"}));
  b->setParentFolderID("c");
  save();
  dm.loadBookmarks();
  EXPECT_EQ(titles(dm.bookmarks()), (std::vector<std::string>{"in a"}));
  dm.setCurrentFolder(c);
  dm.loadBookmarks();
  EXPECT_EQ(titles(dm.bookmarks()), (std::vector<std::string>{"in b"}));
}

}  // namespace
}  // namespace kesto::test
