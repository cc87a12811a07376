#include "Model/Unused/Records/RecordStore.h"

#include "Model/Unused/Records/RecordKitState.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/RunLoop.h"
#include "Platform/Foundation/StandardPaths.h"
#include "Platform/Store/Coordinator.h"
#include "Platform/Store/Model.h"

namespace kesto::recordkit {

namespace {


const char* const kFileScheme = "file://";

bool hasPrefix(const std::string& s, std::string_view prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

// A path from a file URL or a plain absolute path; empty for a bare store name.
std::string pathFromURL(const std::string& nameOrURL) {
  if (hasPrefix(nameOrURL, kFileScheme)) return nameOrURL.substr(std::string_view(kFileScheme).size());
  if (!nameOrURL.empty() && nameOrURL.front() == '/') return nameOrURL;
  return {};
}

std::string baseName(const std::string& name) {
  auto dot = name.rfind('.');
  auto slash = name.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return name;
  return name.substr(0, dot);
}

}  // namespace

std::string PersistentStore::description() const {
  return "<PersistentStore: " + type + " " + (path.empty() ? std::string("(in memory)") : path) + " " +
         identifier + ">";
}

// --- Models -----------------------------------------------------------------------------------

ModelRef RK_mergedObjectModelFromMainBundle() {
  auto merged = store::Model::merged(store::Model::allNamedModels());
  fnd::Error error;
  if (!merged->finish(&error)) {
    RecordKit::handleErrors(&error);
    return nullptr;
  }
  return merged;
}

ModelRef RK_newModelNamed(const std::string& modelName, const std::string& bundleName) {
  std::string base = baseName(modelName);
  if (base.empty()) return nullptr;
  if (!bundleName.empty()) return store::Model::named(bundleName + "/" + base);
  return store::Model::named(base);
}

ModelRef RK_newManagedObjectModelNamed(const std::string& modelName) { return RK_newModelNamed(modelName, {}); }

ModelRef RK_managedObjectModelNamed(const std::string& modelName) { return RK_newManagedObjectModelNamed(modelName); }

ModelRef RK_defaultManagedObjectModel() {
  std::lock_guard lock(detail::registry().mutex);
  if (!detail::registry().model && detail::registry().autoCreateModel) detail::registry().model = RK_mergedObjectModelFromMainBundle();
  return detail::registry().model;
}

void RK_setDefaultManagedObjectModel(ModelRef model) {
  detail::writeLocked(&detail::Registry::model, std::move(model));
}

// --- Locations --------------------------------------------------------------------------------

std::string RK_directory(SearchPathDirectory directory) {
  switch (directory) {
    case SearchPathDirectory::Documents:
      return fnd::StandardPaths::documentsDirectory();
    case SearchPathDirectory::ApplicationSupport:
      return fnd::StandardPaths::applicationSupportDirectory();
  }
  return {};
}

std::string RK_applicationDocumentsDirectory() { return RK_directory(SearchPathDirectory::Documents); }

std::string RK_applicationStorageDirectory() {
  return fnd::StandardPaths::appendingPathComponent(RK_directory(SearchPathDirectory::ApplicationSupport),
                                                    fnd::StandardPaths::applicationName());
}

std::string RK_urlForStoreName(const std::string& storeFileName) {
  for (const std::string& folder : {RK_applicationDocumentsDirectory(), RK_applicationStorageDirectory()}) {
    std::string path = fnd::StandardPaths::appendingPathComponent(folder, storeFileName);
    if (fnd::FileManager::fileExists(path)) return path;
  }
  return fnd::StandardPaths::appendingPathComponent(RK_applicationStorageDirectory(), storeFileName);
}

std::string RK_defaultLocalStoreUrl() { return RK_urlForStoreName(kRecordKitFallbackStoreName); }

std::string RK_cloudURLForUbiqutiousContainer(const std::string&) { return {}; }

PersistentStoreRef RK_defaultPersistentStore() { return detail::readLocked(&detail::Registry::store); }

void RK_setDefaultPersistentStore(PersistentStoreRef store) {
  detail::writeLocked(&detail::Registry::store, std::move(store));
}

PersistentStoreRef RK_persistentStoreOf(const CoordinatorRef& coordinator) {
  if (!coordinator || !coordinator->hasStore()) return nullptr;
  auto s = std::make_shared<PersistentStore>();
  s->type = coordinator->storeType();
  s->path = s->type == store::kInMemoryStoreType ? std::string() : coordinator->storePath();
  s->identifier = coordinator->storeIdentifier();
  return s;
}

// --- Adding stores ----------------------------------------------------------------------------

bool RK_createPathToStoreFileIfNeccessary(const std::string& storePath) {
  std::string folder = fnd::FileManager::deletingLastPathComponent(storePath);
  if (folder.empty()) return true;
  fnd::Error error;
  if (fnd::FileManager::createDirectory(folder, true, 0700, &error)) return true;
  RecordKit::handleErrors(&error);
  return false;
}

PersistentStoreRef RK_addSqliteStoreNamed(const CoordinatorRef& coordinator, const std::string& storeNameOrPath,
                                          const fnd::Dictionary& options) {
  if (!coordinator) return nullptr;
  std::string path = pathFromURL(storeNameOrPath);
  if (path.empty()) path = RK_urlForStoreName(storeNameOrPath);
  RK_createPathToStoreFileIfNeccessary(path);
  fnd::Error error;
  if (coordinator->addStore(store::kSQLiteStoreType, path, options, &error)) return RK_persistentStoreOf(coordinator);
  if (!RecordKit::shouldDeleteStoreOnModelMismatch()) return nullptr;
  std::optional<fnd::Error> remaining = error;
  bool mismatch = error.domain() == fnd::kCocoaErrorDomain &&
                  (error.code() == store::kPersistentStoreIncompatibleVersionHashError ||
                   error.code() == store::kMigrationMissingSourceModelError);
  if (mismatch) {
    // The journal files belong to the old store: a new store must not replay them.
    fnd::FileManager::removeItem(path);
    for (const char* suffix : {"-wal", "-shm", "-journal"})
      if (fnd::FileManager::fileExists(path + suffix)) fnd::FileManager::removeItem(path + suffix);
    fnd::Error second;
    if (coordinator->addStore(store::kSQLiteStoreType, path, options, &second))
      remaining.reset();
    else
      remaining = second;
  }
  if (remaining) RecordKit::handleErrors(&*remaining);
  return RK_persistentStoreOf(coordinator);
}

PersistentStoreRef RK_addAutoMigratingSqliteStoreNamed(const CoordinatorRef& coordinator,
                                                       const std::string& storeNameOrPath) {
  return RK_addSqliteStoreNamed(coordinator, storeNameOrPath, RK_autoMigrationOptions());
}

PersistentStoreRef RK_addInMemoryStore(const CoordinatorRef& coordinator) {
  if (!coordinator) return nullptr;
  fnd::Error error;
  if (!coordinator->addStore(store::kInMemoryStoreType, {}, {}, &error)) {
    RecordKit::handleErrors(&error);
    return nullptr;
  }
  return RK_persistentStoreOf(coordinator);
}

fnd::Dictionary RK_autoMigrationOptions() {
  fnd::Dictionary pragmas;
  pragmas["journal_mode"] = "WAL";
  fnd::Dictionary options;
  options[store::kMigratePersistentStoresAutomaticallyOption] = true;
  options[store::kInferMappingModelAutomaticallyOption] = true;
  options[store::kSQLitePragmasOption] = pragmas;
  return options;
}

// --- Coordinators -----------------------------------------------------------------------------

namespace {
CoordinatorRef newCoordinator() { return store::Coordinator::make(RK_defaultManagedObjectModel()); }
}  // namespace

CoordinatorRef RK_coordinatorWithSqliteStoreNamed(const std::string& storeNameOrPath, const fnd::Dictionary& options) {
  CoordinatorRef c = newCoordinator();
  RK_addSqliteStoreNamed(c, storeNameOrPath, options);
  return c;
}

CoordinatorRef RK_coordinatorWithSqliteStoreNamed(const std::string& storeNameOrPath) {
  return RK_coordinatorWithSqliteStoreNamed(storeNameOrPath, {});
}

CoordinatorRef RK_coordinatorWithAutoMigratingSqliteStoreNamed(const std::string& storeNameOrPath) {
  CoordinatorRef c = newCoordinator();
  RK_addAutoMigratingSqliteStoreNamed(c, storeNameOrPath);
  if (!c->hasStore())
    fnd::RunLoop::current().performAfterDelay(0.5, [c, storeNameOrPath] {
      if (!c->hasStore()) RK_addAutoMigratingSqliteStoreNamed(c, storeNameOrPath);
    });
  return c;
}

CoordinatorRef RK_coordinatorWithInMemoryStore() {
  CoordinatorRef c = newCoordinator();
  RK_addInMemoryStore(c);
  return c;
}

CoordinatorRef RK_coordinatorWithPersistentStore(const PersistentStoreRef& store) {
  CoordinatorRef c = newCoordinator();
  if (store && !store->path.empty()) {
    fnd::Error error;
    if (!c->addStore(store::kSQLiteStoreType, store->path, {}, &error)) RecordKit::handleErrors(&error);
  }
  return c;
}

CoordinatorRef RK_newPersistentStoreCoordinator() { return RK_coordinatorWithSqliteStoreNamed(RecordKit::defaultStoreName()); }

void RK_addiCloudContainerID(const CoordinatorRef& coordinator, const std::string& containerID,
                             const std::string& contentNameKey, const std::string& localStoreName,
                             const std::string& cloudStorePathComponent, std::function<void()> completion) {
  if (!coordinator) return;
  fnd::DispatchQueue::global().async([=] {
    std::string cloudURL = RK_cloudURLForUbiqutiousContainer(containerID);
    if (!cloudURL.empty() && !cloudStorePathComponent.empty())
      cloudURL = fnd::StandardPaths::appendingPathComponent(cloudURL, cloudStorePathComponent);
    RecordKit::setICloudEnabled(!cloudURL.empty());
    fnd::Dictionary options = RK_autoMigrationOptions();
    if (!cloudURL.empty()) {
      fnd::Dictionary cloud;
      cloud[kPersistentStoreUbiquitousContentNameKey] = contentNameKey;
      cloud[kPersistentStoreUbiquitousContentURLKey] = cloudURL;
      options = RK_dictionaryByMergingDictionary(options, cloud);
    }
    coordinator->lock();
    RK_addSqliteStoreNamed(coordinator, localStoreName, options);
    coordinator->unlock();
    fnd::DispatchQueue::main().async([coordinator, completion] {
      if (!RK_defaultPersistentStore() && coordinator->hasStore())
        RK_setDefaultPersistentStore(RK_persistentStoreOf(coordinator));
      if (completion) completion();
      fnd::NotificationCenter::defaultCenter().postNotificationName(kRecordKitPSCDidCompleteiCloudSetupNotification);
    });
  });
}

CoordinatorRef RK_coordinatorWithiCloudContainerID(const std::string& containerID, const std::string& contentNameKey,
                                                   const std::string& localStoreName,
                                                   const std::string& cloudStorePathComponent,
                                                   std::function<void()> completion) {
  CoordinatorRef c = newCoordinator();
  RK_addiCloudContainerID(c, containerID, contentNameKey, localStoreName, cloudStorePathComponent,
                          std::move(completion));
  return c;
}

CoordinatorRef RK_defaultStoreCoordinator() {
  std::lock_guard lock(detail::registry().mutex);
  if (!detail::registry().coordinator && detail::registry().autoCreateCoordinator) RK_setDefaultStoreCoordinator(RK_newPersistentStoreCoordinator());
  return detail::registry().coordinator;
}

void RK_setDefaultStoreCoordinator(CoordinatorRef coordinator) {
  std::lock_guard lock(detail::registry().mutex);
  detail::registry().coordinator = std::move(coordinator);
  if (detail::registry().coordinator && detail::registry().coordinator->hasStore() && !detail::registry().store)
    detail::registry().store = RK_persistentStoreOf(detail::registry().coordinator);
}

fnd::Dictionary RK_dictionaryByMergingDictionary(const fnd::Dictionary& base, const fnd::Dictionary& other) {
  fnd::Dictionary merged = base;
  for (const auto& [key, value] : other) merged[key] = value;
  return merged;
}

}  // namespace kesto::recordkit
