#include "RecordTestSupport.h"

#include "Platform/Foundation/Locale.h"
#include "Platform/Foundation/TimeZone.h"
#include "Platform/Store/ManagedObject.h"

#include <algorithm>

namespace kesto::test::records {
namespace {

using namespace kesto::recordkit;
using store::ManagedObject;

std::vector<std::string> namesOf(const std::vector<ObjectRef>& objects, const char* key) {
  std::vector<std::string> names;
  for (const auto& o : objects) names.push_back(o->valueForKey(key).string());
  std::sort(names.begin(), names.end());
  return names;
}

const store::AttributeDescription& noteAttribute(const std::string& name) {
  return *RK_entityDescription("Note", RK_defaultContext())->attribute(name);
}

using RecordImportTest = RecordStackTest;

TEST_F(RecordImportTest, FixtureImportedTwiceGivesTheSameObjects) {
  fnd::TimeZone::setLocal("Europe/Paris");
  fnd::Value fixture = readJsonFixture("notes.json");
  auto first = RK_importFromArray("Note", fixture.array());
  ASSERT_EQ(first.size(), 3u);
  EXPECT_EQ(storedCount("Note"), 3);
  EXPECT_EQ(storedCount("Notebook"), 2);
  EXPECT_EQ(storedCount("Label"), 2);

  auto second = RK_importFromArray("Note", fixture.array());
  ASSERT_EQ(second.size(), 3u);
  EXPECT_EQ(storedCount("Note"), 3);
  EXPECT_EQ(storedCount("Notebook"), 2);
  EXPECT_EQ(storedCount("Label"), 2);
  for (const auto& o : second)
    EXPECT_TRUE(std::find(first.begin(), first.end(), o) != first.end()) << "a new object for " << o->description();

  // Values by mapped key, alternative key, type and format.
  auto one = RK_findFirstByAttribute("Note", "noteID", 1);
  auto two = RK_findFirstByAttribute("Note", "noteID", 2);
  auto three = RK_findFirstByAttribute("Note", "noteID", 3);
  ASSERT_TRUE(one && two && three);
  EXPECT_EQ(one->valueForKey("title"), fnd::Value("Reading list"));
  EXPECT_EQ(two->valueForKey("title"), fnd::Value("Groceries"));
  EXPECT_DOUBLE_EQ(one->valueForKey("rating").doubleValue(), 4.5);
  EXPECT_EQ(three->valueForKey("rating"), fnd::Value(0));
  EXPECT_EQ(one->valueForKey("count"), fnd::Value(7));  // missing: the model's default
  EXPECT_EQ(two->valueForKey("count"), fnd::Value(2));
  // 10:00 Paris wall-clock time (UTC+1 in March), the Z being a literal.
  EXPECT_EQ(one->valueForKey("created").date(), fnd::Date::withTimeIntervalSince1970(1393664400));
  EXPECT_EQ(two->valueForKey("createdLocal").date(), fnd::Date::withTimeIntervalSince1970(1393745400));

  // Relationships found again by the related attribute.
  auto work = RK_findFirstByAttribute("Notebook", "notebookID", 10);
  ASSERT_TRUE(work);
  EXPECT_EQ(namesOf(work->toMany("notes"), "title"), (std::vector<std::string>{"Groceries", "Reading list"}));
  EXPECT_EQ(one->toOne("notebook"), work);
  auto red = RK_findFirstByAttribute("Label", "name", "red");
  ASSERT_TRUE(red);
  EXPECT_EQ(namesOf(red->toMany("notes"), "title"), (std::vector<std::string>{"Groceries", "Reading list"}));
  EXPECT_EQ(namesOf(one->toMany("labels"), "name"), (std::vector<std::string>{"blue", "red"}));
  EXPECT_TRUE(three->toMany("labels").empty());
}

TEST_F(RecordImportTest, SingleImportFindsTheExistingObjectByItsMappedPrimaryKey) {
  auto created = RK_importFromObject("Note", fnd::Dictionary{{"id", 5}, {"title", "Old"}});
  saveAll();
  auto again = RK_importFromObject("Note", fnd::Dictionary{{"id", 5}, {"title", "New"}});
  EXPECT_EQ(again, created);
  EXPECT_EQ(created->valueForKey("title"), fnd::Value("New"));
  EXPECT_EQ(RK_countOfEntities("Note"), 1u);

  // Without a primary value the object whose primary attribute is empty is the match.
  auto anonymous = RK_importFromObject("Note", fnd::Dictionary{{"title", "No id"}});
  EXPECT_NE(anonymous, created);
  auto same = RK_importFromObject("Note", fnd::Dictionary{{"title", "Still no id"}});
  EXPECT_EQ(same, anonymous);
  EXPECT_EQ(RK_countOfEntities("Note"), 2u);
}

TEST_F(RecordImportTest, FailedLookupCreatesNothing) {
  auto context = RK_defaultContext();
  RK_importFromObject("Note", fnd::Dictionary{{"id", 1}});
  saveAll();
  // Without its store the context cannot tell whether note 1 exists: no duplicate is made.
  ASSERT_TRUE(RK_defaultStoreCoordinator()->removeStore());
  EXPECT_EQ(RK_importFromObject("Note", fnd::Dictionary{{"id", 1}, {"title", "dup"}}), nullptr);
  EXPECT_TRUE(context->insertedObjects().empty());
}

TEST_F(RecordImportTest, AlternativeKeysAreTriedInOrderAndMissingOnesLeaveTheValue) {
  const auto& title = noteAttribute("title");
  EXPECT_EQ(RK_lookupKeyForAttribute(fnd::Dictionary{{"title", "a"}, {"name", "b"}}, title), "title");
  EXPECT_EQ(RK_lookupKeyForAttribute(fnd::Dictionary{{"name", "b"}}, title), "name");
  EXPECT_EQ(RK_lookupKeyForAttribute(fnd::Dictionary{{"other", "c"}}, title), std::nullopt);
  // Numbers and texts hold no keys.
  EXPECT_EQ(RK_lookupKeyForAttribute(fnd::Value(12), title), std::nullopt);

  auto note = RK_createInContext("Note", RK_defaultContext());
  note->setValueForKey("title", "kept");
  RK_importValuesForKeysWithObject(note, fnd::Dictionary{{"rating", 1}});
  EXPECT_EQ(note->valueForKey("title"), fnd::Value("kept"));
  // An explicit null is a value: it clears the attribute.
  RK_importValuesForKeysWithObject(note, fnd::Dictionary{{"title", nullptr}});
  EXPECT_TRUE(note->valueForKey("title").isNull());
  // Nested key paths reach into dictionaries.
  EXPECT_EQ(importValueAtKeyPath(fnd::Dictionary{{"a", fnd::Dictionary{{"b", 3}}}}, "a.b"), fnd::Value(3));
  EXPECT_EQ(importValueAtKeyPath(fnd::Dictionary{{"a", 1}}, "a.b"), std::nullopt);
}

TEST_F(RecordImportTest, ValuesAreConvertedByAttributeType) {
  auto convert = [](const char* attribute, fnd::Value raw) {
    return RK_valueForKeyPath(noteAttribute(attribute), "v", fnd::Dictionary{{"v", std::move(raw)}});
  };
  EXPECT_EQ(convert("rating", "12.5"), fnd::Value(12.5));
  EXPECT_EQ(convert("rating", "abc"), fnd::Value(0));
  EXPECT_TRUE(convert("rating", nullptr).isNull());
  EXPECT_EQ(convert("noteID", " -3e2xyz"), fnd::Value(-300));
  EXPECT_EQ(convert("rating", 7), fnd::Value(7));
  // Booleans are not converted from text.
  EXPECT_EQ(convert("pinned", "yes"), fnd::Value("yes"));
  EXPECT_TRUE(convert("created", "yesterday").isNull());
  fnd::Date d(1000);
  EXPECT_EQ(convert("created", d), fnd::Value(d));

  EXPECT_DOUBLE_EQ(importNumberFromText("  +.5e1 apples"), 5.0);
  EXPECT_DOUBLE_EQ(importNumberFromText("1e"), 1.0);
  EXPECT_DOUBLE_EQ(importNumberFromText("-"), 0.0);
  EXPECT_DOUBLE_EQ(importNumberFromText(""), 0.0);
}

TEST_F(RecordImportTest, DatesUseTheLocalZoneWhateverTheUserLocale) {
  fnd::TimeZone::setLocal("America/New_York");
  // A Buddhist calendar and Thai digits in the user's locale change nothing.
  fnd::Locale::setCurrent("th_TH@calendar=buddhist;numbers=thai");
  auto d = importDateFromText("2014-03-01T10:00:00Z", kDefaultImportDateFormat);
  fnd::Locale::setCurrent("");
  ASSERT_TRUE(d);
  EXPECT_EQ(*d, fnd::Date::withTimeIntervalSince1970(1393668000 + 5 * 3600));
  EXPECT_FALSE(importDateFromText("2014-03-01", kDefaultImportDateFormat));
  // In July New York keeps daylight saving: one hour forward.
  fnd::Date july = fnd::Date::withTimeIntervalSince1970(1404212400);
  EXPECT_EQ(dateShiftedByDaylightSaving(july), july.dateByAddingTimeInterval(3600));
  fnd::Date january = fnd::Date::withTimeIntervalSince1970(1388577600);
  EXPECT_EQ(dateShiftedByDaylightSaving(january), january);
}

TEST_F(RecordImportTest, ColourTextBecomesADeviceColour) {
  auto note = RK_importFromObject("Note", fnd::Dictionary{{"id", 1}, {"tint", "rgba(255,0,0,1)"}});
  auto tint = note->valueForKey("tint").objectAs<DeviceRGBColor>();
  ASSERT_TRUE(tint);
  EXPECT_FLOAT_EQ(tint->red(), 1.0f);
  EXPECT_FLOAT_EQ(tint->green(), 0.0f);
  EXPECT_FLOAT_EQ(tint->blue(), 0.0f);
  EXPECT_FLOAT_EQ(tint->alpha(), 1.0f);

  auto c = rgbaComponentsFromText("rgba( 51 ,102,(204)),0");
  ASSERT_TRUE(c);
  EXPECT_FLOAT_EQ((*c)[0], 0.2f);
  EXPECT_FLOAT_EQ((*c)[2], 0.8f);
  EXPECT_FLOAT_EQ((*c)[3], 0.0f);
  for (const char* bad : {"rgb(1,2,3,1)", "rgba(1,2,3)", "rgba(1,2,3,4,5)", "rgba(1,2,x,1)", "rgba", "(1,2,3,4)",
                          "rgba(1,2,3,0.5)", "rgba(99999999999999999999,0,0,1)"})
    EXPECT_FALSE(rgbaComponentsFromText(bad)) << bad;

  // The conversion can be replaced.
  setImportColourParser([](const std::string&) { return fnd::Value("parsed"); });
  EXPECT_EQ(RK_valueForKeyPath(noteAttribute("tint"), "c", fnd::Dictionary{{"c", "rgba(1,1,1,1)"}}),
            fnd::Value("parsed"));
  setImportColourParser(nullptr);
  EXPECT_EQ(importColourParser(), &importColourFromText);
}

TEST_F(RecordImportTest, NumbersInAToManyListLinkExistingObjectsOrMakeBareOnes) {
  auto context = RK_defaultContext();
  for (int id : {1, 2}) RK_importFromObject("Note", fnd::Dictionary{{"id", id}, {"title", "n" + std::to_string(id)}});
  auto book = RK_importFromObject("Notebook", fnd::Dictionary{{"id", 7}, {"notes", fnd::Array{1, 2, 99}}});
  auto notes = book->toMany("notes");
  ASSERT_EQ(notes.size(), 3u);
  EXPECT_EQ(RK_countOfEntities("Note"), 3u);
  EXPECT_EQ(RK_findFirstByAttribute("Note", "noteID", 1)->toOne("notebook"), book);
  auto bare = std::find_if(notes.begin(), notes.end(), [](const ObjectRef& n) {
    return n->valueForKey("title").isNull();
  });
  ASSERT_NE(bare, notes.end());
  EXPECT_TRUE((*bare)->valueForKey("noteID").isNull());
  EXPECT_EQ((*bare)->valueForKey("count"), fnd::Value(7));
}

TEST_F(RecordImportTest, PrimaryKeysAndKeyHelpers) {
  auto context = RK_defaultContext();
  const auto* note = RK_entityDescription("Note", context);
  const auto* label = RK_entityDescription("Label", context);
  EXPECT_EQ(RK_primaryAttributeToRelateBy(note)->name, "noteID");
  EXPECT_EQ(RK_primaryAttributeToRelateBy(label)->name, "name");
  RelationshipRef labels{note, note->relationshipIndex("labels")};
  RelationshipRef book{note, note->relationshipIndex("notebook")};
  EXPECT_EQ(RK_primaryKey(labels), "name");
  EXPECT_EQ(RK_primaryKey(book), "notebookID");
  // The destination's primary attribute is read under its mapped key.
  EXPECT_EQ(RK_lookupKeyForRelationship(fnd::Dictionary{}, book), "id");
  EXPECT_EQ(RK_relatedValueForRelationship(fnd::Value("x"), labels), fnd::Value("x"));
  EXPECT_EQ(RK_relatedValueForRelationship(fnd::Dictionary{{"id", 4}}, book), fnd::Value(4));
  EXPECT_TRUE(RK_relatedValueForRelationship(fnd::Dictionary{{"notebookID", 4}}, book).isNull());
  EXPECT_EQ(defaultRelatedKeyForEntityName("Bookmark"), "bookmarkID");
  EXPECT_EQ(importKeyWithUppercaseInitial("élan"), "Élan");
  EXPECT_EQ(RK_capitalizedFirstCharacterString(""), "");
}

struct HookLog {
  std::vector<std::string> calls;
  bool refuse = false;
  bool refuseLabels = false;
};

TEST_F(RecordImportTest, ClassCallbacksSteerTheImport) {
  auto log = std::make_shared<HookLog>();
  RecordClassHooks hooks;
  auto record = [log](std::string name, bool answer = true) {
    return [log, name, answer](const ObjectRef&, const fnd::Value&) {
      log->calls.push_back(name);
      return answer;
    };
  };
  hooks.callbacks["shouldImport:"] = [log](const ObjectRef&, const fnd::Value&) {
    log->calls.push_back("shouldImport");
    return !log->refuse;
  };
  hooks.callbacks["willImport:"] = record("willImport");
  hooks.callbacks["didImport:"] = record("didImport");
  hooks.callbacks["importTitle:"] = [log](const ObjectRef& o, const fnd::Value& v) {
    log->calls.push_back("importTitle");
    o->setValueForKey("title", "<" + v.string() + ">");
    return true;
  };
  hooks.callbacks["shouldImportLabels:"] = [log](const ObjectRef&, const fnd::Value& related) {
    log->calls.push_back("shouldImportLabels " + std::to_string(related.size()));
    return !log->refuseLabels;
  };
  hooks.callbacks["setNotebook:"] = [log](const ObjectRef& o, const fnd::Value& v) {
    log->calls.push_back("setNotebook");
    o->setToOne("notebook", v.objectAs<ManagedObject>());
    return true;
  };
  registerRecordClass("Note", hooks);

  fnd::Dictionary data{{"id", 1}, {"title", "t"}, {"notebook", fnd::Dictionary{{"id", 3}}},
                       {"tags", fnd::Array{fnd::Dictionary{{"name", "a"}}, fnd::Dictionary{{"name", "b"}}}}};
  auto note = RK_importFromObject("Note", data);
  EXPECT_EQ(note->valueForKey("title"), fnd::Value("<t>"));
  EXPECT_EQ(log->calls, (std::vector<std::string>{"shouldImport", "willImport", "importTitle", "setNotebook",
                                                  "shouldImportLabels 2", "shouldImportLabels 2", "didImport"}));
  EXPECT_EQ(note->toMany("labels").size(), 2u);

  // A refused related list links nothing; a refused object is returned untouched.
  log->calls.clear();
  log->refuseLabels = true;
  auto other = RK_importFromObject("Note", fnd::Dictionary{{"id", 2}, {"tags", fnd::Array{"c"}}});
  EXPECT_TRUE(other->toMany("labels").empty());
  log->refuse = true;
  auto refused = RK_importFromObject("Note", fnd::Dictionary{{"id", 1}, {"title", "changed"}});
  EXPECT_EQ(refused, note);
  EXPECT_EQ(note->valueForKey("title"), fnd::Value("<t>"));
  EXPECT_FALSE(RK_importValuesForKeysWithObject(note, data));
  unregisterRecordClass("Note");
}

TEST(RecordAliasTest, UnprefixedAliasesAndExchangedCallbacks) {
  auto answering = [](bool answer) { return [answer](const ObjectRef&, const fnd::Value&) { return answer; }; };
  RecordClassHooks hooks;
  hooks.callbacks["RK_shouldImport:"] = answering(false);
  hooks.callbacks["RK_initStuff"] = answering(true);
  hooks.callbacks["RK_kept"] = answering(true);
  hooks.callbacks["kept"] = answering(false);
  registerRecordClass("Aliased", hooks);
  EXPECT_TRUE(addUnprefixedInstanceAlias("Aliased", "shouldImport:"));
  EXPECT_FALSE(addUnprefixedInstanceAlias("Aliased", "shouldImport:"));  // exists now
  EXPECT_FALSE(addUnprefixedInstanceAlias("Aliased", "initStuff"));
  EXPECT_FALSE(addUnprefixedInstanceAlias("Aliased", "RK_kept"));
  EXPECT_FALSE(addUnprefixedInstanceAlias("Aliased", "missing"));
  EXPECT_FALSE(addUnprefixedClassAlias("Aliased", "kept"));
  EXPECT_TRUE(addUnprefixedClassAlias("Aliased", "initStuff"));
  EXPECT_FALSE(addUnprefixedInstanceAlias("Nobody", "shouldImport:"));

  RecordClassHooks a, b;
  a.callbacks["swap"] = answering(true);
  b.callbacks["original"] = answering(false);
  registerRecordClass("A", a);
  registerRecordClass("B", b);
  exchangeClassMethods("A", "swap", "B", "original");
  auto bHooks = recordClassHooks("B");
  EXPECT_FALSE(bHooks->callbacks.at("swap")(nullptr, {}));
  EXPECT_TRUE(bHooks->callbacks.at("original")(nullptr, {}));
  // A second exchange cannot add "swap" again and so changes nothing.
  registerRecordClass("A", RecordClassHooks{{}, {}, {{"swap", answering(false)}}});
  exchangeClassMethods("A", "swap", "B", "original");
  EXPECT_TRUE(recordClassHooks("B")->callbacks.at("original")(nullptr, {}));
  for (const char* name : {"Aliased", "A", "B"}) unregisterRecordClass(name);
}

TEST_F(RecordImportTest, ObjectsOfTheWrongEntityStayUnlinked) {
  auto context = RK_defaultContext();
  auto note = RK_createInContext("Note", context);
  auto label = RK_createInContext("Label", context);
  const auto* entity = note->entity();
  RK_addObject(note, label, RelationshipRef{entity, entity->relationshipIndex("notebook")});
  EXPECT_EQ(note->toOne("notebook"), nullptr);
  RK_addObject(note, label, RelationshipRef{entity, entity->relationshipIndex("labels")});
  EXPECT_EQ(note->toMany("labels").size(), 1u);
}

TEST(RecordImportWithoutStackTest, ArrayImportWithoutAStackKeepsTheObjectsInTheGivenContext) {
  auto model = makeNotesModel();
  auto coordinator = store::Coordinator::make(model);
  ASSERT_TRUE(coordinator->addStore(store::kInMemoryStoreType, {}));
  auto context = store::Context::make(store::ConcurrencyType::Confinement);
  context->setCoordinator(coordinator);
  auto imported = RK_importFromArray("Note", fnd::Array{fnd::Dictionary{{"id", 1}}, fnd::Dictionary{{"id", 2}}}, context);
  EXPECT_EQ(imported.size(), 2u);
  EXPECT_EQ(RK_countOfEntities("Note", context), 2u);
}

}  // namespace
}  // namespace kesto::test::records
