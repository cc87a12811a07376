#pragma once

#include "Model/Unused/Records/RecordTypes.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Value.h"

#include <functional>
#include <memory>
#include <string>

// The model, store and coordinator side of the record stack: default model, coordinator and
// store, where store files live, and coordinators made with SQLite, in-memory or cloud stores.
namespace kesto::recordkit {

// A store added to a coordinator: its type, file and identity.
struct PersistentStore {
  std::string type;
  std::string path;  // empty for in-memory stores
  std::string identifier;
  std::string description() const;
};
using PersistentStoreRef = std::shared_ptr<const PersistentStore>;

// Cloud store options (the names are kept; nothing on this platform reads them).
inline constexpr const char* kPersistentStoreUbiquitousContentNameKey = "NSPersistentStoreUbiquitousContentNameKey";
inline constexpr const char* kPersistentStoreUbiquitousContentURLKey = "NSPersistentStoreUbiquitousContentURLKey";

// Models.
ModelRef RK_mergedObjectModelFromMainBundle();  // every registered model, merged
// A registered model by resource name ("Name.ext" or "Name"), looked up as "bundle/Name" when a
// bundle is given; null when there is none.
ModelRef RK_newModelNamed(const std::string& modelName, const std::string& bundleName);
ModelRef RK_newManagedObjectModelNamed(const std::string& modelName);
ModelRef RK_managedObjectModelNamed(const std::string& modelName);
ModelRef RK_defaultManagedObjectModel();
void RK_setDefaultManagedObjectModel(ModelRef model);

// Store locations.
enum class SearchPathDirectory { Documents, ApplicationSupport };
std::string RK_directory(SearchPathDirectory directory);
std::string RK_applicationDocumentsDirectory();
std::string RK_applicationStorageDirectory();
// The file of that name in the documents or the storage folder, else in the storage folder.
std::string RK_urlForStoreName(const std::string& storeFileName);
std::string RK_defaultLocalStoreUrl();
// Empty: there is no ubiquity container on this platform.
std::string RK_cloudURLForUbiqutiousContainer(const std::string& containerID);
PersistentStoreRef RK_defaultPersistentStore();
void RK_setDefaultPersistentStore(PersistentStoreRef store);

// The store a coordinator holds, or null.
PersistentStoreRef RK_persistentStoreOf(const CoordinatorRef& coordinator);

// Coordinators.
bool RK_createPathToStoreFileIfNeccessary(const std::string& storePath);
// `storeNameOrPath`: an absolute path or "file://" URL is used as it is; a name is resolved
// with RK_urlForStoreName.
PersistentStoreRef RK_addSqliteStoreNamed(const CoordinatorRef& coordinator, const std::string& storeNameOrPath,
                                          const fnd::Dictionary& options);
PersistentStoreRef RK_addAutoMigratingSqliteStoreNamed(const CoordinatorRef& coordinator,
                                                       const std::string& storeNameOrPath);
PersistentStoreRef RK_addInMemoryStore(const CoordinatorRef& coordinator);
fnd::Dictionary RK_autoMigrationOptions();
CoordinatorRef RK_coordinatorWithSqliteStoreNamed(const std::string& storeNameOrPath, const fnd::Dictionary& options);
CoordinatorRef RK_coordinatorWithSqliteStoreNamed(const std::string& storeNameOrPath);
// Retries the add once, half a second later on the current run loop, when the first fails.
CoordinatorRef RK_coordinatorWithAutoMigratingSqliteStoreNamed(const std::string& storeNameOrPath);
CoordinatorRef RK_coordinatorWithInMemoryStore();
CoordinatorRef RK_coordinatorWithPersistentStore(const PersistentStoreRef& store);
CoordinatorRef RK_newPersistentStoreCoordinator();
// Adds the local store on a background queue; then, on the main queue, fills the default store,
// runs `completion` and posts kRecordKitPSCDidCompleteiCloudSetupNotification.
void RK_addiCloudContainerID(const CoordinatorRef& coordinator, const std::string& containerID,
                             const std::string& contentNameKey, const std::string& localStoreName,
                             const std::string& cloudStorePathComponent, std::function<void()> completion = {});
CoordinatorRef RK_coordinatorWithiCloudContainerID(const std::string& containerID, const std::string& contentNameKey,
                                                   const std::string& localStoreName,
                                                   const std::string& cloudStorePathComponent,
                                                   std::function<void()> completion = {});
CoordinatorRef RK_defaultStoreCoordinator();
// Also makes the coordinator's store the default store when there is none yet.
void RK_setDefaultStoreCoordinator(CoordinatorRef coordinator);

// A copy of `base` with every entry of `other` added; `other` wins on equal keys.
fnd::Dictionary RK_dictionaryByMergingDictionary(const fnd::Dictionary& base, const fnd::Dictionary& other);

}  // namespace kesto::recordkit
