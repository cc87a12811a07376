#pragma once

#include "Platform/Foundation/Value.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace kesto::store {

class EntityDescription;

// The identity of one row across every context of a coordinator. An object inserted and not yet
// saved has a temporary ID; when its row is written the ID resolves to a permanent one, and the
// temporary ID stays usable: it compares equal to the permanent ID from then on.
// IDs are immutable values shared through ObjectIDRef; they can be put into a Value (for
// "self IN %@" arguments).
class ObjectID final : public fnd::Object {
 public:
  // Permanent ID of row `pk` of `entity` in the store `storeIdentifier`.
  static std::shared_ptr<const ObjectID> permanent(const EntityDescription* entity, std::string storeIdentifier,
                                                   std::int64_t pk);
  static std::shared_ptr<const ObjectID> permanent(const EntityDescription* entity,
                                                   std::shared_ptr<const std::string> storeIdentifier, std::int64_t pk);
  // A new temporary ID.
  static std::shared_ptr<const ObjectID> makeTemporary(const EntityDescription* entity);

  const EntityDescription* entity() const { return entity_; }
  bool isTemporaryID() const { return primaryKey() == 0; }
  // The row's primary key (Z_PK); 0 while temporary.
  std::int64_t primaryKey() const;
  const std::string& storeIdentifier() const;
  std::uint64_t temporaryNumber() const { return temp_; }
  // A text form of a permanent ID: "kesto-store://<store>/<Entity>/p<pk>"; of a temporary one
  // "kesto-store:///<Entity>/t<number>".
  std::string uriRepresentation() const;

  bool isEqual(const fnd::Object& other) const override;
  std::string description() const override { return uriRepresentation(); }

  // Used by the store when the row is written.
  void resolve(std::string storeIdentifier, std::int64_t pk) const;

  struct Resolution;
  ObjectID(const EntityDescription* entity, std::uint64_t temp, std::shared_ptr<Resolution> r);
  ObjectID(const EntityDescription* entity, std::shared_ptr<const std::string> store, std::int64_t pk);

 private:
  const EntityDescription* entity_;
  std::uint64_t temp_ = 0;
  std::int64_t pk_ = 0;                         // permanent IDs
  std::shared_ptr<const std::string> store_;    // permanent IDs
  std::shared_ptr<Resolution> resolution_;      // temporary IDs, shared by their copies
};

using ObjectIDRef = std::shared_ptr<const ObjectID>;

// An ID as a Value, e.g. for "self IN %@" arguments.
inline fnd::Value toValue(const ObjectIDRef& id) { return fnd::Value(fnd::ObjectRef(std::const_pointer_cast<ObjectID>(id))); }

// Equality of two possibly absent IDs.
inline bool sameID(const ObjectIDRef& a, const ObjectIDRef& b) { return a == b || (a && b && a->isEqual(*b)); }

}  // namespace kesto::store
