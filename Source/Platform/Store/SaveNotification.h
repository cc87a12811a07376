#pragma once

#include "Platform/Store/StoreNotifications.h"
#include "Platform/Store/ManagedObject.h"

#include <functional>
#include <vector>

namespace kesto::store {

class Context;

// What a save changed, as the saving context saw it. Delivered synchronously on the saving
// context's queue; the objects belong to that context, the IDs are usable in any context of the
// same coordinator (see Context::mergeChangesFromSave).
struct SaveNotification {
  Context* context = nullptr;
  std::vector<ManagedObjectRef> inserted;
  std::vector<ManagedObjectRef> updated;
  std::vector<ManagedObjectRef> deleted;
  std::vector<ObjectIDRef> insertedIDs;
  std::vector<ObjectIDRef> updatedIDs;
  std::vector<ObjectIDRef> deletedIDs;
  // False when the save only wrote attribute values of existing rows: no to-many set anywhere
  // gained or lost a member, so a merge keeps the sets it has loaded.
  bool relationshipsChanged = true;
};

// Keys of the did-save notification's user info (arrays of object IDs).
inline constexpr const char* kInsertedObjectsKey = "inserted";
inline constexpr const char* kUpdatedObjectsKey = "updated";
inline constexpr const char* kDeletedObjectsKey = "deleted";

using SaveObserver = std::function<void(const SaveNotification&)>;

}  // namespace kesto::store
