#include "Platform/Store/ObjectID.h"

#include "Platform/Store/EntityDescription.h"
#include "Platform/Store/StoreInternal.h"

#include <mutex>
#include <unordered_set>

namespace kesto::store {

namespace {
std::atomic<std::uint64_t> nextTemporary{1};
const std::string kNoStore;
}  // namespace

ObjectID::ObjectID(const EntityDescription* entity, std::uint64_t temp, const std::string* store, std::int64_t pk)
    : entity_(entity), temp_(temp), store_(store), pk_(pk) {}

const std::string* ObjectID::internStoreIdentifier(std::string_view storeIdentifier) {
  // A process opens a handful of stores; their identifiers are kept for good, so an ID never
  // outlives the text it points at (the set's nodes do not move).
  static std::mutex mutex;
  static auto* identifiers = new std::unordered_set<std::string>;
  std::lock_guard lock(mutex);
  return &*identifiers->emplace(storeIdentifier).first;
}

std::shared_ptr<const ObjectID> ObjectID::permanent(const EntityDescription* entity, std::string_view storeIdentifier,
                                                    std::int64_t pk) {
  return permanent(entity, internStoreIdentifier(storeIdentifier), pk);
}

std::shared_ptr<const ObjectID> ObjectID::permanent(const EntityDescription* entity, const std::string* storeIdentifier,
                                                    std::int64_t pk) {
  return std::make_shared<ObjectID>(entity, 0, storeIdentifier, pk);
}

std::shared_ptr<const ObjectID> ObjectID::makeTemporary(const EntityDescription* entity) {
  return std::make_shared<ObjectID>(entity, nextTemporary++, nullptr, 0);
}

const std::string& ObjectID::storeIdentifier() const {
  const std::string* store = store_.load(std::memory_order_acquire);
  return store ? *store : kNoStore;
}

std::atomic<std::uint64_t> idResolutions{0};

void ObjectID::resolve(std::string_view storeIdentifier, std::int64_t pk) const {
  if (!temp_) return;  // permanent already
  store_.store(internStoreIdentifier(storeIdentifier), std::memory_order_release);
  pk_.store(pk, std::memory_order_release);
  ++idResolutions;
}

std::string ObjectID::uriRepresentation() const {
  std::string entityName = entity_ ? entity_->name() : "";
  std::int64_t pk = primaryKey();
  if (pk) return "kesto-store://" + storeIdentifier() + "/" + entityName + "/p" + std::to_string(pk);
  return "kesto-store:///" + entityName + "/t" + std::to_string(temp_);
}

bool ObjectID::isEqual(const fnd::Object& other) const {
  if (this == &other) return true;
  auto* o = dynamic_cast<const ObjectID*>(&other);
  if (!o || o->entity_ != entity_) return false;
  std::int64_t a = primaryKey(), b = o->primaryKey();
  if (a && b) return a == b && store_.load(std::memory_order_acquire) == o->store_.load(std::memory_order_acquire);
  return false;
}

}  // namespace kesto::store
