#pragma once

// Class-level state of the record stack, shared by its source files only.

#include "Model/Unused/Records/RecordKit.h"
#include "Model/Unused/Records/RecordStore.h"
#include "Platform/Foundation/NotificationCenter.h"

#include <mutex>

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

// The observer identity the context class registers under (for rootContextChanged).
const void* contextClassObserver();

}  // namespace kesto::recordkit::detail
