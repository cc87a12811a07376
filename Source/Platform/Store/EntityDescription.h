#pragma once

#include "Platform/Store/AttributeDescription.h"
#include "Platform/Store/RelationshipDescription.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kesto::store {

class ManagedObject;
class Model;

// Makes the object for one entity; entity classes register one so that fetches and inserts
// create instances of their own C++ class.
using ObjectFactory = std::function<std::shared_ptr<ManagedObject>()>;

// An entity: its name (the class name), attributes and relationships in declaration order.
// Attribute and relationship indices are stable once the model is finished, so entity classes
// look up an index once and read their slots by index afterwards.
class EntityDescription {
 public:
  explicit EntityDescription(std::string name);

  const std::string& name() const { return name_; }
  // The class that instances are made of (defaults to the entity name).
  const std::string& className() const { return className_; }
  void setClassName(std::string n) { className_ = std::move(n); }

  // Building (before the model is finished). Answers the new index.
  int addAttribute(AttributeDescription attribute);
  int addRelationship(RelationshipDescription relationship);

  const std::vector<AttributeDescription>& attributes() const { return attributes_; }
  const std::vector<RelationshipDescription>& relationships() const { return relationships_; }
  // -1 when there is no such attribute / relationship.
  int attributeIndex(std::string_view name) const;
  int relationshipIndex(std::string_view name) const;
  const AttributeDescription* attribute(std::string_view name) const;
  const RelationshipDescription* relationship(std::string_view name) const;

  fnd::Dictionary& userInfo() { return userInfo_; }
  const fnd::Dictionary& userInfo() const { return userInfo_; }

  // Set when the model is finished.
  const Model* model() const { return model_; }
  int entityNumber() const { return number_; }  // Z_ENT, 1-based
  const std::string& tableName() const { return tableName_; }  // "Z" + upper-cased name
  // The entity at the other end of relationship `index`, and that end's relationship index.
  const EntityDescription* destination(int relationshipIndex) const;
  int inverseIndex(int relationshipIndex) const;
  // A digest of the stored layout (names and types), used to detect model changes.
  std::string versionHash() const;
  // Each attribute's default as objects hold it (converted to the attribute's type); empty until
  // the model is finished.
  const std::vector<fnd::Value>& defaultValues() const { return defaults_; }

 private:
  friend class Model;
  std::string name_;
  std::string className_;
  std::vector<AttributeDescription> attributes_;
  std::vector<RelationshipDescription> relationships_;
  fnd::Dictionary userInfo_;
  const Model* model_ = nullptr;
  int number_ = 0;
  std::string tableName_;
  std::vector<const EntityDescription*> destinations_;
  std::vector<int> inverses_;
  std::vector<fnd::Value> defaults_;
};

}  // namespace kesto::store
