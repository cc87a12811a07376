#include "Platform/Store/Context.h"

#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/UndoManager.h"
#include "Platform/Store/Coordinator.h"
#include "Platform/Store/Model.h"
#include "Platform/Store/StoreInternal.h"

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <limits>
#include <map>
#include <mutex>

namespace kesto::store {

namespace {

fnd::Error contextError(long code, const std::string& text) {
  return fnd::Error::withDescription(fnd::kCocoaErrorDomain, code, text);
}

struct GlobalObservers {
  // By token: the context observed (none in `all`) and the observer.
  using Map = std::map<int, std::pair<Context*, SaveObserver>>;
  std::mutex mutex;
  Map all;  // every context's saves
  Map byContext;
  Map merges;  // other contexts' saves merged in
  int next = 1;

  int add(Map& map, Context* context, SaveObserver observer) {
    std::lock_guard lock(mutex);
    int token = next++;
    map[token] = {context, std::move(observer)};
    return token;
  }
};

GlobalObservers& observers() {
  static GlobalObservers g;
  return g;
}

using State = ObjectAccess::State;

}  // namespace

// ---------------------------------------------------------------------------------------------
// Registry

Context::Impl* Context::Impl::root() {
  Impl* c = this;
  while (c->parent) c = c->parent->impl_.get();
  return c;
}

Coordinator::Impl* Context::Impl::store() {
  Impl* r = root();
  return r->coordinator ? &ImplAccess::of(*r->coordinator) : nullptr;
}

ManagedObjectRef Context::Impl::lookup(const ObjectIDRef& id) {
  if (!id || !id->entity()) return nullptr;
  if (id->temporaryNumber()) {
    auto it = byTemporary.find(id->temporaryNumber());
    if (it != byTemporary.end()) return it->second;
  }
  return lookup(id->entity(), id->primaryKey());
}

ManagedObjectRef Context::Impl::lookup(const EntityDescription* entity, std::int64_t pk) {
  if (!entity || !pk) return nullptr;
  int n = entity->entityNumber();
  if (n < static_cast<int>(byKey.size())) {
    auto it = byKey[n].find(pk);
    if (it != byKey[n].end()) return it->second;
  }
  if (!byTemporary.empty() && seenResolutions != idResolutions.load()) {
    // Temporary IDs resolved by a save elsewhere in the chain move to the key map.
    seenResolutions = idResolutions.load();
    for (auto it = byTemporary.begin(); it != byTemporary.end();) {
      const ObjectIDRef& tid = ObjectAccess::id(*it->second);
      if (std::int64_t k = tid->primaryKey()) {
        int en = tid->entity()->entityNumber();
        if (en >= static_cast<int>(byKey.size())) byKey.resize(en + 1);
        byKey[en][k] = it->second;
        it = byTemporary.erase(it);
      } else {
        ++it;
      }
    }
    if (n < static_cast<int>(byKey.size())) {
      auto it = byKey[n].find(pk);
      if (it != byKey[n].end()) return it->second;
    }
  }
  return nullptr;
}

void Context::Impl::registerObject(const ManagedObjectRef& o) {
  auto& slots = ObjectAccess::slots(*o);
  slots.ctx = this;
  if (std::int64_t pk = ObjectAccess::key(*o)) {
    int n = o->entity()->entityNumber();
    if (n >= static_cast<int>(byKey.size())) byKey.resize(n + 1);
    byKey[n][pk] = o;
  } else {
    byTemporary[ObjectAccess::temporaryNumber(*o)] = o;
  }
}

void Context::Impl::unregisterObject(ManagedObject* o) {
  inserted.erase(o);
  updated.erase(o);
  deleted.erase(o);
  auto& slots = ObjectAccess::slots(*o);
  slots.ctx = nullptr;
  ManagedObjectRef keep;  // the maps may hold the last reference
  if (std::uint64_t temporary = ObjectAccess::temporaryNumber(*o)) {
    auto it = byTemporary.find(temporary);
    if (it != byTemporary.end() && it->second.get() == o) keep = std::move(it->second), byTemporary.erase(it);
  }
  int n = o->entity()->entityNumber();
  if (std::int64_t pk = ObjectAccess::key(*o); pk && n < static_cast<int>(byKey.size())) {
    auto it = byKey[n].find(pk);
    if (it != byKey[n].end() && it->second.get() == o) keep = std::move(it->second), byKey[n].erase(it);
  }
  if (keep) ObjectAccess::breakCycles(*keep);
}

void Context::Impl::logChanges(const SaveNotification& n) {
  ++changeStamp;
  // Bounded: past it the log starts again, and reads begun before fetch afresh.
  constexpr std::size_t kMostLogged = 1 << 16;
  if (changeLog.size() + n.insertedIDs.size() + n.updatedIDs.size() + n.deletedIDs.size() > kMostLogged) {
    changeLog.clear();
    changeLogFloor = changeStamp;
    return;
  }
  for (const auto* ids : {&n.insertedIDs, &n.updatedIDs})
    for (const auto& id : *ids) changeLog.push_back({changeStamp, id, false});
  for (const auto& id : n.deletedIDs) changeLog.push_back({changeStamp, id, true});
}

ManagedObjectRef Context::Impl::materialize(const EntityDescription* entity, Snapshot&& s) {
  if (auto o = s.id ? lookup(s.id) : lookup(entity, s.pk)) {
    bool stale = !ObjectAccess::loaded(*o) || (!o->hasChanges() && ObjectAccess::slots(*o).opt != s.opt);
    if (stale && s.hasValues) {
      ObjectAccess::apply(*o, std::move(s));
      o->awakeFromFetch();
    }
    return o;
  }
  Coordinator::Impl* st = store();
  if (!s.hasValues) return objectFor(s.id ? s.id : st ? st->idFor(entity, s.pk) : nullptr);
  auto o = ObjectAccess::makeForRow(entity);
  if (s.id) ObjectAccess::setID(*o, s.id);
  else if (st) ObjectAccess::setRow(*o, st->storeNumber, s.pk);
  else return nullptr;
  ObjectAccess::state(*o) = State::Clean;
  registerObject(o);
  ObjectAccess::apply(*o, std::move(s));
  o->awakeFromFetch();
  return o;
}

ManagedObjectRef Context::Impl::objectFor(const ObjectIDRef& id) {
  if (!id || !id->entity()) return nullptr;
  if (auto o = lookup(id)) return o;
  if (Coordinator::Impl* st = store(); st && !id->isTemporaryID() && id->storeIdentifier() != st->storeIdentifier)
    return nullptr;
  auto o = ManagedObject::make(id->entity());
  ObjectAccess::setID(*o, id);
  ObjectAccess::state(*o) = State::Clean;
  ObjectAccess::loaded(*o) = false;
  registerObject(o);
  return o;
}

// ---------------------------------------------------------------------------------------------
// Loading through the chain

bool Context::Impl::fireFault(ManagedObject& o) {
  Snapshot s;
  bool found = false;
  ObjectIDRef id = ObjectAccess::id(o);
  if (!parent) {
    if (!id->isTemporaryID() && batchFaults(o.entity()) && ObjectAccess::loaded(o)) return true;
    ObjectAccess::loaded(o) = true;  // no recursion while loading
    if (Coordinator::Impl* st = store(); st && !id->isTemporaryID()) found = st->loadRow(id, s);
  } else {
    ObjectAccess::loaded(o) = true;
    parent->performAndWait([&] {
      Impl& p = *parent->impl_;
      auto po = p.objectFor(id);
      if (!po || po->isDeleted()) return;
      if (!ObjectAccess::loaded(*po) && !p.fireFault(*po)) return;
      s = ObjectAccess::snapshot(*po);
      found = true;
    });
  }
  if (!found) {
    fnd::logWarning("Store: the row of " + id->uriRepresentation() + " no longer exists");
    return false;
  }
  ObjectAccess::apply(o, s);
  o.awakeFromFetch();
  return true;
}

fnd::Value Context::Impl::loadLazy(ManagedObject& o, int attribute) {
  ObjectIDRef id = ObjectAccess::id(o);
  if (!parent) {
    Coordinator::Impl* st = store();
    return st ? st->loadLazy(*id, attribute) : fnd::Value();
  }
  fnd::Value v;
  parent->performAndWait([&] {
    if (auto po = parent->impl_->objectFor(id)) v = po->value(attribute);
  });
  return v;
}

void Context::Impl::keepLazy(ManagedObject& o, int attribute) {
  const std::int64_t pk = ObjectAccess::key(o);
  if (parent || !pk) return;
  keptLazy.push_back({&o, o.entity()->entityNumber(), pk, attribute});
  while (keptLazy.size() > kKeptLazyValues) {
    const KeptLazy oldest = keptLazy.front();
    keptLazy.pop_front();
    // Only an object still registered here, only a value as stored, and never the one read now.
    if (oldest.entity >= static_cast<int>(byKey.size()) || (oldest.object == &o && oldest.attribute == attribute))
      continue;
    auto it = byKey[oldest.entity].find(oldest.pk);
    if (it == byKey[oldest.entity].end() || it->second.get() != oldest.object || it->second->hasChanges()) continue;
    auto& object = *it->second;
    auto& slots = ObjectAccess::slots(object);
    const int a = oldest.attribute;
    if (a >= static_cast<int>(object.entity()->attributes().size()) || slots.values.isPending(a) || slots.originalValue(a))
      continue;
    slots.values.unload(*object.entity(), a);
  }
}

std::vector<ObjectIDRef> Context::Impl::loadToMany(ManagedObject& o, int rel) {
  std::vector<ObjectIDRef> out;
  ObjectIDRef id = ObjectAccess::id(o);
  if (!parent) {
    if (id->isTemporaryID()) return out;
    if (batchToMany(o.entity(), rel)) {
      // The batch filled every registered object's set, this one's included.
      for (auto& d : ObjectAccess::slots(o).rels[rel].many()) out.push_back(d->objectID());
      return out;
    }
    if (Coordinator::Impl* st = store()) st->loadToMany(o.entity(), rel, id->primaryKey(), out);
    return out;
  }
  parent->performAndWait([&] {
    if (auto po = parent->impl_->objectFor(id))
      for (auto& d : po->toMany(rel)) out.push_back(d->objectID());
  });
  return out;
}

namespace {
constexpr int kSingleLoadsBeforeBatch = 32;

// A batch reads the whole table: worth it only when a good share of the registered objects
// waits for it. A few objects refreshed after a merge are read one by one instead.
bool worthABatch(std::size_t waiting, std::size_t registered) { return waiting * 16 >= registered; }

// Whether enough single loads have come to look for a batch. Looking walks every registered
// object, so each look that finds no batch worth it doubles the loads before the next (up to a
// sixteenth of the registered objects): a walk over many objects, few of them waiting, then
// costs a constant per load rather than a walk of the registry every few loads.
bool timeToLookForBatch(Context::Impl::SingleLoads& loads, std::size_t registered) {
  if (++loads.count <= loads.before) return false;
  loads.count = 0;
  const std::size_t most = std::max<std::size_t>(kSingleLoadsBeforeBatch, registered / 16);
  loads.before = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(loads.before) * 2, most));
  return true;
}
}  // namespace

bool Context::Impl::batchFaults(const EntityDescription* entity) {
  Coordinator::Impl* st = store();
  int en = entity->entityNumber();
  if (!st || en >= static_cast<int>(byKey.size())) return false;
  auto& keyed = byKey[en];
  SingleLoads& singles = singleLoads[{en, -1}];
  if (!timeToLookForBatch(singles, keyed.size())) return false;
  const auto waiting = static_cast<std::size_t>(
      std::count_if(keyed.begin(), keyed.end(), [](const auto& e) { return !ObjectAccess::loaded(*e.second); }));
  if (!worthABatch(waiting, keyed.size())) return false;
  singles = {};
  Coordinator::Impl::RowFilter wanted = [&keyed](std::int64_t pk, std::int64_t) {
    auto it = keyed.find(pk);
    return it != keyed.end() && !ObjectAccess::loaded(*it->second);
  };
  // Only the span of keys that holds unloaded objects is read: rows added lately (an import, a
  // sync) sit together at the end, and the rest of a large table need not be walked for them.
  std::int64_t low = std::numeric_limits<std::int64_t>::max(), high = std::numeric_limits<std::int64_t>::min();
  for (const auto& [pk, o] : keyed)
    if (!ObjectAccess::loaded(*o)) low = std::min(low, pk), high = std::max(high, pk);
  if (low > high) return false;
  std::vector<Snapshot> rows;
  if (!st->loadRows(entity, "Z_PK BETWEEN ? AND ?", {fnd::Value(low), fnd::Value(high)}, false, rows, nullptr, &wanted))
    return false;
  for (auto& row : rows) {
    if (row.held) continue;
    auto it = keyed.find(row.pk);
    if (it == keyed.end()) continue;
    ManagedObjectRef obj = it->second;
    ObjectAccess::apply(*obj, std::move(row));
    obj->awakeFromFetch();
  }
  return true;
}

bool Context::Impl::batchToMany(const EntityDescription* entity, int rel) {
  Coordinator::Impl* st = store();
  int en = entity->entityNumber();
  if (!st || en >= static_cast<int>(byKey.size())) return false;
  SingleLoads& singles = singleLoads[{en, rel}];
  if (!timeToLookForBatch(singles, byKey[en].size())) return false;
  const auto waiting = static_cast<std::size_t>(std::count_if(byKey[en].begin(), byKey[en].end(), [rel](const auto& e) {
    return !ObjectAccess::slots(*e.second).rels[rel].manyLoaded && !e.second->isInserted();
  }));
  if (!worthABatch(waiting, byKey[en].size())) return false;
  singles = {};
  std::unordered_map<std::int64_t, std::vector<ObjectIDRef>> sets;
  if (!st->loadAllToMany(entity, rel, sets)) return false;
  static const std::vector<ObjectIDRef> none;
  for (auto& [pk, obj] : byKey[en]) {
    auto& r = ObjectAccess::slots(*obj).rels[rel];
    if (r.manyLoaded || obj->isInserted()) continue;
    auto it = sets.find(pk);
    const auto& members = it == sets.end() ? none : it->second;
    std::vector<ManagedObjectRef> loaded;
    loaded.reserve(members.size());
    for (auto& id : members)
      if (auto d = objectFor(id)) loaded.push_back(d);
    r.setMany(std::move(loaded));
    r.manyLoaded = true;
  }
  return true;
}

void Context::Impl::loadToManyOf(const std::vector<ManagedObjectRef>& objects, int rel) {
  // Grouped by entity: one read per entity's table.
  std::unordered_map<const EntityDescription*, std::vector<ManagedObject*>> waiting;
  for (const auto& o : objects) {
    if (!o || ObjectAccess::slots(*o).ctx != this || o->isInserted() || o->isDeleted()) continue;
    const auto& rels = o->entity()->relationships();
    if (rel < 0 || rel >= static_cast<int>(rels.size()) || !rels[rel].toMany) continue;
    if (ObjectAccess::slots(*o).rels[rel].manyLoaded) continue;
    if (!ObjectAccess::key(*o)) continue;  // not saved yet: no stored set
    waiting[o->entity()].push_back(o.get());
  }
  for (auto& [entity, group] : waiting) {
    Coordinator::Impl* st = parent ? nullptr : store();
    std::unordered_map<std::int64_t, std::vector<ObjectIDRef>> sets;
    if (st) {
      std::vector<std::int64_t> pks;
      pks.reserve(group.size());
      for (ManagedObject* o : group) pks.push_back(ObjectAccess::key(*o));
      if (!st->loadToManyOf(entity, rel, pks, sets)) continue;
    }
    for (ManagedObject* o : group) {
      auto& r = ObjectAccess::slots(*o).rels[rel];
      if (r.manyLoaded) continue;
      // A child context reads each set from its parent's objects, which costs no store read.
      if (!st) {
        ObjectAccess::loadMany(*o, rel);
        continue;
      }
      std::vector<ManagedObjectRef> members;
      if (auto it = sets.find(ObjectAccess::key(*o)); it != sets.end()) {
        members.reserve(it->second.size());
        for (const auto& id : it->second)
          if (auto d = objectFor(id)) members.push_back(d);
      }
      r.setMany(std::move(members));
      r.manyLoaded = true;
    }
  }
}

void Context::Impl::clearPendingChanges() {
  inserted.clear();
  insertedList.clear();
  updated.clear();
  deleted.clear();
  deletedList.clear();
}

void Context::Impl::noteChanged(ManagedObject& o) {
  if (o.isInserted() || o.isDeleted()) return;
  ObjectAccess::slots(o).dirty = true;
  updated.insert(&o);
}

bool Context::Impl::undoEnabled() const {
  return undoManager && undoSuspended == 0 && undoManager->isUndoRegistrationEnabled();
}

void Context::Impl::registerUndo(std::function<void()> action) {
  if (undoEnabled()) undoManager->registerUndoWithTarget(self, std::move(action));
}

// ---------------------------------------------------------------------------------------------
// Fetching

namespace {

bool entityMatches(const ManagedObject* o, const EntityDescription* e) { return o->entity() == e; }

// Room in a registry for `more` objects, asked for only when it is short: a reserve of a large
// registry rehashes it whenever the size it names gives another bucket count, which a fetch of a
// few rows would otherwise pay for the whole library.
void makeRoom(std::unordered_map<std::int64_t, ManagedObjectRef>& registry, std::size_t more) {
  const double room = static_cast<double>(registry.bucket_count()) * registry.max_load_factor();
  if (static_cast<double>(registry.size() + more) > room) registry.reserve(registry.size() + more);
}

// Reads of at least this many rows give back the memory their row buffers held.
constexpr std::size_t kLargeRead = 10000;

// The objects a fetch answers, gathered from rows, a parent's snapshots and pending changes.
// Rows are unique; only changed objects can turn up twice (as a row and as a pending change).
struct FetchResult {
  explicit FetchResult(const Predicate* p) : predicate(p) {}
  void accept(const ManagedObjectRef& o) {
    if (o->hasChanges() && !seen.insert(o.get()).second) return;
    objects.push_back(o);
  }
  bool matches(const ManagedObjectRef& o) const {
    return !predicate || predicate->evaluate(fnd::Value(std::static_pointer_cast<fnd::Object>(o)));
  }
  const Predicate* predicate;
  std::vector<ManagedObjectRef> objects;
  std::unordered_set<ManagedObject*> seen;  // changed objects accepted or refused already
};

// Whether the context holds unsaved changes of rows that the predicate's SQL would read besides
// the entity's own (the members of a relationship it tests), which that SQL cannot see.
bool relatedChangesPending(const Context::Impl& c, const Predicate* pred, const EntityDescription& entity) {
  if (!pred || (c.inserted.empty() && c.updated.empty() && c.deleted.empty())) return false;
  std::vector<const EntityDescription*> reached;
  entitiesReachedBySql(*pred, entity, reached);
  for (const EntityDescription* d : reached)
    for (const auto* changes : {&c.inserted, &c.updated, &c.deleted})
      for (const ManagedObject* o : *changes)
        if (o->entity() == d) return true;
  return false;
}

// A predicate as SQL: whole, or of an AND the parts SQL can take (to narrow the rows) with the
// rest left to evaluate here.
struct SqlFilter {
  std::string where;
  std::vector<fnd::Value> binds;
  bool compiled = false;
  PredicateRef residual;
};

SqlFilter sqlFilterFor(Context::Impl& c, const Predicate* pred, const EntityDescription& entity) {
  SqlFilter f;
  // Unsaved changes of the rows the SQL would read beside the entity's own: evaluated here.
  if (relatedChangesPending(c, pred, entity)) return f;
  const Coordinator::Impl* st = c.store();
  const std::string* store = st ? &st->storeIdentifier : nullptr;
  f.compiled = !pred || compilePredicate(*pred, entity, f.where, f.binds, store);
  if (f.compiled) return f;
  f.where.clear(), f.binds.clear();
  if (pred->kind() != Predicate::Kind::And) return f;
  std::vector<PredicateRef> rest;
  for (const auto& part : pred->subpredicates()) {
    std::string w;
    std::vector<fnd::Value> b;
    if (part && compilePredicate(*part, entity, w, b, store)) {
      f.where += (f.where.empty() ? "" : " AND ") + w;
      f.binds.insert(f.binds.end(), b.begin(), b.end());
    } else {
      rest.push_back(part);
    }
  }
  if (!f.where.empty()) f.residual = Predicate::andPredicate(std::move(rest));
  return f;
}

// A root context's fetch from the store's rows. Sets `decided` when SQL sorted and windowed the
// result alone, which is then complete.
bool fetchRows(Context::Impl& c, Coordinator::Impl& st, const EntityDescription* entity, const FetchRequest& request,
               bool applyWindow, FetchResult& out, bool& decided, fnd::Error* error) {
  const SqlFilter filter = sqlFilterFor(c, request.predicate.get(), *entity);
  const bool compiled = filter.compiled;
  bool faults = !request.includesPropertyValues && compiled && request.sortDescriptors.empty();
  // A limited fetch that SQL decides alone (nothing pending here could change the answer) is
  // sorted and cut by SQL, so only the rows shown are read and made into objects. Without a
  // limit every row is read anyway, and reading in key order then sorting here is faster than
  // an ordered walk of an index.
  std::string orderAndWindow;
  decided = compiled && !faults && applyWindow && request.fetchLimit > 0 && c.inserted.empty() && c.updated.empty() &&
            c.deleted.empty() && compileSortOrder(request.sortDescriptors, *entity, orderAndWindow);
  if (decided)
    orderAndWindow += " LIMIT " + std::to_string(request.fetchLimit) + " OFFSET " +
                      std::to_string(std::max<long>(request.fetchOffset, 0));
  std::vector<Snapshot> rows;
  // Rows whose objects are loaded here at the same version need no values read.
  auto& keyed = c.byKey;
  int en = entity->entityNumber();
  Coordinator::Impl::RowFilter wanted = [&keyed, en](std::int64_t pk, std::int64_t opt) {
    if (en >= static_cast<int>(keyed.size())) return true;
    auto it = keyed[en].find(pk);
    if (it == keyed[en].end()) return true;
    ManagedObject& o = *it->second;
    return !ObjectAccess::loaded(o) || (!o.hasChanges() && ObjectAccess::slots(o).opt != opt);
  };
  if (!st.loadRows(entity, filter.where, filter.binds, faults, rows, error, &wanted, decided ? &orderAndWindow : nullptr))
    return false;
  out.objects.reserve(rows.size());
  if (en >= static_cast<int>(keyed.size())) keyed.resize(en + 1);
  const auto unheld =
      static_cast<std::size_t>(std::count_if(rows.begin(), rows.end(), [](const Snapshot& r) { return !r.held; }));
  makeRoom(keyed[en], unheld);
  for (auto& row : rows) {
    ManagedObjectRef o = row.held ? keyed[en][row.pk] : c.materialize(entity, std::move(row));
    if (!o || o->isDeleted()) continue;
    if (o->hasChanges() || !compiled) {
      if (!request.includesPendingChanges && o->hasChanges() && compiled) {
        // Without pending changes the stored row decides.
        out.accept(o);
        continue;
      }
      bool ok = filter.residual && !o->hasChanges()
                    ? filter.residual->evaluate(fnd::Value(std::static_pointer_cast<fnd::Object>(o)))
                    : out.matches(o);
      if (!ok) {
        if (o->hasChanges()) out.seen.insert(o.get());
        continue;
      }
    }
    out.accept(o);
  }
  if (rows.size() >= kLargeRead) {
    // The rows of a large read go at once, from among the objects made of them: their pages
    // go back to the system rather than stay resident.
    rows = {};
    malloc_trim(0);
  }
  return true;
}

// A child's fetch: the parent's matching objects as snapshots, this context's changes first.
bool fetchThroughParent(Context::Impl& c, const EntityDescription* entity, const FetchRequest& request,
                        FetchResult& out, fnd::Error* error) {
  std::vector<Snapshot> snaps;
  bool ok = true;
  PredicateRef p = request.predicate;
  c.parent->performAndWait([&] { ok = ImplAccess::of(*c.parent).matchingSnapshots(entity, p, snaps, error); });
  if (!ok) return false;
  out.objects.reserve(snaps.size());
  for (auto& s : snaps) {
    ManagedObjectRef existing = c.lookup(s.id);
    if (existing && existing->isDeleted()) continue;
    if (existing && existing->hasChanges()) {
      if (!out.matches(existing)) {
        out.seen.insert(existing.get());
        continue;
      }
      out.accept(existing);
      continue;
    }
    out.accept(c.materialize(entity, std::move(s)));
  }
  return true;
}

// Objects changed or inserted here may match now though their stored rows do not.
void addPendingMatches(Context::Impl& c, const EntityDescription* entity, FetchResult& out) {
  for (ManagedObject* raw : c.updated) {
    if (!entityMatches(raw, entity) || out.seen.count(raw)) continue;
    auto o = std::static_pointer_cast<ManagedObject>(raw->shared_from_this());
    if (out.matches(o)) out.accept(o);
  }
  for (ManagedObject* raw : c.insertedList) {
    if (!c.inserted.count(raw) || !entityMatches(raw, entity) || out.seen.count(raw)) continue;
    auto o = std::static_pointer_cast<ManagedObject>(raw->shared_from_this());
    if (out.matches(o)) out.accept(o);
  }
}

// The order a fetch gives: stored rows by key, then the pending ones (the first `stored` are
// stored rows), sorted stably by the descriptors. `sorted`: the objects not `moved` are in that
// order already (a read sorted as the request asks), so only the moved ones are sorted and each
// put in its place; otherwise everything is sorted. Keys are compared as the integers rows hold,
// without making any object's ID.
void putInFetchOrder(std::vector<ManagedObjectRef>& objects, const std::vector<char>& moved, std::size_t stored,
                     bool sorted, const std::vector<SortDescriptor>& sorts) {
  auto byKey = [](const ManagedObjectRef& a, const ManagedObjectRef& b) {
    return ObjectAccess::key(*a) < ObjectAccess::key(*b);
  };
  if (!sorted) {
    std::stable_sort(objects.begin(), objects.begin() + static_cast<long>(stored), byKey);
    sortObjects(objects, sorts);
    return;
  }
  if (std::find(moved.begin(), moved.end(), 1) == moved.end()) return;
  std::vector<ManagedObjectRef> run, movers;
  run.reserve(objects.size());
  for (std::size_t i = 0; i < objects.size(); ++i) (moved[i] ? movers : run).push_back(std::move(objects[i]));
  const auto storedMovers = static_cast<long>(std::count(moved.begin(), moved.begin() + static_cast<long>(stored), 1));
  std::stable_sort(movers.begin(), movers.begin() + storedMovers, byKey);
  sortObjects(movers, sorts);
  // A mover goes after every row of the run that sorts before it or equal with a lower key (a
  // pending one, without a key, after all equal ones).
  auto runBefore = [&](const ManagedObjectRef& r, const ManagedObjectRef& m) {
    const fnd::Value rv(std::static_pointer_cast<fnd::Object>(r)), mv(std::static_pointer_cast<fnd::Object>(m));
    for (const auto& d : sorts)
      if (int c = d.compareObjects(rv, mv)) return c < 0;
    const std::int64_t mk = ObjectAccess::key(*m);
    return mk == 0 || ObjectAccess::key(*r) < mk;
  };
  objects.clear();
  objects.reserve(run.size() + movers.size());
  std::size_t from = 0;
  for (auto& m : movers) {
    const auto at = std::partition_point(run.begin() + static_cast<long>(from), run.end(),
                                         [&](const ManagedObjectRef& r) { return runBefore(r, m); });
    const auto to = static_cast<std::size_t>(at - run.begin());
    for (; from < to; ++from) objects.push_back(std::move(run[from]));
    objects.push_back(std::move(m));
  }
  for (; from < run.size(); ++from) objects.push_back(std::move(run[from]));
}

void applyFetchWindow(std::vector<ManagedObjectRef>& result, const FetchRequest& request) {
  if (request.fetchOffset > 0) {
    std::size_t off = std::min<std::size_t>(static_cast<std::size_t>(request.fetchOffset), result.size());
    result.erase(result.begin(), result.begin() + static_cast<long>(off));
  }
  if (request.fetchLimit > 0 && result.size() > static_cast<std::size_t>(request.fetchLimit))
    result.resize(static_cast<std::size_t>(request.fetchLimit));
}

}  // namespace

std::optional<std::vector<ManagedObjectRef>> Context::Impl::fetchObjects(const FetchRequest& request, bool applyWindow,
                                                                         fnd::Error* error) {
  Coordinator::Impl* st = store();
  if (!st || !st->db) {
    if (error) *error = contextError(kPersistentStoreOperationError, "The context has no store to fetch from");
    return std::nullopt;
  }
  const EntityDescription* entity = st->model->entity(request.entityName);
  if (!entity) {
    if (error) *error = contextError(kCoreDataError, "Unknown entity \"" + request.entityName + "\"");
    return std::nullopt;
  }
  FetchResult out(request.predicate.get());
  if (!parent) {
    bool decided = false;
    if (!fetchRows(*this, *st, entity, request, applyWindow, out, decided, error)) return std::nullopt;
    if (decided) return std::move(out.objects);
  } else if (!fetchThroughParent(*this, entity, request, out, error)) {
    return std::nullopt;
  }
  if (request.includesPendingChanges) addPendingMatches(*this, entity, out);
  sortObjects(out.objects, request.sortDescriptors);
  if (applyWindow) applyFetchWindow(out.objects, request);
  return std::move(out.objects);
}

std::size_t Context::Impl::registerReadRows(const std::vector<ManagedObjectRef>& rows, std::size_t from,
                                           std::size_t most, std::uint64_t readSince) {
  // Only rows nothing here knows of: a row changed since the read, or one whose object is held
  // already, is left to adoptRows, which decides between them.
  std::unordered_set<std::int64_t> since;
  for (auto it = changeLog.rbegin(); it != changeLog.rend() && it->stamp > readSince; ++it)
    if (it->id) since.insert(it->id->primaryKey());
  const std::size_t end = std::min(rows.size(), from + most);
  for (std::size_t i = from; i < end; ++i) {
    const ManagedObjectRef& row = rows[i];
    const std::int64_t pk = ObjectAccess::key(*row);
    if (since.count(pk) || lookup(row->entity(), pk)) continue;
    if (i == from) {
      const int en = row->entity()->entityNumber();
      if (en >= static_cast<int>(byKey.size())) byKey.resize(en + 1);
      makeRoom(byKey[en], rows.size() - from);
    }
    registerObject(row);
    row->awakeFromFetch();
  }
  return end;
}

std::optional<std::vector<ManagedObjectRef>> Context::Impl::adoptRows(const FetchRequest& request,
                                                                      std::vector<ManagedObjectRef>&& rows, bool sorted,
                                                                      std::uint64_t readSince, fnd::Error* error) {
  Coordinator::Impl* st = store();
  const EntityDescription* entity = st && st->db ? st->model->entity(request.entityName) : nullptr;
  if (!entity || parent || readSince < changeLogFloor) {
    if (error) *error = contextError(kPersistentStoreOperationError, "The context cannot take these rows");
    return std::nullopt;
  }
  // Rows written or taken in since the read began: the read may have missed them or seen them
  // before the change, so they are answered from here. Keys are never reused: a deleted one
  // stays deleted.
  std::unordered_map<std::int64_t, bool> since;  // key -> settled (deleted, or answered below)
  for (auto it = changeLog.rbegin(); it != changeLog.rend() && it->stamp > readSince; ++it)
    if (it->id && it->id->entity() == entity && it->id->primaryKey()) {
      auto [at, added] = since.try_emplace(it->id->primaryKey(), it->deleted);
      if (!added) at->second = at->second || it->deleted;
    }
  // As fetchRows with materialize: an object held here keeps its changes and, when loaded at the
  // row's version or a later one, its values; anything else takes the row read.
  FetchResult out(request.predicate.get());
  out.objects.reserve(rows.size());
  const int en = entity->entityNumber();
  if (en >= static_cast<int>(byKey.size())) byKey.resize(en + 1);
  makeRoom(byKey[en], rows.size());
  // Which of the answer's objects may stand out of the read's order (changed since, or held here
  // with other values): only those are put in their places afterwards.
  std::vector<char> moved;
  moved.reserve(rows.size());
  auto accept = [&](const ManagedObjectRef& o, bool moves) {
    const std::size_t before = out.objects.size();
    out.accept(o);
    if (out.objects.size() != before) moved.push_back(moves);
  };
  auto takeChanged = [&](const ManagedObjectRef& o) {
    if (!o || o->isDeleted() || out.seen.count(o.get())) return;
    if (out.matches(o)) accept(o, true);
    else if (o->hasChanges()) out.seen.insert(o.get());
  };
  for (auto& row : rows) {
    const std::int64_t pk = ObjectAccess::key(*row);
    if (auto changed = since.find(pk); changed != since.end()) {
      if (!changed->second) takeChanged(objectFor(ObjectAccess::id(*row)));
      changed->second = true;  // answered
      continue;
    }
    ManagedObjectRef held = lookup(entity, pk);
    if (!held) {
      registerObject(row);
      row->awakeFromFetch();
      accept(row, false);
      continue;
    }
    if (held->isDeleted()) continue;
    if (!held->hasChanges()) {
      bool newer = false;
      if (!ObjectAccess::loaded(*held) || ObjectAccess::slots(*held).opt < ObjectAccess::slots(*row).opt) {
        ObjectAccess::apply(*held, ObjectAccess::snapshot(*row));
        held->awakeFromFetch();
      } else {
        newer = ObjectAccess::slots(*held).opt != ObjectAccess::slots(*row).opt;
      }
      accept(held, newer);
      continue;
    }
    if (!request.includesPendingChanges || out.matches(held)) accept(held, true);
    else out.seen.insert(held.get());
  }
  rows.clear();
  // Rows added (or changed so as to match) after the read passed them.
  for (const auto& [key, answered] : since)
    if (!answered) takeChanged(objectFor(st->idFor(entity, key)));
  const std::size_t stored = out.objects.size();
  if (request.includesPendingChanges) addPendingMatches(*this, entity, out);
  moved.resize(out.objects.size(), 1);
  putInFetchOrder(out.objects, moved, stored, sorted, request.sortDescriptors);
  applyFetchWindow(out.objects, request);
  return std::move(out.objects);
}

bool Context::Impl::matchingSnapshots(const EntityDescription* entity, const PredicateRef& predicate,
                                      std::vector<Snapshot>& out, fnd::Error* error) {
  FetchRequest r(entity->name());
  r.predicate = predicate;
  auto objects = fetchObjects(r, false, error);
  if (!objects) return false;
  out.reserve(objects->size());
  for (auto& o : *objects) {
    if (!ObjectAccess::loaded(*o)) fireFault(*o);
    out.push_back(ObjectAccess::snapshot(*o));
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Context

Context::Context(ConcurrencyType type) : impl_(std::make_unique<Impl>()) { impl_->type = type; }

Context::~Context() {
  for (auto& m : impl_->byKey)
    for (auto& [k, o] : m) {
      ObjectAccess::breakCycles(*o);
      ObjectAccess::slots(*o).ctx = nullptr;
    }
  for (auto& [k, o] : impl_->byTemporary) {
    ObjectAccess::breakCycles(*o);
    ObjectAccess::slots(*o).ctx = nullptr;
  }
  if (impl_->undoManager) impl_->undoManager->removeAllActionsWithTarget(this);
  std::lock_guard lock(observers().mutex);
  for (auto* map : {&observers().byContext, &observers().merges})
    for (auto it = map->begin(); it != map->end();) it = it->second.first == this ? map->erase(it) : std::next(it);
}

std::shared_ptr<Context> Context::make(ConcurrencyType type) {
  std::shared_ptr<Context> c(new Context(type));
  c->impl_->self = c.get();
  c->impl_->weakSelf = c;
  if (type == ConcurrencyType::PrivateQueue) c->impl_->queue = fnd::DispatchQueue::create("store.context");
  return c;
}

ConcurrencyType Context::concurrencyType() const { return impl_->type; }
void Context::setCoordinator(std::shared_ptr<Coordinator> c) { impl_->coordinator = std::move(c); }
void Context::setParent(std::shared_ptr<Context> p) { impl_->parent = std::move(p); }
std::shared_ptr<Coordinator> Context::coordinator() const {
  Impl* r = impl_->root();
  return r->coordinator;
}
std::shared_ptr<Context> Context::parent() const { return impl_->parent; }
MergePolicy Context::mergePolicy() const { return impl_->policy; }
void Context::setMergePolicy(MergePolicy p) { impl_->policy = p; }
void Context::setUndoManager(std::shared_ptr<fnd::UndoManager> u) { impl_->undoManager = std::move(u); }
fnd::UndoManager* Context::undoManager() const { return impl_->undoManager.get(); }
fnd::Dictionary& Context::userInfo() { return impl_->userInfo; }
std::string Context::name() const { return impl_->name; }
void Context::setName(std::string n) { impl_->name = std::move(n); }

namespace {

// Main-context work asked for by other threads. The main thread runs it from its loop, and also
// while it waits for a private context's lock: a private queue's block that needs the main
// context can then finish instead of waiting for a main thread that waits for it. The main
// thread sleeps until a job comes or a private context's lock is let go.
struct MainMailbox {
  struct Job {
    const std::function<void()>* work;
    bool done = false;
  };
  std::mutex mutex;
  std::condition_variable cv;
  std::deque<std::shared_ptr<Job>> jobs;
  std::uint64_t releases = 0;  // private contexts' locks let go so far

  // Called after a private context's lock is let go.
  void noteRelease() {
    {
      std::lock_guard lock(mutex);
      ++releases;
    }
    cv.notify_all();
  }
  std::uint64_t releaseCount() {
    std::lock_guard lock(mutex);
    return releases;
  }
  // Sleeps until a job waits or a lock was let go since `seen`.
  void waitForJobOrRelease(std::uint64_t seen) {
    std::unique_lock lock(mutex);
    cv.wait(lock, [&] { return !jobs.empty() || releases != seen; });
  }

  static MainMailbox& shared() {
    static MainMailbox m;
    return m;
  }

  void drain() {
    for (;;) {
      std::shared_ptr<Job> job;
      {
        std::lock_guard lock(mutex);
        if (jobs.empty()) return;
        job = jobs.front();
        jobs.pop_front();
      }
      (*job->work)();
      {
        std::lock_guard lock(mutex);
        job->done = true;
      }
      cv.notify_all();
    }
  }

  void runAndWait(const std::function<void()>& work) {
    auto job = std::make_shared<Job>();
    job->work = &work;
    {
      std::lock_guard lock(mutex);
      jobs.push_back(job);
    }
    cv.notify_all();  // a main thread waiting for a lock takes it at once
    fnd::DispatchQueue::main().async([] { MainMailbox::shared().drain(); });
    std::unique_lock lock(mutex);
    cv.wait(lock, [&] { return job->done; });
  }
};

// Holds a private context's lock for one block and tells a waiting main thread when it goes.
class ExecGuard {
 public:
  explicit ExecGuard(std::recursive_mutex& exec, bool locked = false) : exec_(exec) {
    if (!locked) exec_.lock();
  }
  ~ExecGuard() {
    exec_.unlock();
    MainMailbox::shared().noteRelease();
  }
  ExecGuard(const ExecGuard&) = delete;
  ExecGuard& operator=(const ExecGuard&) = delete;

 private:
  std::recursive_mutex& exec_;
};

}  // namespace

void Context::perform(std::function<void()> block) {
  auto self = shared_from_this();
  switch (impl_->type) {
    case ConcurrencyType::MainQueue:
      fnd::DispatchQueue::main().async([self, block = std::move(block)] { block(); });
      break;
    case ConcurrencyType::PrivateQueue:
      impl_->queue->async([self, block = std::move(block)] {
        ExecGuard lock(self->impl_->exec);
        block();
      });
      break;
    case ConcurrencyType::Confinement:
      block();
      break;
  }
}

void Context::performAndWait(const std::function<void()>& block) {
  switch (impl_->type) {
    case ConcurrencyType::MainQueue:
      if (fnd::DispatchQueue::main().isCurrent()) block();
      else MainMailbox::shared().runAndWait(block);
      break;
    case ConcurrencyType::PrivateQueue: {
      // Runs on the calling thread, serialised with the queue's own work. The main thread runs
      // the main-context jobs of the block it waits for meanwhile.
      if (fnd::DispatchQueue::main().isCurrent()) {
        auto& mailbox = MainMailbox::shared();
        for (;;) {
          const std::uint64_t seen = mailbox.releaseCount();
          if (impl_->exec.try_lock()) break;
          mailbox.drain();
          mailbox.waitForJobOrRelease(seen);
        }
      } else {
        impl_->exec.lock();
      }
      ExecGuard lock(impl_->exec, true);
      block();
      break;
    }
    case ConcurrencyType::Confinement:
      block();
      break;
  }
}

ManagedObjectRef Context::insertNewObject(const std::string& entityName) {
  Coordinator::Impl* st = impl_->store();
  const EntityDescription* e = st && st->model ? st->model->entity(entityName) : nullptr;
  if (!e) {
    fnd::logError("Store: no entity named " + entityName);
    return nullptr;
  }
  auto o = ManagedObject::make(e);
  insertObject(o);
  return o;
}

void Context::insertObject(const ManagedObjectRef& o) {
  if (!o || !o->entity()) return;
  auto& slots = ObjectAccess::slots(*o);
  if (slots.ctx == impl_.get()) {
    if (o->isDeleted()) {
      // Inserting a deleted object undoes the delete.
      ObjectAccess::state(*o) = State::Clean;
      impl_->deleted.erase(o.get());
    }
    return;
  }
  if (slots.ctx) {
    fnd::logError("Store: an object of another context cannot be inserted");
    return;
  }
  ObjectAccess::setID(*o, ObjectID::makeTemporary(o->entity()));
  ObjectAccess::state(*o) = State::Inserted;
  ObjectAccess::loaded(*o) = true;
  ObjectAccess::clearChanges(*o);
  impl_->registerObject(o);
  impl_->inserted.insert(o.get());
  impl_->insertedList.push_back(o.get());
  o->awakeFromInsert();
  if (impl_->undoEnabled()) {
    std::weak_ptr<ManagedObject> weak = o;
    std::weak_ptr<Context> ctx = impl_->weakSelf;
    impl_->registerUndo([weak, ctx] {
      auto obj = weak.lock();
      auto c = ctx.lock();
      if (obj && c) c->deleteObject(obj);
    });
  }
}

void Context::deleteObject(const ManagedObjectRef& o) {
  if (!o || ObjectAccess::slots(*o).ctx != impl_.get() || o->isDeleted()) return;
  const EntityDescription* e = o->entity();
  if (!ObjectAccess::loaded(*o)) impl_->fireFault(*o);
  std::vector<ManagedObjectRef> cascade;
  for (int r = 0; r < static_cast<int>(e->relationships().size()); ++r) {
    const auto& rd = e->relationships()[r];
    if (rd.toMany) {
      for (auto& d : o->toMany(r)) {
        if (rd.deleteRule == DeleteRule::Cascade) cascade.push_back(d);
        o->removeFromMany(r, d);
      }
    } else if (auto d = o->toOne(r)) {
      if (rd.deleteRule == DeleteRule::Cascade) cascade.push_back(d);
      o->setToOne(r, nullptr);
    }
  }
  bool wasInserted = o->isInserted();
  if (wasInserted) {
    impl_->inserted.erase(o.get());
    impl_->unregisterObject(o.get());
    ObjectAccess::state(*o) = State::Detached;
  } else {
    ObjectAccess::state(*o) = State::Deleted;
    impl_->updated.erase(o.get());
    impl_->deleted.insert(o.get());
    impl_->deletedList.push_back(o.get());
  }
  if (impl_->undoEnabled()) {
    std::weak_ptr<Context> ctx = impl_->weakSelf;
    ManagedObjectRef keep = o;  // a deleted object lives on in the undo stack
    // Its large values too: once the delete is saved, the row is gone.
    for (int i = 0; i < static_cast<int>(e->attributes().size()); ++i)
      if (e->attributes()[i].isLazy()) o->value(i);
    impl_->registerUndo([keep, ctx, wasInserted] {
      auto c = ctx.lock();
      if (!c) return;
      if (wasInserted || ObjectAccess::slots(*keep).ctx != c->impl_.get()) {
        // Never saved, or its delete was saved since: it comes back as a new object.
        c->insertObject(keep);
      } else {
        ObjectAccess::state(*keep) = State::Clean;
        c->impl_->deleted.erase(keep.get());
        if (ObjectAccess::slots(*keep).dirty) c->impl_->updated.insert(keep.get());
        // Redo deletes it again.
        std::weak_ptr<ManagedObject> weak = keep;
        c->impl_->registerUndo([weak, ctx] {
          auto obj = weak.lock();
          auto again = ctx.lock();
          if (obj && again) again->deleteObject(obj);
        });
      }
    });
  }
  for (auto& d : cascade) deleteObject(d);
}

ManagedObjectRef Context::objectWithID(const ObjectIDRef& id) { return impl_->objectFor(id); }

ManagedObjectRef Context::existingObjectWithID(const ObjectIDRef& id, fnd::Error* error) {
  auto o = impl_->objectFor(id);
  if (o && !o->isDeleted() && (ObjectAccess::loaded(*o) || impl_->fireFault(*o))) return o;
  if (o && !o->hasChanges() && !ObjectAccess::loaded(*o)) impl_->unregisterObject(o.get());
  if (error)
    *error = contextError(kManagedObjectReferentialIntegrityError,
                          "No object exists for " + (id ? id->uriRepresentation() : std::string("a missing ID")));
  return nullptr;
}

ManagedObjectRef Context::objectRegisteredForID(const ObjectIDRef& id) const { return impl_->lookup(id); }

void Context::loadToMany(const std::vector<ManagedObjectRef>& objects, int relationshipIndex) {
  impl_->loadToManyOf(objects, relationshipIndex);
}

bool Context::obtainPermanentIDs(const std::vector<ManagedObjectRef>& objects, fnd::Error* error) {
  Coordinator::Impl* st = impl_->store();
  if (!st || !st->db) {
    if (error) *error = contextError(kPersistentStoreOperationError, "The context has no store");
    return false;
  }
  std::map<const EntityDescription*, std::vector<ManagedObjectRef>> byEntity;
  for (auto& o : objects)
    if (o && ObjectAccess::id(*o) && ObjectAccess::id(*o)->isTemporaryID()) byEntity[o->entity()].push_back(o);
  for (auto& [e, list] : byEntity) {
    std::int64_t base = st->allocateKeys(e, static_cast<std::int64_t>(list.size()), error);
    if (!base) return false;
    for (std::size_t i = 0; i < list.size(); ++i) ObjectAccess::id(*list[i])->resolve(st->storeIdentifier, base + static_cast<std::int64_t>(i));
  }
  return true;
}

void Context::refreshObject(const ManagedObjectRef& o, bool mergeChanges) {
  if (!o || ObjectAccess::slots(*o).ctx != impl_.get() || o->isInserted()) return;
  if (mergeChanges && o->hasChanges()) return;
  ObjectAccess::clearChanges(*o);
  impl_->updated.erase(o.get());
  ObjectAccess::breakCycles(*o);
  ObjectAccess::loaded(*o) = false;
}

bool Context::hasChanges() const {
  return !impl_->inserted.empty() || !impl_->updated.empty() || !impl_->deleted.empty();
}

namespace {
std::vector<ManagedObjectRef> refs(const std::vector<ManagedObject*>& order, const std::unordered_set<ManagedObject*>& set) {
  std::vector<ManagedObjectRef> out;
  for (auto* o : order)
    if (set.count(o)) out.push_back(std::static_pointer_cast<ManagedObject>(o->shared_from_this()));
  // The list may hold an object twice (deleted, restored, deleted again).
  std::vector<ManagedObjectRef> unique;
  std::unordered_set<ManagedObject*> seen;
  for (auto& o : out)
    if (seen.insert(o.get()).second) unique.push_back(o);
  return unique;
}
std::vector<ManagedObjectRef> refs(const std::unordered_set<ManagedObject*>& set) {
  std::vector<ManagedObjectRef> out;
  for (auto* o : set) out.push_back(std::static_pointer_cast<ManagedObject>(o->shared_from_this()));
  return out;
}
}  // namespace

std::vector<ManagedObjectRef> Context::insertedObjects() const { return refs(impl_->insertedList, impl_->inserted); }
std::vector<ManagedObjectRef> Context::updatedObjects() const { return refs(impl_->updated); }
std::vector<ManagedObjectRef> Context::deletedObjects() const { return refs(impl_->deletedList, impl_->deleted); }
std::vector<ManagedObjectRef> Context::registeredObjects() const {
  std::vector<ManagedObjectRef> out;
  for (auto& m : impl_->byKey)
    for (auto& [k, o] : m) out.push_back(o);
  for (auto& [k, o] : impl_->byTemporary) out.push_back(o);
  return out;
}

// ---------------------------------------------------------------------------------------------
// Saving

namespace {

// Calls willSave once per changed object, including objects that a willSave changes.
void runWillSave(Context::Impl& c) {
  std::unordered_set<ManagedObject*> done;
  for (int pass = 0; pass < 16; ++pass) {
    std::vector<ManagedObjectRef> todo;
    for (auto* o : c.insertedList)
      if (c.inserted.count(o) && !done.count(o)) todo.push_back(std::static_pointer_cast<ManagedObject>(o->shared_from_this()));
    for (auto* o : c.updated)
      if (!done.count(o)) todo.push_back(std::static_pointer_cast<ManagedObject>(o->shared_from_this()));
    for (auto* o : c.deleted)
      if (!done.count(o)) todo.push_back(std::static_pointer_cast<ManagedObject>(o->shared_from_this()));
    if (todo.empty()) return;
    for (auto& o : todo) {
      done.insert(o.get());
      o->willSave();
    }
  }
}

bool validate(Context::Impl& c, fnd::Error* error) {
  std::vector<fnd::Error> problems;
  auto check = [&](ManagedObject* o) {
    const EntityDescription* e = o->entity();
    for (int i = 0; i < static_cast<int>(e->attributes().size()); ++i) {
      const auto& a = e->attributes()[i];
      if (a.optional || a.transient || !o->value(i).isNull()) continue;
      fnd::Error p = contextError(kValidationMissingMandatoryPropertyError, a.name + " is a required value.");
      p.mutableUserInfo()["NSValidationErrorKey"] = a.name;
      p.mutableUserInfo()["NSValidationErrorObject"] = o->description();
      problems.push_back(std::move(p));
    }
    for (int r = 0; r < static_cast<int>(e->relationships().size()); ++r) {
      const auto& rd = e->relationships()[r];
      if (rd.optional || rd.toMany || o->toOne(r)) continue;
      fnd::Error p = contextError(kValidationMissingMandatoryPropertyError, rd.name + " is a required value.");
      p.mutableUserInfo()["NSValidationErrorKey"] = rd.name;
      p.mutableUserInfo()["NSValidationErrorObject"] = o->description();
      problems.push_back(std::move(p));
    }
  };
  for (auto* o : c.inserted) check(o);
  for (auto* o : c.updated) check(o);
  if (problems.empty()) return true;
  if (error) {
    if (problems.size() == 1) {
      *error = problems[0];
    } else {
      *error = contextError(kValidationMultipleErrorsError, "Multiple validation errors occurred.");
    }
    error->setDetailedErrors(problems);
  }
  return false;
}

std::int64_t keyOf(const ManagedObjectRef& o, const std::unordered_map<ManagedObject*, std::int64_t>& pending) {
  if (!o) return 0;
  auto it = pending.find(o.get());
  if (it != pending.end()) return it->second;
  return o->objectID() ? o->objectID()->primaryKey() : 0;
}

void notify(Context& c, const SaveNotification& n) {
  ImplAccess::of(c).logChanges(n);
  std::vector<SaveObserver> calls;
  {
    std::lock_guard lock(observers().mutex);
    for (auto& [t, o] : observers().byContext)
      if (o.first == &c) calls.push_back(o.second);
    for (auto& [t, o] : observers().all) calls.push_back(o.second);
  }
  for (auto& f : calls) f(n);
  auto ids = [](const std::vector<ObjectIDRef>& v) {
    fnd::Array a;
    for (auto& id : v) a.emplace_back(fnd::ObjectRef(std::const_pointer_cast<ObjectID>(id)));
    return fnd::Value(std::move(a));
  };
  fnd::Dictionary info;
  info[kInsertedObjectsKey] = ids(n.insertedIDs);
  info[kUpdatedObjectsKey] = ids(n.updatedIDs);
  info[kDeletedObjectsKey] = ids(n.deletedIDs);
  fnd::NotificationCenter::defaultCenter().postNotificationName(kContextDidSaveNotification, &c, std::move(info));
}

}  // namespace

void postSaveNotification(Context& context, const SaveNotification& notification) { notify(context, notification); }

namespace {

// A child's changes pushed into its parent in memory; the parent records no undo for them.
void pushIntoParent(Context::Impl& c, const SaveNotification& note) {
  c.parent->performAndWait([&] {
    Context::Impl& p = ImplAccess::of(*c.parent);
    ++p.undoSuspended;
    std::vector<std::pair<ManagedObjectRef, ManagedObjectRef>> pairs;  // child, parent
    for (auto& o : note.inserted) {
      auto po = p.lookup(o->objectID());
      if (!po) {
        po = ManagedObject::make(o->entity());
        ObjectAccess::setID(*po, o->objectID());
        ObjectAccess::state(*po) = State::Inserted;
        p.registerObject(po);
        p.inserted.insert(po.get());
        p.insertedList.push_back(po.get());
      }
      auto& ps = ObjectAccess::slots(*po);
      for (int i = 0; i < static_cast<int>(o->entity()->attributes().size()); ++i)
        ps.values.slot(*o->entity(), i) = o->value(i);
      pairs.emplace_back(o, po);
    }
    for (auto& o : note.updated) {
      auto po = p.objectFor(o->objectID());
      if (!po) continue;
      if (const auto& changes = ObjectAccess::slots(*o).changes)
        for (auto& [i, old] : changes->values) po->setValue(i, o->value(i));
      pairs.emplace_back(o, po);
    }
    for (auto& [o, po] : pairs) {
      const EntityDescription* e = o->entity();
      auto& os = ObjectAccess::slots(*o);
      for (int r = 0; r < static_cast<int>(e->relationships().size()); ++r) {
        if (!os.rels[r].changed && !o->isInserted()) continue;
        if (e->relationships()[r].toMany) {
          if (!os.rels[r].manyLoaded) continue;
          std::vector<ManagedObjectRef> mapped;
          for (auto& d : os.rels[r].many())
            if (auto pd = p.objectFor(d->objectID())) mapped.push_back(pd);
          po->setToMany(r, mapped);
        } else {
          ManagedObjectRef d = o->toOne(r);
          po->setToOne(r, d ? p.objectFor(d->objectID()) : nullptr);
        }
      }
    }
    for (auto& o : note.deleted)
      if (auto po = p.objectFor(o->objectID())) c.parent->deleteObject(po);
    --p.undoSuspended;
  });
}

using RowKeys = std::unordered_map<ManagedObject*, std::int64_t>;

// The row key of every inserted object: reserved now for those still temporary.
bool reserveKeys(Coordinator::Impl& st, const SaveNotification& note, RowKeys& keys, fnd::Error* error) {
  std::map<const EntityDescription*, std::vector<ManagedObject*>> newByEntity;
  for (auto& o : note.inserted)
    if (o->objectID()->isTemporaryID()) newByEntity[o->entity()].push_back(o.get());
    else keys[o.get()] = o->objectID()->primaryKey();
  for (auto& [e, list] : newByEntity) {
    std::int64_t base = st.allocateKeys(e, static_cast<std::int64_t>(list.size()), error);
    if (!base) return false;
    for (std::size_t i = 0; i < list.size(); ++i) keys[list[i]] = base + static_cast<std::int64_t>(i);
  }
  return true;
}

// The join-table rows added and removed by an object's changed to-many sets.
void addJoinChanges(CommitBatch& batch, const ManagedObjectRef& o, bool isNew, const RowKeys& keys) {
  const EntityDescription* e = o->entity();
  auto& os = ObjectAccess::slots(*o);
  for (int r = 0; r < static_cast<int>(e->relationships().size()); ++r) {
    const auto& rd = e->relationships()[r];
    if (!rd.toMany || (!isNew && !os.rels[r].changed) || !os.rels[r].manyLoaded) continue;
    int inv = e->inverseIndex(r);
    if (inv >= 0 && !e->destination(r)->relationships()[inv].toMany) continue;  // the other side's column
    // Both sides of a many-to-many change together; write from the side that sorts first.
    if (inv >= 0) {
      const EntityDescription* d = e->destination(r);
      if (std::make_pair(d->entityNumber(), d->relationships()[inv].name) < std::make_pair(e->entityNumber(), rd.name))
        continue;
    }
    std::int64_t src = keyOf(o, keys);
    std::unordered_set<std::int64_t> before, after;
    for (auto& id : os.originalMany(r)) before.insert(id->primaryKey());
    for (auto& d : os.rels[r].many()) after.insert(keyOf(d, keys));
    if (isNew) before.clear();
    for (auto k : after)
      if (k && !before.count(k)) batch.joins.push_back({e, r, src, k, true});
    for (auto k : before)
      if (k && !after.count(k)) batch.joins.push_back({e, r, src, k, false});
  }
}

// A new row: every stored attribute and every to-one column.
RowWrite insertWrite(const ManagedObjectRef& o, const RowKeys& keys) {
  RowWrite w;
  w.entity = o->entity();
  w.pk = keys.at(o.get());
  w.insert = true;
  w.attributes.reserve(w.entity->attributes().size());
  w.values.reserve(w.entity->attributes().size());
  for (int i = 0; i < static_cast<int>(w.entity->attributes().size()); ++i) {
    if (w.entity->attributes()[i].transient) continue;
    w.attributes.push_back(i);
    o->value(i);  // reads an unread picture now: that adds a value, moving the others
  }
  for (int i : w.attributes) w.values.push_back(&o->value(i));
  for (int r = 0; r < static_cast<int>(w.entity->relationships().size()); ++r) {
    if (w.entity->relationships()[r].toMany) continue;
    w.relationships.push_back(r);
    w.relationshipKeys.push_back(keyOf(o->toOne(r), keys));
  }
  return w;
}

// A changed row: only the attributes and to-one columns that changed.
RowWrite updateWrite(const ManagedObjectRef& o, const RowKeys& keys) {
  RowWrite w;
  w.entity = o->entity();
  w.pk = o->objectID()->primaryKey();
  w.expectedOpt = ObjectAccess::slots(*o).opt;
  auto& os = ObjectAccess::slots(*o);
  if (os.changes)
    for (auto& [i, old] : os.changes->values) {
      if (w.entity->attributes()[i].transient) continue;
      w.attributes.push_back(i);
      o->value(i);  // reads an unread picture now: that adds a value, moving the others
    }
  for (int i : w.attributes) w.values.push_back(&o->value(i));
  for (int r = 0; r < static_cast<int>(w.entity->relationships().size()); ++r) {
    if (w.entity->relationships()[r].toMany || !os.rels[r].changed) continue;
    w.relationships.push_back(r);
    w.relationshipKeys.push_back(keyOf(o->toOne(r), keys));
  }
  return w;
}

CommitBatch commitBatchFor(const SaveNotification& note, const RowKeys& keys, bool checkConflicts) {
  CommitBatch batch;
  batch.checkConflicts = checkConflicts;
  batch.writes.reserve(note.inserted.size() + note.updated.size());
  for (auto& o : note.inserted) {
    batch.writes.push_back(insertWrite(o, keys));
    addJoinChanges(batch, o, true, keys);
  }
  for (auto& o : note.updated) {
    batch.writes.push_back(updateWrite(o, keys));
    addJoinChanges(batch, o, false, keys);
  }
  for (auto& o : note.deleted) {
    batch.deletes.emplace_back(o->entity(), o->objectID()->primaryKey());
    batch.deleteExpectedOpts.push_back(ObjectAccess::slots(*o).opt);
  }
  return batch;
}

// A root context's changes written in one transaction; the new rows' IDs become permanent.
bool writeToStore(Context::Impl& c, Coordinator::Impl& st, const SaveNotification& note, fnd::Error* error) {
  RowKeys keys;
  auto build = [&](CommitBatch& batch, fnd::Error* failure) {
    if (!reserveKeys(st, note, keys, failure)) return false;
    batch = commitBatchFor(note, keys, c.policy == MergePolicy::Error);
    return true;
  };
  std::vector<std::pair<const EntityDescription*, std::int64_t>> conflicts;
  fnd::Error e;
  if (!st.commit(note.inserted.size() + note.updated.size(), build, &conflicts, &e)) {
    if (!conflicts.empty()) {
      std::vector<fnd::Error> details;
      for (auto& [en, pk] : conflicts) {
        fnd::Error d = contextError(kManagedObjectMergeError, "Optimistic locking failure");
        d.mutableUserInfo()["conflictList"] = st.idFor(en, pk)->uriRepresentation();
        details.push_back(std::move(d));
      }
      e.setDetailedErrors(details);
    }
    if (error) *error = e;
    return false;
  }
  for (auto& o : note.inserted) {
    ObjectAccess::id(*o)->resolve(st.storeIdentifier, keys.at(o.get()));
    ObjectAccess::slots(*o).opt = 1;
  }
  for (auto& o : note.updated) ObjectAccess::slots(*o).opt += 1;
  return true;
}

// After a save: the objects are clean, new ones found by their keys, deleted ones gone; the
// notification gets the IDs.
void settleAfterSave(Context::Impl& c, SaveNotification& note) {
  for (auto& o : note.inserted) {
    ObjectAccess::state(*o) = State::Clean;
    ObjectAccess::clearChanges(*o);
    const ObjectIDRef& id = ObjectAccess::id(*o);
    if (std::int64_t pk = id->primaryKey()) {
      c.byTemporary.erase(id->temporaryNumber());
      int n = id->entity()->entityNumber();
      if (n >= static_cast<int>(c.byKey.size())) c.byKey.resize(n + 1);
      c.byKey[n][pk] = o;
    }
  }
  note.relationshipsChanged = !note.inserted.empty() || !note.deleted.empty() ||
                              std::any_of(note.updated.begin(), note.updated.end(), [](const ManagedObjectRef& o) {
                                const auto& rels = ObjectAccess::slots(*o).rels;
                                return std::any_of(rels.begin(), rels.end(), [](const auto& r) { return r.changed; });
                              });
  for (auto& o : note.updated) ObjectAccess::clearChanges(*o);
  for (auto& o : note.deleted) {
    c.unregisterObject(o.get());
    ObjectAccess::state(*o) = State::Detached;
  }
  c.clearPendingChanges();
  for (auto& o : note.inserted) note.insertedIDs.push_back(o->objectID());
  for (auto& o : note.updated) note.updatedIDs.push_back(o->objectID());
  for (auto& o : note.deleted) note.deletedIDs.push_back(o->objectID());
}

}  // namespace

bool Context::save(fnd::Error* error) {
  Impl& c = *impl_;
  Coordinator::Impl* st = c.store();
  if (!st || !st->db) {
    if (error) *error = contextError(kPersistentStoreSaveError, "The context has no store to save to");
    return false;
  }
  if (!hasChanges()) return true;
  fnd::NotificationCenter::defaultCenter().postNotificationName(kContextWillSaveNotification, this);
  runWillSave(c);
  if (!validate(c, error)) return false;

  SaveNotification note;
  note.context = this;
  note.inserted = insertedObjects();
  note.updated = updatedObjects();
  note.deleted = deletedObjects();
  if (c.parent) pushIntoParent(c, note);
  else if (!writeToStore(c, *st, note, error)) return false;
  settleAfterSave(c, note);
  notify(*this, note);
  return true;
}

void Context::rollback() {
  Impl& c = *impl_;
  for (auto& o : insertedObjects()) {  // held here: unregistering may drop the last reference
    c.unregisterObject(o.get());
    ObjectAccess::state(*o) = State::Detached;
  }
  std::vector<ManagedObjectRef> touched = updatedObjects();
  for (auto& o : deletedObjects()) touched.push_back(o);
  for (auto& o : touched) {
    ObjectAccess::state(*o) = State::Clean;
    ObjectAccess::clearChanges(*o);
    ObjectAccess::loaded(*o) = false;
  }
  // Sets may hold rolled-back members: reload them on next use.
  for (auto& o : registeredObjects()) ObjectAccess::breakCycles(*o);
  c.clearPendingChanges();
  if (c.undoManager) c.undoManager->removeAllActionsWithTarget(this);
}

void Context::reset() {
  Impl& c = *impl_;
  for (auto& o : registeredObjects()) {
    ObjectAccess::breakCycles(*o);
    auto& s = ObjectAccess::slots(*o);
    s.ctx = nullptr;
    ObjectAccess::state(*o) = State::Detached;
  }
  c.byKey.clear();
  c.byTemporary.clear();
  // A read begun before cannot be brought up to date: its objects were all dropped.
  c.changeLog.clear();
  c.changeLogFloor = ++c.changeStamp;
  c.clearPendingChanges();
  if (c.undoManager) c.undoManager->removeAllActionsWithTarget(this);
}

std::optional<std::vector<ManagedObjectRef>> Context::fetch(const FetchRequest& request, fnd::Error* error) {
  return impl_->fetchObjects(request, true, error);
}

std::optional<std::vector<ObjectIDRef>> Context::fetchObjectIDs(const FetchRequest& request, fnd::Error* error) {
  // Straight from the rows, without making an object per row, when nothing held here can change
  // the answer: no parent, no pending change of the entity, a predicate SQL answers alone, and
  // no order or window to apply.
  Impl& c = *impl_;
  Coordinator::Impl* st = c.store();
  if (!c.parent && st && st->db && request.sortDescriptors.empty() && request.fetchLimit <= 0 &&
      request.fetchOffset <= 0) {
    const EntityDescription* e = st->model->entity(request.entityName);
    bool pendingHere = false;
    for (const auto* changes : {&c.inserted, &c.updated, &c.deleted})
      for (auto* o : *changes) pendingHere = pendingHere || o->entity() == e;
    std::string where;
    std::vector<fnd::Value> binds;
    if (e && !pendingHere && !relatedChangesPending(c, request.predicate.get(), *e) &&
        (!request.predicate || compilePredicate(*request.predicate, *e, where, binds, &st->storeIdentifier))) {
      std::vector<Snapshot> rows;
      if (!st->loadRows(e, where, binds, true, rows, error)) return std::nullopt;
      std::vector<ObjectIDRef> ids;
      ids.reserve(rows.size());
      for (auto& row : rows) ids.push_back(std::move(row.id));
      return ids;
    }
  }
  auto objects = impl_->fetchObjects(request, true, error);
  if (!objects) return std::nullopt;
  std::vector<ObjectIDRef> ids;
  ids.reserve(objects->size());
  for (auto& o : *objects) ids.push_back(o->objectID());
  return ids;
}

namespace {

// Stored rows among `keys` that the compiled `where` accepts, a fixed group of keys a statement
// (the last filled up with its first key), so one prepared statement serves every group.
std::optional<std::int64_t> countStoredAmong(Coordinator::Impl& st, const EntityDescription* e, const std::string& where,
                                             const std::vector<fnd::Value>& binds, const std::vector<std::int64_t>& keys,
                                             fnd::Error* error) {
  constexpr std::size_t kKeysPerCount = 128;
  if (keys.empty()) return 0;
  std::string list = "?";
  for (std::size_t i = 1; i < kKeysPerCount; ++i) list += ",?";
  const std::string among = (where.empty() ? "" : "(" + where + ") AND ") + "Z_PK IN (" + list + ")";
  std::vector<fnd::Value> all = binds;
  all.resize(binds.size() + kKeysPerCount);
  std::int64_t total = 0;
  for (std::size_t from = 0; from < keys.size(); from += kKeysPerCount) {
    const std::size_t n = std::min(kKeysPerCount, keys.size() - from);
    for (std::size_t i = 0; i < kKeysPerCount; ++i) all[binds.size() + i] = fnd::Value(keys[from + (i < n ? i : 0)]);
    auto counted = st.countRows(e, among, all, error);
    if (!counted) return std::nullopt;
    total += *counted;
  }
  return total;
}

}  // namespace

std::optional<std::int64_t> Context::count(const FetchRequest& request, fnd::Error* error) {
  Impl& c = *impl_;
  Coordinator::Impl* st = c.store();
  const EntityDescription* e = st && st->db ? st->model->entity(request.entityName) : nullptr;
  std::string where;
  std::vector<fnd::Value> binds;
  if (!c.parent && e && request.fetchLimit <= 0 && request.fetchOffset <= 0 &&
      !relatedChangesPending(c, request.predicate.get(), *e) &&
      (!request.predicate || compilePredicate(*request.predicate, *e, where, binds, &st->storeIdentifier))) {
    // The stored rows counted by SQL, then the pending objects of the entity put right: a changed
    // or deleted one is taken out as its stored row counted, and a changed or new one that is not
    // deleted counts as it stands now (without pending changes: as its stored row counted).
    auto stored = st->countRows(e, where, binds, error);
    if (!stored) return std::nullopt;
    std::vector<std::int64_t> changedKeys, deletedKeys;
    for (auto* o : c.updated)
      if (o->entity() == e && !o->isDeleted())
        if (std::int64_t pk = ObjectAccess::key(*o)) changedKeys.push_back(pk);
    for (auto* o : c.deleted)
      if (o->entity() == e)
        if (std::int64_t pk = ObjectAccess::key(*o)) deletedKeys.push_back(pk);
    auto changedStored = countStoredAmong(*st, e, where, binds, changedKeys, error);
    auto deletedStored = countStoredAmong(*st, e, where, binds, deletedKeys, error);
    if (!changedStored || !deletedStored) return std::nullopt;
    std::int64_t n = *stored - *deletedStored;
    if (!request.includesPendingChanges) return n;
    n -= *changedStored;
    auto matches = [&](ManagedObject* o) {
      return !request.predicate ||
             request.predicate->evaluate(fnd::Value(std::static_pointer_cast<fnd::Object>(o->shared_from_this())));
    };
    for (auto* o : c.updated)
      if (o->entity() == e && !o->isDeleted() && ObjectAccess::key(*o) && matches(o)) ++n;
    for (auto* o : c.insertedList)
      if (c.inserted.count(o) && o->entity() == e && !o->isDeleted() && matches(o)) ++n;
    return n;
  }
  auto objects = impl_->fetchObjects(request, true, error);
  if (!objects) return std::nullopt;
  return static_cast<std::int64_t>(objects->size());
}

std::optional<std::vector<fnd::Dictionary>> Context::fetchDictionaries(const FetchRequest& request, fnd::Error* error) {
  auto objects = impl_->fetchObjects(request, request.expressions.empty(), error);
  if (!objects) return std::nullopt;
  std::vector<fnd::Dictionary> out;
  if (!request.expressions.empty()) {
    fnd::Dictionary d;
    for (const auto& x : request.expressions) {
      auto v = aggregate(request, x.function, x.keyPath, error);
      if (!v) return std::nullopt;
      d[x.name] = *v;
    }
    out.push_back(std::move(d));
    return out;
  }
  out.reserve(objects->size());
  for (auto& o : *objects) {
    fnd::Dictionary d;
    fnd::Value ov(std::static_pointer_cast<fnd::Object>(o));
    if (request.propertiesToFetch.empty()) {
      for (const auto& a : o->entity()->attributes())
        if (!a.isLazy()) d[a.name] = o->valueForKey(a.name);
    } else {
      for (const auto& k : request.propertiesToFetch) d[k] = valueForKeyPath(ov, k);
    }
    out.push_back(std::move(d));
  }
  return out;
}

std::optional<fnd::Value> Context::aggregate(const FetchRequest& request, AggregateFunction function,
                                             const std::string& keyPath, fnd::Error* error) {
  auto objects = impl_->fetchObjects(request, false, error);
  if (!objects) return std::nullopt;
  if (function == AggregateFunction::Count) return fnd::Value(static_cast<std::int64_t>(objects->size()));
  fnd::Value best;
  double sum = 0;
  bool anyReal = false;
  std::int64_t n = 0;
  for (auto& o : *objects) {
    fnd::Value v = valueForKeyPath(fnd::Value(std::static_pointer_cast<fnd::Object>(o)), keyPath);
    if (v.isNull()) continue;
    ++n;
    if (v.isNumber()) {
      sum += v.doubleValue();
      anyReal = anyReal || v.isReal();
    }
    if (best.isNull()) best = v;
    else if (function == AggregateFunction::Min && compareValues(v, best) < 0) best = v;
    else if (function == AggregateFunction::Max && compareValues(v, best) > 0) best = v;
  }
  switch (function) {
    case AggregateFunction::Min:
    case AggregateFunction::Max: return best;
    case AggregateFunction::Sum: return anyReal ? fnd::Value(sum) : fnd::Value(static_cast<std::int64_t>(sum));
    case AggregateFunction::Average: return n ? fnd::Value(sum / static_cast<double>(n)) : fnd::Value();
    default: return fnd::Value();
  }
}

int Context::addSaveObserver(SaveObserver observer) {
  return observers().add(observers().byContext, this, std::move(observer));
}

int Context::observeAllSaves(SaveObserver observer) {
  return observers().add(observers().all, nullptr, std::move(observer));
}

int Context::addMergeObserver(SaveObserver observer) {
  return observers().add(observers().merges, this, std::move(observer));
}

void Context::removeSaveObserver(int token) {
  std::lock_guard lock(observers().mutex);
  observers().byContext.erase(token);
  observers().merges.erase(token);
}

void Context::removeGlobalSaveObserver(int token) {
  std::lock_guard lock(observers().mutex);
  observers().all.erase(token);
}

namespace {

// One row another context saved: a clean object here reloads on next use.
void takeUpdate(Context::Impl& c, const ObjectIDRef& id) {
  auto o = c.lookup(id);
  if (o && !o->hasChanges()) {
    ObjectAccess::breakCycles(*o);
    ObjectAccess::loaded(*o) = false;
  }
}

// One row another context deleted: a clean object here is forgotten.
void takeDeletion(Context::Impl& c, const ObjectIDRef& id) {
  auto o = c.lookup(id);
  if (o && !o->hasChanges()) {
    c.unregisterObject(o.get());
    ObjectAccess::state(*o) = State::Detached;
  }
}

// Sets may have gained or lost members: a clean object's loaded sets reload on next use.
void dropLoadedSets(ManagedObject& o) {
  if (o.hasChanges()) return;
  for (auto& r : ObjectAccess::slots(o).rels)
    if (r.manyLoaded && !r.changed) r.clearMany(), r.manyLoaded = false;
}

bool changesAnything(const SaveNotification& n) {
  return !n.insertedIDs.empty() || !n.updatedIDs.empty() || !n.deletedIDs.empty();
}

void tellMergeObservers(Context& c, const SaveNotification& n) {
  std::vector<SaveObserver> calls;
  {
    std::lock_guard lock(observers().mutex);
    for (auto& [t, o] : observers().merges)
      if (o.first == &c) calls.push_back(o.second);
  }
  for (auto& f : calls) f(n);
}

}  // namespace

void Context::mergeChangesFromSave(const SaveNotification& n) {
  Impl& c = *impl_;
  if (n.context == this) return;
  c.logChanges(n);
  for (auto& id : n.updatedIDs) takeUpdate(c, id);
  for (auto& id : n.deletedIDs) takeDeletion(c, id);
  if (n.relationshipsChanged)
    for (auto& m : c.byKey)
      for (auto& [k, o] : m) dropLoadedSets(*o);
  tellMergeObservers(*this, n);
}

void Context::mergeChangesFromSaveInSlices(const SaveNotification& n, std::function<void()> done, std::size_t slice) {
  // The work left, carried from turn to turn: first the updated and deleted rows, then the
  // objects whose sets may have changed (listed when the rows are done).
  struct Work {
    std::weak_ptr<Context> context;
    std::vector<ObjectIDRef> updated, deleted;
    std::vector<ObjectIDRef> sets;
    bool setsListed = false;
    bool logged = false;
    std::size_t next = 0;
    std::size_t slice = 500;
    std::function<void()> done;
    SaveNotification merged;  // the identifiers only, for the merge observers
  };
  auto work = std::make_shared<Work>();
  work->context = impl_->weakSelf;
  work->slice = std::max<std::size_t>(slice, 1);
  work->done = std::move(done);
  if (n.context != this && changesAnything(n)) {
    work->updated = n.updatedIDs;
    work->deleted = n.deletedIDs;
    work->merged.context = n.context;
    work->merged.insertedIDs = n.insertedIDs;
    work->merged.updatedIDs = n.updatedIDs;
    work->merged.deletedIDs = n.deletedIDs;
    work->merged.relationshipsChanged = n.relationshipsChanged;
    work->setsListed = !n.relationshipsChanged;  // no set gained or lost a member
  } else {
    work->setsListed = true;  // nothing to take in
  }
  auto step = std::make_shared<std::function<void()>>();
  *step = [work, weakStep = std::weak_ptr<std::function<void()>>(step)] {
    auto self = work->context.lock();
    if (!self) return;
    Impl& c = *self->impl_;
    if (!work->logged) {
      work->logged = true;
      c.logChanges(work->merged);
    }
    std::size_t budget = work->slice;
    const std::size_t rows = work->updated.size() + work->deleted.size();
    for (; budget && work->next < rows; --budget, ++work->next) {
      if (work->next < work->updated.size()) takeUpdate(c, work->updated[work->next]);
      else takeDeletion(c, work->deleted[work->next - work->updated.size()]);
    }
    if (budget && !work->setsListed) {
      work->setsListed = true;
      for (auto& m : c.byKey)
        for (auto& [k, o] : m)
          if (!o->hasChanges())
            for (auto& r : ObjectAccess::slots(*o).rels)
              if (r.manyLoaded) {
                work->sets.push_back(o->objectID());
                break;
              }
    }
    const std::size_t total = rows + work->sets.size();
    for (; budget && work->next < total; --budget, ++work->next)
      if (auto o = c.lookup(work->sets[work->next - rows])) dropLoadedSets(*o);
    if (work->next < total || !work->setsListed) {
      if (auto again = weakStep.lock()) fnd::DispatchQueue::main().async([again] { (*again)(); });
      return;
    }
    if (changesAnything(work->merged)) tellMergeObservers(*self, work->merged);
    auto finish = std::move(work->done);
    if (finish) finish();
  };
  // The step holds itself until the last slice, through the queued calls.
  fnd::DispatchQueue::main().async([step] { (*step)(); });
}

}  // namespace kesto::store
