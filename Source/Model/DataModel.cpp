#include "Model/DataModel.h"

#include "Model/Bookmark.h"
#include "Model/Config.h"
#include "Model/Folder.h"
#include "Model/Origin.h"
#include "Model/Service.h"
#include "Model/Tag.h"
#include "Model/WrenImageToDataTransformer.h"

#include "Platform/Foundation/Assert.h"
#include "Platform/Store/Model.h"

#include <mutex>

namespace kesto {

namespace {

using store::AttributeDescription;
using store::AttributeType;
using store::RelationshipDescription;

class EntityBuilder {
 public:
  explicit EntityBuilder(store::EntityDescription& e) : e_(e) {}
  EntityBuilder& attr(int expected, const char* name, AttributeType type, fnd::Value def = {}, bool indexed = false) {
    AttributeDescription a;
    a.name = name;
    a.type = type;
    a.defaultValue = std::move(def);
    a.indexed = indexed;
    if (type == AttributeType::Transformable) a.valueTransformerName = DataModel::kImageTransformerName;
    int index = e_.addAttribute(std::move(a));
    KESTO_ASSERT(index == expected, "attribute slots out of order");
    return *this;
  }
  // Flags and counters: always 0 unless set.
  EntityBuilder& flag(int expected, const char* name, AttributeType type = AttributeType::Integer16, bool indexed = false) {
    return attr(expected, name, type, fnd::Value(0), indexed);
  }
  EntityBuilder& rel(int expected, const char* name, const char* dest, const char* inverse, bool toMany) {
    RelationshipDescription r;
    r.name = name;
    r.destinationEntityName = dest;
    r.inverseName = inverse;
    r.toMany = toMany;
    r.deleteRule = store::DeleteRule::Nullify;
    int index = e_.addRelationship(std::move(r));
    KESTO_ASSERT(index == expected, "relationship slots out of order");
    return *this;
  }

 private:
  store::EntityDescription& e_;
};

std::shared_ptr<const store::Model> build() {
  using T = AttributeType;
  auto model = std::make_shared<store::Model>();
  {
    namespace a = bookmark_attr;
    namespace r = bookmark_rel;
    EntityBuilder b(model->addEntity(Bookmark::entityName()));
    b.attr(a::uniqueID, "uniqueID", T::String, {}, true)
        .attr(a::url, "url", T::String, {}, true)
        .attr(a::baseURL, "baseURL", T::String)
        .attr(a::title, "title", T::String)
        .attr(a::notes, "notes", T::String)
        .attr(a::content, "content", T::String)
        .attr(a::addedDate, "addedDate", T::Date, {}, true)
        .attr(a::updatedDate, "updatedDate", T::Date, {}, true)
        .attr(a::importDate, "importDate", T::Date)
        .attr(a::importedFrom, "importedFrom", T::String)
        .attr(a::exportDate, "exportDate", T::Date)
        .attr(a::lastOpened, "lastOpened", T::Date, {}, true)
        .flag(a::timesOpened, "timesOpened", T::Integer32)
        .attr(a::rating, "rating", T::Double)
        .attr(a::color, "color", T::String)
        .flag(a::isFavorite, "isFavorite")
        .flag(a::trashed, "trashed", T::Integer16, true)
        .flag(a::blocked, "blocked", T::Integer16, true)
        .flag(a::broken, "broken")
        .flag(a::needsUpdate, "needsUpdate")
        .flag(a::titleUpdated, "titleUpdated")
        .flag(a::imageUpdated, "imageUpdated")
        .flag(a::isUpdating, "isUpdating")
        .flag(a::thumbnailManuallySet, "thumbnailManuallySet", T::Boolean)
        .flag(a::showImported, "showImported")
        .flag(a::isInLibrary, "isInLibrary")
        .flag(a::version, "version", T::Integer32)
        .attr(a::login, "login", T::String)
        .attr(a::password, "password", T::String)
        .attr(a::serviceHash, "serviceHash", T::String)
        .flag(a::orderIndex, "orderIndex", T::Integer32)
        .flag(a::numberOfDuplicates, "numberOfDuplicates", T::Integer32)
        .flag(a::duplicate, "duplicate")
        .flag(a::isPublic, "public")
        .attr(a::thumbnail, "thumbnail", T::Transformable)
        .attr(a::favicon, "favicon", T::Transformable)
        .attr(a::favoriteImage, "favoriteImage", T::Transformable)
        .attr(a::colorImage, "colorImage", T::Transformable)
        .attr(a::brokenImage, "brokenImage", T::Transformable)
        .attr(a::pinboardImage, "pinboardImage", T::Transformable)
        .attr(a::deliciousImage, "deliciousImage", T::Transformable)
        .attr(a::privateImage, "privateImage", T::Transformable)
        .rel(r::folder, "folder", "Folder", "bookmarks", false)
        .rel(r::tags, "tags", "Tag", "bookmarks", true)
        .rel(r::services, "services", "Service", "bookmarks", true)
        .rel(r::origins, "origins", "Origin", "bookmark", true);
  }
  {
    namespace a = folder_attr;
    EntityBuilder b(model->addEntity(Folder::entityName()));
    b.attr(a::folderID, "folderID", T::String, {}, true)
        .attr(a::parentFolderID, "parentFolderID", T::String, {}, true)
        .attr(a::name, "name", T::String)
        .flag(a::orderIndex, "orderIndex", T::Integer32)
        .flag(a::version, "version", T::Integer32)
        .flag(a::isExpanded, "isExpanded")
        .flag(a::isSmart, "isSmart", T::Boolean)
        .attr(a::predicate, "predicate", T::String)
        .attr(a::color, "color", T::String)
        .flag(a::blocked, "blocked")
        .rel(folder_rel::bookmarks, "bookmarks", "Bookmark", "folder", true);
  }
  {
    EntityBuilder b(model->addEntity(Tag::entityName()));
    b.attr(tag_attr::name, "name", T::String, {}, true).rel(tag_rel::bookmarks, "bookmarks", "Bookmark", "tags", true);
  }
  {
    namespace a = service_attr;
    EntityBuilder b(model->addEntity(Service::entityName()));
    b.attr(a::name, "name", T::String)
        .attr(a::login, "login", T::String)
        .attr(a::password, "password", T::String)
        .attr(a::url, "url", T::String)
        .attr(a::lastSynched, "lastSynched", T::Date)
        .flag(a::defaultsToPublic, "defaultsToPublic")
        .rel(service_rel::bookmarks, "bookmarks", "Bookmark", "services", true)
        .rel(service_rel::origins, "origins", "Origin", "service", true);
  }
  {
    EntityBuilder b(model->addEntity(Origin::entityName()));
    b.rel(origin_rel::bookmark, "bookmark", "Bookmark", "origins", false)
        .rel(origin_rel::service, "service", "Service", "origins", false);
  }
  {
    EntityBuilder b(model->addEntity(Config::entityName()));
    b.attr(config_attr::kestoKey, "kestoKey", T::String).attr(config_attr::kestoValue, "kestoValue", T::String);
  }
  fnd::Error error;
  if (!model->finish(&error)) {
    fnd::assertionFailed("the library model does not finish: " + error.localizedDescription());
    return nullptr;
  }
  store::Model::registerClass(Bookmark::entityName(), [] { return std::make_shared<Bookmark>(); });
  store::Model::registerClass(Folder::entityName(), [] { return std::make_shared<Folder>(); });
  store::Model::registerClass(Tag::entityName(), [] { return std::make_shared<Tag>(); });
  store::Model::registerClass(Service::entityName(), [] { return std::make_shared<Service>(); });
  store::Model::registerClass(Origin::entityName(), [] { return std::make_shared<Origin>(); });
  store::Model::registerClass(Config::entityName(), [] { return std::make_shared<Config>(); });
  WrenImageToDataTransformer::registerShared();
  return model;
}

}  // namespace

std::shared_ptr<const store::Model> DataModel::model() {
  static std::once_flag once;
  static std::shared_ptr<const store::Model> shared;
  std::call_once(once, [] {
    shared = build();
    if (shared) store::Model::registerNamedModel("kesto", shared);
  });
  return shared;
}

}  // namespace kesto
