#include "RecordTestSupport.h"

#include "Harness/Relationships.h"
#include "Harness/TestSupport.h"
#include "Platform/Foundation/Json.h"

namespace kesto::test::records {

using namespace kesto::store;

std::shared_ptr<const Model> makeNotesModel(const std::string& extraAttribute) {
  auto m = std::make_shared<Model>();
  auto attr = [](EntityDescription& e, const std::string& name, AttributeType t, fnd::Dictionary info = {},
                 fnd::Value def = {}) {
    AttributeDescription a;
    a.name = name;
    a.type = t;
    a.userInfo = std::move(info);
    a.defaultValue = std::move(def);
    e.addAttribute(std::move(a));
  };
  auto& note = m->addEntity("Note");
  attr(note, "noteID", AttributeType::Integer64, {{"mappedKeyName", "id"}});
  attr(note, "title", AttributeType::String, {{"mappedKeyName", "title"}, {"mappedKeyName.1", "name"}});
  attr(note, "rating", AttributeType::Double);
  attr(note, "count", AttributeType::Integer32, {{"useDefaultValueWhenNotPresent", "YES"}}, 7);
  attr(note, "created", AttributeType::Date);
  attr(note, "createdLocal", AttributeType::Date, {{"dateFormat", "dd/MM/yyyy HH:mm"}});
  attr(note, "pinned", AttributeType::Boolean);
  attr(note, "tint", AttributeType::Transformable, {{"attributeValueClassName", "NSColor"}});
  if (!extraAttribute.empty()) attr(note, extraAttribute, AttributeType::String);
  note.addRelationship(relationship("notebook", "Notebook", "notes", false));
  RelationshipDescription labels = relationship("labels", "Label", "notes", true);
  labels.userInfo = {{"mappedKeyName", "tags"}, {"relatedByAttribute", "name"}};
  note.addRelationship(labels);

  auto& book = m->addEntity("Notebook");
  attr(book, "notebookID", AttributeType::Integer64, {{"mappedKeyName", "id"}});
  attr(book, "name", AttributeType::String);
  book.addRelationship(relationship("notes", "Note", "notebook", true));

  auto& label = m->addEntity("Label");
  label.userInfo() = {{"relatedByAttribute", "name"}};
  attr(label, "labelID", AttributeType::Integer64);
  attr(label, "name", AttributeType::String);
  label.addRelationship(relationship("notes", "Note", "labels", true));
  EXPECT_TRUE(m->finish());
  return m;
}

std::string fixturePath(const std::string& name) {
  return std::string(KESTO_SOURCE_DIR) + "/Tests/Model/Records/Data/" + name;
}

fnd::Value readJsonFixture(const std::string& name) {
  auto parsed = fnd::Json::parse(readFile(fixturePath(name)));
  EXPECT_TRUE(parsed.has_value()) << name;
  return parsed.value_or(fnd::Value());
}

void RecordStackTest::SetUp() {
  recordkit::RK_setDefaultManagedObjectModel(makeNotesModel());
  RecordKit::setupCoreDataStackWithInMemoryStore();
  ASSERT_NE(recordkit::RK_defaultContext(), nullptr);
}

void RecordStackTest::TearDown() { resetRecordKit(); }

void resetRecordKit() {
  RecordKit::cleanUp();
  RecordKit::setShouldAutoCreateManagedObjectModel(true);
  RecordKit::setShouldAutoCreateDefaultPersistentStoreCoordinator(false);
  RecordKit::setShouldDeleteStoreOnModelMismatch(false);
  RecordKit::setICloudEnabled(false);
}

void RecordStackTest::saveAll() { recordkit::RK_saveToPersistentStoreAndWait(recordkit::RK_defaultContext()); }

long RecordStackTest::storedCount(const std::string& entity) {
  auto context = recordkit::RK_contextWithStoreCoordinator(recordkit::RK_defaultStoreCoordinator());
  long n = -1;
  context->performAndWait([&] { n = static_cast<long>(context->count(FetchRequest(entity)).value_or(-1)); });
  return n;
}

}  // namespace kesto::test::records
