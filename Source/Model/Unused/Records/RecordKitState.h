#pragma once

// Class-level state of the record stack, shared by its source files only.

#include "Model/Unused/Records/RecordKit.h"
#include "Model/Unused/Records/RecordStore.h"
#include "Platform/Foundation/NotificationCenter.h"

#include <mutex>
#include <utility>

namespace kesto::recordkit::detail {

struct Registry {
  std::recursive_mutex mutex;
  ModelRef model;
  CoordinatorRef coordinator;
  PersistentStoreRef store;
  std::shared_ptr<store::Context> rootSavingContext;
  std::shared_ptr<store::Context> defaultContext;
  fnd::ObserverToken iCloudSetupObserver;
  bool iCloudEnabled = false;
  bool autoCreateModel = true;
  bool autoCreateCoordinator = false;
  bool deleteStoreOnModelMismatch = false;
  std::shared_ptr<void> errorTarget;
  RecordErrorAction errorAction;
};

Registry& registry();

// One field of the registry, read or replaced under its lock.
template <class T>
T readLocked(T Registry::*field) {
  std::lock_guard lock(registry().mutex);
  return registry().*field;
}
template <class T>
void writeLocked(T Registry::*field, T value) {
  std::lock_guard lock(registry().mutex);
  registry().*field = std::move(value);
}

// The observer identity the context class registers under (for rootContextChanged).
const void* contextClassObserver();

}  // namespace kesto::recordkit::detail
