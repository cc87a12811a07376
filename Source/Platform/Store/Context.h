#pragma once

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/FoundationForward.h"
#include "Platform/Store/FetchRequest.h"
#include "Platform/Store/ManagedObject.h"
#include "Platform/Store/SaveNotification.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kesto::store {

class Coordinator;

enum class ConcurrencyType {
  MainQueue,     // used on the main thread; perform() posts to the main loop
  PrivateQueue,  // its own serial queue; use it through perform / performAndWait
  Confinement,   // used only on the thread that made it
};

enum class MergePolicy {
  Error,                // a save over rows changed elsewhere fails with the conflicts
  PropertyObjectTrump,  // changed properties win, the others take the stored values
  Overwrite,            // the whole object wins
};

// A scratch pad of objects over a coordinator (a root context) or over a parent context (a
// child). Root saves write to the store in one transaction; child saves push their changes into
// the parent in memory. Fetches and counts see the unsaved changes of the context and its
// ancestors. One object per row per context.
//
// Errors come back as results (optional / bool plus fnd::Error); nothing throws.
class Context : public std::enable_shared_from_this<Context> {
 public:
  static std::shared_ptr<Context> make(ConcurrencyType type);
  ~Context();

  ConcurrencyType concurrencyType() const;
  // A context has either a coordinator or a parent.
  void setCoordinator(std::shared_ptr<Coordinator> coordinator);
  void setParent(std::shared_ptr<Context> parent);
  std::shared_ptr<Coordinator> coordinator() const;  // also for children: the root's
  std::shared_ptr<Context> parent() const;
  MergePolicy mergePolicy() const;
  void setMergePolicy(MergePolicy policy);
  // Undo registration for inserts, deletes, attribute and relationship changes (main context).
  void setUndoManager(std::shared_ptr<fnd::UndoManager> undoManager);
  fnd::UndoManager* undoManager() const;
  // A free-form name and user info for the record layer.
  fnd::Dictionary& userInfo();
  std::string name() const;
  void setName(std::string name);

  // Runs `block` on the context's queue: later (perform) or now, waiting for it (performAndWait).
  // performAndWait on the context's own queue or thread runs the block inline.
  void perform(std::function<void()> block);
  void performAndWait(const std::function<void()>& block);

  // Objects.
  // A new object of `entityName` (through its registered class), inserted, defaults set;
  // null for an unknown entity.
  ManagedObjectRef insertNewObject(const std::string& entityName);
  // Inserts a detached object (made with ManagedObject::make).
  void insertObject(const ManagedObjectRef& object);
  // Marks an object for deletion; relationships are nullified (or cascaded) at once.
  void deleteObject(const ManagedObjectRef& object);
  // The context's object for `id`, possibly a fault whose row loads on first use. Null for
  // an ID of another store.
  ManagedObjectRef objectWithID(const ObjectIDRef& id);
  // The object for `id`, loaded; null with an error when the row does not exist.
  ManagedObjectRef existingObjectWithID(const ObjectIDRef& id, fnd::Error* error = nullptr);
  // The registered object for `id`, if any; never loads.
  ManagedObjectRef objectRegisteredForID(const ObjectIDRef& id) const;
  // Reads the to-many relationship `relationshipIndex` of every one of `objects` not read yet,
  // together: a list showing a few rows of a large library reads their sets in one go, not one
  // by one and not the whole table. New objects, objects of other contexts and sets read
  // already are left as they are.
  void loadToMany(const std::vector<ManagedObjectRef>& objects, int relationshipIndex);
  // Gives the objects permanent IDs now (reserving their rows).
  bool obtainPermanentIDs(const std::vector<ManagedObjectRef>& objects, fnd::Error* error = nullptr);
  // Drops every changed value of `object` and reloads it on next use; keeps it when `merge`
  // is true and it has changes.
  void refreshObject(const ManagedObjectRef& object, bool mergeChanges);

  bool hasChanges() const;
  std::vector<ManagedObjectRef> insertedObjects() const;
  std::vector<ManagedObjectRef> updatedObjects() const;
  std::vector<ManagedObjectRef> deletedObjects() const;
  std::vector<ManagedObjectRef> registeredObjects() const;

  // Writes the changes (to the store, or into the parent). Calls willSave on changed objects
  // first. On failure answers false with an error whose detailed errors list each object's
  // problem; the changes stay.
  bool save(fnd::Error* error = nullptr);
  // Drops every unsaved change.
  void rollback();
  // Forgets every object (they become detached) and every change.
  void reset();

  // Fetching. Absent (with an error) on failure, so a failed fetch never reads as "none found".
  std::optional<std::vector<ManagedObjectRef>> fetch(const FetchRequest& request, fnd::Error* error = nullptr);
  std::optional<std::vector<ObjectIDRef>> fetchObjectIDs(const FetchRequest& request, fnd::Error* error = nullptr);
  std::optional<std::int64_t> count(const FetchRequest& request, fnd::Error* error = nullptr);
  // Dictionary results (propertiesToFetch, or one dictionary of the request's expressions).
  std::optional<std::vector<fnd::Dictionary>> fetchDictionaries(const FetchRequest& request,
                                                                fnd::Error* error = nullptr);
  // One aggregate over the objects the request matches (limit and offset ignored). Null value
  // for min/max/average over no values; 0 for sum and count.
  std::optional<fnd::Value> aggregate(const FetchRequest& request, AggregateFunction function,
                                      const std::string& keyPath, fnd::Error* error = nullptr);

  // Saves.
  // Observers of this context's saves (or of every context with observeAllSaves); answer a
  // token for removeSaveObserver.
  int addSaveObserver(SaveObserver observer);
  static int observeAllSaves(SaveObserver observer);
  // Observers told, on this context's queue, after another context's save was merged in here
  // (by mergeChangesFromSave, or after the last slice of mergeChangesFromSaveInSlices); removed
  // with removeSaveObserver.
  int addMergeObserver(SaveObserver observer);
  void removeSaveObserver(int token);
  static void removeGlobalSaveObserver(int token);
  // Brings another context's saved changes into this one: refreshes updated objects that have no
  // changes here, forgets deleted ones, and makes inserted ones fetchable. Call it on this
  // context's queue.
  void mergeChangesFromSave(const SaveNotification& notification);
  // The same for a main-queue context, spread over turns of the main loop `slice` objects at a
  // time, so that taking in a save of many rows never holds the interface up. `done` runs on the
  // main loop after the last slice (in a later turn even when the save changed nothing), unless
  // the context is gone by then. Only the notification's IDs are used: call it from any thread.
  void mergeChangesFromSaveInSlices(const SaveNotification& notification, std::function<void()> done,
                                    std::size_t slice = 500);

  struct Impl;

 private:
  friend struct ImplAccess;
  Impl& impl() { return *impl_; }
  explicit Context(ConcurrencyType type);
  std::unique_ptr<Impl> impl_;
};

using ContextRef = std::shared_ptr<Context>;

}  // namespace kesto::store
