#include "StoreTestModel.h"

#include "Harness/TestSupport.h"
#include "Platform/Store/Context.h"
#include "Platform/Store/ObjectID.h"
#include "Platform/Store/TestAccess_p.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <functional>
#include <map>
#include <set>
#include <thread>
#include <utility>

using namespace kesto;
using namespace kesto::store;
using namespace kesto::store::test;

namespace {

ManagedObjectRef addBookmark(Context& c, const std::string& id, const std::string& url, const std::string& title = "") {
  auto b = c.insertNewObject("Bookmark");
  b->setValueForKey("uniqueID", id);
  b->setValueForKey("url", url);
  if (!title.empty()) b->setValueForKey("title", title);
  return b;
}

std::set<std::string> ids(const std::vector<ManagedObjectRef>& objects) {
  std::set<std::string> s;
  for (auto& o : objects) s.insert(o->valueForKey("uniqueID").string());
  return s;
}

std::vector<ManagedObjectRef> fetchAll(Context& c, const std::string& entity, const std::string& format = "",
                                       const fnd::Array& args = {}) {
  FetchRequest r(entity);
  if (!format.empty()) r.predicate = Predicate::parse(format, args);
  fnd::Error e;
  auto got = c.fetch(r, &e);
  EXPECT_TRUE(got) << e.localizedDescription();
  return got ? *got : std::vector<ManagedObjectRef>{};
}

// `n` folders named F0... and `n` tags named T0..., new in `c`.
void addFoldersAndTags(Context& c, int n, std::vector<ManagedObjectRef>& folders, std::vector<ManagedObjectRef>& tags) {
  for (int i = 0; i < n; ++i) {
    folders.push_back(c.insertNewObject("Folder"));
    folders.back()->setValueForKey("folderID", "F" + std::to_string(i));
    tags.push_back(c.insertNewObject("Tag"));
    tags.back()->setValueForKey("name", "T" + std::to_string(i));
  }
}

// Every context's saves heard for as long as it lives: an assertion that stops the test still
// takes the observer, which holds the test's locals, off the shared list.
struct AllSavesHeard {
  explicit AllSavesHeard(SaveObserver observer)
      : token(Context::observeAllSaves(std::move(observer))) {}
  ~AllSavesHeard() { Context::removeGlobalSaveObserver(token); }
  AllSavesHeard(const AllSavesHeard&) = delete;
  AllSavesHeard& operator=(const AllSavesHeard&) = delete;
  const int token;
};

}  // namespace

TEST(Context, InsertSaveAndReopenKeepsValuesAndDefaults) {
  Stack s;
  ASSERT_TRUE(s.coordinator);
  auto b = addBookmark(*s.main, "B1", "https://a.example/", "A");
  b->setValueForKey("addedDate", fnd::Date(1000.5));
  b->setValueForKey("rating", 4);
  b->setValueForKey("thumbnail", fnd::Data{1, 2, 3});
  EXPECT_TRUE(b->isInserted());
  EXPECT_TRUE(b->objectID()->isTemporaryID());
  // Flags and counters start at 0, so "blocked < 1" lists new bookmarks.
  EXPECT_EQ(b->valueForKey("blocked").intValue(-1), 0);
  EXPECT_EQ(b->valueForKey("trashed").intValue(-1), 0);
  fnd::Error e;
  ASSERT_TRUE(s.main->save(&e)) << e.localizedDescription();
  EXPECT_FALSE(b->objectID()->isTemporaryID());
  EXPECT_FALSE(s.main->hasChanges());
  std::string uri = b->objectID()->uriRepresentation();

  s.main.reset();
  s.coordinator.reset();
  auto c2 = openStore(s.model, s.path);
  ASSERT_TRUE(c2);
  auto ctx = makeMainContext(c2);
  auto all = fetchAll(*ctx, "Bookmark", "blocked < 1 and trashed < 1");
  ASSERT_EQ(all.size(), 1u);
  auto r = all[0];
  EXPECT_EQ(r->valueForKey("title").string(), "A");
  EXPECT_EQ(r->valueForKey("addedDate").date(), fnd::Date(1000.5));
  EXPECT_TRUE(r->valueForKey("rating").isReal());
  EXPECT_DOUBLE_EQ(r->valueForKey("rating").doubleValue(), 4.0);
  EXPECT_FALSE(r->valueForKey("isFavorite").boolValue(true));
  EXPECT_EQ(r->valueForKey("thumbnail").data(), (fnd::Data{1, 2, 3}));
  EXPECT_EQ(r->objectID()->uriRepresentation(), uri);
  EXPECT_TRUE(sameID(c2->objectIDForURIRepresentation(uri), r->objectID()));
}

TEST(Context, OneObjectPerRowPerContext) {
  Stack s;
  addBookmark(*s.main, "B1", "u");
  ASSERT_TRUE(s.main->save());
  auto a = fetchAll(*s.main, "Bookmark");
  auto b = fetchAll(*s.main, "Bookmark", "uniqueID == %@", {"B1"});
  ASSERT_EQ(a.size(), 1u);
  ASSERT_EQ(b.size(), 1u);
  EXPECT_EQ(a[0], b[0]);
  EXPECT_EQ(s.main->objectWithID(a[0]->objectID()), a[0]);
}

TEST(Context, FetchAndCountSeeUnsavedChanges) {
  Stack s;
  addBookmark(*s.main, "B1", "u1", "one");
  addBookmark(*s.main, "B2", "u2", "two");
  ASSERT_TRUE(s.main->save());
  auto b3 = addBookmark(*s.main, "B3", "u3", "three");
  auto b1 = fetchAll(*s.main, "Bookmark", "uniqueID == 'B1'")[0];
  auto b2 = fetchAll(*s.main, "Bookmark", "uniqueID == 'B2'")[0];
  b1->setValueForKey("trashed", 1);
  s.main->deleteObject(b2);
  EXPECT_EQ(ids(fetchAll(*s.main, "Bookmark", "trashed < 1")), (std::set<std::string>{"B3"}));
  EXPECT_EQ(ids(fetchAll(*s.main, "Bookmark", "trashed > 0")), (std::set<std::string>{"B1"}));
  FetchRequest r("Bookmark");
  r.predicate = Predicate::parse("trashed < 1");
  EXPECT_EQ(s.main->count(r).value_or(-1), 1);
  r.predicate = nullptr;
  EXPECT_EQ(s.main->count(r).value_or(-1), 2);
  s.main->rollback();
  EXPECT_EQ(s.main->count(r).value_or(-1), 2);
  EXPECT_EQ(ids(fetchAll(*s.main, "Bookmark", "trashed < 1")), (std::set<std::string>{"B1", "B2"}));
  (void)b3;
}

TEST(Context, SortLimitOffsetAndAggregates) {
  Stack s;
  const char* titles[] = {"delta", "Alpha", "charlie", "", "bravo"};
  for (int i = 0; i < 5; ++i) {
    auto b = addBookmark(*s.main, "B" + std::to_string(i), "u", titles[i]);
    if (!*titles[i]) b->setValueForKey("title", fnd::Value());
    b->setValueForKey("timesOpened", i * 10);
  }
  ASSERT_TRUE(s.main->save());
  FetchRequest r("Bookmark");
  r.sortDescriptors = {SortDescriptor("title", true, SortDescriptor::Comparison::CaseInsensitive)};
  auto all = *s.main->fetch(r);
  ASSERT_EQ(all.size(), 5u);
  EXPECT_TRUE(all[0]->valueForKey("title").isNull());  // missing values sort lowest
  EXPECT_EQ(all[1]->valueForKey("title").string(), "Alpha");
  EXPECT_EQ(all[4]->valueForKey("title").string(), "delta");
  r.fetchOffset = 1;
  r.fetchLimit = 2;
  auto page = *s.main->fetch(r);
  ASSERT_EQ(page.size(), 2u);
  EXPECT_EQ(page[0]->valueForKey("title").string(), "Alpha");
  EXPECT_EQ(page[1]->valueForKey("title").string(), "bravo");
  r.fetchLimit = -3;
  r.fetchOffset = 0;
  EXPECT_EQ(s.main->fetch(r)->size(), 5u);

  FetchRequest q("Bookmark");
  EXPECT_EQ(s.main->aggregate(q, AggregateFunction::Max, "timesOpened")->intValue(), 40);
  EXPECT_EQ(s.main->aggregate(q, AggregateFunction::Min, "timesOpened")->intValue(), 0);
  EXPECT_EQ(s.main->aggregate(q, AggregateFunction::Sum, "timesOpened")->intValue(), 100);
  EXPECT_DOUBLE_EQ(s.main->aggregate(q, AggregateFunction::Average, "timesOpened")->doubleValue(), 20.0);
  q.predicate = Predicate::parse("timesOpened > 100");
  EXPECT_TRUE(s.main->aggregate(q, AggregateFunction::Max, "timesOpened")->isNull());
  EXPECT_EQ(s.main->aggregate(q, AggregateFunction::Count, "timesOpened")->intValue(-1), 0);
}

TEST(Context, FetchErrorsAreNotEmptyResults) {
  Stack s;
  fnd::Error e;
  FetchRequest r("NoSuchEntity");
  EXPECT_FALSE(s.main->fetch(r, &e).has_value());
  EXPECT_NE(e.code(), 0);
  EXPECT_FALSE(s.main->count(r).has_value());
  auto orphan = Context::make(ConcurrencyType::Confinement);
  EXPECT_FALSE(orphan->fetch(FetchRequest("Bookmark")).has_value());
  EXPECT_FALSE(orphan->save(&e) && orphan->hasChanges());
}

TEST(Context, RelationshipsKeepInversesAndPersist) {
  Stack s;
  auto f1 = s.main->insertNewObject("Folder");
  f1->setValueForKey("folderID", "F1");
  auto f2 = s.main->insertNewObject("Folder");
  f2->setValueForKey("folderID", "F2");
  auto t = s.main->insertNewObject("Tag");
  t->setValueForKey("name", "wiki");
  auto b = addBookmark(*s.main, "B1", "u");
  b->setToOne("folder", f1);
  EXPECT_EQ(f1->toMany("bookmarks").size(), 1u);
  b->setToOne("folder", f2);  // moves: the old folder lets go
  EXPECT_TRUE(f1->toMany("bookmarks").empty());
  EXPECT_EQ(f2->toMany("bookmarks").size(), 1u);
  t->addToMany("bookmarks", b);
  EXPECT_EQ(b->toMany("tags").size(), 1u);
  ASSERT_TRUE(s.main->save());

  auto fresh = makeMainContext(s.coordinator);
  auto got = fetchAll(*fresh, "Bookmark", "folder.folderID == 'F2' AND ANY tags.name == 'wiki'");
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0]->toOne("folder")->valueForKey("folderID").string(), "F2");
  auto tags = fetchAll(*fresh, "Tag");
  ASSERT_EQ(tags.size(), 1u);
  EXPECT_EQ(tags[0]->toMany("bookmarks").size(), 1u);
  EXPECT_EQ(valueForKeyPath(fnd::Value(std::static_pointer_cast<fnd::Object>(got[0])), "tags.@count").intValue(), 1);

  // Objects of two contexts are never related.
  auto stranger = s.main->insertNewObject("Folder");
  got[0]->setToOne("folder", stranger);
  EXPECT_EQ(got[0]->toOne("folder")->valueForKey("folderID").string(), "F2");
  got[0]->addToMany("tags", s.main->insertNewObject("Tag"));
  EXPECT_EQ(got[0]->toMany("tags").size(), 1u);

  // Deleting a folder nullifies: the bookmark stays, folderless.
  auto folder = got[0]->toOne("folder");
  fresh->deleteObject(folder);
  EXPECT_EQ(got[0]->toOne("folder"), nullptr);
  auto tag = tags[0];
  fresh->deleteObject(tag);
  EXPECT_TRUE(got[0]->toMany("tags").empty());
  ASSERT_TRUE(fresh->save());
  auto third = makeMainContext(s.coordinator);
  auto after = fetchAll(*third, "Bookmark");
  ASSERT_EQ(after.size(), 1u);
  EXPECT_EQ(after[0]->toOne("folder"), nullptr);
  EXPECT_TRUE(after[0]->toMany("tags").empty());
  EXPECT_EQ(fetchAll(*third, "Folder").size(), 1u);
}

TEST(Context, ChildSeesParentChangesAndSavesIntoIt) {
  Stack s;
  addBookmark(*s.main, "B1", "u1");
  ASSERT_TRUE(s.main->save());
  addBookmark(*s.main, "B2", "u2");  // unsaved in the parent
  auto child = makeChildContext(s.main);
  std::set<std::string> seen;
  ObjectIDRef newID;
  child->performAndWait([&] {
    seen = ids(fetchAll(*child, "Bookmark"));
    auto b3 = addBookmark(*child, "B3", "u3");
    auto b1 = fetchAll(*child, "Bookmark", "uniqueID == 'B1'")[0];
    b1->setValueForKey("title", "changed in child");
    newID = b3->objectID();
    ASSERT_TRUE(child->save());
  });
  EXPECT_EQ(seen, (std::set<std::string>{"B1", "B2"}));
  // Pushed into the parent in memory, not yet in the store.
  EXPECT_TRUE(s.main->hasChanges());
  EXPECT_EQ(ids(fetchAll(*s.main, "Bookmark")), (std::set<std::string>{"B1", "B2", "B3"}));
  EXPECT_EQ(fetchAll(*s.main, "Bookmark", "uniqueID == 'B1'")[0]->valueForKey("title").string(), "changed in child");
  auto other = makeMainContext(s.coordinator);
  EXPECT_EQ(ids(fetchAll(*other, "Bookmark")), (std::set<std::string>{"B1"}));
  // The child's temporary ID finds the parent's object, before and after the parent saves.
  auto inParent = s.main->objectWithID(newID);
  ASSERT_TRUE(inParent);
  EXPECT_EQ(inParent->valueForKey("uniqueID").string(), "B3");
  ASSERT_TRUE(s.main->save());
  EXPECT_FALSE(newID->isTemporaryID());
  EXPECT_EQ(s.main->objectWithID(newID), inParent);
  EXPECT_EQ(ids(fetchAll(*other, "Bookmark")), (std::set<std::string>{"B1", "B2", "B3"}));
  // The child finds its object under the permanent ID too, and fetches it only once.
  auto permanent = s.coordinator->objectIDForURIRepresentation(newID->uriRepresentation());
  ASSERT_TRUE(permanent);
  child->performAndWait([&] {
    auto mine = child->objectRegisteredForID(newID);
    ASSERT_TRUE(mine);
    EXPECT_EQ(child->objectWithID(permanent), mine);
    EXPECT_EQ(fetchAll(*child, "Bookmark").size(), 3u);
  });
}

TEST(Context, ChildIDsWorkInParentPredicates) {
  Stack s;
  for (int i = 0; i < 20; ++i) addBookmark(*s.main, "B" + std::to_string(i), "u");
  ASSERT_TRUE(s.main->save());
  auto child = makeChildContext(s.main);
  fnd::Array idValues;
  std::atomic<bool> done{false};
  child->perform([&] {
    for (auto& o : fetchAll(*child, "Bookmark", "uniqueID BEGINSWITH 'B1'"))
      idValues.emplace_back(fnd::ObjectRef(std::const_pointer_cast<ObjectID>(o->objectID())));
    done = true;
  });
  ASSERT_TRUE(kesto::test::runUntil([&] { return done.load(); }, 10));
  auto got = fetchAll(*s.main, "Bookmark", "self IN %@", {fnd::Value(idValues)});
  EXPECT_EQ(got.size(), 11u);  // B1, B10..B19
}

TEST(Context, SeparateContextSavesAreSeenByLaterMainFetches) {
  Stack s;
  auto b = addBookmark(*s.main, "B1", "u", "old");
  ASSERT_TRUE(s.main->save());
  auto separate = Context::make(ConcurrencyType::Confinement);
  separate->setCoordinator(s.coordinator);
  separate->setMergePolicy(MergePolicy::Overwrite);
  auto sb = fetchAll(*separate, "Bookmark")[0];
  EXPECT_NE(sb, b);
  sb->setValueForKey("title", "new");
  addBookmark(*separate, "B2", "u2");
  ASSERT_TRUE(separate->save());
  auto all = fetchAll(*s.main, "Bookmark");
  EXPECT_EQ(ids(all), (std::set<std::string>{"B1", "B2"}));
  EXPECT_EQ(b->valueForKey("title").string(), "new");  // the unchanged main object was refreshed
}

TEST(Context, ConflictsFailUnderTheErrorPolicyAndWinUnderTrump) {
  Stack s;
  addBookmark(*s.main, "B1", "u", "t0");
  ASSERT_TRUE(s.main->save());
  auto a = Context::make(ConcurrencyType::Confinement);
  a->setCoordinator(s.coordinator);
  auto ab = fetchAll(*a, "Bookmark")[0];
  auto mb = fetchAll(*s.main, "Bookmark")[0];
  mb->setValueForKey("title", "main");
  ASSERT_TRUE(s.main->save());
  ab->setValueForKey("notes", "from a");
  fnd::Error e;
  EXPECT_FALSE(a->save(&e));
  EXPECT_EQ(e.code(), kManagedObjectMergeError);
  EXPECT_EQ(e.detailedErrors().size(), 1u);
  EXPECT_TRUE(a->hasChanges());  // the changes stay
  a->setMergePolicy(MergePolicy::PropertyObjectTrump);
  ASSERT_TRUE(a->save(&e)) << e.localizedDescription();
  auto fresh = makeMainContext(s.coordinator);
  auto r = fetchAll(*fresh, "Bookmark")[0];
  EXPECT_EQ(r->valueForKey("title").string(), "main");  // untouched property keeps the stored value
  EXPECT_EQ(r->valueForKey("notes").string(), "from a");
}

TEST(Context, SaveErrorsCarryDetailedErrors) {
  auto model = makeLibraryModel({.requireURL = true});
  auto coordinator = openStore(model, storePath());
  auto main = makeMainContext(coordinator);
  main->insertNewObject("Bookmark");
  main->insertNewObject("Bookmark");
  fnd::Error e;
  EXPECT_FALSE(main->save(&e));
  EXPECT_EQ(e.code(), kValidationMultipleErrorsError);
  ASSERT_EQ(e.detailedErrors().size(), 2u);
  EXPECT_EQ(e.detailedErrors()[0].code(), kValidationMissingMandatoryPropertyError);
  EXPECT_TRUE(main->hasChanges());
  for (auto& o : main->insertedObjects()) o->setValueForKey("url", "http://unknown");
  EXPECT_TRUE(main->save(&e));
}

TEST(Context, WillSaveRunsBeforeWritingAndSaveObserversHearOfIt) {
  Stack s;
  struct Counted : ManagedObject {
    void willSave() override {
      if (valueForKey("title").isNull()) setValueForKey("title", " ");
    }
  };
  Model::registerClass("Bookmark", [] { return std::make_shared<Counted>(); });
  auto b = addBookmark(*s.main, "B1", "u");
  EXPECT_TRUE(std::dynamic_pointer_cast<Counted>(b) != nullptr);
  std::vector<std::size_t> heard;
  int token = s.main->addSaveObserver([&](const SaveNotification& n) { heard.push_back(n.insertedIDs.size()); });
  ASSERT_TRUE(s.main->save());
  s.main->removeSaveObserver(token);
  Model::registerClass("Bookmark", nullptr);
  EXPECT_EQ(heard, (std::vector<std::size_t>{1}));
  auto fresh = makeMainContext(s.coordinator);
  EXPECT_EQ(fetchAll(*fresh, "Bookmark")[0]->valueForKey("title").string(), " ");
}

TEST(Context, ExistingObjectWithIDReportsMissingRows) {
  Stack s;
  auto b = addBookmark(*s.main, "B1", "u");
  ASSERT_TRUE(s.main->save());
  auto id = b->objectID();
  s.main->deleteObject(b);
  ASSERT_TRUE(s.main->save());
  auto other = makeMainContext(s.coordinator);
  fnd::Error e;
  EXPECT_EQ(other->existingObjectWithID(id, &e), nullptr);
  EXPECT_NE(e.code(), 0);
}

TEST(Context, ObtainPermanentIDsBeforeSaving) {
  Stack s;
  auto b = addBookmark(*s.main, "B1", "u");
  ASSERT_TRUE(s.main->obtainPermanentIDs({b}));
  auto id = b->objectID();
  EXPECT_FALSE(id->isTemporaryID());
  ASSERT_TRUE(s.main->save());
  EXPECT_EQ(b->objectID()->primaryKey(), id->primaryKey());
  auto other = makeMainContext(s.coordinator);
  EXPECT_TRUE(other->existingObjectWithID(id));
}

TEST(Context, BinaryValuesLoadOnlyWhenRead) {
  Stack s;
  auto b = addBookmark(*s.main, "B1", "u");
  b->setValueForKey("thumbnail", fnd::Data(1000, 7));
  ASSERT_TRUE(s.main->save());
  auto other = makeMainContext(s.coordinator);
  auto listed = fetchAll(*other, "Bookmark");
  ASSERT_EQ(listed.size(), 1u);
  // Changed behind the list's back: a value read with the list would still be the old one.
  auto writer = Context::make(ConcurrencyType::Confinement);
  writer->setCoordinator(s.coordinator);
  fetchAll(*writer, "Bookmark")[0]->setValueForKey("thumbnail", fnd::Data(10, 9));
  ASSERT_TRUE(writer->save());
  EXPECT_EQ(listed[0]->valueForKey("thumbnail").data(), fnd::Data(10, 9));
}

TEST(Context, OnlyTheMostRecentlyReadBinaryValuesStayInMemory) {
  Stack s;
  const int n = 300;
  for (int i = 0; i < n; ++i)
    addBookmark(*s.main, "B" + std::to_string(i), "u")->setValueForKey("thumbnail", fnd::Data(4, 1));
  ASSERT_TRUE(s.main->save());
  auto reader = makeMainContext(s.coordinator);
  auto listed = fetchAll(*reader, "Bookmark");
  ASSERT_EQ(listed.size(), static_cast<std::size_t>(n));
  for (auto& b : listed) ASSERT_EQ(b->valueForKey("thumbnail").data(), fnd::Data(4, 1));
  // Changed behind the reader's back: a value it still holds reads the same, one it let go is
  // read from the store again.
  auto writer = makeMainContext(s.coordinator);
  for (auto& b : fetchAll(*writer, "Bookmark")) b->setValueForKey("thumbnail", fnd::Data(4, 2));
  ASSERT_TRUE(writer->save());
  EXPECT_EQ(listed.back()->valueForKey("thumbnail").data(), fnd::Data(4, 1));
  EXPECT_EQ(listed.front()->valueForKey("thumbnail").data(), fnd::Data(4, 2));
  // An unsaved change is never let go, however many values are read after it.
  listed[1]->setValueForKey("thumbnail", fnd::Data(1, 9));
  for (auto& b : listed) b->valueForKey("thumbnail");
  EXPECT_EQ(listed[1]->valueForKey("thumbnail").data(), fnd::Data(1, 9));
}

TEST(Context, MergingASaveRefreshesCleanObjectsAndForgetsDeletedOnes) {
  Stack s;
  addBookmark(*s.main, "B1", "u", "old");
  addBookmark(*s.main, "B2", "u", "gone");
  ASSERT_TRUE(s.main->save());
  auto b1 = fetchAll(*s.main, "Bookmark", "uniqueID == 'B1'")[0];
  auto b2 = fetchAll(*s.main, "Bookmark", "uniqueID == 'B2'")[0];
  auto separate = Context::make(ConcurrencyType::Confinement);
  separate->setCoordinator(s.coordinator);
  std::vector<SaveNotification> heard;
  {
    const AllSavesHeard observer([&](const SaveNotification& n) { heard.push_back(n); });
    fetchAll(*separate, "Bookmark", "uniqueID == 'B1'")[0]->setValueForKey("title", "new");
    separate->deleteObject(fetchAll(*separate, "Bookmark", "uniqueID == 'B2'")[0]);
    ASSERT_TRUE(separate->save());
  }
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(heard[0].updatedIDs.size(), 1u);
  EXPECT_EQ(heard[0].deletedIDs.size(), 1u);
  s.main->mergeChangesFromSave(heard[0]);
  EXPECT_EQ(b1->valueForKey("title").string(), "new");
  EXPECT_EQ(s.main->objectRegisteredForID(b2->objectID()), nullptr);
  EXPECT_EQ(ids(fetchAll(*s.main, "Bookmark")), (std::set<std::string>{"B1"}));
}

TEST(Context, AMergeKeepsLoadedSetsUnlessTheSaveChangedARelationship) {
  Stack s;
  auto f = s.main->insertNewObject("Folder");
  auto b1 = addBookmark(*s.main, "B1", "u", "one");
  b1->setToOne("folder", f);
  ASSERT_TRUE(s.main->save());
  const int rel = f->entity()->relationshipIndex("bookmarks");
  auto setLoaded = [&] { return ObjectAccess::slots(*f).rels[static_cast<std::size_t>(rel)].manyLoaded; };
  ASSERT_EQ(f->toMany("bookmarks").size(), 1u);
  ASSERT_TRUE(setLoaded());
  auto separate = Context::make(ConcurrencyType::Confinement);
  separate->setCoordinator(s.coordinator);
  std::vector<SaveNotification> heard;
  const AllSavesHeard observer([&](const SaveNotification& n) { heard.push_back(n); });
  auto saveAndMerge = [&](const char* step) {
    SCOPED_TRACE(step);
    heard.clear();
    ASSERT_TRUE(separate->save());
    ASSERT_EQ(heard.size(), 1u);
    s.main->mergeChangesFromSave(heard[0]);
  };
  // Values only: the folder's set stays loaded, the value is read afresh.
  auto other = fetchAll(*separate, "Bookmark", "uniqueID == 'B1'")[0];
  other->setValueForKey("title", "renamed");
  saveAndMerge("renamed");
  EXPECT_FALSE(heard[0].relationshipsChanged);
  EXPECT_TRUE(setLoaded());
  EXPECT_EQ(b1->valueForKey("title").string(), "renamed");
  // A bookmark filed there elsewhere: the set is read again and holds it.
  auto otherFolder = fetchAll(*separate, "Folder")[0];
  addBookmark(*separate, "B2", "u", "two")->setToOne("folder", otherFolder);
  saveAndMerge("inserted");
  EXPECT_TRUE(heard[0].relationshipsChanged);
  EXPECT_EQ(f->toMany("bookmarks").size(), 2u);
  // An existing bookmark moved out is an update, but of a relationship: the set follows too.
  other->setToOne("folder", nullptr);
  saveAndMerge("moved out");
  EXPECT_TRUE(heard[0].relationshipsChanged);
  EXPECT_EQ(ids(f->toMany("bookmarks")), (std::set<std::string>{"B2"}));
  // The same in slices.
  f->toMany("bookmarks");
  other->setValueForKey("title", "again");
  heard.clear();
  ASSERT_TRUE(separate->save());
  ASSERT_EQ(heard.size(), 1u);
  bool done = false;
  s.main->mergeChangesFromSaveInSlices(heard[0], [&] { done = true; }, 1);
  ASSERT_TRUE(kesto::test::runUntil([&] { return done; }, 5));
  EXPECT_TRUE(setLoaded());
}

TEST(Context, DeletingAnInsertedObjectLeavesNothingToSave) {
  Stack s;
  auto f = s.main->insertNewObject("Folder");
  auto b = addBookmark(*s.main, "B1", "u");
  b->setToOne("folder", f);
  s.main->deleteObject(b);
  EXPECT_TRUE(f->toMany("bookmarks").empty());
  EXPECT_EQ(s.main->insertedObjects().size(), 1u);
  ASSERT_TRUE(s.main->save());
  EXPECT_TRUE(fetchAll(*s.main, "Bookmark").empty());
  EXPECT_EQ(fetchAll(*s.main, "Folder").size(), 1u);
}

TEST(Context, WalkingManyObjectsLoadsRelatedRowsAndSetsCorrectly) {
  Stack s;
  std::vector<ManagedObjectRef> folders, tags;
  addFoldersAndTags(*s.main, 60, folders, tags);
  for (int i = 0; i < 200; ++i) {
    auto b = addBookmark(*s.main, "B" + std::to_string(i), "u");
    if (i % 7) b->setToOne("folder", folders[i % 60]);
    for (int k = 0; k < i % 4; ++k) b->addToMany("tags", tags[(i + k) % 60]);
  }
  ASSERT_TRUE(s.main->save());
  auto fresh = makeMainContext(s.coordinator);
  FetchRequest r("Bookmark");
  r.sortDescriptors = {SortDescriptor("addedDate", true), SortDescriptor("uniqueID", true)};
  auto all = *fresh->fetch(r);
  ASSERT_EQ(all.size(), 200u);
  // An unsaved change made before the walk must survive it.
  auto first = fetchAll(*fresh, "Bookmark", "uniqueID == 'B3'")[0];
  auto extraTag = fresh->insertNewObject("Tag");
  first->addToMany("tags", extraTag);
  for (auto& b : all) {
    int i = std::stoi(b->valueForKey("uniqueID").string().substr(1));
    auto f = b->toOne("folder");
    if (i % 7) {
      ASSERT_TRUE(f) << i;
      EXPECT_EQ(f->valueForKey("folderID").string(), "F" + std::to_string(i % 60));
    } else {
      EXPECT_FALSE(f) << i;
    }
    std::set<std::string> names;
    for (auto& t : b->toMany("tags")) names.insert(t->valueForKey("name").isNull() ? "<new>" : t->valueForKey("name").string());
    std::set<std::string> expected;
    for (int k = 0; k < i % 4; ++k) expected.insert("T" + std::to_string((i + k) % 60));
    if (i == 3) expected.insert("<new>");
    EXPECT_EQ(names, expected) << i;
  }
  auto someFolder = fetchAll(*fresh, "Folder", "folderID == 'F1'")[0];
  std::size_t inF1 = 0;
  for (int i = 0; i < 200; ++i) inF1 += (i % 7) && i % 60 == 1;
  EXPECT_EQ(someFolder->toMany("bookmarks").size(), inF1);
}

// The sets of chosen objects read together (a list's rows coming into sight): each gets its own
// members in their stored order, across more keys than one read takes, through a join table and
// through the destination's owner column; objects not chosen, new ones and sets read or changed
// already are not touched.
TEST(Context, ToManySetsOfChosenObjectsLoadTogether) {
  Stack s;
  std::vector<ManagedObjectRef> tags, folders;
  addFoldersAndTags(*s.main, 9, folders, tags);
  auto expectedTags = [](int i) {
    std::vector<std::string> names;
    for (int k = 0; k < i % 4; ++k) names.push_back("T" + std::to_string((i * 5 + k * 2) % 9));
    return names;
  };
  for (int i = 0; i < 150; ++i) {
    auto b = addBookmark(*s.main, "B" + std::to_string(i), "u");
    for (const auto& name : expectedTags(i)) b->addToMany("tags", tags[static_cast<std::size_t>(name[1] - '0')]);
    if (i % 3) b->setToOne("folder", folders[static_cast<std::size_t>(i % 9)]);
  }
  ASSERT_TRUE(s.main->save());

  auto fresh = makeMainContext(s.coordinator);
  FetchRequest r("Bookmark");
  r.sortDescriptors = {SortDescriptor("addedDate", true), SortDescriptor("uniqueID", true)};
  auto all = *fresh->fetch(r);
  ASSERT_EQ(all.size(), 150u);
  std::map<std::string, ManagedObjectRef> byID;
  for (const auto& b : all) byID[b->valueForKey("uniqueID").string()] = b;
  const int tagsIndex = s.model->entity("Bookmark")->relationshipIndex("tags");
  // A set changed before the read keeps its change; a new object has no row to read.
  auto changed = byID["B20"];
  auto extra = fresh->insertNewObject("Tag");
  extra->setValueForKey("name", "extra");
  changed->addToMany("tags", extra);
  auto added = addBookmark(*fresh, "new", "u");
  added->addToMany("tags", extra);
  std::vector<ManagedObjectRef> chosen{added, nullptr};
  for (int i = 10; i < 90; ++i) chosen.push_back(byID["B" + std::to_string(i)]);
  fresh->loadToMany(chosen, tagsIndex);
  auto foldersOfFresh = fetchAll(*fresh, "Folder", "folderID == 'F1' OR folderID == 'F2'");
  ASSERT_EQ(foldersOfFresh.size(), 2u);
  fresh->loadToMany(foldersOfFresh, s.model->entity("Folder")->relationshipIndex("bookmarks"));

  // The order of each set is the one a read of that set alone gives.
  auto names = [](const ManagedObjectRef& b) {
    std::vector<std::string> out;
    for (const auto& t : b->toMany("tags")) out.push_back(t->valueForKey("name").string());
    return out;
  };
  std::map<std::string, std::vector<std::string>> alone;
  auto reference = makeMainContext(s.coordinator);
  for (const auto& b : fetchAll(*reference, "Bookmark")) alone[b->valueForKey("uniqueID").string()] = names(b);

  // What was read stays as read; what was not is read later, from the store as it is then.
  ASSERT_EQ(sqlite3_exec(TestAccess::connection(*s.coordinator).db,
                         "DELETE FROM Z_1TAGS; UPDATE ZBOOKMARK SET ZFOLDER = NULL", nullptr, nullptr, nullptr),
            SQLITE_OK);
  for (int i = 0; i < 150; ++i) {
    const std::string id = "B" + std::to_string(i);
    auto want = i >= 10 && i < 90 ? alone[id] : std::vector<std::string>{};
    if (i == 20) want.push_back("extra");
    EXPECT_EQ(names(byID[id]), want) << i;
    auto sorted = alone[id], expected = expectedTags(i);
    std::sort(sorted.begin(), sorted.end()), std::sort(expected.begin(), expected.end());
    EXPECT_EQ(sorted, expected) << i;
  }
  EXPECT_EQ(names(added), (std::vector<std::string>{"extra"}));
  for (const auto& f : foldersOfFresh) {
    const int n = f->valueForKey("folderID").string() == "F1" ? 1 : 2;
    std::set<std::string> want;
    for (int i = 0; i < 150; ++i)
      if (i % 3 && i % 9 == n) want.insert("B" + std::to_string(i));
    EXPECT_EQ(ids(f->toMany("bookmarks")), want) << n;
  }
}

// Rows another context added (an import) taken in as faults, with a few older rows unloaded
// too: once enough of them load, the rest load together, each with its own row's values, the
// first and the last key of the span included.
TEST(Context, FaultsLoadedTogetherTakeEachTheirOwnRow) {
  Stack s;
  for (int i = 0; i < 100; ++i) addBookmark(*s.main, "old" + std::to_string(i), "https://old.example/" + std::to_string(i));
  ASSERT_TRUE(s.main->save());
  auto other = makeMainContext(s.coordinator);
  std::vector<ObjectIDRef> added;
  int saves = 0;
  const int token = other->addSaveObserver([&](const SaveNotification& n) { added = n.insertedIDs, ++saves; });
  for (int i = 0; i < 80; ++i) addBookmark(*other, "new" + std::to_string(i), "https://new.example/" + std::to_string(i));
  ASSERT_TRUE(other->save());
  other->removeSaveObserver(token);
  ASSERT_EQ(saves, 1);
  ASSERT_EQ(added.size(), 80u);
  std::sort(added.begin(), added.end(), [](const auto& a, const auto& b) { return a->primaryKey() < b->primaryKey(); });

  auto fresh = makeMainContext(s.coordinator);
  // The older rows loaded, but for the first and one in the middle.
  auto old = fetchAll(*fresh, "Bookmark", "uniqueID BEGINSWITH 'old'");
  ASSERT_EQ(old.size(), 100u);
  std::vector<ManagedObjectRef> faults;
  for (const auto& o : old) {
    const std::string id = o->valueForKey("uniqueID").string();
    if (id == "old0" || id == "old50") faults.push_back(o);
  }
  for (const auto& o : faults) fresh->refreshObject(o, false);
  for (const auto& id : added) faults.push_back(fresh->objectWithID(id));
  for (const auto& o : faults) ASSERT_TRUE(o->isFault());
  // Faults read one at a time, from the middle of the new rows, until they go together.
  for (std::size_t i = 12; i < 12 + 40; ++i) faults[i]->valueForKey("url");
  for (std::size_t i : {0, 1, 2, 81}) EXPECT_FALSE(faults[i]->isFault()) << i << " was left for a read of its own";
  std::set<std::string> seen;
  for (const auto& o : faults) {
    const std::string id = o->valueForKey("uniqueID").string();
    const bool isNew = id.rfind("new", 0) == 0;
    EXPECT_EQ(o->valueForKey("url").string(),
              std::string(isNew ? "https://new.example/" : "https://old.example/") + id.substr(3)) << id;
    seen.insert(id);
  }
  EXPECT_EQ(seen.size(), 82u);
  EXPECT_TRUE(seen.count("new0") && seen.count("new79") && seen.count("old0") && seen.count("old50"));
}

TEST(Context, DetachedObjectsHoldValuesAndCanBeInsertedLater) {
  Stack s;
  const EntityDescription* folderEntity = s.model->entity("Folder");
  auto copy = ManagedObject::make(folderEntity);
  copy->setValueForKey("folderID", "COPY");
  EXPECT_EQ(copy->valueForKey("folderID").string(), "COPY");
  EXPECT_EQ(copy->valueForKey("blocked").intValue(-1), 0);
  EXPECT_EQ(copy->context(), nullptr);
  EXPECT_FALSE(copy->hasChanges());
  EXPECT_TRUE(fetchAll(*s.main, "Folder").empty());
  auto b = addBookmark(*s.main, "B1", "u");
  b->setToOne("folder", copy);  // relating it to a stored object inserts it
  EXPECT_TRUE(copy->isInserted());
  ASSERT_TRUE(s.main->save());
  auto fresh = makeMainContext(s.coordinator);
  auto got = fetchAll(*fresh, "Bookmark", "folder.folderID == 'COPY'");
  EXPECT_EQ(got.size(), 1u);
}

TEST(Context, PrivateQueueWorkRunsInOrderOffTheMainThread) {
  Stack s;
  auto child = makeChildContext(s.main);
  std::vector<int> order;
  std::atomic<int> finished{0};
  std::thread::id mainThread = std::this_thread::get_id();
  std::atomic<bool> offMain{true};
  for (int i = 0; i < 40; ++i)
    child->perform([&, i] {
      if (std::this_thread::get_id() == mainThread) offMain = false;
      order.push_back(i);
      if (i % 10 == 0) addBookmark(*child, "B" + std::to_string(i), "u");
      ++finished;
    });
  ASSERT_TRUE(kesto::test::runUntil([&] { return finished == 40; }, 10));
  EXPECT_TRUE(offMain);
  std::vector<int> expected(40);
  for (int i = 0; i < 40; ++i) expected[i] = i;
  child->performAndWait([&] {
    EXPECT_EQ(order, expected);
    EXPECT_EQ(child->insertedObjects().size(), 4u);
  });
  // A save from the queue pushes into the main context on the main thread.
  std::atomic<bool> saved{false};
  child->perform([&] { saved = child->save(); });
  ASSERT_TRUE(kesto::test::runUntil([&] { return saved.load(); }, 10));
  EXPECT_EQ(s.main->insertedObjects().size(), 4u);
}

TEST(Context, MainThreadWaitingForABusyChildThatNeedsTheMainContextDoesNotHang) {
  Stack s;
  for (int i = 0; i < 5; ++i) addBookmark(*s.main, "B" + std::to_string(i), "u");
  ASSERT_TRUE(s.main->save());
  auto child = makeChildContext(s.main);
  std::atomic<bool> started{false};
  std::atomic<std::size_t> seen{0};
  child->perform([&] {
    started = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    seen = child->fetch(FetchRequest("Bookmark"))->size();  // reads through the main context
  });
  while (!started) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::size_t after = 0;
  child->performAndWait([&] { after = seen.load(); });  // waits on the main thread for the busy queue
  EXPECT_EQ(after, 5u);
}

// The main thread waiting for a private queue's block sleeps until the block lets go (or the
// block needs the main context), instead of turning round and round.
TEST(Context, MainThreadWaitingForABusyQueueSleepsAndWakesWhenItIsFree) {
  Stack s;
  auto child = makeChildContext(s.main);
  std::atomic<bool> started{false}, finished{false};
  child->perform([&] {
    started = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    finished = true;
  });
  while (!started) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  auto cpu = [] {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
  };
  const double before = cpu();
  bool ran = false, cameAfter = false;
  child->performAndWait([&] {
    ran = true;
    cameAfter = finished;
  });
  EXPECT_TRUE(ran);
  EXPECT_TRUE(cameAfter);
  EXPECT_LT(cpu() - before, 0.05);
}

TEST(Context, IdentifierFetchesAgreeWithObjectFetches) {
  auto c = openStore(makeLibraryModel(), storePath());
  {
    auto writer = makeMainContext(c);
    for (int i = 0; i < 30; ++i) {
      auto b = addBookmark(*writer, "B" + std::to_string(i), "https://e.org/" + std::to_string(i));
      b->setValueForKey("trashed", i % 4 == 0 ? 1 : 0);
    }
    ASSERT_TRUE(writer->save());
  }
  auto uris = [](const std::vector<ObjectIDRef>& ids) {
    std::vector<std::string> out;
    for (auto& id : ids) out.push_back(id->uriRepresentation());
    std::sort(out.begin(), out.end());
    return out;
  };
  auto objectURIs = [&](Context& ctx, FetchRequest r) {
    r.resultType = FetchRequest::ResultType::Objects;
    std::vector<ObjectIDRef> ids;
    auto found = ctx.fetch(r);
    EXPECT_TRUE(found);
    if (found)
      for (auto& o : *found) ids.push_back(o->objectID());
    return uris(ids);
  };
  FetchRequest all("Bookmark");
  all.resultType = FetchRequest::ResultType::ObjectIDs;
  all.includesPropertyValues = false;
  FetchRequest live = all;
  live.predicate = Predicate::parse("trashed < 1");

  auto ctx = makeMainContext(c);
  auto ids = ctx->fetchObjectIDs(all);
  ASSERT_TRUE(ids);
  ASSERT_EQ(ids->size(), 30u);
  // In key order, each naming a row the context can turn into its object.
  for (std::size_t i = 1; i < ids->size(); ++i) EXPECT_LT((*ids)[i - 1]->primaryKey(), (*ids)[i]->primaryKey());
  EXPECT_EQ(uris(*ids), objectURIs(*ctx, all));
  EXPECT_EQ(ctx->fetchObjectIDs(live)->size(), 22u);
  auto first = ctx->existingObjectWithID(ids->front());
  ASSERT_TRUE(first);
  EXPECT_EQ(first->valueForKey("uniqueID"), fnd::Value("B0"));

  // Unsaved changes of the context count, as they do for object fetches.
  auto objects = fetchAll(*ctx, "Bookmark", "uniqueID == 'B1' OR uniqueID == 'B2'");
  ASSERT_EQ(objects.size(), 2u);
  for (auto& o : objects) {
    if (o->valueForKey("uniqueID") == fnd::Value("B1")) o->setValueForKey("trashed", 1);
    else ctx->deleteObject(o);
  }
  addBookmark(*ctx, "new", "https://e.org/new");
  EXPECT_EQ(ctx->fetchObjectIDs(all)->size(), 30u);
  EXPECT_EQ(ctx->fetchObjectIDs(live)->size(), 21u);
  EXPECT_EQ(uris(*ctx->fetchObjectIDs(live)), objectURIs(*ctx, live));
}

TEST(Context, LargeSetsStayExactThroughAddsRemovesMovesAndRollback) {
  Stack s;
  auto ctx = s.main;
  auto a = ctx->insertNewObject("Folder");
  a->setValueForKey("folderID", std::string("A"));
  auto b = ctx->insertNewObject("Folder");
  b->setValueForKey("folderID", std::string("B"));
  auto tag = ctx->insertNewObject("Tag");
  tag->setValueForKey("name", std::string("t"));
  std::vector<ManagedObjectRef> marks;
  for (int i = 0; i < 200; ++i) {
    auto m = addBookmark(*ctx, "B" + std::to_string(i), "u");
    m->setToOne("folder", a);
    m->addToMany("tags", tag);
    marks.push_back(m);
  }
  // Adding members again changes nothing, from either side.
  for (int i = 0; i < 200; i += 3) {
    a->addToMany("bookmarks", marks[i]);
    tag->addToMany("bookmarks", marks[i]);
    marks[i]->addToMany("tags", tag);
  }
  EXPECT_EQ(a->toMany("bookmarks").size(), 200u);
  EXPECT_EQ(tag->toMany("bookmarks").size(), 200u);
  for (int i = 0; i < 50; ++i) marks[i]->setToOne("folder", b);                 // moved
  for (int i = 50; i < 60; ++i) a->removeFromMany("bookmarks", marks[i]);       // out of any folder
  for (int i = 0; i < 200; i += 2) marks[i]->removeFromMany("tags", tag);
  for (int i = 50; i < 55; ++i) a->addToMany("bookmarks", marks[i]);            // back in
  EXPECT_EQ(a->toMany("bookmarks").size(), 145u);
  EXPECT_EQ(b->toMany("bookmarks").size(), 50u);
  EXPECT_EQ(tag->toMany("bookmarks").size(), 100u);
  EXPECT_EQ(marks[57]->toOne("folder"), nullptr);
  ASSERT_TRUE(ctx->save());

  // A rolled-back change leaves the sets as saved; later changes count from there.
  for (int i = 100; i < 200; ++i) marks[i]->setToOne("folder", b);
  ctx->rollback();
  EXPECT_EQ(a->toMany("bookmarks").size(), 145u);
  marks[199]->setToOne("folder", b);
  a->addToMany("bookmarks", marks[199]);
  a->addToMany("bookmarks", marks[199]);
  EXPECT_EQ(a->toMany("bookmarks").size(), 145u);
  EXPECT_EQ(b->toMany("bookmarks").size(), 50u);
  ASSERT_TRUE(ctx->save());

  auto fresh = makeMainContext(openStore(makeLibraryModel(), s.path));
  auto folders = fetchAll(*fresh, "Folder", "folderID == 'A'");
  ASSERT_EQ(folders.size(), 1u);
  EXPECT_EQ(folders[0]->toMany("bookmarks").size(), 145u);
  auto tags = fetchAll(*fresh, "Tag");
  ASSERT_EQ(tags.size(), 1u);
  EXPECT_EQ(tags[0]->toMany("bookmarks").size(), 100u);
  for (auto& m : fetchAll(*fresh, "Bookmark")) {
    int i = std::stoi(m->valueForKey("uniqueID").string().substr(1));
    SCOPED_TRACE(i);
    auto f = m->toOne("folder");
    std::string expected = i < 50 ? "B" : (i < 55 || i >= 60 ? "A" : "");
    EXPECT_EQ(f ? f->valueForKey("folderID").string() : "", expected);
    EXPECT_EQ(m->toMany("tags").size(), i % 2 ? 1u : 0u);
  }
}

TEST(Context, SortsByNumbersAndDatesPutMissingValuesLowestAndBreakTiesWithTheNextKey) {
  auto ctx = makeMainContext(openStore(makeLibraryModel(), storePath()));
  const fnd::Value ratings[] = {3.5, {}, 1, 3.5, {}, -2};
  const fnd::Value dates[] = {fnd::Date(50), fnd::Date(-10), {}, fnd::Date(50), fnd::Date(7), fnd::Date(1e9)};
  const char* titles[] = {"a", "b", "c", "d", "e", "f"};
  for (int i = 0; i < 6; ++i) {
    auto b = addBookmark(*ctx, titles[i], "u", titles[i]);
    b->setValueForKey("rating", ratings[i]);
    b->setValueForKey("addedDate", dates[i]);
  }
  ASSERT_TRUE(ctx->save());
  auto order = [&](std::vector<SortDescriptor> sorts) {
    FetchRequest r("Bookmark");
    r.sortDescriptors = std::move(sorts);
    std::string out;
    auto found = ctx->fetch(r);
    EXPECT_TRUE(found);
    if (found)
      for (auto& o : *found) out += o->valueForKey("title").string();
    return out;
  };
  EXPECT_EQ(order({SortDescriptor("rating", true), SortDescriptor("title", false)}), "ebfcda");
  EXPECT_EQ(order({SortDescriptor("rating", false), SortDescriptor("title", true)}), "adcfbe");
  EXPECT_EQ(order({SortDescriptor("addedDate", false), SortDescriptor("title", false)}), "fdaebc");
  EXPECT_EQ(order({SortDescriptor("addedDate", true)}), "cbeadf");
}
