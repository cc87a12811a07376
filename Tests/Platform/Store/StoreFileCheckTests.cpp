// The check of a whole store file after a start: it finds damage the first pages do not show and
// never holds up a save of this process.
#include "StoreTestModel.h"

#include "Harness/StoreOnDisk.h"
#include "Harness/TestSupport.h"
#include "Platform/Store/StoreFileCheck.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>

using namespace kesto;
using namespace kesto::store;
using namespace kesto::store::test;

namespace {

using Result = StoreFileCheck::Result;

// A closed store at `path` holding one bookmark and `rows` more.
void libraryOf(const std::string& path, int rows, int titleBytes = 8) {
  auto main = makeMainContext(openStore(makeLibraryModel(), path));
  auto b = main->insertNewObject("Bookmark");
  b->setValueForKey("uniqueID", "B");
  ASSERT_TRUE(main->save());
  if (rows) {
    ASSERT_TRUE(kesto::test::growLibraryOnDisk(path, rows, titleBytes));
  }
}

}  // namespace

TEST(StoreFileCheck, FindsDamagePastTheFirstPages) {
  const std::string path = storePath();
  libraryOf(path, 0);
  EXPECT_EQ(StoreFileCheck(path).run(), Result::Sound);
  ASSERT_TRUE(kesto::test::damagePastTheFirstPages(path));
  fnd::Error e;
  auto c = openStore(makeLibraryModel(), path, &e);
  ASSERT_TRUE(c) << e.localizedDescription();
  EXPECT_TRUE(c->checkForDamage(0, &e)) << "the first pages show nothing: " << e.localizedDescription();
  EXPECT_EQ(StoreFileCheck(path).run(&e), Result::Damaged);
  EXPECT_TRUE(Coordinator::isDamageError(e)) << e.localizedDescription();
  // A file that is not there is no damage; a cancelled check does not read.
  EXPECT_EQ(StoreFileCheck(path + ".gone").run(&e), Result::Failed);
  EXPECT_FALSE(Coordinator::isDamageError(e));
  StoreFileCheck cancelled(path);
  cancelled.cancel();
  EXPECT_EQ(cancelled.run(), Result::Cancelled);
}

// A save made while the check reads goes through at once: the check lets go and starts over
// (the save would otherwise wait for the whole check, and fail after 5 s), then ends with its
// answer.
TEST(StoreFileCheck, GivesWayToASave) {
  const std::string path = storePath();
  libraryOf(path, 100000, 600);  // some 70 MB: the check takes a while
  auto main = makeMainContext(openStore(makeLibraryModel(), path));
  auto row = main->fetch(FetchRequest("Bookmark"))->front();
  // The save may come after the check has read the file: tried until it lands inside.
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
}
