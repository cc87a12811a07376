#pragma once

#include "Platform/Foundation/Value.h"
#include "Platform/Store/EntityDescription.h"
#include "Platform/Store/KeyValueCoding.h"
#include "Platform/Store/ObjectID.h"

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace kesto::store {

class Context;
class ManagedObject;
using ManagedObjectRef = std::shared_ptr<ManagedObject>;

// One row of an entity, as seen by one context. Entity classes derive from it and register a
// factory with Model::registerClass; their typed accessors read slots by index
// (value(int)/setValue(int, ...)), looking the index up once per entity.
//
// Objects belong to at most one context and are used only on that context's queue. An object
// made with no context (ManagedObject::make) is detached until a context inserts it.
class ManagedObject : public fnd::Object, public KeyValueCoding {
 public:
  ManagedObject();
  ~ManagedObject() override;
  ManagedObject(const ManagedObject&) = delete;
  ManagedObject& operator=(const ManagedObject&) = delete;

  // A detached object of `entity`, made through the entity's registered class.
  static ManagedObjectRef make(const EntityDescription* entity);

  const EntityDescription* entity() const { return entity_; }
  // The context that holds the object; null when detached or after the context has gone.
  std::shared_ptr<Context> context() const;
  ObjectIDRef objectID() const;
  // The row's key in its store (its ID's primary key), 0 for an object never saved; unlike
  // objectID() it makes nothing, so a large library can be ordered as the store orders it.
  std::int64_t storeKey() const { return id_ ? id_->primaryKey() : key_; }

  bool isInserted() const { return state_ == State::Inserted; }
  bool isDeleted() const { return state_ == State::Deleted; }
  bool isUpdated() const;
  bool hasChanges() const { return isInserted() || isDeleted() || isUpdated(); }
  // True while the row's values have not been loaded yet.
  bool isFault() const { return !loaded_; }
  // Attribute and relationship names changed since the last save, with their new values
  // (to-many relationships as arrays of objects).
  fnd::Dictionary changedValues() const;
  // The values of the last saved (or fetched) state, by attribute name.
  fnd::Dictionary committedValues() const;

  // Attributes by index (fast path) and by name. Setting marks the object changed, records an
  // undo step and converts numbers to the attribute's type; an unknown name is ignored. A
  // lazy value (data) read from the store is kept among the context's most recent few hundred:
  // hold a copy, not the reference, across reads of other lazy values (reading one may move the
  // object's other values too).
  const fnd::Value& value(int attributeIndex) const;
  void setValue(int attributeIndex, fnd::Value v);
  // Changes a value without marking the object changed or recording undo (for awake hooks); the
  // object's other values may move, so hold copies across it.
  void setPrimitiveValue(int attributeIndex, fnd::Value v);

  // Key-value access: attributes, relationships ("folder" gives the object, "tags" an array),
  // "objectID" and "self". Subclasses may add keys for their in-memory state.
  fnd::Value valueForKey(std::string_view key) const override;
  virtual void setValueForKey(std::string_view key, const fnd::Value& v);

  // Relationships by index and by name; inverses are kept in step.
  ManagedObjectRef toOne(int relationshipIndex) const;
  void setToOne(int relationshipIndex, const ManagedObjectRef& destination);
  std::vector<ManagedObjectRef> toMany(int relationshipIndex) const;
  std::size_t toManyCount(int relationshipIndex) const;
  void addToMany(int relationshipIndex, const ManagedObjectRef& destination);
  void removeFromMany(int relationshipIndex, const ManagedObjectRef& destination);
  void setToMany(int relationshipIndex, const std::vector<ManagedObjectRef>& destinations);
  ManagedObjectRef toOne(std::string_view name) const;
  void setToOne(std::string_view name, const ManagedObjectRef& destination);
  std::vector<ManagedObjectRef> toMany(std::string_view name) const;
  void addToMany(std::string_view name, const ManagedObjectRef& destination);
  void removeFromMany(std::string_view name, const ManagedObjectRef& destination);

  std::string description() const override;

  // Hooks for entity classes.
  // After insertion into a context (defaults are already set).
  virtual void awakeFromInsert() {}
  // After the row's values are loaded; use setPrimitiveValue to adjust without dirtying.
  virtual void awakeFromFetch() {}
  // Before the object is written; may change values. Called again while objects keep changing.
  virtual void willSave() {}

  struct Slots;  // private state, shared with the store's implementation

 protected:
  // Called by subclass constructors that know their entity; otherwise make() sets it.
  void setEntity(const EntityDescription* entity);

 private:
  friend class Context;
  friend struct ObjectAccess;
  enum class State { Detached, Clean, Inserted, Deleted };
  bool hasAttribute(int attributeIndex) const;
  // Whether `relationshipIndex` is a relationship of the entity and of that kind.
  bool hasRelationship(int relationshipIndex, bool toMany) const;
  // The ID, made now for an object read from the store that has only its key so far.
  const ObjectIDRef& madeID() const;
  // Records `undo` (addToMany or removeFromMany) of `destination` as the undo of a change to the
  // to-many `relationshipIndex`, when the context keeps undo.
  void registerToManyUndo(int relationshipIndex, const ManagedObjectRef& destination,
                          void (ManagedObject::*undo)(int, const ManagedObjectRef&));
  const EntityDescription* entity_ = nullptr;
  // An object read from the store makes its ID when it is first asked for (most rows of a large
  // library never are): until then its store's number and its key say everything the ID holds.
  mutable ObjectIDRef id_;
  State state_ = State::Detached;
  bool loaded_ = true;
  std::uint32_t storeNumber_ = 0;
  std::int64_t key_ = 0;
  // The store's state of the object lives inside it, so an object read from the store is one
  // allocation rather than two (a library holds hundreds of thousands).
  static constexpr std::size_t kSlotsSize = 88;
  Slots& slots() const;
  alignas(8) mutable unsigned char slotStorage_[kSlotsSize];
};

}  // namespace kesto::store
