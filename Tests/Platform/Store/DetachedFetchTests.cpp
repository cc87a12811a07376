// Rows read on a worker thread over a connection of their own, then taken into the main context
// in one step: the answer is the one the context's own fetch gives.
#include "StoreTestModel.h"

#include "Platform/Store/DetachedFetch.h"
#include "Platform/Store/ObjectID.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace kesto;
using namespace kesto::store;
using namespace kesto::store::test;

namespace {

ManagedObjectRef addBookmark(Context& c, const std::string& id, const std::string& title) {
  auto b = c.insertNewObject("Bookmark");
  b->setValueForKey("uniqueID", id);
  b->setValueForKey("url", "http://" + id + ".example/");
  b->setValueForKey("title", title);
  return b;
}

std::vector<std::string> ids(const std::vector<ManagedObjectRef>& objects) {
  std::vector<std::string> out;
  for (const auto& o : objects) out.push_back(o->valueForKey("uniqueID").string());
  return out;
}

FetchRequest byTitle() {
  FetchRequest r("Bookmark");
  r.sortDescriptors = {SortDescriptor("title", true)};
  return r;
}

// Reads `fetch` on a thread of its own over a second connection, as the library load does.
bool readElsewhere(DetachedFetch& fetch, const Stack& s) {
  auto connection = s.coordinator->openSecondConnection();
  if (!connection) return false;
  bool ok = false;
  std::thread worker([&] { ok = fetch.read(*connection); });
  worker.join();
  return ok;
}

// Five saved bookmarks, two with the same title (ties go by row), in a folder.
struct Library {
  Stack s;
  Library() {
    auto folder = s.main->insertNewObject("Folder");
    folder->setValueForKey("folderID", "F1");
    const char* titles[] = {"delta", "alpha", "charlie", "alpha", "bravo"};
    for (int i = 0; i < 5; ++i) {
      auto b = addBookmark(*s.main, "B" + std::to_string(i), titles[i]);
      b->setValueForKey("folder", fnd::Value(fnd::ObjectRef(folder)));
      b->setValueForKey("thumbnail", fnd::Value(fnd::Data{1, 2, 3}));
      // B1 and B2 added at the same moment.
      b->setValueForKey("addedDate", fnd::Date(1000.0 * (i == 2 ? 1 : i)));
    }
    EXPECT_TRUE(s.main->save());
    // A fresh context, as at start: nothing held yet.
    s.main = makeMainContext(s.coordinator);
  }
};

}  // namespace

TEST(DetachedFetch, RowsReadOnAWorkerJoinTheContextInTheFetchOrder) {
  Library lib;
  auto& s = lib.s;
  auto fetch = DetachedFetch::make(s.main, byTitle());
  ASSERT_TRUE(readElsewhere(*fetch, s));
  EXPECT_EQ(fetch->rowCount(), 5u);
  // Nothing joins the context before the adopt.
  EXPECT_TRUE(s.main->registeredObjects().empty());
  auto adopted = fetch->adopt();
  ASSERT_TRUE(adopted);
  EXPECT_TRUE(fetch->adoptedRows());
  EXPECT_EQ(ids(*adopted), (std::vector<std::string>{"B1", "B3", "B4", "B2", "B0"}));
  // They are the context's own objects: found again by ID and by its own fetch, one per row.
  auto again = s.main->fetch(byTitle());
  ASSERT_TRUE(again);
  ASSERT_EQ(again->size(), adopted->size());
  for (std::size_t i = 0; i < adopted->size(); ++i) {
    EXPECT_EQ((*again)[i].get(), (*adopted)[i].get());
    EXPECT_EQ(s.main->objectRegisteredForID((*adopted)[i]->objectID()).get(), (*adopted)[i].get());
  }
  // Relationships and values read on first use come through the main context.
  auto folder = adopted->front()->toOne("folder");
  ASSERT_TRUE(folder);
  EXPECT_EQ(folder->valueForKey("folderID").string(), "F1");
  EXPECT_EQ(adopted->front()->valueForKey("thumbnail").data(), (fnd::Data{1, 2, 3}));
  // A change and a save work on them as on fetched objects.
  adopted->front()->setValueForKey("title", "echo");
  EXPECT_TRUE(s.main->save());
}

TEST(DetachedFetch, TheRowsReadAreHandedOutInAnotherOrderOnTheReadingThread) {
  Library lib;
  auto& s = lib.s;
  auto fetch = DetachedFetch::make(s.main, FetchRequest("Bookmark"));
  auto connection = s.coordinator->openSecondConnection();
  ASSERT_TRUE(connection);
  std::vector<ManagedObjectRef> byDate, byTitleThenDate, byFolder, byThumbnail;
  std::thread worker([&] {
    ASSERT_TRUE(fetch->read(*connection));
    byDate = fetch->rowsSortedBy({SortDescriptor("addedDate", false)});
    byTitleThenDate = fetch->rowsSortedBy({SortDescriptor("title", true, SortDescriptor::Comparison::CaseInsensitive),
                                           SortDescriptor("addedDate", false)});
    byFolder = fetch->rowsSortedBy({SortDescriptor("folder.folderID", true)});
    byThumbnail = fetch->rowsSortedBy({SortDescriptor("thumbnail", true)});
  });
  worker.join();
  // Equal keys keep the order read (by row): B1 before B2 at the same moment.
  EXPECT_EQ(ids(byDate), (std::vector<std::string>{"B4", "B3", "B1", "B2", "B0"}));
  EXPECT_EQ(ids(byTitleThenDate), (std::vector<std::string>{"B3", "B1", "B4", "B2", "B0"}));
  // Keys the reading thread cannot read apart from the context give no order.
  EXPECT_TRUE(byFolder.empty());
  EXPECT_TRUE(byThumbnail.empty());
  // The same objects the adopt then takes in.
  auto adopted = fetch->adopt();
  ASSERT_TRUE(adopted);
  std::set<const ManagedObject*> taken;
  for (const auto& o : *adopted) taken.insert(o.get());
  for (const auto& o : byDate) EXPECT_TRUE(taken.count(o.get()));
}

TEST(DetachedFetch, TakenInAPartAtATimeWithSavesBetweenThePartsTheAnswerStaysTheFetchs) {
  Library lib;
  auto& s = lib.s;
  auto fetch = DetachedFetch::make(s.main, byTitle());
  ASSERT_TRUE(readElsewhere(*fetch, s));
  EXPECT_FALSE(fetch->adoptSome(2));
  // The first two rows (by key) are the context's now.
  EXPECT_EQ(s.main->registeredObjects().size(), 2u);
  FetchRequest first("Bookmark");
  first.predicate = Predicate::parse("uniqueID IN {'B0', 'B3'}");
  auto held = s.main->fetch(first);
  ASSERT_TRUE(held && held->size() == 2u);
  // One taken in already is deleted, one not yet is retitled, both saved, between the parts.
  const auto& b0 = held->front()->valueForKey("uniqueID").string() == "B0" ? held->front() : held->back();
  const auto& b3 = held->front()->valueForKey("uniqueID").string() == "B0" ? held->back() : held->front();
  s.main->deleteObject(b0);
  b3->setValueForKey("title", "zulu");
  ASSERT_TRUE(s.main->save());
  while (!fetch->adoptSome(2)) {
  }
  auto adopted = fetch->adopt();
  ASSERT_TRUE(adopted);
  EXPECT_TRUE(fetch->adoptedRows());
  EXPECT_EQ(ids(*adopted), (std::vector<std::string>{"B1", "B4", "B2", "B3"}));
  EXPECT_EQ(ids(*adopted), ids(*s.main->fetch(byTitle())));
  for (const auto& o : *adopted) EXPECT_EQ(s.main->objectRegisteredForID(o->objectID()).get(), o.get());
}

TEST(DetachedFetch, ObjectsTheContextHoldsKeepTheirChangesAndUnsavedOnesCount) {
  Library lib;
  auto& s = lib.s;
  auto fetch = DetachedFetch::make(s.main, byTitle());
  ASSERT_TRUE(readElsewhere(*fetch, s));
  // Changed after the read, before the adopt, without a save.
  FetchRequest one("Bookmark");
  one.predicate = Predicate::parse("uniqueID == 'B0'");
  auto held = s.main->fetch(one)->front();
  held->setValueForKey("title", "aardvark");
  FetchRequest two("Bookmark");
  two.predicate = Predicate::parse("uniqueID == 'B2'");
  s.main->deleteObject(s.main->fetch(two)->front());
  addBookmark(*s.main, "B9", "zulu");
  auto adopted = fetch->adopt();
  ASSERT_TRUE(adopted);
  EXPECT_TRUE(fetch->adoptedRows());
  EXPECT_EQ(ids(*adopted), (std::vector<std::string>{"B0", "B1", "B3", "B4", "B9"}));
  EXPECT_EQ(adopted->front().get(), held.get());
  EXPECT_EQ(held->valueForKey("title").string(), "aardvark");
  auto fetched = s.main->fetch(byTitle());
  ASSERT_TRUE(fetched);
  EXPECT_EQ(ids(*fetched), ids(*adopted));
}

TEST(DetachedFetch, SavesAndMergesWhileTheWorkerReadsAreAnsweredByTheContext) {
  {
    // The context deletes, retitles and adds rows and saves, before and after the worker reads.
    Library lib;
    auto& s = lib.s;
    auto fetch = DetachedFetch::make(s.main, byTitle());
    FetchRequest gone("Bookmark");
    gone.predicate = Predicate::parse("uniqueID == 'B1'");
    s.main->deleteObject(s.main->fetch(gone)->front());
    ASSERT_TRUE(s.main->save());
    ASSERT_TRUE(readElsewhere(*fetch, s));
    FetchRequest renamed("Bookmark");
    renamed.predicate = Predicate::parse("uniqueID == 'B0'");
    s.main->fetch(renamed)->front()->setValueForKey("title", "able");
    addBookmark(*s.main, "B7", "yankee");
    ASSERT_TRUE(s.main->save());
    auto adopted = fetch->adopt();
    ASSERT_TRUE(adopted);
    EXPECT_TRUE(fetch->adoptedRows());
    EXPECT_EQ(ids(*adopted), (std::vector<std::string>{"B0", "B3", "B4", "B2", "B7"}));
    EXPECT_EQ(adopted->front()->valueForKey("title").string(), "able");
    EXPECT_EQ(ids(*adopted), ids(*s.main->fetch(byTitle())));
  }
  {
    // Another connection's save, taken in while the worker reads: its deletion and its new row
    // hold.
    Library lib;
    auto& s = lib.s;
    auto fetch = DetachedFetch::make(s.main, byTitle());
    ASSERT_TRUE(readElsewhere(*fetch, s));
    auto other = Context::make(ConcurrencyType::Confinement);
    other->setCoordinator(s.coordinator->openSecondConnection());
    FetchRequest gone("Bookmark");
    gone.predicate = Predicate::parse("uniqueID == 'B4'");
    other->deleteObject(other->fetch(gone)->front());
    addBookmark(*other, "B8", "aaa");
    SaveNotification saved;
    const int token = other->addSaveObserver([&](const SaveNotification& n) {
      saved.insertedIDs = n.insertedIDs;
      saved.deletedIDs = n.deletedIDs;
    });
    ASSERT_TRUE(other->save());
    other->removeSaveObserver(token);
    s.main->mergeChangesFromSave(saved);
    auto adopted = fetch->adopt();
    ASSERT_TRUE(adopted);
    EXPECT_TRUE(fetch->adoptedRows());
    EXPECT_EQ(ids(*adopted), (std::vector<std::string>{"B8", "B1", "B3", "B2", "B0"}));
  }
  {
    // A reset drops every object: the read cannot be taken in, the context fetches.
    Library lib;
    auto& s = lib.s;
    auto fetch = DetachedFetch::make(s.main, byTitle());
    ASSERT_TRUE(readElsewhere(*fetch, s));
    s.main->reset();
    auto adopted = fetch->adopt();
    ASSERT_TRUE(adopted);
    EXPECT_FALSE(fetch->adoptedRows());
    EXPECT_EQ(adopted->size(), 5u);
  }
}

TEST(DetachedFetch, WhatCannotBeReadApartIsFetchedInTheContext) {
  Library lib;
  auto& s = lib.s;
  // A predicate through a to-many set is tested against objects: not readable apart.
  FetchRequest tagged = byTitle();
  tagged.predicate = Predicate::parse("tags.@count == 0 AND title != 'delta'");
  auto fetch = DetachedFetch::make(s.main, tagged);
  fnd::Error error;
  EXPECT_FALSE(readElsewhere(*fetch, s));
  auto adopted = fetch->adopt(&error);
  ASSERT_TRUE(adopted);
  EXPECT_FALSE(fetch->adoptedRows());
  EXPECT_EQ(ids(*adopted), (std::vector<std::string>{"B1", "B3", "B4", "B2"}));
  // Rows of another store are refused.
  Stack elsewhere;
  auto foreign = DetachedFetch::make(s.main, byTitle());
  EXPECT_FALSE(foreign->read(*elsewhere.coordinator, &error));
  EXPECT_EQ(foreign->rowCount(), 0u);
  // A first screen: only when SQL orders and cuts it alone, through the date's index, ties in
  // row order as in a fetch.
  FetchRequest newest("Bookmark");
  newest.predicate = Predicate::parse("title != 'bravo'");
  newest.sortDescriptors = {SortDescriptor("addedDate", false)};
  newest.fetchLimit = 3;
  auto window = DetachedFetch::make(s.main, newest);
  ASSERT_TRUE(readElsewhere(*window, s));
  EXPECT_EQ(window->rowCount(), 3u);
  auto cut = window->adopt();
  ASSERT_TRUE(cut);
  EXPECT_TRUE(window->adoptedRows());
  EXPECT_EQ(ids(*cut), (std::vector<std::string>{"B3", "B1", "B2"}));
  EXPECT_EQ(ids(*cut), ids(*makeMainContext(s.coordinator)->fetch(newest)));
  for (auto change : {+[](FetchRequest& r) { r.fetchOffset = 1; }, +[](FetchRequest& r) { r.sortDescriptors = {SortDescriptor("title", true)}; }}) {
    FetchRequest refused = newest;
    change(refused);
    auto all = DetachedFetch::make(s.main, refused);
    EXPECT_FALSE(readElsewhere(*all, s));
    EXPECT_EQ(all->rowCount(), 0u);
  }
  // The context gone: no answer.
  auto orphan = DetachedFetch::make(makeMainContext(s.coordinator), byTitle());
  EXPECT_FALSE(orphan->adopt(&error));
}

TEST(DetachedFetch, ALargeTableIsReadWholeAcrossItsSlices) {
  Stack s;
  // Slices of rows and a few more, with keys not all in a row: enough for the table to be read
  // in two halves side by side, with rows gone at a slice's edge and where the halves meet.
  constexpr int kRows = 5 * 4096 + 3;
  for (int i = 0; i < kRows + 4; ++i) addBookmark(*s.main, "B" + std::to_string(i), "t" + std::to_string(i % 7));
  ASSERT_TRUE(s.main->save());
  FetchRequest doomedRows("Bookmark");
  doomedRows.predicate = Predicate::parse("uniqueID IN {'B5', 'B4096', 'B10238', 'B10239'}");
  auto doomed = s.main->fetch(doomedRows);
  ASSERT_TRUE(doomed && doomed->size() == 4u);
  for (const auto& o : *doomed) s.main->deleteObject(o);
  ASSERT_TRUE(s.main->save());
  s.main = makeMainContext(s.coordinator);
  auto fetch = DetachedFetch::make(s.main, byTitle());
  ASSERT_TRUE(readElsewhere(*fetch, s));
  EXPECT_EQ(fetch->rowCount(), static_cast<std::size_t>(kRows));
  auto adopted = fetch->adopt();
  ASSERT_TRUE(adopted);
  EXPECT_EQ(ids(*adopted), ids(*makeMainContext(s.coordinator)->fetch(byTitle())));
  // With a predicate SQL answers, the same.
  FetchRequest some = byTitle();
  some.predicate = Predicate::parse("title != 't3'");
  auto filtered = DetachedFetch::make(s.main, some);
  ASSERT_TRUE(readElsewhere(*filtered, s));
  auto taken = filtered->adopt();
  ASSERT_TRUE(taken);
  EXPECT_EQ(ids(*taken), ids(*makeMainContext(s.coordinator)->fetch(some)));
  EXPECT_GT(taken->size(), 17000u);
}

// The intake order over many rows with many equal keys: whatever the context saved, changed or
// added between the read and the adopt, the rows taken in stand where the context's own fetch
// puts them (sorted by the keys, equal ones by row, unsaved new ones after the stored ones).
TEST(DetachedFetch, TheIntakeOrderIsTheFetchOrderWhateverChangedMeanwhile) {
  for (unsigned seed = 1; seed <= 6; ++seed) {
    std::mt19937 rng(seed);
    auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
    Stack s;
    for (int i = 0; i < 400; ++i) {
      auto b = addBookmark(*s.main, "B" + std::to_string(i), "t" + std::to_string(pick(5)));
      if (pick(4)) b->setValueForKey("rating", pick(4) * 0.5);
      b->setValueForKey("addedDate", fnd::Date(100.0 * pick(6)));
    }
    ASSERT_TRUE(s.main->save());
    s.main = makeMainContext(s.coordinator);
    FetchRequest request("Bookmark");
    if (seed % 3 == 1) request.sortDescriptors = {SortDescriptor("rating", false), SortDescriptor("addedDate", true)};
    if (seed % 3 == 2) request.sortDescriptors = {SortDescriptor("addedDate", true)};
    auto fetch = DetachedFetch::make(s.main, request);
    ASSERT_TRUE(readElsewhere(*fetch, s));
    auto all = *s.main->fetch(FetchRequest("Bookmark"));
    auto change = [&](int count) {
      for (int i = 0; i < count; ++i) {
        auto& b = all[static_cast<std::size_t>(pick(static_cast<int>(all.size())))];
        if (b->isDeleted()) continue;
        switch (pick(4)) {
          case 0: b->setValueForKey("rating", pick(4) * 0.5); break;
          case 1: b->setValueForKey("addedDate", fnd::Date(100.0 * pick(6))); break;
          case 2: s.main->deleteObject(b); break;
          default: addBookmark(*s.main, "N" + std::to_string(seed) + "-" + std::to_string(i), "new")
                       ->setValueForKey("addedDate", fnd::Date(100.0 * pick(6)));
        }
      }
    };
    change(40);
    ASSERT_TRUE(s.main->save());
    change(15);  // left unsaved
    auto adopted = fetch->adopt();
    ASSERT_TRUE(adopted);
    EXPECT_TRUE(fetch->adoptedRows());
    auto fetched = s.main->fetch(request);
    ASSERT_TRUE(fetched);
    EXPECT_EQ(ids(*adopted), ids(*fetched)) << "seed " << seed;
  }
}

// Rows known to have been written under some keys (an import's) are read back by those keys: a
// row outside them is not read, whatever the request matches, and the answer holds the rows
// inside in the fetch order. At the range's edges: the first key is inside, the one before not.
TEST(DetachedFetch, AReadRestrictedToKeysReadsThoseRowsAlone) {
  Library lib;
  auto& s = lib.s;
  std::map<std::string, std::int64_t> key;
  auto reader = makeMainContext(s.coordinator);
  const auto rows = reader->fetch(FetchRequest("Bookmark"));
  ASSERT_TRUE(rows);
  for (const auto& o : *rows) key[o->valueForKey("uniqueID").string()] = o->objectID()->primaryKey();
  ASSERT_EQ(key.size(), 5u);
  {
    FetchRequest all = byTitle();
    all.predicate = Predicate::parse("uniqueID IN {'B0', 'B1', 'B2', 'B3', 'B4'}");
    auto fetch = DetachedFetch::make(s.main, all);
    fetch->restrictToKeys(key["B1"] - 1, key["B3"]);
    ASSERT_TRUE(readElsewhere(*fetch, s));
    EXPECT_EQ(fetch->rowCount(), 3u);
    auto adopted = fetch->adopt();
    ASSERT_TRUE(adopted);
    EXPECT_TRUE(fetch->adoptedRows());
    EXPECT_EQ(ids(*adopted), (std::vector<std::string>{"B1", "B3", "B2"}));
    EXPECT_EQ(s.main->registeredObjects().size(), 3u);
    for (const auto& o : *adopted) EXPECT_FALSE(o->isFault());
  }
  {
    // Without a predicate: the rows of the keys, nothing else.
    auto fetch = DetachedFetch::make(s.main, byTitle());
    fetch->restrictToKeys(key["B3"], key["B4"]);
    ASSERT_TRUE(readElsewhere(*fetch, s));
    EXPECT_EQ(fetch->rowCount(), 1u);
  }
  {
    // A first screen within the keys.
    FetchRequest newest("Bookmark");
    newest.sortDescriptors = {SortDescriptor("addedDate", false)};
    newest.fetchLimit = 2;
    auto window = DetachedFetch::make(s.main, newest);
    window->restrictToKeys(key["B0"] - 1, key["B2"]);
    ASSERT_TRUE(readElsewhere(*window, s));
    auto cut = window->adopt();
    ASSERT_TRUE(cut);
    EXPECT_EQ(ids(*cut), (std::vector<std::string>{"B1", "B2"}));
  }
}

// A range of keys wide enough to be read in two halves side by side: every row inside it once.
TEST(DetachedFetch, AWideRangeOfKeysIsReadWholeInItsHalves) {
  Stack s;
  constexpr int kRows = 5 * 4096 + 40;
  for (int i = 0; i < kRows; ++i) addBookmark(*s.main, "B" + std::to_string(i), "t");
  ASSERT_TRUE(s.main->save());
  const auto rows = s.main->fetch(FetchRequest("Bookmark"));
  ASSERT_TRUE(rows);
  std::vector<std::int64_t> keys;
  for (const auto& o : *rows) keys.push_back(o->objectID()->primaryKey());
  std::sort(keys.begin(), keys.end());
  s.main = makeMainContext(s.coordinator);
  auto fetch = DetachedFetch::make(s.main, FetchRequest("Bookmark"));
  fetch->restrictToKeys(keys[9], keys[kRows - 11]);
  ASSERT_TRUE(readElsewhere(*fetch, s));
  EXPECT_EQ(fetch->rowCount(), static_cast<std::size_t>(kRows - 20));
  auto adopted = fetch->adopt();
  ASSERT_TRUE(adopted);
  std::set<std::string> distinct;
  for (const auto& id : ids(*adopted)) distinct.insert(id);
  EXPECT_EQ(distinct.size(), static_cast<std::size_t>(kRows - 20));
  EXPECT_FALSE(distinct.count("B9"));
  EXPECT_TRUE(distinct.count("B10"));
  EXPECT_TRUE(distinct.count("B" + std::to_string(kRows - 11)));
  EXPECT_FALSE(distinct.count("B" + std::to_string(kRows - 10)));
}
