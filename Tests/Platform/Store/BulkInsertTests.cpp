// The bulk insert writes rows without objects; what a save guarantees must hold for them too:
// keys never reused, row versions, both sides of relationships, one notification, nothing
// visible before the commit and nothing left after a failure.
#include "StoreTestModel.h"

#include "Harness/TestSupport.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Store/BulkInsert.h"
#include "Platform/Store/FetchRequest.h"
#include "Platform/Store/TestAccess_p.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <thread>

using namespace kesto;
using namespace kesto::store;
using namespace kesto::store::test;

namespace {

std::int64_t single(Coordinator& coordinator, const std::string& sql) {
  auto connection = TestAccess::connection(coordinator);
  sqlite3_stmt* st = nullptr;
  std::int64_t v = -1;
  if (sqlite3_prepare_v2(connection.db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK &&
      sqlite3_step(st) == SQLITE_ROW)
    v = sqlite3_column_int64(st, 0);
  sqlite3_finalize(st);
  return v;
}

std::string text(Coordinator& coordinator, const std::string& sql) {
  auto connection = TestAccess::connection(coordinator);
  sqlite3_stmt* st = nullptr;
  std::string v;
  if (sqlite3_prepare_v2(connection.db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK &&
      sqlite3_step(st) == SQLITE_ROW)
    v = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
  sqlite3_finalize(st);
  return v;
}

class BulkInsertTest : public ::testing::Test {
 protected:
  void SetUp() override {
    coordinator = openStore(makeLibraryModel(), storePath("bulk.sqlite"));
    ASSERT_TRUE(coordinator);
    main = makeMainContext(coordinator);
    writer = Context::make(ConcurrencyType::Confinement);
    writer->setCoordinator(coordinator);
  }
  std::size_t count(const std::string& entity) {
    auto all = main->fetch(FetchRequest(entity), nullptr);
    return all ? all->size() : 0;
  }
  std::shared_ptr<Coordinator> coordinator;
  ContextRef main, writer;
};

TEST_F(BulkInsertTest, RowsReadBackLikeSavedObjectsWithBothSidesOfRelationships) {
  // A saved row first, so the keys must continue after it.
  auto old = main->insertNewObject("Bookmark");
  old->setValueForKey("uniqueID", std::string("old"));
  auto oldTag = main->insertNewObject("Tag");
  oldTag->setValueForKey("name", std::string("kept"));
  ASSERT_TRUE(main->save());

  auto bulk = BulkInsert::begin(writer);
  ASSERT_TRUE(bulk);
  const auto* folders = bulk->shape("Folder", {"folderID", "name"});
  const auto* tags = bulk->shape("Tag", {"name"});
  const auto* bookmarks = bulk->shape("Bookmark", {"uniqueID", "url", "title", "addedDate"}, {"folder"});
  ASSERT_TRUE(folders && tags && bookmarks);
  EXPECT_FALSE(bulk->shape("Bookmark", {"noSuchAttribute"}));
  EXPECT_FALSE(bulk->shape("Bookmark", {}, {"tags"}));  // to-many is not a column

  const std::int64_t folder = bulk->insert(*folders, {"F1", "Folder one"});
  const std::int64_t tag = bulk->insert(*tags, {"fresh"});
  const auto existing = bulk->keysByText("Tag", "name");
  ASSERT_EQ(existing.size(), 2u);
  EXPECT_EQ(existing[0].first, "kept");
  const fnd::Date added(1000.0);
  std::vector<std::int64_t> keys;
  for (int i = 0; i < 3; ++i) {
    const std::string id = "B" + std::to_string(i);
    keys.push_back(bulk->insert(*bookmarks, {id, "https://x.example/" + id, "Title " + id, added, folder}));
    ASSERT_GT(keys.back(), old->objectID()->primaryKey());
    ASSERT_TRUE(bulk->relate("Bookmark", "tags", keys.back(), tag));
  }
  ASSERT_TRUE(bulk->relate("Tag", "bookmarks", existing[0].second, keys[0]));  // from the other side
  ASSERT_TRUE(bulk->commit());
  bulk.reset();

  EXPECT_EQ(count("Bookmark"), 4u);
  auto rows = main->fetch(FetchRequest("Bookmark"), nullptr).value_or(std::vector<ManagedObjectRef>{});
  for (const auto& b : rows) {
    if (b->valueForKey("uniqueID").string() == "old") continue;
    EXPECT_EQ(b->valueForKey("title").string(), "Title " + b->valueForKey("uniqueID").string());
    EXPECT_EQ(b->valueForKey("addedDate").date(), added);
    EXPECT_EQ(b->valueForKey("trashed").intValue(), 0);  // the model's default
    ASSERT_TRUE(b->toOne("folder"));
    EXPECT_EQ(b->toOne("folder")->valueForKey("name").string(), "Folder one");
  }
  // A context that has not loaded them yet sees both sides.
  auto reader = Context::make(ConcurrencyType::Confinement);
  reader->setCoordinator(coordinator);
  auto folderObject = reader->fetch(FetchRequest("Folder"), nullptr)->front();
  EXPECT_EQ(folderObject->toMany("bookmarks").size(), 3u);
  auto fresh = reader->fetch(FetchRequest("Tag"), nullptr).value();
  for (const auto& t : fresh)
    EXPECT_EQ(t->toMany("bookmarks").size(), t->valueForKey("name").string() == "fresh" ? 3u : 1u);
  // Every row starts at version 1, and the recorded maximum covers every key.
  EXPECT_EQ(single(*coordinator, "SELECT COUNT(*) FROM ZBOOKMARK WHERE Z_OPT = 1"), 4);
  EXPECT_EQ(single(*coordinator, "SELECT Z_MAX FROM Z_PRIMARYKEY WHERE Z_NAME = 'Bookmark'"), keys.back());
  // A later save takes the next key.
  auto later = main->insertNewObject("Bookmark");
  ASSERT_TRUE(main->save());
  EXPECT_EQ(later->objectID()->primaryKey(), keys.back() + 1);
}

TEST_F(BulkInsertTest, OneNotificationListsEveryNewRowAndOpenContextsCatchUp) {
  auto tag = main->insertNewObject("Tag");
  tag->setValueForKey("name", std::string("t"));
  ASSERT_TRUE(main->save());
  EXPECT_TRUE(tag->toMany("bookmarks").empty());  // loaded, and now stale

  int notes = 0, posted = 0;
  std::size_t inserted = 0;
  const int token = writer->addSaveObserver([&](const SaveNotification& n) {
    ++notes;
    inserted = n.insertedIDs.size();
  });
  auto observer = fnd::NotificationCenter::defaultCenter().addObserverForName(
      kContextDidSaveNotification, writer.get(), nullptr, [&](const fnd::Notification&) { ++posted; });
  auto bulk = BulkInsert::begin(writer);
  const auto* shape = bulk->shape("Bookmark", {"uniqueID"});
  const auto tagKey = bulk->keysByText("Tag", "name").at(0).second;
  for (int i = 0; i < 500; ++i) ASSERT_TRUE(bulk->relate("Bookmark", "tags", bulk->insert(*shape, {std::to_string(i)}), tagKey));
  ASSERT_TRUE(bulk->commit());
  writer->removeSaveObserver(token);
  fnd::NotificationCenter::defaultCenter().removeObserver(observer);
  EXPECT_EQ(notes, 1);
  EXPECT_EQ(posted, 1);
  EXPECT_EQ(inserted, 500u);

  SaveNotification note;
  for (std::int64_t k = 1; k <= 500; ++k) note.insertedIDs.push_back(TestAccess::impl(*coordinator).idFor(coordinator->model()->entity("Bookmark"), k));
  main->mergeChangesFromSave(note);
  EXPECT_EQ(tag->toMany("bookmarks").size(), 500u);
}

TEST_F(BulkInsertTest, AFailedOrAbandonedInsertLeavesTheStoreAsItWas) {
  {
    auto bulk = BulkInsert::begin(writer);
    const auto* shape = bulk->shape("Bookmark", {"uniqueID"});
    for (int i = 0; i < 100; ++i) bulk->insert(*shape, {std::to_string(i)});
    // Dropped without commit: rolled back.
  }
  EXPECT_EQ(count("Bookmark"), 0u);
  {
    // A row the store refuses spoils the whole insert.
    ASSERT_EQ(sqlite3_exec(TestAccess::connection(*coordinator).db,
                           "CREATE TRIGGER refuse BEFORE INSERT ON ZBOOKMARK WHEN NEW.ZUNIQUEID = 'bad' "
                           "BEGIN SELECT RAISE(ABORT, 'disk full'); END;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
  }
  auto bulk = BulkInsert::begin(writer);
  const auto* folders = bulk->shape("Folder", {"folderID"});
  const auto* shape = bulk->shape("Bookmark", {"uniqueID"});
  EXPECT_TRUE(bulk->insert(*folders, {"F"}));
  EXPECT_TRUE(bulk->insert(*shape, {"good"}));
  EXPECT_FALSE(bulk->insert(*shape, {"bad"}));
  EXPECT_FALSE(bulk->insert(*shape, {"after"}));
  EXPECT_FALSE(bulk->insert(*shape, {}));  // wrong number of cells
  fnd::Error error;
  EXPECT_FALSE(bulk->commit(&error));
  EXPECT_NE(error.localizedDescription().find("disk full"), std::string::npos) << error.localizedDescription();
  bulk.reset();
  EXPECT_EQ(count("Bookmark"), 0u);
  EXPECT_EQ(count("Folder"), 0u);
  // The store is free again and saves as before.
  main->insertNewObject("Bookmark")->setValueForKey("uniqueID", std::string("saved"));
  EXPECT_TRUE(main->save());
}

TEST_F(BulkInsertTest, IndexesSetAsideAreBuiltAgainAndUsed) {
  const auto before = single(*coordinator, "SELECT COUNT(*) FROM sqlite_master WHERE type = 'index'");
  auto bulk = BulkInsert::begin(writer);
  bulk->deferIndexes("Bookmark");
  const auto* shape = bulk->shape("Bookmark", {"uniqueID", "url"});
  for (int i = 0; i < 2000; ++i) bulk->insert(*shape, {"U" + std::to_string(i), "https://x/" + std::to_string(i)});
  EXPECT_EQ(bulk->rowCount("Bookmark"), 2000);
  ASSERT_TRUE(bulk->commit());
  EXPECT_EQ(single(*coordinator, "SELECT COUNT(*) FROM sqlite_master WHERE type = 'index'"), before);
  EXPECT_EQ(single(*coordinator, "SELECT COUNT(*) FROM ZBOOKMARK INDEXED BY ZBOOKMARK_ZURL_INDEX WHERE ZURL = 'https://x/1999'"), 1);
  EXPECT_EQ(text(*coordinator, "PRAGMA integrity_check"), "ok");
}

TEST_F(BulkInsertTest, OtherThreadsWaitForTheCommitInsteadOfSeeingHalf) {
  auto bulk = BulkInsert::begin(writer);
  const auto* shape = bulk->shape("Bookmark", {"uniqueID"});
  for (int i = 0; i < 10; ++i) bulk->insert(*shape, {std::to_string(i)});
  std::size_t seen = 99;
  std::thread reader([&] {
    auto other = Context::make(ConcurrencyType::Confinement);
    other->setCoordinator(coordinator);
    seen = other->fetch(FetchRequest("Bookmark"), nullptr).value_or(std::vector<ManagedObjectRef>{}).size();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  for (int i = 10; i < 20; ++i) bulk->insert(*shape, {std::to_string(i)});
  ASSERT_TRUE(bulk->commit());
  reader.join();
  EXPECT_EQ(seen, 20u);
}

}  // namespace
