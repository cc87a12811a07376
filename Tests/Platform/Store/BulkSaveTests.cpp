// A bulk save relaxes the connection's sync level for its own duration only; these check the
// level comes back (or is never touched) and that the rows are on disk afterwards.
#include "StoreTestModel.h"

#include "Harness/TestSupport.h"
#include "Platform/Store/TestAccess_p.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

using namespace kesto;
using namespace kesto::store;
using namespace kesto::store::test;

namespace {

int syncLevel(Coordinator& coordinator) {
  auto connection = TestAccess::connection(coordinator);
  sqlite3* db = connection.db;
  sqlite3_stmt* st = nullptr;
  int level = -1;
  if (sqlite3_prepare_v2(db, "PRAGMA synchronous", -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
    level = sqlite3_column_int(st, 0);
  sqlite3_finalize(st);
  return level;
}

std::shared_ptr<Coordinator> openWithSync(const std::string& path, const std::string& level) {
  auto c = Coordinator::make(makeLibraryModel());
  fnd::Dictionary pragmas{{"synchronous", level}};
  fnd::Dictionary options{{kSQLitePragmasOption, fnd::Value(pragmas)}};
  return c->addStore(kSQLiteStoreType, path, options, nullptr) ? c : nullptr;
}

void insertBookmarks(Context& context, int count, const std::string& prefix) {
  auto tag = context.insertNewObject("Tag");
  tag->setValueForKey("name", prefix + "tag");
  for (int i = 0; i < count; ++i) {
    auto b = context.insertNewObject("Bookmark");
    b->setValueForKey("uniqueID", prefix + std::to_string(i));
    b->addToMany("tags", tag);
  }
}

std::size_t bookmarkCount(const std::string& path) {
  auto context = makeMainContext(openStore(makeLibraryModel(), path));
  auto all = context->fetch(FetchRequest("Bookmark"), nullptr);
  return all ? all->size() : 0;
}

}  // namespace

TEST(BulkSave, SyncLevelComesBackAfterLargeAndSmallSaves) {
  const std::string path = storePath();
  {
    auto coordinator = openStore(makeLibraryModel(), path);
    ASSERT_TRUE(coordinator);
    EXPECT_EQ(syncLevel(*coordinator), 2);  // FULL
    auto context = makeMainContext(coordinator);
    insertBookmarks(*context, 3000, "big");
    ASSERT_TRUE(context->save());
    EXPECT_EQ(syncLevel(*coordinator), 2);
    insertBookmarks(*context, 3, "small");
    ASSERT_TRUE(context->save());
    EXPECT_EQ(syncLevel(*coordinator), 2);
  }
  EXPECT_EQ(bookmarkCount(path), 3003u);
}

TEST(BulkSave, FailedBulkSaveStillRestoresSyncLevel) {
  const std::string path = storePath();
  auto coordinator = openStore(makeLibraryModel(), path);
  ASSERT_TRUE(coordinator);
  auto context = makeMainContext(coordinator);
  insertBookmarks(*context, 1500, "a");
  // Another connection holds the write lock, so the save cannot begin.
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_busy_timeout(TestAccess::connection(*coordinator).db, 0);
  EXPECT_FALSE(context->save());
  EXPECT_EQ(syncLevel(*coordinator), 2);
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  EXPECT_TRUE(context->save());
  EXPECT_EQ(syncLevel(*coordinator), 2);
}

TEST(BulkSave, CallerChosenLevelIsKeptAndNeverRaisedOrLowered) {
  for (const auto& [name, level] : {std::pair<std::string, int>{"EXTRA", 3}, {"OFF", 0}, {"NORMAL", 1}}) {
    const std::string path = storePath("sync-" + name + ".sqlite");
    auto coordinator = openWithSync(path, name);
    ASSERT_TRUE(coordinator) << name;
    ASSERT_EQ(syncLevel(*coordinator), level) << name;
    auto context = makeMainContext(coordinator);
    insertBookmarks(*context, 1200, name);
    ASSERT_TRUE(context->save()) << name;
    EXPECT_EQ(syncLevel(*coordinator), level) << name;
  }
}
