#pragma once
// Private to the store: the state behind objects, contexts and the coordinator. Tests come in
// through Platform/Store/TestAccess_p.h.

#if !defined(KESTO_STORE_LAYER) && !defined(KESTO_STORE_TEST_ACCESS)
#error "Platform/Store/StoreInternal.h is private to the store (tests include Platform/Store/TestAccess_p.h)"
#endif

#include "Platform/Foundation/FoundationForward.h"
#include "Platform/Store/Context.h"
#include "Platform/Store/Coordinator.h"
#include "Platform/Store/ManagedObject.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace kesto::store {

// The attribute values of one object. A row read from the store keeps only the values that are
// not the attribute's default (a library row has a few texts and dates among dozens of zero
// flags and unread pictures), found by their rank in a bit mask; the others read as the entity's
// default. The first change to an attribute the row does not keep gives every such attribute a
// place of its own beside the kept values, which do not move: a reference to a value stays good
// while the object is edited. A picture read is added in place among the kept values (moving
// them) and goes again when it is let go. Entities of more than 64 attributes keep all in order.
class AttributeValues {
 public:
  AttributeValues() = default;
  ~AttributeValues() { drop(); }
  AttributeValues(const AttributeValues& other) { *this = other; }
  AttributeValues& operator=(const AttributeValues& other);
  AttributeValues(AttributeValues&& other) noexcept { *this = std::move(other); }
  AttributeValues& operator=(AttributeValues&& other) noexcept;

  // Every attribute, each at its default.
  void makeFull(const EntityDescription& e);
  // The values of a row, one per attribute: those that are not defaults are moved out of `row`
  // (which a reader keeps for the next row). Every value counts as read.
  void takeRow(const EntityDescription& e, std::vector<fnd::Value>& row);
  const fnd::Value& get(const EntityDescription& e, int i) const;
  // The value of attribute `i` for changing it.
  fnd::Value& slot(const EntityDescription& e, int i);
  // A value read now (a picture): added in place, without keeping every attribute.
  void setRead(const EntityDescription& e, int i, fnd::Value v);
  // Back to unread, dropping the value.
  void unload(const EntityDescription& e, int i);
  bool isPending(int i) const;
  void setPending(int i, bool pending);
  // How many values are kept (for tests of the layout).
  std::size_t keptCount() const;

 private:
  std::size_t rank(int i) const;
  // What few rows need, in one block made when first needed.
  struct More {
    std::vector<fnd::Value> rest;          // once changed: a place for each attribute not held
    std::vector<std::uint8_t> pendingMore;  // attributes from 64 not read yet
  };
  bool hasRest() const { return more_ && !more_->rest.empty(); }
  // A block of room for `n` values, none made yet.
  static fnd::Value* allocate(std::size_t n);
  // Destroys the kept values and frees their block.
  void drop() noexcept;
  // The kept values are the `n` in `values` from now on (made in a block from allocate).
  void adopt(fnd::Value* values, std::size_t n) noexcept;
  // The kept values live in one block of exactly their number: a row is read once and seldom
  // gains or loses one, so no spare room is kept (nor a vector's capacity).
  fnd::Value* values_ = nullptr;
  std::uint64_t held_ = 0;     // attributes kept in values_, by rank, while not full_
  std::uint64_t pending_ = 0;  // attributes 0-63 not read yet
  std::unique_ptr<More> more_;
  std::uint32_t count_ = 0;    // values in values_
  bool full_ = true;
};

// One object's state as a row or as another context sees it.
struct Snapshot {
  ObjectIDRef id;          // null for a row read from the store: its object makes it when asked
  bool held = false;       // a row the caller already holds (see RowFilter): its key alone
  std::int64_t pk = 0;
  std::int64_t opt = 0;
  AttributeValues values;  // as an object keeps them, unread pictures marked
  bool hasValues = false;  // false: the row's key alone
  std::vector<ObjectIDRef> toOne;         // per relationship; null for none or to-many
};

struct ManagedObject::Slots {
  // The context that holds the object (its owner is the context's own weak reference); null
  // when detached, unregistered or after the context has gone.
  Context::Impl* ctx = nullptr;
  AttributeValues values;
  // What a changed object remembers of its committed state, made at its first change: a row that
  // is only read carries none of it.
  struct Changes {
    // Attribute index -> committed value, for changed ones, by index.
    std::vector<std::pair<int, fnd::Value>> values;
    // To-many relationship index -> its members at the first change.
    std::vector<std::pair<int, std::vector<ObjectIDRef>>> sets;
  };
  std::unique_ptr<Changes> changes;
  const fnd::Value* originalValue(int attribute) const {
    if (changes)
      for (const auto& [i, v] : changes->values)
        if (i == attribute) return &v;
    return nullptr;
  }
  void keepOriginal(int attribute, const fnd::Value& v) {
    if (originalValue(attribute)) return;
    if (!changes) changes = std::make_unique<Changes>();
    auto& original = changes->values;
    auto at = std::find_if(original.begin(), original.end(), [&](const auto& e) { return e.first > attribute; });
    original.emplace(at, attribute, v);
  }
  const std::vector<ObjectIDRef>* originalSet(int rel) const {
    if (changes)
      for (const auto& [i, ids] : changes->sets)
        if (i == rel) return &ids;
    return nullptr;
  }
  const std::vector<ObjectIDRef>& originalMany(int rel) const {
    static const std::vector<ObjectIDRef> none;
    const auto* ids = originalSet(rel);
    return ids ? *ids : none;
  }
  // Every loaded row has one per relationship: 24 bytes each, whatever only a changed or a
  // large set needs is made when it is needed, so an unchanged row stays small.
  struct Rel {
    // Members by address once a set is large, so that adding to a folder of 50,000 bookmarks
    // does not search the whole set. Valid while `indexed` equals the set's size; code that
    // changes the members other than through rawAddMany/rawRemoveMany calls dropIndex().
    struct Index {
      std::unordered_set<const ManagedObject*> members;
      std::size_t indexed = 0;
    };
    // To-many: the members, made when the first one comes (most rows hold no set loaded).
    struct Set {
      std::vector<ManagedObjectRef> members;
      std::unique_ptr<Index> index;
    };
    // To-one: the destination's object once resolved, its ID before that. To-many: its Set.
    // A relationship is one or the other, so one pointer serves both.
    ManagedObjectRef one() const {
      return resolved ? std::static_pointer_cast<ManagedObject>(std::const_pointer_cast<void>(link)) : nullptr;
    }
    ObjectIDRef oneID() const { return resolved ? nullptr : std::static_pointer_cast<const ObjectID>(link); }
    void setOne(ManagedObjectRef o) { link = std::move(o), resolved = true; }
    void setOneID(ObjectIDRef id) { link = std::move(id), resolved = false; }
    std::shared_ptr<const void> link;
    bool resolved = false;
    bool manyLoaded = false;
    bool changed = false;
    Set* set() const { return static_cast<Set*>(const_cast<void*>(link.get())); }
    const std::vector<ManagedObjectRef>& many() const {
      static const std::vector<ManagedObjectRef> none;
      return link ? set()->members : none;
    }
    std::vector<ManagedObjectRef>& manyForChange() {
      if (!link) link = std::make_shared<Set>();
      return set()->members;
    }
    void setMany(std::vector<ManagedObjectRef> members) {
      link.reset();
      if (!members.empty()) manyForChange() = std::move(members);
    }
    void clearMany() { link.reset(); }
    void dropIndex() {
      if (link) set()->index.reset();
    }
    std::size_t indexed() const { return link && set()->index ? set()->index->indexed : 0; }
  };
  // One slot per relationship of the entity, in one block without spare room.
  class Rels {
   public:
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    Rel& operator[](std::size_t i) { return slots_[i]; }
    const Rel& operator[](std::size_t i) const { return slots_[i]; }
    Rel* begin() { return slots_.get(); }
    Rel* end() { return slots_.get() + size_; }
    const Rel* begin() const { return slots_.get(); }
    const Rel* end() const { return slots_.get() + size_; }
    // `n` empty slots, dropping any there were.
    void reset(std::size_t n) {
      slots_ = n ? std::make_unique<Rel[]>(n) : nullptr;
      size_ = static_cast<std::uint32_t>(n);
    }

   private:
    std::unique_ptr<Rel[]> slots_;
    std::uint32_t size_ = 0;
  };
  Rels rels;
  std::int64_t opt = 0;
  bool dirty = false;
};

// The state behind a Coordinator or a Context, for the store's own code: the one friend those
// classes have.
struct ImplAccess {
  template <class T>
  static typename T::Impl& of(T& object) {
    return object.impl();
  }
};

// Access to ManagedObject's private members for the store's own code.
struct ObjectAccess {
  using State = ManagedObject::State;
  static State& state(ManagedObject& o) { return o.state_; }
  // The object's ID, made now when the object has only its key so far.
  static const ObjectIDRef& id(const ManagedObject& o) { return o.madeID(); }
  static void setID(ManagedObject& o, ObjectIDRef id) { o.id_ = std::move(id), o.key_ = 0; }
  // A row of the store numbered `store` (ObjectID::storeNumber) whose ID is made when asked for.
  static void setRow(ManagedObject& o, std::uint32_t store, std::int64_t key) {
    o.id_.reset(), o.storeNumber_ = store, o.key_ = key;
  }
  // The row's key without making the ID; 0 while temporary.
  static std::int64_t key(const ManagedObject& o) { return o.id_ ? o.id_->primaryKey() : o.key_; }
  // The temporary number, 0 for an object read as a row.
  static std::uint64_t temporaryNumber(const ManagedObject& o) { return o.id_ ? o.id_->temporaryNumber() : 0; }
  static bool& loaded(ManagedObject& o) { return o.loaded_; }
  static ManagedObject::Slots& slots(ManagedObject& o) { return o.slots(); }
  static void setEntity(ManagedObject& o, const EntityDescription* e) { o.setEntity(e); }
  // Fills the object from a snapshot (its relationships as unresolved IDs), not dirtying it.
  static void apply(ManagedObject& o, const Snapshot& s);
  static void apply(ManagedObject& o, Snapshot&& s);  // takes the snapshot's values
  // A detached object of `entity` without defaults, to be filled from a row.
  static ManagedObjectRef makeForRow(const EntityDescription* entity);
  static Snapshot snapshot(ManagedObject& o);
  static void clearChanges(ManagedObject& o);
  static void breakCycles(ManagedObject& o);
  // Loads the to-many set `rel` if it is not loaded yet.
  static void loadMany(ManagedObject& o, int rel);
  // Relationship changes without inverse upkeep.
  static void rawSetOne(ManagedObject& o, int rel, const ManagedObjectRef& d);
  static void rawAddMany(ManagedObject& o, int rel, const ManagedObjectRef& d);
  static void rawRemoveMany(ManagedObject& o, int rel, const ManagedObject* d);
  static void markRelChanged(ManagedObject& o, int rel);
};

// One row write of a root save.
struct RowWrite {
  const EntityDescription* entity = nullptr;
  std::int64_t pk = 0;
  std::int64_t expectedOpt = 0;
  bool insert = false;
  std::vector<int> attributes;
  // Parallel to attributes: the object's own values, which stay put until the commit is done.
  std::vector<const fnd::Value*> values;
  std::vector<int> relationships;   // to-one columns to write
  std::vector<std::int64_t> relationshipKeys;  // 0 = none
};

struct JoinChange {
  const EntityDescription* entity = nullptr;  // the side the join table belongs to
  int relationship = -1;
  std::int64_t source = 0;
  std::int64_t destination = 0;
  bool add = true;
};

struct CommitBatch {
  std::vector<RowWrite> writes;
  std::vector<std::pair<const EntityDescription*, std::int64_t>> deletes;
  std::vector<std::int64_t> deleteExpectedOpts;
  std::vector<JoinChange> joins;
  bool checkConflicts = false;
};

struct Coordinator::Impl {
  std::shared_ptr<const Model> model;
  std::recursive_mutex mutex;
  void* db = nullptr;  // sqlite3*
  std::string type;
  std::string path;
  std::string storeIdentifier;
  const std::string* sharedStoreIdentifier = nullptr;  // kept once, pointed at by every permanent ID
  std::uint32_t storeNumber = 0;  // ObjectID::storeNumber of it
  fnd::Dictionary metadata;
  bool created = false;     // this open made the store's schema (a new library)
  fnd::Dictionary options;  // as the store was added, for further connections
  // Prepared statements by SQL text, idle ones only; a statement in use is out of the pool, so
  // a nested use of the same text prepares a second one.
  std::unordered_map<std::string, std::vector<void*>> statements;  // sqlite3_stmt*
  void finalizeStatements();

  bool open(const std::string& type, const std::string& path, const fnd::Dictionary& options, fnd::Error* error);
  // Another connection to the store `first` has open, with its identifier.
  bool openBeside(const Impl& first, fnd::Error* error);
  void close();
  // Rows of `entity` matching `where` (SQL over its columns, with bound values), attribute values
  // included unless `faultsOnly`.
  // `wanted`, when given, answers whether a row (key, version) needs its values read; rows it
  // declines come back with only `pk` and `opt`.
  using RowFilter = std::function<bool(std::int64_t pk, std::int64_t opt)>;
  // `orderAndWindow`, when given, replaces the order by key ("ORDER BY ... LIMIT ..."); with
  // `orderedByAttribute` (an indexed attribute it orders by first) the rows are walked through
  // that attribute's index.
  bool loadRows(const EntityDescription* entity, const std::string& where, const std::vector<fnd::Value>& binds,
                bool faultsOnly, std::vector<Snapshot>& out, fnd::Error* error, const RowFilter* wanted = nullptr,
                const std::string* orderAndWindow = nullptr, const std::string* orderedByAttribute = nullptr);
  std::optional<std::int64_t> countRows(const EntityDescription* entity, const std::string& where,
                                        const std::vector<fnd::Value>& binds, fnd::Error* error);
  // One row; false when it does not exist.
  bool loadRow(const ObjectIDRef& id, Snapshot& out);
  fnd::Value loadLazy(const ObjectID& id, int attribute);
  bool loadToMany(const EntityDescription* entity, int relationship, std::int64_t pk,
                  std::vector<ObjectIDRef>& out);
  // The sets of the rows keyed `pks`: destination IDs by source key (rows without members are
  // absent), in the same order loadToMany gives.
  bool loadToManyOf(const EntityDescription* entity, int relationship, const std::vector<std::int64_t>& pks,
                    std::unordered_map<std::int64_t, std::vector<ObjectIDRef>>& out);
  // Every row's set at once: destination IDs by source key.
  bool loadAllToMany(const EntityDescription* entity, int relationship,
                     std::unordered_map<std::int64_t, std::vector<ObjectIDRef>>& out);
  std::int64_t allocateKeys(const EntityDescription* entity, std::int64_t count, fnd::Error* error);
  // Writes in one transaction the batch `build` makes. `build` runs inside the transaction, so
  // the keys it takes for new rows (allocateKeys) are written with the rows, and a failed save
  // takes none. `writes` (the rows the batch will write) chooses the sync level beforehand, as
  // it cannot change inside a transaction. With conflict checks, rows whose Z_OPT moved are
  // listed in `conflicts` and nothing is written.
  using BatchBuilder = std::function<bool(CommitBatch& batch, fnd::Error* error)>;
  bool commit(std::size_t writes, const BatchBuilder& build,
              std::vector<std::pair<const EntityDescription*, std::int64_t>>* conflicts, fnd::Error* error);
  ObjectIDRef idFor(const EntityDescription* entity, std::int64_t pk) const;
};

// Registry and change sets of one context.
struct Context::Impl {
  Context* self = nullptr;
  std::weak_ptr<Context> weakSelf;
  ConcurrencyType type = ConcurrencyType::Confinement;
  std::shared_ptr<Coordinator> coordinator;
  std::shared_ptr<Context> parent;
  MergePolicy policy = MergePolicy::Error;
  std::shared_ptr<fnd::UndoManager> undoManager;
  fnd::Dictionary userInfo;
  std::string name;
  std::shared_ptr<fnd::DispatchQueue> queue;
  std::recursive_mutex exec;
  std::vector<int> saveObservers;

  std::vector<std::unordered_map<std::int64_t, ManagedObjectRef>> byKey;  // per entity number
  std::unordered_map<std::uint64_t, ManagedObjectRef> byTemporary;
  std::vector<ManagedObject*> insertedList, deletedList;  // in order; flags on the objects decide
  std::unordered_set<ManagedObject*> inserted, updated, deleted;
  std::uint64_t seenResolutions = 0;
  // Goes up whenever rows this context may hold changed in the store under it: its own saves
  // and the saves of others it takes in. The log lists the rows of each change since
  // `changeLogFloor`, so a read made elsewhere (DetachedFetch) is brought up to date from it.
  std::uint64_t changeStamp = 0;
  std::uint64_t changeLogFloor = 0;
  struct LoggedChange {
    std::uint64_t stamp;
    ObjectIDRef id;
    bool deleted;
  };
  std::vector<LoggedChange> changeLog;
  void logChanges(const SaveNotification& n);
  int undoSuspended = 0;
  bool pushing = false;
  // Single-row loads since the last batch, per (entity number, relationship or -1 for rows):
  // walking a list fires one fault per object, so after a few the rest load in one query.
  struct SingleLoads {
    int count = 0;
    int before = 32;  // loads before the next look for a batch
  };
  std::map<std::pair<int, int>, SingleLoads> singleLoads;
  // Pictures and other lazy values read from the store, oldest first. A list scrolled through
  // a large library would otherwise keep every picture it ever showed: past the bound the
  // oldest of an unchanged object goes back to unread, and is read again when asked.
  static constexpr std::size_t kKeptLazyValues = 256;
  struct KeptLazy {
    const ManagedObject* object;
    int entity;
    std::int64_t pk;
    int attribute;
  };
  std::deque<KeptLazy> keptLazy;
  void keepLazy(ManagedObject& o, int attribute);
  bool batchFaults(const EntityDescription* entity);
  bool batchToMany(const EntityDescription* entity, int relationship);
  void loadToManyOf(const std::vector<ManagedObjectRef>& objects, int relationship);

  Context::Impl* root();
  Coordinator::Impl* store();
  ManagedObjectRef lookup(const ObjectIDRef& id);
  // The object held for row `pk` of `entity`, without an ID.
  ManagedObjectRef lookup(const EntityDescription* entity, std::int64_t pk);
  void registerObject(const ManagedObjectRef& o);
  void unregisterObject(ManagedObject* o);
  // The object of a row of `entity` (the snapshot's ID, when it has one, says the same).
  ManagedObjectRef materialize(const EntityDescription* entity, Snapshot&& s);
  ManagedObjectRef objectFor(const ObjectIDRef& id);

  // Loading, through the parent chain down to the store.
  bool fireFault(ManagedObject& o);
  fnd::Value loadLazy(ManagedObject& o, int attribute);
  std::vector<ObjectIDRef> loadToMany(ManagedObject& o, int relationship);

  void noteChanged(ManagedObject& o);
  // Forgets which objects were inserted, updated and deleted (after a save, rollback or reset).
  void clearPendingChanges();
  void registerUndo(std::function<void()> action);
  bool undoEnabled() const;

  std::optional<std::vector<ManagedObjectRef>> fetchObjects(const FetchRequest& request, bool applyWindow,
                                                            fnd::Error* error);
  // The answer of `request` from objects read elsewhere (DetachedFetch), made into this
  // context's objects; `sorted` when they are in the request's order. Rows logged as changed
  // after `readSince` (a stamp not below the log's floor) are taken from here instead.
  std::optional<std::vector<ManagedObjectRef>> adoptRows(const FetchRequest& request, std::vector<ManagedObjectRef>&& rows,
                                                         bool sorted, std::uint64_t readSince, fnd::Error* error);
  // Registers rows read elsewhere from `from` on (at most `most`) that nothing here knows of,
  // so that adoptRows finds them held; answers where the next call starts.
  std::size_t registerReadRows(const std::vector<ManagedObjectRef>& rows, std::size_t from, std::size_t most,
                               std::uint64_t readSince);
  // The IDs and snapshots matching `predicate` as this context sees them, for a child's fetch.
  bool matchingSnapshots(const EntityDescription* entity, const PredicateRef& predicate,
                         std::vector<Snapshot>& out, fnd::Error* error);
};

// Converts a value to what the attribute's type holds, so readers see one representation.
fnd::Value coerceToAttribute(const AttributeDescription& a, fnd::Value v);

// SQL for a predicate over the columns of `entity`; false when any part of it cannot be
// translated with results identical to the evaluator.
// The ORDER BY of `sorts` when SQL orders exactly as sortObjects does (number and date
// attributes, ties in key order); false otherwise.
bool compileSortOrder(const std::vector<SortDescriptor>& sorts, const EntityDescription& e, std::string& sql);
// With `storeIdentifier`, the store whose rows are read, a to-one relationship compared with
// a stored object of that store is translated too.
bool compilePredicate(const Predicate& predicate, const EntityDescription& entity, std::string& sql,
                      std::vector<fnd::Value>& binds, const std::string* storeIdentifier = nullptr);
// The entities other than `entity` whose stored rows the SQL of `predicate` reads (the members of
// an ANY over a to-many relationship): unsaved changes to them are invisible to that SQL.
void entitiesReachedBySql(const Predicate& predicate, const EntityDescription& entity,
                          std::vector<const EntityDescription*>& out);
// Bumped whenever a temporary ID becomes permanent, so contexts know when to re-key objects.
extern std::atomic<std::uint64_t> idResolutions;

// Bumped whenever an entity class is registered, so cached factory look-ups stay right.
extern std::atomic<unsigned> classRegistryGeneration;

// sortArray for store objects, reading plain attributes by index.
void sortObjects(std::vector<ManagedObjectRef>& objects, const std::vector<SortDescriptor>& descriptors);

// The evaluator's rule for one comparison of two plain values.
bool compareScalar(const fnd::Value& l, ComparisonOperator op, const fnd::Value& r, unsigned options);

// Column and join-table names, for writers outside the coordinator (the bulk insert).
std::string storeColumnName(const std::string& attributeOrRelationship);
// The join table of a many-to-many relationship of `entity`, with the column that holds this
// side's key and the one that holds the other side's.
struct JoinColumns {
  std::string table, mine, theirs;
};
std::optional<JoinColumns> joinColumnsFor(const EntityDescription& entity, int relationship);

// Tells the context's save observers and the notification centre about rows written without
// the context (see BulkInsert).
void postSaveNotification(Context& context, const SaveNotification& notification);

// The SQL function the compiled text uses for folded comparisons.
void registerSqlFunctions(void* db);

// The error of a store file found damaged by a check of ours (Coordinator::isDamageError holds).
fnd::Error damageFoundError(const std::string& what, const std::string& path);
// A connection of ours waits for the lock of the file at `path`: every whole-file check reading
// it (StoreFileCheck) lets go at once. Any thread.
void giveWayToWriters(const std::string& path);

}  // namespace kesto::store
