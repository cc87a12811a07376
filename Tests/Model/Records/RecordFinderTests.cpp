#include "RecordTestSupport.h"

#include "Harness/TestSupport.h"
#include "Platform/Store/ManagedObject.h"

#include <atomic>
#include <thread>

namespace kesto::test::records {
namespace {

using namespace kesto::recordkit;

class RecordFinderTest : public RecordStackTest {
 protected:
  // Notes 1..3 titled c, a, b with ratings 2, 5, (none); saved.
  void addNotes() {
    const char* titles[] = {"c", "a", "b"};
    for (int i = 0; i < 3; ++i) {
      auto n = RK_createEntity("Note");
      n->setValueForKey("noteID", i + 1);
      n->setValueForKey("title", titles[i]);
      if (i < 2) n->setValueForKey("rating", i == 0 ? 2.0 : 5.0);
    }
    saveAll();
  }
};

store::PredicateRef where(const char* format, fnd::Array args = {}) { return store::Predicate::parse(format, args); }

TEST_F(RecordFinderTest, SortTermsSplitAtEveryCommaKeepingSpaces) {
  auto request = RK_requestAllSortedBy("Note", "name,date", true);
  ASSERT_EQ(request.sortDescriptors.size(), 2u);
  EXPECT_EQ(request.sortDescriptors[0].keyPath, "name");
  EXPECT_EQ(request.sortDescriptors[1].keyPath, "date");
  EXPECT_TRUE(request.sortDescriptors[1].ascending);
  EXPECT_EQ(request.fetchBatchSize, 20);
  auto spaced = RK_requestAllSortedBy("Note", "name, date", false);
  EXPECT_EQ(spaced.sortDescriptors[1].keyPath, " date");
  EXPECT_FALSE(spaced.sortDescriptors[1].ascending);
  RK_setDefaultBatchSize(5);
  EXPECT_EQ(RK_requestAllSortedBy("Note", "title", true).fetchBatchSize, 5);
  EXPECT_EQ(RK_requestAll("Note").fetchBatchSize, 0);
  EXPECT_EQ(RK_requestAll("Note").entityName, "Note");
}

TEST_F(RecordFinderTest, FindersFilterSortAndLimit) {
  addNotes();
  auto sorted = RK_findAllSortedBy("Note", "title", true);
  ASSERT_EQ(sorted.size(), 3u);
  EXPECT_EQ(sorted[0]->valueForKey("title"), fnd::Value("a"));
  auto later = RK_findAllSortedBy("Note", "title", false, where("noteID > 1"));
  ASSERT_FALSE(later.empty());
  EXPECT_EQ(later.front()->valueForKey("title"), fnd::Value("b"));
  EXPECT_EQ(RK_findFirstOrderedByAttribute("Note", "title", false)->valueForKey("title"), fnd::Value("c"));
  EXPECT_EQ(RK_findByAttribute("Note", "title", "a").size(), 1u);
  EXPECT_TRUE(RK_findByAttribute("Note", "title", "zzz").empty());
  EXPECT_EQ(RK_findFirstByAttribute("Note", "title", "zzz"), nullptr);
  EXPECT_EQ(RK_findAllWithPredicate("Note", where("rating > 1")).size(), 2u);
  EXPECT_EQ(RK_findFirstWithPredicate("Note", where("noteID < 3"), "noteID", false)->valueForKey("noteID"),
            fnd::Value(2));
  EXPECT_TRUE(RK_findFirstWithPredicate("Note", where("noteID == 3"), std::vector<std::string>{"title"}));
  EXPECT_TRUE(RK_findFirstWithPredicate("Note", nullptr, "title", true, std::vector<std::string>{"title", "nope"}));

  store::FetchRequest request = RK_requestAll("Note");
  ASSERT_TRUE(RK_executeFetchRequestAndReturnFirstObject(request));
  EXPECT_EQ(request.fetchLimit, 1);
  EXPECT_EQ(RK_propertiesNamed("Note", {"title", "missing", "labels", "noteID"}),
            (std::vector<std::string>{"title", "labels", "noteID"}));
  EXPECT_TRUE(RK_propertiesNamed("Note", {}).empty());
}

TEST_F(RecordFinderTest, EmptyValueFindsObjectsWithoutThatAttribute) {
  addNotes();
  auto untitled = RK_createEntity("Note");
  EXPECT_EQ(RK_findFirstByAttribute("Note", "title", fnd::Value()), untitled);
  EXPECT_EQ(RK_findFirstByAttribute("Note", "rating", fnd::Value())->valueForKey("title"), fnd::Value("b"));
}

TEST_F(RecordFinderTest, CountsAndEmptiness) {
  EXPECT_FALSE(RK_hasAtLeastOneEntity("Note"));
  EXPECT_EQ(RK_numberOfEntities("Note"), fnd::Value(0));
  addNotes();
  EXPECT_TRUE(RK_hasAtLeastOneEntity("Note"));
  EXPECT_EQ(RK_countOfEntities("Note"), 3u);
  EXPECT_EQ(RK_countOfEntitiesWithPredicate("Note", where("rating >= 2")), 2u);
  EXPECT_EQ(RK_numberOfEntitiesWithPredicate("Note", where("title == 'a'")), fnd::Value(1));
}

TEST_F(RecordFinderTest, BackgroundCountsPickTheirContexts) {
  addNotes();
  std::atomic<bool> done{false};
  std::uint64_t inDefault = 0;
  fnd::Value inThread;
  std::thread worker([&] {
    auto local = RK_contextForCurrentThread();
    local->performAndWait([&] { RK_createInContext("Note", local)->setValueForKey("rating", 9.0); });
    inDefault = RK_countOfEntitiesWithPredicate("Note", where("rating > 0"));
    inThread = RK_numberOfEntitiesWithPredicate("Note", where("rating > 0"));
    done = true;
  });
  ASSERT_TRUE(runUntil([&] { return done.load(); }));
  worker.join();
  EXPECT_EQ(inDefault, 2u);
  EXPECT_EQ(inThread, fnd::Value(3));
}

TEST_F(RecordFinderTest, AggregatesHaveTheAttributeType) {
  EXPECT_TRUE(RK_aggregateOperation("Note", "max:", "noteID", nullptr).isNull());
  addNotes();
  fnd::Value maxID = RK_aggregateOperation("Note", "max:", "noteID", nullptr);
  EXPECT_TRUE(maxID.isInteger());
  EXPECT_EQ(maxID, fnd::Value(3));
  EXPECT_EQ(RK_aggregateOperation("Note", "sum", "rating", nullptr), fnd::Value(7.0));
  EXPECT_EQ(RK_aggregateOperation("Note", "min", "rating", where("noteID > 1")), fnd::Value(5.0));
  EXPECT_EQ(RK_aggregateOperation("Note", "average", "rating", nullptr), fnd::Value(3.5));
  EXPECT_TRUE(RK_aggregateOperation("Note", "median", "rating", nullptr).isNull());
}

TEST_F(RecordFinderTest, MaximumValueAndMinimumObjectAreReallyFound) {
  addNotes();
  auto any = RK_findFirstByAttribute("Note", "noteID", 3);
  EXPECT_EQ(RK_maxValueFor(any, "rating"), fnd::Value(5.0));
  EXPECT_EQ(RK_maxValueFor(any, "noteID"), fnd::Value(3));
  // The note without a rating is not the minimum.
  auto lowest = RK_objectWithMinValueFor(any, "rating");
  ASSERT_TRUE(lowest);
  EXPECT_EQ(lowest->valueForKey("noteID"), fnd::Value(1));
  EXPECT_EQ(RK_objectWithMinValueFor(any, "title")->valueForKey("title"), fnd::Value("a"));
}

TEST_F(RecordFinderTest, DeletionsAndObjectsInOtherContexts) {
  addNotes();
  EXPECT_TRUE(RK_deleteAllMatchingPredicate("Note", where("rating > 3")));
  EXPECT_EQ(RK_countOfEntities("Note"), 2u);
  auto note = RK_findFirstByAttribute("Note", "noteID", 1);
  saveAll();
  ContextRef other = RK_context();
  auto copy = RK_inContext(note, other);
  ASSERT_TRUE(copy);
  EXPECT_NE(copy, note);
  other->performAndWait([&] { EXPECT_EQ(copy->valueForKey("title"), fnd::Value("c")); });

  EXPECT_TRUE(RK_deleteEntity(note));
  EXPECT_TRUE(RK_truncateAll("Note"));
  EXPECT_EQ(RK_countOfEntities("Note"), 0u);
  saveAll();
  EXPECT_EQ(storedCount("Note"), 0);
  EXPECT_EQ(RK_inContext(copy, RK_contextWithStoreCoordinator(RK_defaultStoreCoordinator())), nullptr);
}

TEST_F(RecordFinderTest, ClassHooksReplaceEntityLookupAndCreation) {
  int created = 0;
  RecordClassHooks hooks;
  hooks.insertInManagedObjectContext = [&](const ContextRef& context) {
    ++created;
    auto o = context->insertNewObject("Note");
    o->setValueForKey("title", "made by the class");
    return o;
  };
  registerRecordClass("Memo", hooks);
  RecordClassHooks aliasOnly;
  aliasOnly.entityInManagedObjectContext = [](const ContextRef& context) {
    return context->coordinator()->model()->entity("Note");
  };
  registerRecordClass("Jotting", aliasOnly);

  auto memo = RK_createEntity("Memo");
  EXPECT_EQ(created, 1);
  EXPECT_EQ(memo->valueForKey("title"), fnd::Value("made by the class"));
  EXPECT_EQ(RK_entityDescription("Jotting")->name(), "Note");
  EXPECT_EQ(RK_countOfEntities("Jotting"), 1u);
  EXPECT_EQ(RK_entityDescription("Unknown"), nullptr);
  EXPECT_FALSE(RK_executeFetchRequest(RK_requestAll("Unknown")).has_value());
  unregisterRecordClass("Memo");
  unregisterRecordClass("Jotting");
}

}  // namespace
}  // namespace kesto::test::records
