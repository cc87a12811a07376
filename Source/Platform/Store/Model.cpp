#include "Platform/Store/Model.h"

#include "Platform/Store/ManagedObject.h"
#include "Platform/Store/StoreInternal.h"
#include "Platform/Foundation/Strings.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <mutex>

namespace kesto::store {

namespace {

// FNV-1a: stable across runs and builds, which is all a layout digest needs.
std::string digest(const std::string& text) {
  std::uint64_t h = 1469598103934665603ULL;
  for (unsigned char c : text) {
    h ^= c;
    h *= 1099511628211ULL;
  }
  char buf[17];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
  return buf;
}

struct Registries {
  std::mutex mutex;
  std::map<std::string, std::shared_ptr<const Model>, std::less<>> models;
  std::map<std::string, ObjectFactory, std::less<>> classes;
};

Registries& registries() {
  static Registries r;
  return r;
}

}  // namespace

bool AttributeDescription::isNumeric() const {
  switch (type) {
    case AttributeType::Integer16:
    case AttributeType::Integer32:
    case AttributeType::Integer64:
    case AttributeType::Double:
    case AttributeType::Float:
    case AttributeType::Boolean:
      return true;
    default:
      return false;
  }
}

const char* attributeTypeName(AttributeType type) {
  switch (type) {
    case AttributeType::Integer16: return "integer 16";
    case AttributeType::Integer32: return "integer 32";
    case AttributeType::Integer64: return "integer 64";
    case AttributeType::Double: return "double";
    case AttributeType::Float: return "float";
    case AttributeType::Boolean: return "boolean";
    case AttributeType::String: return "string";
    case AttributeType::Date: return "date";
    case AttributeType::Binary: return "binary";
    case AttributeType::Transformable: return "transformable";
  }
  return "unknown";
}

EntityDescription::EntityDescription(std::string name) : name_(std::move(name)), className_(name_) {}

int EntityDescription::addAttribute(AttributeDescription attribute) {
  attributes_.push_back(std::move(attribute));
  return static_cast<int>(attributes_.size()) - 1;
}

int EntityDescription::addRelationship(RelationshipDescription relationship) {
  relationships_.push_back(std::move(relationship));
  return static_cast<int>(relationships_.size()) - 1;
}

int EntityDescription::attributeIndex(std::string_view name) const {
  for (std::size_t i = 0; i < attributes_.size(); ++i)
    if (attributes_[i].name == name) return static_cast<int>(i);
  return -1;
}

int EntityDescription::relationshipIndex(std::string_view name) const {
  for (std::size_t i = 0; i < relationships_.size(); ++i)
    if (relationships_[i].name == name) return static_cast<int>(i);
  return -1;
}

const AttributeDescription* EntityDescription::attribute(std::string_view name) const {
  int i = attributeIndex(name);
  return i < 0 ? nullptr : &attributes_[i];
}

const RelationshipDescription* EntityDescription::relationship(std::string_view name) const {
  int i = relationshipIndex(name);
  return i < 0 ? nullptr : &relationships_[i];
}

const EntityDescription* EntityDescription::destination(int index) const {
  return index >= 0 && index < static_cast<int>(destinations_.size()) ? destinations_[index] : nullptr;
}

int EntityDescription::inverseIndex(int index) const {
  return index >= 0 && index < static_cast<int>(inverses_.size()) ? inverses_[index] : -1;
}

std::string EntityDescription::versionHash() const {
  std::string layout = name_;
  for (const auto& a : attributes_) {
    if (a.transient) continue;
    layout += "|a:" + a.name + ":" + attributeTypeName(a.type);
  }
  for (const auto& r : relationships_)
    layout += "|r:" + r.name + ":" + r.destinationEntityName + (r.toMany ? ":many" : ":one");
  return digest(layout);
}

EntityDescription& Model::addEntity(std::string name) {
  entities_.push_back(std::make_unique<EntityDescription>(std::move(name)));
  return *entities_.back();
}

bool Model::finish(fnd::Error* error) {
  auto fail = [&](const std::string& text) {
    if (error) *error = fnd::Error::withDescription(fnd::kCocoaErrorDomain, 134000, text);
    return false;
  };
  if (finished_) return true;
  int number = 1;
  for (auto& e : entities_) {
    if (entity(e->name_) != e.get()) return fail("Duplicate entity " + e->name_);
    e->model_ = this;
    e->number_ = number++;
    e->tableName_ = "Z" + fnd::asciiUppercase(e->name_);
  }
  for (auto& e : entities_) {
    e->destinations_.clear();
    e->inverses_.clear();
    for (const auto& r : e->relationships_) {
      const EntityDescription* dest = entity(r.destinationEntityName);
      if (!dest) return fail("Relationship " + e->name_ + "." + r.name + " has no destination " + r.destinationEntityName);
      int inv = -1;
      if (!r.inverseName.empty()) {
        inv = dest->relationshipIndex(r.inverseName);
        if (inv < 0) return fail("Relationship " + e->name_ + "." + r.name + " has no inverse " + r.inverseName);
        const auto& back = dest->relationships_[inv];
        if (back.inverseName != r.name || back.destinationEntityName != e->name_)
          return fail("Inverse of " + e->name_ + "." + r.name + " does not point back");
      }
      e->destinations_.push_back(dest);
      e->inverses_.push_back(inv);
    }
  }
  for (auto& e : entities_) {
    e->defaults_.clear();
    for (const auto& a : e->attributes_) e->defaults_.push_back(coerceToAttribute(a, a.defaultValue));
  }
  finished_ = true;
  return true;
}

const EntityDescription* Model::entity(std::string_view name) const {
  for (const auto& e : entities_)
    if (e->name_ == name) return e.get();
  return nullptr;
}

std::string Model::versionHash() const {
  std::string all;
  for (const auto& e : entities_) all += e->name_ + "=" + e->versionHash() + ";";
  return digest(all);
}

std::map<std::string, std::string> Model::entityVersionHashesByName() const {
  std::map<std::string, std::string> r;
  for (const auto& e : entities_) r[e->name_] = e->versionHash();
  return r;
}

std::shared_ptr<Model> Model::merged(const std::vector<std::shared_ptr<const Model>>& models) {
  auto m = std::make_shared<Model>();
  for (const auto& src : models) {
    if (!src) continue;
    for (const auto& e : src->entities()) {
      if (m->entity(e->name())) continue;
      auto& copy = m->addEntity(e->name());
      copy.setClassName(e->className());
      for (const auto& a : e->attributes()) copy.addAttribute(a);
      for (const auto& r : e->relationships()) copy.addRelationship(r);
      copy.userInfo() = e->userInfo();
    }
  }
  return m;
}

void Model::registerNamedModel(const std::string& name, std::shared_ptr<const Model> model) {
  auto& r = registries();
  std::lock_guard lock(r.mutex);
  r.models[name] = std::move(model);
}

std::shared_ptr<const Model> Model::named(const std::string& name) {
  auto& r = registries();
  std::lock_guard lock(r.mutex);
  auto it = r.models.find(name);
  return it == r.models.end() ? nullptr : it->second;
}

std::vector<std::shared_ptr<const Model>> Model::allNamedModels() {
  auto& r = registries();
  std::lock_guard lock(r.mutex);
  std::vector<std::shared_ptr<const Model>> all;
  for (auto& [k, v] : r.models) all.push_back(v);
  return all;
}

std::atomic<unsigned> classRegistryGeneration{1};

void Model::registerClass(const std::string& entityName, ObjectFactory factory) {
  auto& r = registries();
  std::lock_guard lock(r.mutex);
  r.classes[entityName] = std::move(factory);
  ++classRegistryGeneration;
}

const ObjectFactory* Model::classFactory(std::string_view entityName) {
  auto& r = registries();
  std::lock_guard lock(r.mutex);
  auto it = r.classes.find(entityName);
  // Factories are registered at start-up and never removed, so the pointer stays valid.
  return it == r.classes.end() ? nullptr : &it->second;
}

}  // namespace kesto::store
