#pragma once

#include "Platform/Foundation/Value.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace kesto::store {

class EntityDescription;

// The identity of one row across every context of a coordinator. An object inserted and not yet
// saved has a temporary ID; when its row is written the ID resolves to a permanent one, and the
// temporary ID stays usable: it compares equal to the permanent ID from then on.
// IDs are immutable values shared through ObjectIDRef; they can be put into a Value (for
// "self IN %@" arguments). A library holds one per row, so an ID keeps its key and entity and
// points at its store's identifier, which is kept once for the whole process.
class ObjectID final : public fnd::Object {
 public:
  // Permanent ID of row `pk` of `entity` in the store `storeIdentifier`.
  static std::shared_ptr<const ObjectID> permanent(const EntityDescription* entity, std::string_view storeIdentifier,
                                                   std::int64_t pk);
  // The same with an identifier from internStoreIdentifier, for callers that make many.
  static std::shared_ptr<const ObjectID> permanent(const EntityDescription* entity, const std::string* storeIdentifier,
                                                   std::int64_t pk);
  // The one copy of a store identifier this process keeps; it lives as long as the process.
  static const std::string* internStoreIdentifier(std::string_view storeIdentifier);
  // A small number for a kept store identifier (never 0), and the identifier back from it: an
  // object read from the store keeps the number and makes its ID when first asked.
  static std::uint32_t storeNumber(std::string_view storeIdentifier);
  static const std::string* storeIdentifierNumbered(std::uint32_t number);
  // A new temporary ID.
  static std::shared_ptr<const ObjectID> makeTemporary(const EntityDescription* entity);

  const EntityDescription* entity() const { return entity_; }
  bool isTemporaryID() const { return primaryKey() == 0; }
  // The row's primary key (Z_PK); 0 while temporary.
  std::int64_t primaryKey() const { return pk_.load(std::memory_order_acquire); }
  // Empty while temporary.
  const std::string& storeIdentifier() const;
  std::uint64_t temporaryNumber() const { return temp_; }
  // A text form of a permanent ID: "kesto-store://<store>/<Entity>/p<pk>"; of a temporary one
  // "kesto-store:///<Entity>/t<number>".
  std::string uriRepresentation() const;

  bool isEqual(const fnd::Object& other) const override;
  std::string description() const override { return uriRepresentation(); }

  // Used by the store when the row is written.
  void resolve(std::string_view storeIdentifier, std::int64_t pk) const;

  ObjectID(const EntityDescription* entity, std::uint64_t temp, const std::string* store, std::int64_t pk);

 private:
  const EntityDescription* entity_;
  std::uint64_t temp_ = 0;  // temporary IDs, also once resolved
  // Set once when a temporary ID resolves, the store first: whoever sees the key sees the store.
  mutable std::atomic<const std::string*> store_{nullptr};
  mutable std::atomic<std::int64_t> pk_{0};
};

using ObjectIDRef = std::shared_ptr<const ObjectID>;

// An ID as a Value, e.g. for "self IN %@" arguments.
inline fnd::Value toValue(const ObjectIDRef& id) { return fnd::Value(fnd::ObjectRef(std::const_pointer_cast<ObjectID>(id))); }

// Equality of two possibly absent IDs.
inline bool sameID(const ObjectIDRef& a, const ObjectIDRef& b) { return a == b || (a && b && a->isEqual(*b)); }

}  // namespace kesto::store
