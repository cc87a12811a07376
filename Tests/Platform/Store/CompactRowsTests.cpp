// How objects read from the store keep their values: only those that are not the attribute's
// default, texts that repeat down a column shared, and every value reading as it was stored.
#include "StoreTestModel.h"

#include "Harness/TestSupport.h"
#include "Platform/Store/TestAccess_p.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

using namespace kesto;
using namespace kesto::store;
using namespace kesto::store::test;

namespace {

std::vector<ManagedObjectRef> fetchAll(Context& c) {
  FetchRequest request("Bookmark");
  request.sortDescriptors = {SortDescriptor("uniqueID", true)};
  return c.fetch(request).value_or(std::vector<ManagedObjectRef>{});
}

std::size_t kept(ManagedObject& o) { return ObjectAccess::slots(o).values.keptCount(); }

int attribute(const ManagedObject& o, const char* name) { return o.entity()->attributeIndex(name); }

void execute(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
}

}  // namespace

TEST(CompactRows, ARowKeepsOnlyWhatIsNotADefaultAndReadsAsStored) {
  Stack s;
  for (const char* id : {"A", "B"}) {
    auto b = s.main->insertNewObject("Bookmark");
    b->setValueForKey("uniqueID", id);
    b->setValueForKey("url", "http://example.com/");
    b->setValueForKey("timesOpened", 3);
    b->setValueForKey("trashed", 0);
  }
  ASSERT_TRUE(s.main->save());
  // A stored NULL is not the default 0 of its flag, nor is 0.0 the missing rating.
  execute(s.path, "UPDATE ZBOOKMARK SET ZTRASHED = NULL, ZRATING = 0.0 WHERE ZUNIQUEID = 'B'");
  auto reader = makeMainContext(s.coordinator);
  auto rows = fetchAll(*reader);
  ASSERT_EQ(rows.size(), 2u);
  auto& a = *rows[0];
  EXPECT_EQ(kept(a), 3u);  // uniqueID, url, timesOpened
  EXPECT_EQ(a.valueForKey("timesOpened").intValue(), 3);
  EXPECT_TRUE(a.valueForKey("trashed").isInteger());
  EXPECT_EQ(a.valueForKey("trashed").intValue(), 0);
  EXPECT_TRUE(a.valueForKey("isFavorite").isBoolean());
  EXPECT_TRUE(a.valueForKey("notes").isNull());
  EXPECT_TRUE(a.valueForKey("rating").isNull());
  auto& b = *rows[1];
  EXPECT_EQ(kept(b), 5u);
  EXPECT_TRUE(b.valueForKey("trashed").isNull());
  EXPECT_TRUE(b.valueForKey("rating").isReal());
  EXPECT_EQ(a.committedValues(), (fnd::Dictionary{{"uniqueID", "A"},
                                                   {"url", "http://example.com/"},
                                                   {"title", {}},
                                                   {"notes", {}},
                                                   {"addedDate", {}},
                                                   {"trashed", 0},
                                                   {"blocked", 0},
                                                   {"isFavorite", false},
                                                   {"timesOpened", 3},
                                                   {"rating", {}},
                                                   {"thumbnail", {}}}));
}

TEST(CompactRows, ChangesKeepReferencesGoodAndSaveWhatChanged) {
  Stack s;
  auto made = s.main->insertNewObject("Bookmark");
  made->setValueForKey("uniqueID", "A");
  made->setValueForKey("title", "first");
  ASSERT_TRUE(s.main->save());
  auto editor = makeMainContext(s.coordinator);
  auto b = fetchAll(*editor).at(0);
  const fnd::Value& title = b->value(attribute(*b, "title"));
  // Attributes the row did not keep, then one it kept: the value read before stays readable.
  b->setValueForKey("notes", "a note");
  b->setValueForKey("blocked", 1);
  b->setValueForKey("uniqueID", "A2");
  EXPECT_EQ(title.string(), "first");
  EXPECT_EQ(b->changedValues(), (fnd::Dictionary{{"notes", "a note"}, {"blocked", 1}, {"uniqueID", "A2"}}));
  EXPECT_EQ(b->committedValues().at("blocked"), fnd::Value(0));
  EXPECT_TRUE(b->committedValues().at("notes").isNull());
  ASSERT_TRUE(editor->save());
  auto reader = makeMainContext(s.coordinator);
  auto again = fetchAll(*reader).at(0);
  EXPECT_EQ(again->valueForKey("notes").string(), "a note");
  EXPECT_EQ(again->valueForKey("blocked").intValue(), 1);
  EXPECT_EQ(again->valueForKey("uniqueID").string(), "A2");
  EXPECT_EQ(again->valueForKey("title").string(), "first");
  // Undone back to the default: the flag reads 0 again after a save.
  again->setValueForKey("blocked", 0);
  ASSERT_TRUE(reader->save());
  EXPECT_EQ(fetchAll(*makeMainContext(s.coordinator)).at(0)->valueForKey("blocked"), fnd::Value(0));
}

TEST(CompactRows, APictureReadIsAddedInPlaceAndGoesWhenLetGo) {
  Stack s;
  const int n = 300;  // more than a context keeps read
  for (int i = 0; i < n; ++i) {
    auto b = s.main->insertNewObject("Bookmark");
    b->setValueForKey("uniqueID", "B" + std::to_string(1000 + i));
    b->setValueForKey("title", "t" + std::to_string(i));
    b->setValueForKey("thumbnail", fnd::Data(3, static_cast<std::uint8_t>(i)));
  }
  ASSERT_TRUE(s.main->save());
  auto reader = makeMainContext(s.coordinator);
  auto rows = fetchAll(*reader);
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(n));
  auto& first = *rows[0];
  const std::size_t before = kept(first);
  EXPECT_EQ(first.valueForKey("thumbnail").data(), fnd::Data(3, 0));
  EXPECT_EQ(kept(first), before + 1);
  for (auto& b : rows) b->valueForKey("thumbnail");
  EXPECT_EQ(kept(first), before);  // let go by the later reads
  EXPECT_EQ(first.valueForKey("title").string(), "t0");
  EXPECT_EQ(first.valueForKey("thumbnail").data(), fnd::Data(3, 0));
  EXPECT_EQ(rows[n - 1]->valueForKey("thumbnail").data(), fnd::Data(3, static_cast<std::uint8_t>(n - 1)));
  EXPECT_FALSE(first.hasChanges());
}

TEST(CompactRows, APictureLetGoLeavesTheValuesBeforeAndAfterItInPlace) {
  // A flag after the picture in the row, so that letting the picture go moves a kept value.
  auto model = makeLibraryModel({.withFlag = true});
  const std::string path = storePath();
  auto coordinator = openStore(model, path);
  auto main = makeMainContext(coordinator);
  const int n = 300;  // more than a context keeps read
  for (int i = 0; i < n; ++i) {
    auto b = main->insertNewObject("Bookmark");
    b->setValueForKey("uniqueID", "B" + std::to_string(1000 + i));
    b->setValueForKey("title", "t" + std::to_string(i));
    b->setValueForKey("thumbnail", fnd::Data(2, static_cast<std::uint8_t>(i)));
    b->setValueForKey("isInLibrary", 1 + i % 3);
  }
  ASSERT_TRUE(main->save());
  auto reader = makeMainContext(coordinator);
  auto rows = fetchAll(*reader);
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(n));
  for (auto& b : rows) b->valueForKey("thumbnail");
  for (int i = 0; i < n; ++i) {
    auto& b = *rows[static_cast<std::size_t>(i)];
    EXPECT_EQ(b.valueForKey("isInLibrary").intValue(), 1 + i % 3) << i;
    EXPECT_EQ(b.valueForKey("title").string(), "t" + std::to_string(i));
    EXPECT_EQ(b.valueForKey("thumbnail").data(), fnd::Data(2, static_cast<std::uint8_t>(i)));
  }
}

TEST(CompactRows, TextsThatRepeatDownAColumnAreSharedByTheRowsRead) {
  Stack s;
  const std::string longText(600, 'x');
  for (int i = 0; i < 40; ++i) {
    auto b = s.main->insertNewObject("Bookmark");
    b->setValueForKey("uniqueID", "B" + std::to_string(100 + i));
    b->setValueForKey("url", "http://site" + std::to_string(i % 2) + ".example/");
    b->setValueForKey("title", i % 2 ? std::string() : longText);
  }
  ASSERT_TRUE(s.main->save());
  auto rows = fetchAll(*makeMainContext(s.coordinator));
  ASSERT_EQ(rows.size(), 40u);
  const auto& url0 = rows[0]->valueForKey("url").string();
  EXPECT_EQ(&url0, &rows[2]->valueForKey("url").string());
  EXPECT_NE(&url0, &rows[1]->valueForKey("url").string());
  EXPECT_NE(&rows[0]->valueForKey("uniqueID").string(), &rows[2]->valueForKey("uniqueID").string());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i]->valueForKey("url").string(), "http://site" + std::to_string(i % 2) + ".example/");
    EXPECT_TRUE(rows[i]->valueForKey("title").isString());
    EXPECT_EQ(rows[i]->valueForKey("title").string(), i % 2 ? std::string() : longText);
  }
  // A shared text changed on one row leaves the others as they were.
  rows[0]->setValueForKey("url", "http://other.example/");
  EXPECT_EQ(rows[2]->valueForKey("url").string(), "http://site0.example/");
}

TEST(CompactRows, IDsKeepTheirStoreOnceAndATemporaryOneResolvesInPlace) {
  Stack s;
  auto b = s.main->insertNewObject("Bookmark");
  b->setValueForKey("uniqueID", "A");
  const ObjectIDRef temporary = b->objectID();
  EXPECT_TRUE(temporary->isTemporaryID());
  EXPECT_EQ(temporary->storeIdentifier(), "");
  EXPECT_EQ(temporary->uriRepresentation(), "kesto-store:///Bookmark/t" + std::to_string(temporary->temporaryNumber()));
  ASSERT_TRUE(s.main->save());
  EXPECT_EQ(b->objectID(), temporary);  // the same ID, now permanent
  EXPECT_FALSE(temporary->isTemporaryID());
  const std::string& store = s.coordinator->storeIdentifier();
  EXPECT_EQ(temporary->uriRepresentation(),
            "kesto-store://" + store + "/Bookmark/p" + std::to_string(temporary->primaryKey()));
  // Read by another context: another ID of the same row, equal, with the one copy of the
  // store's identifier.
  auto reader = makeMainContext(s.coordinator);
  auto read = fetchAll(*reader).at(0)->objectID();
  EXPECT_NE(read, temporary);
  EXPECT_TRUE(read->isEqual(*temporary));
  EXPECT_TRUE(temporary->isEqual(*read));
  EXPECT_EQ(&read->storeIdentifier(), &temporary->storeIdentifier());
  EXPECT_TRUE(sameID(s.coordinator->objectIDForURIRepresentation(read->uriRepresentation()), read));
  // The same key of another store, or of another entity, is another row.
  const EntityDescription* bookmark = b->entity();
  const EntityDescription* folder = s.model->entity("Folder");
  const std::int64_t pk = read->primaryKey();
  EXPECT_FALSE(read->isEqual(*ObjectID::permanent(bookmark, std::string("another store"), pk)));
  EXPECT_FALSE(read->isEqual(*ObjectID::permanent(folder, store, pk)));
  EXPECT_TRUE(read->isEqual(*ObjectID::permanent(bookmark, std::string(store), pk)));
  EXPECT_EQ(ObjectID::internStoreIdentifier(std::string(store)), &read->storeIdentifier());
  // Two unsaved objects are two rows.
  EXPECT_FALSE(ObjectID::makeTemporary(bookmark)->isEqual(*ObjectID::makeTemporary(bookmark)));
}

TEST(CompactRows, ARelationshipIsReadAndChangedOnlyAsItsKind) {
  Stack s;
  auto f = s.main->insertNewObject("Folder");
  f->setValueForKey("folderID", "F");
  auto t1 = s.main->insertNewObject("Tag"), t2 = s.main->insertNewObject("Tag");
  t1->setValueForKey("name", "one");
  t2->setValueForKey("name", "two");
  auto made = s.main->insertNewObject("Bookmark");
  made->setValueForKey("uniqueID", "A");
  made->setToOne("folder", f);
  made->addToMany("tags", t1);
  ASSERT_TRUE(s.main->save());
  auto reader = makeMainContext(s.coordinator);
  auto b = fetchAll(*reader).at(0);
  const int folder = b->entity()->relationshipIndex("folder"), tags = b->entity()->relationshipIndex("tags");
  // Asked as the other kind, before and after each is loaded: nothing, and nothing disturbed.
  for (int round = 0; round < 2; ++round) {
    EXPECT_TRUE(b->toMany(folder).empty());
    EXPECT_EQ(b->toManyCount(folder), 0u);
    EXPECT_EQ(b->toOne(tags), nullptr);
    ASSERT_NE(b->toOne(folder), nullptr);
    EXPECT_EQ(b->toOne(folder)->valueForKey("folderID").string(), "F");
    ASSERT_EQ(b->toMany(tags).size(), 1u);
    EXPECT_EQ(b->toMany(tags)[0]->valueForKey("name").string(), "one");
  }
  auto other = reader->objectWithID(t2->objectID());
  b->addToMany(folder, other);
  b->setToOne(tags, other);
  EXPECT_FALSE(b->hasChanges());
  // Two changes to one set: the save writes the set as it ends against the set as it began.
  b->addToMany(tags, other);
  b->removeFromMany(tags, b->toMany(tags)[0]);
  EXPECT_EQ(b->changedValues().count("tags"), 1u);
  ASSERT_TRUE(reader->save());
  EXPECT_FALSE(b->hasChanges());
  EXPECT_TRUE(b->changedValues().empty());
  auto later = makeMainContext(s.coordinator);
  auto again = fetchAll(*later).at(0);
  ASSERT_EQ(again->toMany("tags").size(), 1u);
  EXPECT_EQ(again->toMany("tags")[0]->valueForKey("name").string(), "two");
  EXPECT_EQ(again->toOne("folder")->valueForKey("folderID").string(), "F");
}

TEST(CompactRows, AnObjectKnowsItsContextOnlyWhileTheContextHoldsIt) {
  Stack s;
  auto kept = s.main->insertNewObject("Bookmark");
  auto gone = s.main->insertNewObject("Bookmark");
  kept->setValueForKey("uniqueID", "A");
  gone->setValueForKey("uniqueID", "B");
  ASSERT_TRUE(s.main->save());
  EXPECT_EQ(kept->context(), s.main);
  s.main->deleteObject(gone);
  ASSERT_TRUE(s.main->save());
  EXPECT_EQ(gone->context(), nullptr);
  auto reader = makeMainContext(s.coordinator);
  auto read = fetchAll(*reader).at(0);
  EXPECT_EQ(read->context(), reader);
  reader.reset();
  EXPECT_EQ(read->context(), nullptr);
  EXPECT_EQ(read->valueForKey("uniqueID").string(), "A");
}

TEST(CompactRows, ARowMakesItsIDWhenAskedEvenAfterItsContextHasGone) {
  Stack s;
  auto made = s.main->insertNewObject("Bookmark");
  made->setValueForKey("uniqueID", "A");
  ASSERT_TRUE(s.main->save());
  const ObjectIDRef saved = made->objectID();
  auto reader = makeMainContext(s.coordinator);
  auto row = fetchAll(*reader).at(0);
  // The row read is the object the context finds for the ID, and is found again by a fetch.
  EXPECT_EQ(reader->objectWithID(saved), row);
  EXPECT_EQ(fetchAll(*reader).at(0), row);
  auto later = makeMainContext(s.coordinator);
  auto other = fetchAll(*later).at(0);
  later.reset();
  reader.reset();
  for (const auto& o : {row, other}) {
    const ObjectIDRef id = o->objectID();
    ASSERT_TRUE(id);
    EXPECT_EQ(o->objectID(), id);  // made once
    EXPECT_TRUE(id->isEqual(*saved));
    EXPECT_EQ(id->uriRepresentation(), saved->uriRepresentation());
    EXPECT_EQ(o->valueForKey("objectID"), toValue(saved));
  }
}
