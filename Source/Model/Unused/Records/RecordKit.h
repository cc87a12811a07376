#pragma once

#include "Model/ModelNotifications.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Store/StoreForward.h"

#include <functional>
#include <memory>
#include <string>

namespace kesto {

// The store name used when the application has no name of its own.
inline constexpr const char* kRecordKitFallbackStoreName = "CoreDataStore.sqlite";

// Work on a context handed out by the save family below.
using RecordBlock = std::function<void(const std::shared_ptr<store::Context>& context)>;
// The outcome of a save, delivered on the main queue. `error` may be null on failure too (a
// context without changes reports failure with no error).
using RecordSaveCompletion = std::function<void(bool success, const fnd::Error* error)>;
using RecordErrorHandler = std::function<void(const fnd::Error* error)>;
// An error action performed on the registered target.
using RecordErrorAction = std::function<void(const std::shared_ptr<void>& target, const fnd::Error& error)>;

// A self-contained record stack: one class-level model, coordinator, store, root saving context
// and main-queue default context, with saves that chain up to the store. Everything here is
// class-level; nothing in the application depends on it being set up.
class RecordKit {
 public:
  RecordKit() = delete;

  // Set-up. Each form does nothing when a default coordinator exists (except the cloud form).
  static void setupCoreDataStack();
  static void setupAutoMigratingCoreDataStack();
  static void setupCoreDataStackWithStoreNamed(const std::string& storeName);
  static void setupCoreDataStackWithAutoMigratingSqliteStoreNamed(const std::string& storeName);
  static void setupCoreDataStackWithInMemoryStore();
  // There is no ubiquity container on this platform: these add the local store with the
  // auto-migration options, turn the cloud flag off and post the set-up notification.
  static void setupCoreDataStackWithiCloudContainer(const std::string& containerID, const std::string& localStoreName);
  static void setupCoreDataStackWithiCloudContainer(const std::string& containerID, const std::string& contentNameKey,
                                                    const std::string& localStoreName,
                                                    const std::string& cloudStorePathComponent,
                                                    std::function<void()> completion = {});

  // The application's name with the extension "sqlite", or the fallback name.
  static std::string defaultStoreName();
  // The rule behind defaultStoreName for a given application name (empty: none).
  static std::string storeNameForBundleName(const std::string& bundleName);
  static void setDefaultModelNamed(const std::string& modelName);
  // The merged model of every registered model holding an entity of class `className`.
  static void setDefaultModelFromClass(const std::string& className);

  static void cleanUp();
  static void cleanUpErrorHanding();
  static void cleanUpStack();
  // A multi-line description of the default stack, for logs.
  static std::string currentStack();

  static bool isICloudEnabled();
  static void setICloudEnabled(bool enabled);
  static bool shouldAutoCreateManagedObjectModel();
  static void setShouldAutoCreateManagedObjectModel(bool value);
  static bool shouldAutoCreateDefaultPersistentStoreCoordinator();
  static void setShouldAutoCreateDefaultPersistentStoreCoordinator(bool value);
  static bool shouldDeleteStoreOnModelMismatch();
  static void setShouldDeleteStoreOnModelMismatch(bool value);

  // Every error of the layer comes here. Null is ignored; with a target and action registered
  // the action runs, otherwise defaultErrorHandler.
  static void handleErrors(const fnd::Error* error);
  static void handleErrors(const fnd::Error& error) { handleErrors(&error); }
  static void defaultErrorHandler(const fnd::Error& error);
  static std::shared_ptr<void> errorHandlerTarget();
  static RecordErrorAction errorHandlerAction();
  static void setErrorHandlerTarget(std::shared_ptr<void> target, RecordErrorAction action);

  // Saves with a block: the block fills a working context, which is then saved.
  static void saveWithBlock(RecordBlock block);
  static void saveWithBlock(RecordBlock block, RecordSaveCompletion completion);
  static void saveWithBlockAndWait(RecordBlock block);
  static void saveUsingCurrentThreadContextWithBlock(RecordBlock block, RecordSaveCompletion completion);
  static void saveUsingCurrentThreadContextWithBlockAndWait(RecordBlock block);
  static void saveInBackgroundWithBlock(RecordBlock block);
  static void saveInBackgroundWithBlock(RecordBlock block, std::function<void()> completion);
  static void saveInBackgroundUsingCurrentContextWithBlock(RecordBlock block, std::function<void()> completion,
                                                           RecordErrorHandler errorHandler);
};

}  // namespace kesto
