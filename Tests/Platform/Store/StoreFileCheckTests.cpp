// The check of a whole store file after a start: it finds damage the first pages do not show,
// never holds up a save of this process, and ends at once when cancelled.
#include "StoreTestModel.h"

#include "Harness/TestSupport.h"
#include "Platform/Store/StoreFileCheck.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

using namespace kesto;
using namespace kesto::store;
using namespace kesto::store::test;

namespace {

using Result = StoreFileCheck::Result;

void exec(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);
}

long long number(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  long long n = -1;
  sqlite3_stmt* st = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
      sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
    n = sqlite3_column_int64(st, 0);
  sqlite3_finalize(st);
  sqlite3_close(db);
  return n;
}

// A closed store at `path` of `rows` bookmarks with titles of `titleBytes`.
void libraryOf(const std::string& path, int rows, int titleBytes) {
  ASSERT_TRUE(makeMainContext(openStore(makeLibraryModel(), path))->save());
  exec(path, "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(rows) +
                 ") INSERT INTO ZBOOKMARK (Z_PK, Z_ENT, Z_OPT, ZUNIQUEID, ZURL, ZTITLE) SELECT i, "
                 "(SELECT Z_ENT FROM Z_PRIMARYKEY WHERE Z_NAME = 'Bookmark'), 1, 'id-' || i, "
                 "'https://site' || (i % 997) || '.example/' || i, printf('%." +
                 std::to_string(titleBytes) + "c', 'x') || i FROM n;"
                 "UPDATE Z_PRIMARYKEY SET Z_MAX = " + std::to_string(rows) + " WHERE Z_NAME = 'Bookmark'");
}

// Zeroes page `page` (from 1) of the closed file at `path`.
void zeroPage(const std::string& path, long long page) {
  const auto size = static_cast<std::size_t>(number(path, "PRAGMA page_size"));
  std::string bytes = kesto::test::readFile(path);
  const std::size_t at = static_cast<std::size_t>(page - 1) * size;
  ASSERT_LE(at + size, bytes.size());
  bytes.replace(at, size, std::string(size, '\0'));
  kesto::test::writeFile(path, bytes);
}

}  // namespace

// Damage past the first pages of every tree: opening and the first-pages check miss it, the
// whole-file check finds it and says so as the store's own damage errors do.
TEST(StoreFileCheck, FindsDamagePastTheFirstPagesAndPassesASoundFile) {
  const std::string path = storePath();
  libraryOf(path, 3000, 40);
  StoreFileCheck sound(path);
  EXPECT_EQ(sound.run(), Result::Sound);
  EXPECT_EQ(sound.restarts(), 0);

  // The last page of the file is the end of a tree the inserts filled last.
  zeroPage(path, number(path, "PRAGMA page_count"));
  fnd::Error e;
  auto c = openStore(makeLibraryModel(), path, &e);
  ASSERT_TRUE(c) << e.localizedDescription();
  EXPECT_TRUE(c->checkForDamage(0, &e)) << "the first pages show nothing: " << e.localizedDescription();
  StoreFileCheck check(path);
  EXPECT_EQ(check.run(&e), Result::Damaged);
  EXPECT_TRUE(Coordinator::isDamageError(e)) << e.localizedDescription();
  EXPECT_EQ(e.code(), kFileReadCorruptFileError);

  // A file that is not there is no damage.
  StoreFileCheck gone(path + ".gone");
  EXPECT_EQ(gone.run(&e), Result::Failed);
  EXPECT_FALSE(Coordinator::isDamageError(e));
  // Cancelled before it ran, it does not read.
  StoreFileCheck early(path);
  early.cancel();
  EXPECT_EQ(early.run(), Result::Cancelled);
}

// A save made while the check reads goes through at once: the check lets go and starts over
// (the save would otherwise wait for the whole check, and fail after 5 s). The check still ends
// with its answer; cancelled meanwhile, it ends at once.
TEST(StoreFileCheck, GivesWayToASaveAndEndsWhenCancelled) {
  const std::string path = storePath();
  libraryOf(path, 100000, 600);  // some 70 MB: the check takes a while
  auto coordinator = openStore(makeLibraryModel(), path);
  auto main = makeMainContext(coordinator);
  auto first = main->fetch(FetchRequest("Bookmark"));
  ASSERT_TRUE(first && !first->empty());
  auto row = first->front();

  // Each time the save may come after the check has read the file: tried until it lands inside.
  int gaveWay = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (int attempt = 0; gaveWay == 0 && std::chrono::steady_clock::now() < deadline; ++attempt) {
    auto check = std::make_shared<StoreFileCheck>(path);
    auto done = std::async(std::launch::async, [check] { return check->run(); });
    auto ended = [&] { return done.wait_for(std::chrono::seconds(0)) == std::future_status::ready; };
    ASSERT_TRUE(kesto::test::runUntil([&] { return check->isReading() || ended(); }, 30));
    row->setValueForKey("title", "saved while checked " + std::to_string(attempt));
    fnd::Error e;
    ASSERT_TRUE(main->save(&e)) << e.localizedDescription();
    ASSERT_EQ(done.wait_for(std::chrono::seconds(120)), std::future_status::ready);
    EXPECT_EQ(done.get(), Result::Sound);
    gaveWay += check->restarts();
  }
  EXPECT_GT(gaveWay, 0) << "no save ever made the check let go";

  auto check = std::make_shared<StoreFileCheck>(path);
  auto done = std::async(std::launch::async, [check] { return check->run(); });
  ASSERT_TRUE(kesto::test::runUntil([&] { return check->isReading(); }, 30));
  check->cancel();
  ASSERT_EQ(done.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  EXPECT_EQ(done.get(), Result::Cancelled);
}
