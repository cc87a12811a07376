#include "Platform/Store/ObjectID.h"

#include "Platform/Store/EntityDescription.h"
#include "Platform/Store/StoreInternal.h"

#include <deque>
#include <mutex>
#include <unordered_map>

namespace kesto::store {

namespace {
std::atomic<std::uint64_t> nextTemporary{1};
const std::string kNoStore;
}  // namespace

ObjectID::ObjectID(const EntityDescription* entity, std::uint64_t temp, const std::string* store, std::int64_t pk)
    : entity_(entity), temp_(temp), store_(store), pk_(pk) {}

namespace {
// A process opens a handful of stores; their identifiers are kept for good, so an ID never
// outlives the text it points at (the map's nodes do not move).
struct KeptStores {
  std::mutex mutex;
  std::unordered_map<std::string, std::uint32_t> numbers;
  std::deque<const std::string*> byNumber{nullptr};  // number 0 is none
  const std::string* keep(std::string_view storeIdentifier, std::uint32_t* number) {
    std::lock_guard lock(mutex);
    auto [at, added] = numbers.try_emplace(std::string(storeIdentifier), static_cast<std::uint32_t>(byNumber.size()));
    if (added) byNumber.push_back(&at->first);
    if (number) *number = at->second;
    return &at->first;
  }
};
KeptStores& keptStores() {
  static auto* stores = new KeptStores;
  return *stores;
}
}  // namespace

const std::string* ObjectID::internStoreIdentifier(std::string_view storeIdentifier) {
  return keptStores().keep(storeIdentifier, nullptr);
}

std::uint32_t ObjectID::storeNumber(std::string_view storeIdentifier) {
  std::uint32_t number = 0;
  keptStores().keep(storeIdentifier, &number);
  return number;
}

const std::string* ObjectID::storeIdentifierNumbered(std::uint32_t number) {
  KeptStores& stores = keptStores();
  std::lock_guard lock(stores.mutex);
  return number < stores.byNumber.size() ? stores.byNumber[number] : nullptr;
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
