// A context over a connection of its own beside the main one, and the main context taking its
// saves in a slice at a time.
#include "StoreTestModel.h"

#include "Harness/TestSupport.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Store/Context.h"
#include "Platform/Store/ObjectID.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <memory>
#include <set>
#include <thread>

using namespace kesto;
using namespace kesto::store;
using namespace kesto::store::test;

namespace {

ManagedObjectRef addBookmark(Context& c, const std::string& id, const std::string& title = "") {
  auto b = c.insertNewObject("Bookmark");
  b->setValueForKey("uniqueID", id);
  b->setValueForKey("url", "http://" + id + ".example/");
  if (!title.empty()) b->setValueForKey("title", title);
  return b;
}

ManagedObjectRef bookmarkNamed(Context& c, const std::string& id) {
  FetchRequest r("Bookmark");
  r.predicate = Predicate::parse("uniqueID == %@", {fnd::Value(id)});
  auto got = c.fetch(r);
  return got && !got->empty() ? got->front() : nullptr;
}

ContextRef contextOver(std::shared_ptr<Coordinator> coordinator, ConcurrencyType type = ConcurrencyType::Confinement) {
  auto c = Context::make(type);
  c->setCoordinator(std::move(coordinator));
  c->setMergePolicy(MergePolicy::PropertyObjectTrump);
  return c;
}

// What the saves of `context` changed, heard while `change` runs and saves.
SaveNotification savedBy(Context& context, const std::function<void()>& change) {
  SaveNotification heard;
  const int token = context.addSaveObserver([&](const SaveNotification& n) {
    heard.insertedIDs = n.insertedIDs;
    heard.updatedIDs = n.updatedIDs;
    heard.deletedIDs = n.deletedIDs;
  });
  change();
  context.removeSaveObserver(token);
  return heard;
}

}  // namespace

TEST(SecondConnection, RowsAndIdentifiersAreTheSameOnBothConnections) {
  Stack s;
  addBookmark(*s.main, "B1", "one");
  ASSERT_TRUE(s.main->save());
  fnd::Error error;
  auto second = s.coordinator->openSecondConnection(&error);
  ASSERT_TRUE(second) << error.localizedDescription();
  EXPECT_EQ(second->storeIdentifier(), s.coordinator->storeIdentifier());
  auto other = contextOver(second);
  auto theirs = bookmarkNamed(*other, "B1");
  ASSERT_TRUE(theirs);
  auto mine = bookmarkNamed(*s.main, "B1");
  EXPECT_TRUE(sameID(theirs->objectID(), mine->objectID()));
  // Rows written on one connection are read on the other, and their IDs work in both.
  auto added = addBookmark(*other, "B2", "two");
  ASSERT_TRUE(other->save());
  auto found = s.main->existingObjectWithID(added->objectID());
  ASSERT_TRUE(found);
  EXPECT_EQ(found->valueForKey("title").string(), "two");
  EXPECT_EQ(s.coordinator->objectIDForURIRepresentation(added->objectID()->uriRepresentation())->primaryKey(),
            added->objectID()->primaryKey());
}

// Keys are handed out by the store, so two connections saving new rows at the same time never
// give two rows one key.
TEST(SecondConnection, ConnectionsSavingAtOnceNeverShareAKey) {
  Stack s;
  auto second = s.coordinator->openSecondConnection();
  ASSERT_TRUE(second);
  constexpr int kSaves = 25, kPerSave = 8;
  auto writer = [&](std::shared_ptr<Coordinator> coordinator, const std::string& prefix, bool* ok) {
    auto c = contextOver(std::move(coordinator));
    *ok = true;
    for (int i = 0; i < kSaves; ++i) {
      for (int k = 0; k < kPerSave; ++k) addBookmark(*c, prefix + std::to_string(i * kPerSave + k));
      fnd::Error e;
      if (!c->save(&e)) {
        ADD_FAILURE() << e.localizedDescription();
        *ok = false;
        return;
      }
    }
  };
  bool firstOK = false, secondOK = false;
  std::thread a(writer, s.coordinator, "A", &firstOK);
  std::thread b(writer, second, "B", &secondOK);
  a.join();
  b.join();
  EXPECT_TRUE(firstOK);
  EXPECT_TRUE(secondOK);
  auto reader = contextOver(s.coordinator);
  auto all = reader->fetch(FetchRequest("Bookmark"));
  ASSERT_TRUE(all);
  std::set<std::int64_t> keys;
  for (auto& o : *all) keys.insert(o->objectID()->primaryKey());
  EXPECT_EQ(all->size(), 2u * kSaves * kPerSave);
  EXPECT_EQ(keys.size(), all->size());
}

TEST(SecondConnection, IsRefusedWithoutAFileOrWhenTheFileIsAnotherStore) {
  auto model = makeLibraryModel();
  auto memory = Coordinator::make(model);
  ASSERT_TRUE(memory->addStore(kInMemoryStoreType, ""));
  fnd::Error error;
  EXPECT_FALSE(memory->openSecondConnection(&error));
  EXPECT_FALSE(error.localizedDescription().empty());

  Stack s;
  // A restored store put in the place of the open one: its rows are other rows.
  const std::string elsewhere = storePath("other.sqlite");
  { ASSERT_TRUE(openStore(model, elsewhere)); }
  ASSERT_EQ(std::rename(elsewhere.c_str(), s.path.c_str()), 0);
  EXPECT_FALSE(s.coordinator->openSecondConnection(&error));
}

TEST(SlicedMerge, TakesUpdatesAndDeletionsInTurnsAndKeepsEditsMadeHere) {
  Stack s;
  auto folder = s.main->insertNewObject("Folder");
  for (int i = 1; i <= 6; ++i) addBookmark(*s.main, "B" + std::to_string(i), "old");
  ASSERT_TRUE(s.main->save());
  std::vector<ManagedObjectRef> held;
  for (int i = 1; i <= 6; ++i) held.push_back(bookmarkNamed(*s.main, "B" + std::to_string(i)));
  EXPECT_TRUE(folder->toMany("bookmarks").empty());  // loaded, and about to change elsewhere
  held[5]->setValueForKey("title", "edited here");

  auto other = contextOver(s.coordinator->openSecondConnection());
  auto saved = savedBy(*other, [&] {
    for (int i = 1; i <= 4; ++i) bookmarkNamed(*other, "B" + std::to_string(i))->setValueForKey("title", "new");
    other->deleteObject(bookmarkNamed(*other, "B5"));
    auto b6 = bookmarkNamed(*other, "B6");
    b6->setValueForKey("title", "edited there");
    b6->setToOne("folder", other->objectWithID(folder->objectID()));
    ASSERT_TRUE(other->save());
  });
  ASSERT_GE(saved.updatedIDs.size(), 5u);  // B1-B4 and B6 (and the folder whose set grew)
  bool done = false, markerRanFirst = false;
  s.main->mergeChangesFromSaveInSlices(saved, [&] { done = true; }, 2);
  // Work queued now runs between the slices, before the last one.
  fnd::DispatchQueue::main().async([&] { markerRanFirst = !done; });
  EXPECT_FALSE(done);
  ASSERT_TRUE(kesto::test::runUntil([&] { return done; }, 5));
  EXPECT_TRUE(markerRanFirst);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(held[i]->valueForKey("title").string(), "new") << i;
  EXPECT_EQ(s.main->objectRegisteredForID(held[4]->objectID()), nullptr);
  EXPECT_EQ(held[5]->valueForKey("title").string(), "edited here");  // the edit made here stays
  EXPECT_EQ(folder->toMany("bookmarks").size(), 1u);                  // the set reloads with its new member
  ASSERT_TRUE(s.main->save());
  auto check = contextOver(s.coordinator);
  EXPECT_EQ(bookmarkNamed(*check, "B6")->valueForKey("title").string(), "edited here");
  EXPECT_EQ(check->fetch(FetchRequest("Bookmark"))->size(), 5u);
}

TEST(SlicedMerge, EndsInALaterTurnForNothingAndNotAtAllForAContextThatWent) {
  Stack s;
  bool done = false;
  s.main->mergeChangesFromSaveInSlices(SaveNotification{}, [&] { done = true; });
  EXPECT_FALSE(done);  // never inside the call
  ASSERT_TRUE(kesto::test::runUntil([&] { return done; }, 5));

  addBookmark(*s.main, "B1");
  ASSERT_TRUE(s.main->save());
  auto other = contextOver(s.coordinator->openSecondConnection());
  auto saved = savedBy(*other, [&] {
    bookmarkNamed(*other, "B1")->setValueForKey("title", "new");
    ASSERT_TRUE(other->save());
  });
  bool called = false;
  s.main->mergeChangesFromSaveInSlices(saved, [&] { called = true; });
  s.main.reset();
  auto drained = std::make_shared<bool>(false);  // the turn may outlive a wait that gave up
  fnd::DispatchQueue::main().async([drained] { *drained = true; });
  ASSERT_TRUE(kesto::test::runUntil([&] { return *drained; }, 5));
  kesto::test::runUntil([] { return false; }, 0.1);
  EXPECT_FALSE(called);
}

// A store file from elsewhere may hold a metadata row without a key: it is passed over, not
// read as text that is not there.
TEST(SecondConnection, AMetadataRowWithoutAKeyIsPassedOver) {
  auto model = makeLibraryModel();
  const std::string path = storePath("keyless.sqlite");
  {
    auto first = openStore(model, path);
    ASSERT_TRUE(first);
    auto main = makeMainContext(first);
    addBookmark(*main, "B1");
    ASSERT_TRUE(main->save());
    ASSERT_TRUE(first->removeStore());
  }
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, "INSERT INTO Z_METADATA (Z_KEY, Z_VALUE) VALUES (NULL, 'stray')", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  fnd::Error error;
  auto again = openStore(model, path, &error);
  ASSERT_TRUE(again) << error.localizedDescription();
  auto reader = contextOver(again);
  EXPECT_TRUE(bookmarkNamed(*reader, "B1"));
}
