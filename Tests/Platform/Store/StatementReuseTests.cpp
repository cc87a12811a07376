// Saves and fetches reuse prepared statements; these check that a reused statement never carries
// a previous row's values, columns or connection.
#include "StoreTestModel.h"

#include "Harness/TestSupport.h"

#include <gtest/gtest.h>

using namespace kesto;
using namespace kesto::store;
using namespace kesto::store::test;

namespace {

std::map<std::string, ManagedObjectRef> byUniqueID(Context& c) {
  std::map<std::string, ManagedObjectRef> out;
  fnd::Error error;
  auto all = c.fetch(FetchRequest("Bookmark"), &error);
  EXPECT_TRUE(all) << error.localizedDescription();
  if (all)
    for (auto& o : *all) out[o->valueForKey("uniqueID").string()] = o;
  return out;
}

std::set<std::string> tagNames(const ManagedObjectRef& b) {
  std::set<std::string> names;
  for (auto& t : b->toMany("tags")) names.insert(t->valueForKey("name").string());
  return names;
}

}  // namespace

TEST(StatementReuse, RowsOfDifferentShapesInOneSaveKeepTheirOwnValues) {
  std::string path = storePath();
  {
    auto main = makeMainContext(openStore(makeLibraryModel(), path));
    auto folder = main->insertNewObject("Folder");
    folder->setValueForKey("folderID", "F");
    auto red = main->insertNewObject("Tag");
    red->setValueForKey("name", "red");
    auto blue = main->insertNewObject("Tag");
    blue->setValueForKey("name", "blue");
    // Alternate which attributes and relationships are set, so consecutive rows differ in the
    // columns they write, and repeat shapes after a different one.
    for (int i = 0; i < 60; ++i) {
      auto b = main->insertNewObject("Bookmark");
      b->setValueForKey("uniqueID", "B" + std::to_string(i));
      if (i % 2 == 0) b->setValueForKey("url", "https://e.org/" + std::to_string(i));
      if (i % 3 == 0) b->setValueForKey("notes", "note " + std::to_string(i));
      if (i % 5 == 0) b->setValueForKey("thumbnail", fnd::Data(100 + i, static_cast<std::uint8_t>(i)));
      if (i % 4 == 0) b->setToOne("folder", folder);
      if (i % 2 == 1) b->addToMany("tags", red);
      if (i % 3 == 1) b->addToMany("tags", blue);
    }
    ASSERT_TRUE(main->save());
    // Updates of different columns, join removals and deletes in one more save.
    auto rows = byUniqueID(*main);
    for (int i = 0; i < 60; i += 7) rows["B" + std::to_string(i)]->setValueForKey("title", "T" + std::to_string(i));
    for (int i = 1; i < 60; i += 6) rows["B" + std::to_string(i)]->removeFromMany("tags", red);
    for (int i = 3; i < 60; i += 10) rows["B" + std::to_string(i)]->setValueForKey("notes", fnd::Value());
    main->deleteObject(rows["B59"]);
    main->deleteObject(rows["B58"]);
    ASSERT_TRUE(main->save());
  }
  auto fresh = makeMainContext(openStore(makeLibraryModel(), path));
  auto rows = byUniqueID(*fresh);
  ASSERT_EQ(rows.size(), 58u);
  for (int i = 0; i < 58; ++i) {
    SCOPED_TRACE(i);
    auto& b = rows["B" + std::to_string(i)];
    ASSERT_TRUE(b);
    EXPECT_EQ(b->valueForKey("url"), i % 2 == 0 ? fnd::Value("https://e.org/" + std::to_string(i)) : fnd::Value());
    bool noteCleared = i % 10 == 3;
    EXPECT_EQ(b->valueForKey("notes"),
              i % 3 == 0 && !noteCleared ? fnd::Value("note " + std::to_string(i)) : fnd::Value());
    EXPECT_EQ(b->valueForKey("title"), i % 7 == 0 ? fnd::Value("T" + std::to_string(i)) : fnd::Value());
    auto thumb = b->valueForKey("thumbnail");
    if (i % 5 == 0) {
      ASSERT_TRUE(thumb.isData());
      EXPECT_EQ(thumb.data(), fnd::Data(100 + i, static_cast<std::uint8_t>(i)));
    } else {
      EXPECT_TRUE(thumb.isNull());
    }
    auto folder = b->toOne("folder");
    EXPECT_EQ(folder != nullptr, i % 4 == 0);
    std::set<std::string> tags;
    if (i % 2 == 1 && i % 6 != 1) tags.insert("red");
    if (i % 3 == 1) tags.insert("blue");
    EXPECT_EQ(tagNames(b), tags);
  }
}

TEST(StatementReuse, AnotherStoreOnTheSameCoordinatorStartsWithFreshStatements) {
  auto c = openStore(makeLibraryModel(), storePath("first.sqlite"));
  auto main = makeMainContext(c);
  for (const char* id : {"A", "B"}) main->insertNewObject("Bookmark")->setValueForKey("uniqueID", std::string(id));
  ASSERT_TRUE(main->save());
  FetchRequest byID("Bookmark");
  byID.predicate = Predicate::parse("uniqueID == %@", {"A"});
  ASSERT_EQ(main->fetch(byID)->size(), 1u);
  ASSERT_TRUE(c->removeStore());

  ASSERT_TRUE(c->addStore(kSQLiteStoreType, storePath("second.sqlite")));
  auto next = makeMainContext(c);
  EXPECT_TRUE(next->fetch(byID)->empty());
  next->insertNewObject("Bookmark")->setValueForKey("uniqueID", std::string("A"));
  ASSERT_TRUE(next->save());
  auto again = makeMainContext(c);
  EXPECT_EQ(again->fetch(byID)->size(), 1u);
  EXPECT_EQ(again->count(FetchRequest("Bookmark")), 1);
}

TEST(StatementReuse, RepeatedFetchesBindTheirOwnArguments) {
  auto main = makeMainContext(openStore(makeLibraryModel(), storePath()));
  for (int i = 0; i < 50; ++i) {
    auto b = main->insertNewObject("Bookmark");
    b->setValueForKey("uniqueID", "B" + std::to_string(i));
    b->setValueForKey("timesOpened", i);
  }
  ASSERT_TRUE(main->save());
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 50; i += 7) {
      auto other = makeMainContext(main->coordinator());
      FetchRequest r("Bookmark");
      r.predicate = Predicate::parse("uniqueID == %@", {"B" + std::to_string(i)});
      auto found = other->fetch(r);
      ASSERT_EQ(found->size(), 1u);
      EXPECT_EQ(found->front()->valueForKey("timesOpened").intValue(), i);
      FetchRequest below("Bookmark");
      below.predicate = Predicate::parse("timesOpened < %@", {fnd::Value(i)});
      EXPECT_EQ(other->count(below), i);
    }
  }
  // Long argument lists, too long to keep, still find exactly their rows each time.
  fnd::Array ids;
  for (int i = 0; i < 3000; ++i) ids.emplace_back("B" + std::to_string(i % 60));
  FetchRequest many("Bookmark");
  many.predicate = Predicate::parse("uniqueID IN %@", {fnd::Value(ids)});
  for (int round = 0; round < 2; ++round)
    EXPECT_EQ(makeMainContext(main->coordinator())->fetch(many)->size(), 50u);
}

TEST(StatementReuse, AFailedSaveLeavesLaterSavesWorking) {
  Stack s;
  auto a = s.main;
  auto b = a->insertNewObject("Bookmark");
  b->setValueForKey("uniqueID", std::string("X"));
  ASSERT_TRUE(a->save());
  // Another context changes the row, so the first one's next save conflicts.
  auto other = makeMainContext(s.coordinator);
  auto same = other->existingObjectWithID(b->objectID());
  ASSERT_TRUE(same);
  same->setValueForKey("title", std::string("theirs"));
  ASSERT_TRUE(other->save());
  a->setMergePolicy(MergePolicy::Error);
  b->setValueForKey("title", std::string("mine"));
  EXPECT_FALSE(a->save());
  a->rollback();
  auto n = a->insertNewObject("Bookmark");
  n->setValueForKey("uniqueID", std::string("Y"));
  ASSERT_TRUE(a->save());
  auto fresh = makeMainContext(openStore(makeLibraryModel(), s.path));
  auto rows = byUniqueID(*fresh);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows["X"]->valueForKey("title"), fnd::Value("theirs"));
}
