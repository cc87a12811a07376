#include "Platform/Store/ObjectID.h"

#include "Platform/Store/EntityDescription.h"
#include "Platform/Store/StoreInternal.h"

#include <mutex>

namespace kesto::store {

// Shared by a temporary ID and everything copied from it, so that resolving it once makes every
// holder see the permanent key.
struct ObjectID::Resolution {
  mutable std::mutex mutex;
  std::string store;
  std::atomic<std::int64_t> pk{0};
};

namespace {
std::atomic<std::uint64_t> nextTemporary{1};
}

ObjectID::ObjectID(const EntityDescription* entity, std::uint64_t temp, std::shared_ptr<Resolution> r)
    : entity_(entity), temp_(temp), resolution_(std::move(r)) {}

ObjectID::ObjectID(const EntityDescription* entity, std::shared_ptr<const std::string> store, std::int64_t pk)
    : entity_(entity), pk_(pk), store_(std::move(store)) {}

std::shared_ptr<const ObjectID> ObjectID::permanent(const EntityDescription* entity, std::string storeIdentifier,
                                                    std::int64_t pk) {
  return permanent(entity, std::make_shared<const std::string>(std::move(storeIdentifier)), pk);
}

std::shared_ptr<const ObjectID> ObjectID::permanent(const EntityDescription* entity,
                                                    std::shared_ptr<const std::string> storeIdentifier, std::int64_t pk) {
  return std::make_shared<ObjectID>(entity, std::move(storeIdentifier), pk);
}

std::shared_ptr<const ObjectID> ObjectID::makeTemporary(const EntityDescription* entity) {
  return std::make_shared<ObjectID>(entity, nextTemporary++, std::make_shared<Resolution>());
}

std::int64_t ObjectID::primaryKey() const { return resolution_ ? resolution_->pk.load() : pk_; }

const std::string& ObjectID::storeIdentifier() const {
  if (!resolution_) return *store_;
  std::lock_guard lock(resolution_->mutex);
  return resolution_->store;
}

std::atomic<std::uint64_t> idResolutions{0};

void ObjectID::resolve(std::string storeIdentifier, std::int64_t pk) const {
  if (!resolution_) return;  // permanent already
  {
    std::lock_guard lock(resolution_->mutex);
    resolution_->store = std::move(storeIdentifier);
    resolution_->pk = pk;
  }
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
  if (resolution_ && resolution_ == o->resolution_) return true;
  std::int64_t a = primaryKey(), b = o->primaryKey();
  if (a && b) return a == b && storeIdentifier() == o->storeIdentifier();
  return false;
}

}  // namespace kesto::store
