#include "StoreTestModel.h"

#include "Harness/Relationships.h"
#include "Harness/TestSupport.h"
#include "Platform/Foundation/UndoManager.h"

namespace kesto::store::test {

using kesto::test::relationship;

std::shared_ptr<const Model> makeLibraryModel(const ModelOptions& o) {
  auto m = std::make_shared<Model>();
  auto attr = [](EntityDescription& e, const std::string& name, AttributeType t, fnd::Value def = {}, bool indexed = false) {
    AttributeDescription a;
    a.name = name;
    a.type = t;
    a.defaultValue = std::move(def);
    a.indexed = indexed;
    return e.addAttribute(std::move(a));
  };
  auto& b = m->addEntity("Bookmark");
  attr(b, "uniqueID", AttributeType::String, {}, true);
  {
    AttributeDescription a;
    a.name = "url";
    a.type = AttributeType::String;
    a.optional = !o.requireURL;
    a.indexed = true;
    b.addAttribute(a);
  }
  attr(b, "title", AttributeType::String);
  if (o.withNotes) attr(b, "notes", AttributeType::String);
  attr(b, "addedDate", AttributeType::Date, {}, true);
  attr(b, "trashed", AttributeType::Integer16, 0, true);
  attr(b, "blocked", AttributeType::Integer16, 0, true);
  attr(b, "isFavorite", AttributeType::Boolean, false);
  attr(b, "timesOpened", AttributeType::Integer32, 0);
  attr(b, "rating", o.ratingAsString ? AttributeType::String : AttributeType::Double);
  attr(b, "thumbnail", AttributeType::Binary);
  if (o.withFlag) attr(b, "isInLibrary", AttributeType::Integer16, 0);
  if (o.withIcon) {
    AttributeDescription a;
    a.name = "icon";
    a.type = AttributeType::Transformable;
    a.valueTransformerName = "TestTextTransformer";
    b.addAttribute(a);
  }
  b.addRelationship(relationship("folder", "Folder", "bookmarks", false));
  b.addRelationship(relationship("tags", "Tag", "bookmarks", true));
  auto& f = m->addEntity("Folder");
  attr(f, "folderID", AttributeType::String, {}, true);
  attr(f, "name", AttributeType::String);
  attr(f, "blocked", AttributeType::Integer16, 0);
  f.addRelationship(relationship("bookmarks", "Bookmark", "folder", true));
  auto& t = m->addEntity("Tag");
  attr(t, "name", AttributeType::String);
  t.addRelationship(relationship("bookmarks", "Bookmark", "tags", true));
  if (o.withService) {
    auto& s = m->addEntity("Service");
    attr(s, "name", AttributeType::String);
  }
  fnd::Error e;
  if (!m->finish(&e)) return nullptr;
  return m;
}

std::shared_ptr<Coordinator> openStore(std::shared_ptr<const Model> model, const std::string& path, fnd::Error* error) {
  auto c = Coordinator::make(std::move(model));
  fnd::Dictionary options{{kMigratePersistentStoresAutomaticallyOption, true},
                          {kInferMappingModelAutomaticallyOption, true}};
  if (!c->addStore(kSQLiteStoreType, path, options, error)) return nullptr;
  return c;
}

ContextRef makeMainContext(std::shared_ptr<Coordinator> coordinator, bool withUndo) {
  auto c = Context::make(ConcurrencyType::MainQueue);
  c->setCoordinator(std::move(coordinator));
  c->setMergePolicy(MergePolicy::PropertyObjectTrump);
  if (withUndo) {
    auto u = std::make_shared<fnd::UndoManager>();
    u->setLevelsOfUndo(999);
    c->setUndoManager(u);
  }
  return c;
}

std::string storePath(const std::string& name) { return kesto::test::makeTempDir("store") + "/" + name; }

}  // namespace kesto::store::test
