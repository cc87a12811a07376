#pragma once

#include "Platform/Foundation/Error.h"
#include "Platform/Store/EntityDescription.h"

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kesto::store {

// A data model: a set of entities. Build it with addEntity, then call finish() once; a finished
// model is immutable and may be shared by any number of coordinators and threads.
class Model {
 public:
  Model() = default;
  Model(const Model&) = delete;
  Model& operator=(const Model&) = delete;

  // Adds an entity (before finish()); answers it for adding attributes and relationships.
  EntityDescription& addEntity(std::string name);

  // Resolves relationship destinations and inverses, numbers the entities and names the tables.
  // Fails (and leaves the model unusable) when a destination or inverse is missing or an
  // inverse does not point back.
  bool finish(fnd::Error* error = nullptr);
  bool isFinished() const { return finished_; }

  const std::vector<std::unique_ptr<EntityDescription>>& entities() const { return entities_; }
  const EntityDescription* entity(std::string_view name) const;
  // The whole model's digest and each entity's, as stored in the store's metadata.
  std::string versionHash() const;
  std::map<std::string, std::string> entityVersionHashesByName() const;

  // A model of every entity of `models` (entity names must not clash). Unfinished.
  static std::shared_ptr<Model> merged(const std::vector<std::shared_ptr<const Model>>& models);

  // Models by resource name, so layers can find a model without linking its builder.
  static void registerNamedModel(const std::string& name, std::shared_ptr<const Model> model);
  static std::shared_ptr<const Model> named(const std::string& name);
  static std::vector<std::shared_ptr<const Model>> allNamedModels();

  // Entity classes: a factory by entity name. An entity without one gets plain ManagedObjects.
  static void registerClass(const std::string& entityName, ObjectFactory factory);
  static const ObjectFactory* classFactory(std::string_view entityName);

 private:
  std::vector<std::unique_ptr<EntityDescription>> entities_;
  bool finished_ = false;
};

}  // namespace kesto::store
