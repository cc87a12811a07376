#include "Platform/Store/ManagedObject.h"

#include "Platform/Foundation/Log.h"
#include "Platform/Store/Model.h"
#include "Platform/Store/StoreInternal.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <type_traits>
#include <unordered_map>

namespace kesto::store {

fnd::Value coerceToAttribute(const AttributeDescription& a, fnd::Value v) {
  if (v.isNull()) return v;
  switch (a.type) {
    case AttributeType::Integer16:
    case AttributeType::Integer32:
    case AttributeType::Integer64:
      if (v.isInteger()) return v;
      if (v.isReal()) return fnd::Value(static_cast<std::int64_t>(std::trunc(v.doubleValue())));
      if (v.isNumber() || v.isString()) return fnd::Value(v.intValue());
      return v;
    case AttributeType::Boolean:
      if (v.isBoolean()) return v;
      if (v.isNumber() || v.isString()) return fnd::Value(v.boolValue());
      return v;
    case AttributeType::Double:
    case AttributeType::Float:
      if (v.isReal()) return v;
      if (v.isNumber() || v.isString()) return fnd::Value(v.doubleValue());
      return v;
    default:
      return v;
  }
}

// ---------------------------------------------------------------------------------------------
// Attribute values

namespace {

constexpr std::size_t kMaskBits = 64;

// Whether `v` is exactly `d`: same type and value (a stored NULL is not a default 0, nor -0.0 a 0.0).
bool isExactly(const fnd::Value& v, const fnd::Value& d) {
  if (v.type() != d.type()) return false;
  if (v.isReal()) {
    double a = v.doubleValue(), b = d.doubleValue();
    return std::memcmp(&a, &b, sizeof a) == 0;
  }
  return v == d;
}

bool sparseAllowed(const EntityDescription& e) {
  return e.attributes().size() <= kMaskBits && e.defaultValues().size() == e.attributes().size();
}

}  // namespace

fnd::Value* AttributeValues::allocate(std::size_t n) {
  return n ? static_cast<fnd::Value*>(::operator new(n * sizeof(fnd::Value))) : nullptr;
}

void AttributeValues::drop() noexcept {
  std::destroy_n(values_, count_);
  ::operator delete(values_);
  values_ = nullptr;
  count_ = 0;
}

void AttributeValues::adopt(fnd::Value* values, std::size_t n) noexcept {
  drop();
  values_ = values;
  count_ = static_cast<std::uint32_t>(n);
}

void AttributeValues::makeFull(const EntityDescription& e) {
  const std::size_t n = e.attributes().size();
  const auto& defaults = e.defaultValues();
  fnd::Value* values = allocate(n);
  for (std::size_t i = 0; i < n; ++i)
    new (values + i)
        fnd::Value(i < defaults.size() ? defaults[i] : coerceToAttribute(e.attributes()[i], e.attributes()[i].defaultValue));
  adopt(values, n);
  full_ = !sparseAllowed(e);
  held_ = full_ ? 0 : (n == kMaskBits ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1);
  more_.reset();
  pending_ = 0;
}

AttributeValues& AttributeValues::operator=(const AttributeValues& other) {
  if (this == &other) return *this;
  fnd::Value* values = allocate(other.count_);
  std::uninitialized_copy_n(other.values_, other.count_, values);
  adopt(values, other.count_);
  held_ = other.held_;
  pending_ = other.pending_;
  full_ = other.full_;
  more_ = other.more_ ? std::make_unique<More>(*other.more_) : nullptr;
  return *this;
}

AttributeValues& AttributeValues::operator=(AttributeValues&& other) noexcept {
  if (this == &other) return *this;
  drop();
  values_ = std::exchange(other.values_, nullptr);
  count_ = std::exchange(other.count_, 0);
  held_ = other.held_;
  pending_ = other.pending_;
  full_ = other.full_;
  more_ = std::move(other.more_);
  return *this;
}

void AttributeValues::takeRow(const EntityDescription& e, std::vector<fnd::Value>& row) {
  const std::size_t n = e.attributes().size();
  row.resize(n);
  more_.reset();
  pending_ = 0;
  if (!sparseAllowed(e)) {
    fnd::Value* values = allocate(n);
    std::uninitialized_move_n(row.begin(), n, values);
    adopt(values, n);
    full_ = true;
    held_ = 0;
    return;
  }
  const auto& defaults = e.defaultValues();
  std::uint64_t held = 0;
  std::size_t count = 0;
  for (std::size_t i = 0; i < n; ++i)
    if (!isExactly(row[i], defaults[i])) held |= std::uint64_t{1} << i, ++count;
  fnd::Value* kept = allocate(count);
  for (std::size_t i = 0, k = 0; i < n; ++i)
    if (held >> i & 1u) new (kept + k++) fnd::Value(std::move(row[i]));
  adopt(kept, count);
  held_ = held;
  full_ = false;
}

std::size_t AttributeValues::keptCount() const { return count_ + (more_ ? more_->rest.size() : 0); }

std::size_t AttributeValues::rank(int i) const {
  return static_cast<std::size_t>(std::popcount(held_ & ((std::uint64_t{1} << i) - 1)));
}

const fnd::Value& AttributeValues::get(const EntityDescription& e, int i) const {
  if (full_) return values_[static_cast<std::size_t>(i)];
  if (held_ >> i & 1u) return values_[rank(i)];
  if (hasRest()) return more_->rest[static_cast<std::size_t>(i)];
  return e.defaultValues()[static_cast<std::size_t>(i)];
}

fnd::Value& AttributeValues::slot(const EntityDescription& e, int i) {
  if (full_) return values_[static_cast<std::size_t>(i)];
  if (held_ >> i & 1u) return values_[rank(i)];
  if (!hasRest()) {
    // The attributes the row did not keep get a place each, beside the kept ones, which stay
    // where they are: references to values stay good while the object is edited.
    if (!more_) more_ = std::make_unique<More>();
    more_->rest = e.defaultValues();
  }
  return more_->rest[static_cast<std::size_t>(i)];
}

void AttributeValues::setRead(const EntityDescription& e, int i, fnd::Value v) {
  setPending(i, false);
  if (full_ || (held_ >> i & 1u) || hasRest()) {
    slot(e, i) = std::move(v);
  } else if (!isExactly(v, e.defaultValues()[static_cast<std::size_t>(i)])) {
    const std::size_t at = rank(i);
    fnd::Value* values = allocate(count_ + 1);
    std::uninitialized_move_n(values_, at, values);
    new (values + at) fnd::Value(std::move(v));
    std::uninitialized_move_n(values_ + at, count_ - at, values + at + 1);
    adopt(values, count_ + 1u);
    held_ |= std::uint64_t{1} << i;
  }
}

void AttributeValues::unload(const EntityDescription& e, int i) {
  const bool held = !full_ && (held_ >> i & 1u);
  if (held && !hasRest()) {
    const std::size_t at = rank(i);
    fnd::Value* values = allocate(count_ - 1u);
    std::uninitialized_move_n(values_, at, values);
    std::uninitialized_move_n(values_ + at + 1, count_ - at - 1, values + at);
    adopt(values, count_ - 1u);
    held_ &= ~(std::uint64_t{1} << i);
  } else if (full_ || held || hasRest()) {
    slot(e, i) = fnd::Value();
  }
  setPending(i, true);
}

bool AttributeValues::isPending(int i) const {
  if (static_cast<std::size_t>(i) < kMaskBits) return (pending_ >> i & 1u) != 0;
  const auto j = static_cast<std::size_t>(i) - kMaskBits;
  return more_ && j < more_->pendingMore.size() && more_->pendingMore[j];
}

void AttributeValues::setPending(int i, bool pending) {
  if (static_cast<std::size_t>(i) < kMaskBits) {
    if (pending) pending_ |= std::uint64_t{1} << i;
    else pending_ &= ~(std::uint64_t{1} << i);
    return;
  }
  const auto j = static_cast<std::size_t>(i) - kMaskBits;
  if (!more_) {
    if (!pending) return;
    more_ = std::make_unique<More>();
  }
  auto& more = more_->pendingMore;
  if (more.size() <= j) more.resize(j + 1, 0);
  more[j] = pending ? 1 : 0;
}

// ---------------------------------------------------------------------------------------------

namespace {

Context::Impl* contextOf(const ManagedObject& o, ManagedObject::Slots& s) {
  (void)o;
  return s.ctx;
}

}  // namespace

ManagedObject::ManagedObject() {
  static_assert(sizeof(Slots) <= sizeof(slotStorage_) && alignof(Slots) <= 8);
  new (slotStorage_) Slots();
}

ManagedObject::~ManagedObject() { slots().~Slots(); }

ManagedObject::Slots& ManagedObject::slots() const { return *std::launder(reinterpret_cast<Slots*>(slotStorage_)); }

void ManagedObject::setEntity(const EntityDescription* entity) {
  entity_ = entity;
  if (!entity) return;
  slots().values.makeFull(*entity);
  slots().rels.reset(entity->relationships().size());
  // A new object's sets are empty, not unknown.
  for (std::size_t i = 0; i < slots().rels.size(); ++i) slots().rels[i].manyLoaded = entity->relationships()[i].toMany;
}

namespace {
ManagedObjectRef instantiate(const EntityDescription* entity) {
  // Fetches make thousands of objects: look the class up once per entity.
  struct Cached {
    unsigned generation = 0;
    const ObjectFactory* factory = nullptr;
  };
  thread_local std::unordered_map<const EntityDescription*, Cached> cache;
  Cached& c = cache[entity];
  unsigned gen = classRegistryGeneration.load();
  if (c.generation != gen) c = {gen, Model::classFactory(entity->name())};
  ManagedObjectRef o;
  if (const ObjectFactory* f = c.factory; f && *f) o = (*f)();
  if (!o) o = std::make_shared<ManagedObject>();
  return o;
}
}  // namespace

ManagedObjectRef ManagedObject::make(const EntityDescription* entity) {
  if (!entity) return nullptr;
  ManagedObjectRef o = instantiate(entity);
  o->setEntity(entity);
  return o;
}

ManagedObjectRef ObjectAccess::makeForRow(const EntityDescription* entity) {
  ManagedObjectRef o = instantiate(entity);
  o->entity_ = entity;
  // The row's values are moved in by apply(); only the relationship slots are made here.
  o->slots().rels.reset(entity->relationships().size());
  return o;
}

const ObjectIDRef& ManagedObject::madeID() const {
  if (!id_ && key_) id_ = ObjectID::permanent(entity_, ObjectID::storeIdentifierNumbered(storeNumber_), key_);
  return id_;
}

ObjectIDRef ManagedObject::objectID() const { return madeID(); }

std::shared_ptr<Context> ManagedObject::context() const {
  return slots().ctx ? slots().ctx->weakSelf.lock() : nullptr;
}

bool ManagedObject::isUpdated() const { return state_ == State::Clean && slots().dirty; }

bool ManagedObject::hasAttribute(int index) const {
  return entity_ && index >= 0 && index < static_cast<int>(entity_->attributes().size());
}

const fnd::Value& ManagedObject::value(int index) const {
  if (!hasAttribute(index)) return fnd::nullValue();
  if (!loaded_ && slots().ctx) slots().ctx->fireFault(const_cast<ManagedObject&>(*this));
  auto& values = slots().values;
  if (values.isPending(index)) {
    if (slots().ctx) {
      values.setRead(*entity_, index, slots().ctx->loadLazy(const_cast<ManagedObject&>(*this), index));
      slots().ctx->keepLazy(const_cast<ManagedObject&>(*this), index);
    } else {
      values.setPending(index, false);
    }
  }
  return values.get(*entity_, index);
}

void ManagedObject::setPrimitiveValue(int index, fnd::Value v) {
  if (!hasAttribute(index)) return;
  if (!loaded_ && slots().ctx) slots().ctx->fireFault(*this);
  // Added in place: awake hooks fill in values of rows that keep only a few.
  slots().values.setRead(*entity_, index, coerceToAttribute(entity_->attributes()[index], std::move(v)));
}

void ManagedObject::setValue(int index, fnd::Value v) {
  if (!hasAttribute(index)) return;
  const fnd::Value& old = value(index);  // fires the fault and loads a lazy value
  fnd::Value nv = coerceToAttribute(entity_->attributes()[index], std::move(v));
  if (old.type() == nv.type() && old == nv) return;
  Slots& s = slots();
  Context::Impl* ctx = contextOf(*this, s);
  if (ctx && ctx->undoEnabled()) {
    std::weak_ptr<ManagedObject> weak = std::static_pointer_cast<ManagedObject>(shared_from_this());
    fnd::Value before = old;
    ctx->registerUndo([weak, index, before] {
      if (auto o = weak.lock()) o->setValue(index, before);
    });
  }
  if (state_ == State::Clean) s.keepOriginal(index, old);
  s.values.slot(*entity_, index) = std::move(nv);
  if (ctx) ctx->noteChanged(*this);
}

fnd::Value ManagedObject::valueForKey(std::string_view key) const {
  if (!entity_) return {};
  int a = entity_->attributeIndex(key);
  if (a >= 0) return value(a);
  int r = entity_->relationshipIndex(key);
  if (r >= 0) {
    if (entity_->relationships()[r].toMany) {
      fnd::Array arr;
      for (auto& o : toMany(r)) arr.emplace_back(fnd::ObjectRef(o));
      return fnd::Value(std::move(arr));
    }
    return fnd::Value(fnd::ObjectRef(toOne(r)));
  }
  if (key == "objectID") return fnd::Value(fnd::ObjectRef(std::const_pointer_cast<ObjectID>(madeID())));
  if (key == "self" || key == "SELF")
    return fnd::Value(fnd::ObjectRef(std::const_pointer_cast<Object>(shared_from_this())));
  return {};
}

void ManagedObject::setValueForKey(std::string_view key, const fnd::Value& v) {
  if (!entity_) return;
  int a = entity_->attributeIndex(key);
  if (a >= 0) return setValue(a, v);
  int r = entity_->relationshipIndex(key);
  if (r < 0) return;
  if (entity_->relationships()[r].toMany) {
    std::vector<ManagedObjectRef> list;
    for (const auto& e : v.array())
      if (auto o = e.objectAs<ManagedObject>()) list.push_back(o);
    setToMany(r, list);
  } else {
    setToOne(r, v.objectAs<ManagedObject>());
  }
}

// ---------------------------------------------------------------------------------------------
// Relationships

void ObjectAccess::markRelChanged(ManagedObject& o, int rel) {
  auto& s = o.slots();
  auto& r = s.rels[rel];
  // A to-many set's members at its first change tell the save which join rows to write.
  if (o.state_ == ManagedObject::State::Clean && o.entity_->relationships()[rel].toMany && !s.originalSet(rel)) {
    if (!s.changes) s.changes = std::make_unique<ManagedObject::Slots::Changes>();
    std::vector<ObjectIDRef> ids;
    ids.reserve(r.many().size());
    for (auto& d : r.many()) ids.push_back(d->objectID());
    s.changes->sets.emplace_back(rel, std::move(ids));
  }
  r.changed = true;
  if (s.ctx) s.ctx->noteChanged(o);
}

void ObjectAccess::loadMany(ManagedObject& o, int rel) {
  if (o.slots().rels[rel].manyLoaded || !o.entity_->relationships()[rel].toMany) return;
  if (!o.slots().ctx) {
    o.slots().rels[rel].manyLoaded = true;
    return;
  }
  auto ids = o.slots().ctx->loadToMany(o, rel);
  std::vector<ManagedObjectRef> members;
  members.reserve(ids.size());
  for (auto& id : ids)
    if (auto d = o.slots().ctx->objectFor(id)) members.push_back(d);
  auto& r = o.slots().rels[rel];
  r.setMany(std::move(members));
  r.manyLoaded = true;
}

void ObjectAccess::rawSetOne(ManagedObject& o, int rel, const ManagedObjectRef& d) {
  markRelChanged(o, rel);
  auto& r = o.slots().rels[rel];
  r.setOne(d);
}

namespace {
constexpr std::size_t kIndexedSetSize = 64;

// Whether `d` is in the set, through the set's index when it is large (building it if stale).
bool isMember(ManagedObject::Slots::Rel& r, const ManagedObject* d) {
  const auto& many = r.many();
  if (many.size() < kIndexedSetSize) {
    r.dropIndex();
    return std::find_if(many.begin(), many.end(), [&](const ManagedObjectRef& x) { return x.get() == d; }) != many.end();
  }
  auto& index = r.set()->index;
  if (r.indexed() != many.size()) {
    index = std::make_unique<ManagedObject::Slots::Rel::Index>();
    index->members.reserve(many.size() * 2);
    for (auto& m : many) index->members.insert(m.get());
    index->indexed = many.size();
  }
  return index->members.count(d) != 0;
}
}  // namespace

void ObjectAccess::rawAddMany(ManagedObject& o, int rel, const ManagedObjectRef& d) {
  loadMany(o, rel);
  auto& r = o.slots().rels[rel];
  if (isMember(r, d.get())) return;
  markRelChanged(o, rel);
  auto& many = r.manyForChange();
  many.push_back(d);
  if (r.indexed()) r.set()->index->members.insert(d.get()), r.set()->index->indexed = many.size();
}

void ObjectAccess::rawRemoveMany(ManagedObject& o, int rel, const ManagedObject* d) {
  loadMany(o, rel);
  auto& r = o.slots().rels[rel];
  if (!isMember(r, d)) return;
  auto& many = r.manyForChange();
  if (r.indexed()) r.set()->index->members.erase(d), r.set()->index->indexed = many.size() - 1;
  auto it = std::find_if(many.begin(), many.end(), [&](const ManagedObjectRef& x) { return x.get() == d; });
  if (it == many.end()) return;
  markRelChanged(o, rel);
  many.erase(it);
}

// A relationship's slot holds a to-one's link or a to-many's set: each accessor reads only its kind.
bool ManagedObject::hasRelationship(int rel, bool toMany) const {
  return entity_ && rel >= 0 && rel < static_cast<int>(slots().rels.size()) &&
         entity_->relationships()[static_cast<std::size_t>(rel)].toMany == toMany;
}

ManagedObjectRef ManagedObject::toOne(int rel) const {
  if (!hasRelationship(rel, false)) return nullptr;
  if (!loaded_ && slots().ctx) slots().ctx->fireFault(const_cast<ManagedObject&>(*this));
  auto& r = slots().rels[rel];
  if (!r.resolved && r.link && slots().ctx) r.setOne(slots().ctx->objectFor(r.oneID()));
  return r.one();
}

std::vector<ManagedObjectRef> ManagedObject::toMany(int rel) const {
  if (!hasRelationship(rel, true)) return {};
  if (!loaded_ && slots().ctx) slots().ctx->fireFault(const_cast<ManagedObject&>(*this));
  ObjectAccess::loadMany(const_cast<ManagedObject&>(*this), rel);
  return slots().rels[rel].many();
}

std::size_t ManagedObject::toManyCount(int rel) const {
  if (!hasRelationship(rel, true)) return 0;
  if (!loaded_ && slots().ctx) slots().ctx->fireFault(const_cast<ManagedObject&>(*this));
  ObjectAccess::loadMany(const_cast<ManagedObject&>(*this), rel);
  return slots().rels[rel].many().size();
}

void ManagedObject::setToOne(int rel, const ManagedObjectRef& dest) {
  if (!hasRelationship(rel, false)) return;
  ManagedObjectRef old = toOne(rel);
  if (old == dest) return;
  if (dest && dest->slots().ctx && dest->slots().ctx != slots().ctx) {
    fnd::logError("Store: a relationship cannot join objects of two contexts");
    return;
  }
  auto self = std::static_pointer_cast<ManagedObject>(shared_from_this());
  Context::Impl* ctx = slots().ctx;
  if (dest && ctx && dest->slots().ctx != ctx && dest->state_ == State::Detached) {
    if (auto c = context()) c->insertObject(dest);
  }
  if (ctx && ctx->undoEnabled()) {
    std::weak_ptr<ManagedObject> weak = self;
    ctx->registerUndo([weak, rel, old] {
      if (auto o = weak.lock()) o->setToOne(rel, old);
    });
  }
  int inv = entity_->inverseIndex(rel);
  if (inv >= 0) {
    bool invMany = entity_->destination(rel)->relationships()[inv].toMany;
    if (old) {
      if (invMany) ObjectAccess::rawRemoveMany(*old, inv, this);
      else if (old->toOne(inv).get() == this) ObjectAccess::rawSetOne(*old, inv, nullptr);
    }
    if (dest) {
      if (invMany) {
        ObjectAccess::rawAddMany(*dest, inv, self);
      } else {
        // One-to-one: the destination leaves its previous partner.
        if (auto prev = dest->toOne(inv); prev && prev.get() != this) ObjectAccess::rawSetOne(*prev, rel, nullptr);
        ObjectAccess::rawSetOne(*dest, inv, self);
      }
    }
  }
  ObjectAccess::rawSetOne(*this, rel, dest);
}

void ManagedObject::addToMany(int rel, const ManagedObjectRef& dest) {
  if (!dest || !hasRelationship(rel, true)) return;
  ObjectAccess::loadMany(*this, rel);
  if (isMember(slots().rels[rel], dest.get())) return;
  if (dest->slots().ctx && dest->slots().ctx != slots().ctx) {
    fnd::logError("Store: a relationship cannot join objects of two contexts");
    return;
  }
  int inv = entity_->inverseIndex(rel);
  auto self = std::static_pointer_cast<ManagedObject>(shared_from_this());
  if (inv >= 0 && !entity_->destination(rel)->relationships()[inv].toMany) {
    dest->setToOne(inv, self);  // moves it out of its previous owner's set, records undo
    return;
  }
  if (slots().ctx && dest->slots().ctx != slots().ctx && dest->state_ == State::Detached) {
    if (auto c = context()) c->insertObject(dest);
  }
  registerToManyUndo(rel, dest, &ManagedObject::removeFromMany);
  ObjectAccess::rawAddMany(*this, rel, dest);
  if (inv >= 0) ObjectAccess::rawAddMany(*dest, inv, self);
}

void ManagedObject::registerToManyUndo(int rel, const ManagedObjectRef& dest,
                                       void (ManagedObject::*undo)(int, const ManagedObjectRef&)) {
  if (!slots().ctx || !slots().ctx->undoEnabled()) return;
  std::weak_ptr<ManagedObject> weak = std::static_pointer_cast<ManagedObject>(shared_from_this());
  std::weak_ptr<ManagedObject> weakDest = dest;
  slots().ctx->registerUndo([weak, weakDest, rel, undo] {
    auto o = weak.lock();
    auto d = weakDest.lock();
    if (o && d) (o.get()->*undo)(rel, d);
  });
}

void ManagedObject::removeFromMany(int rel, const ManagedObjectRef& dest) {
  if (!dest || !hasRelationship(rel, true)) return;
  ObjectAccess::loadMany(*this, rel);
  if (!isMember(slots().rels[rel], dest.get())) return;
  int inv = entity_->inverseIndex(rel);
  if (inv >= 0 && !entity_->destination(rel)->relationships()[inv].toMany) {
    dest->setToOne(inv, nullptr);
    return;
  }
  registerToManyUndo(rel, dest, &ManagedObject::addToMany);
  ObjectAccess::rawRemoveMany(*this, rel, dest.get());
  if (inv >= 0) ObjectAccess::rawRemoveMany(*dest, inv, this);
}

void ManagedObject::setToMany(int rel, const std::vector<ManagedObjectRef>& dests) {
  if (!hasRelationship(rel, true)) return;
  auto current = toMany(rel);
  for (auto& c : current)
    if (std::find(dests.begin(), dests.end(), c) == dests.end()) removeFromMany(rel, c);
  for (auto& d : dests) addToMany(rel, d);
}

ManagedObjectRef ManagedObject::toOne(std::string_view name) const {
  return entity_ ? toOne(entity_->relationshipIndex(name)) : nullptr;
}
void ManagedObject::setToOne(std::string_view name, const ManagedObjectRef& d) {
  if (entity_) setToOne(entity_->relationshipIndex(name), d);
}
std::vector<ManagedObjectRef> ManagedObject::toMany(std::string_view name) const {
  return entity_ ? toMany(entity_->relationshipIndex(name)) : std::vector<ManagedObjectRef>{};
}
void ManagedObject::addToMany(std::string_view name, const ManagedObjectRef& d) {
  if (entity_) addToMany(entity_->relationshipIndex(name), d);
}
void ManagedObject::removeFromMany(std::string_view name, const ManagedObjectRef& d) {
  if (entity_) removeFromMany(entity_->relationshipIndex(name), d);
}

fnd::Dictionary ManagedObject::changedValues() const {
  fnd::Dictionary d;
  if (!entity_) return d;
  bool all = state_ == State::Inserted;
  for (std::size_t i = 0; i < entity_->attributes().size(); ++i)
    if (all || slots().originalValue(static_cast<int>(i))) d[entity_->attributes()[i].name] = value(static_cast<int>(i));
  for (std::size_t i = 0; i < slots().rels.size(); ++i)
    if (slots().rels[i].changed) d[entity_->relationships()[i].name] = valueForKey(entity_->relationships()[i].name);
  return d;
}

fnd::Dictionary ManagedObject::committedValues() const {
  fnd::Dictionary d;
  if (!entity_ || state_ == State::Inserted) return d;
  for (std::size_t i = 0; i < entity_->attributes().size(); ++i) {
    const fnd::Value* committed = slots().originalValue(static_cast<int>(i));
    d[entity_->attributes()[i].name] = committed ? *committed : value(static_cast<int>(i));
  }
  return d;
}

std::string ManagedObject::description() const {
  const ObjectIDRef& id = madeID();
  return "<" + (entity_ ? entity_->name() : std::string("?")) + " " + (id ? id->uriRepresentation() : "detached") + ">";
}

// ---------------------------------------------------------------------------------------------

namespace {

// The rest of filling an object from a snapshot: to-many sets unloaded, each to-one an unresolved
// ID from the snapshot (moved out of a snapshot that is given up, so loading a row costs no
// reference-count traffic per link).
template <class S>
void applyRelationships(ManagedObject& o, S& s) {
  auto& sl = ObjectAccess::slots(o);
  for (std::size_t i = 0; i < sl.rels.size(); ++i) {
    auto& r = sl.rels[i];
    if (o.entity()->relationships()[i].toMany) {
      r.manyLoaded = false;
      r.clearMany();
    } else {
      if (i >= s.toOne.size())
        r.setOneID(nullptr);
      else if constexpr (std::is_const_v<S>)
        r.setOneID(s.toOne[i]);
      else
        r.setOneID(std::move(s.toOne[i]));
    }
  }
  sl.opt = s.opt;
  ObjectAccess::loaded(o) = true;
}

}  // namespace

void ObjectAccess::apply(ManagedObject& o, const Snapshot& s) {
  o.slots().values = s.values;
  applyRelationships(o, s);
}

void ObjectAccess::apply(ManagedObject& o, Snapshot&& s) {
  o.slots().values = std::move(s.values);
  applyRelationships(o, s);
}

Snapshot ObjectAccess::snapshot(ManagedObject& o) {
  Snapshot s;
  auto& sl = o.slots();
  s.id = ObjectAccess::id(o);
  s.opt = sl.opt;
  s.values = sl.values;
  s.hasValues = true;
  s.toOne.resize(sl.rels.size());
  for (std::size_t i = 0; i < sl.rels.size(); ++i) {
    if (o.entity_->relationships()[i].toMany) continue;
    const auto& r = sl.rels[i];
    s.toOne[i] = r.resolved ? (r.link ? r.one()->objectID() : nullptr) : r.oneID();
  }
  return s;
}

void ObjectAccess::clearChanges(ManagedObject& o) {
  auto& sl = o.slots();
  sl.changes.reset();
  sl.dirty = false;
  for (auto& r : sl.rels) r.changed = false;
}

void ObjectAccess::breakCycles(ManagedObject& o) {
  auto& rels = o.slots().rels;
  for (std::size_t i = 0; i < rels.size(); ++i) {
    auto& r = rels[i];
    if (!o.entity_->relationships()[i].toMany) {
      if (r.resolved) r.setOneID(r.link ? r.one()->objectID() : nullptr);
    } else {
      r.clearMany();
      r.manyLoaded = false;
    }
  }
}

}  // namespace kesto::store
