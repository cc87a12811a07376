#include "Model/WrenDataManager.h"

#include "Model/DataModel.h"

#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/StandardPaths.h"
#include "Platform/Foundation/UndoManager.h"
#include "Platform/Store/Context.h"
#include "Platform/Store/Coordinator.h"
#include "Platform/Store/StoreFileCheck.h"

#include <sqlite3.h>
#include <sys/stat.h>

namespace kesto {

namespace {

constexpr const char* kStoreExtension = ".sqlite";

fnd::Error storeError(const std::string& path, const fnd::Error* cause) {
  fnd::Dictionary info{
      {fnd::kLocalizedDescriptionKey, std::string("Failed to initialize the store")},
      {fnd::kLocalizedFailureReasonKey, std::string("There was an error building up the data file.")},
      {fnd::kFilePathErrorKey, path},
  };
  fnd::Error e("BRIGHTWREN", 1, std::move(info));
  if (cause) e.setUnderlyingError(*cause);
  return e;
}

}  // namespace

WrenDataManager::WrenDataManager()
    : folder_(fnd::StandardPaths::applicationName()), filename_("data"), modelName_(folder_) {}

WrenDataManager& WrenDataManager::sharedInstance() {
  static WrenDataManager instance;
  return instance;
}

std::string WrenDataManager::coreDataFolder() const {
  std::lock_guard lock(mutex_);
  return folder_;
}

void WrenDataManager::setCoreDataFolder(const std::string& folder) {
  std::lock_guard lock(mutex_);
  folder_ = folder;
}

std::string WrenDataManager::coreDataFilename() const {
  std::lock_guard lock(mutex_);
  return filename_ + kStoreExtension;
}

std::string WrenDataManager::managedObjectModelName() const {
  std::lock_guard lock(mutex_);
  return modelName_;
}

std::string WrenDataManager::applicationSupportDirectory() const {
  return fnd::StandardPaths::appendingPathComponent(fnd::StandardPaths::applicationSupportDirectory(), coreDataFolder());
}

std::string WrenDataManager::externalRecordsDirectory() const {
  std::string caches = fnd::StandardPaths::cachesDirectory();
  if (caches.empty()) caches = fnd::StandardPaths::temporaryDirectory();
  return fnd::StandardPaths::appendingPathComponent(
      fnd::StandardPaths::appendingPathComponent(caches, "Metadata/CoreData"), coreDataFolder());
}

std::string WrenDataManager::applicationDocumentsDirectory() const { return fnd::StandardPaths::documentsDirectory(); }

std::string WrenDataManager::persistentStorePath() const {
  return fnd::StandardPaths::appendingPathComponent(applicationSupportDirectory(), coreDataFilename());
}

void WrenDataManager::setTestMode(const std::string& name) {
  std::lock_guard lock(mutex_);
  if (coordinator_) return;
  folder_ = name;
  modelName_ = name;
  filename_ = "test_data";
}

std::shared_ptr<const store::Model> WrenDataManager::managedObjectModel() { return DataModel::model(); }

bool WrenDataManager::openStoreLocked(fnd::Error* error) {
  auto model = managedObjectModel();
  if (!model) {
    fnd::logFormat(fnd::LogFlag::Error, "%s:No model to generate a store from", "WrenDataManager");
    if (error) *error = fnd::Error::withDescription("BRIGHTWREN", 1, "No model to generate a store from");
    return false;
  }
  const std::string folder = applicationSupportDirectory();
  fnd::Error fileError;
  // Intermediates too: on a fresh account even the data folder may be missing.
  if (!fnd::FileManager::createPrivateDirectory(folder, &fileError)) {
    fnd::logFormat(fnd::LogFlag::Error, "Error creating application support directory at %s : %s", folder.c_str(),
                   fileError.localizedDescription().c_str());
    if (error) *error = storeError(folder, &fileError);
    return false;
  }
  auto coordinator = store::Coordinator::make(model);
  fnd::Dictionary options{{store::kMigratePersistentStoresAutomaticallyOption, true},
                          {store::kInferMappingModelAutomaticallyOption, true}};
  if (acceptUnknownModel_) options[store::kMigrateUnknownModelOption] = true;
  acceptUnknownModel_ = false;
  const std::string path = persistentStorePath();
  fnd::Error addError;
  // A damaged file can open (its first pages are whole) and then read as an empty library: its
  // first pages are looked at before anything uses it, and a lost one counts as a file that does
  // not open. The rest of the file is checked later (checkWholeStoreInBackground).
  if (!coordinator->addStore(store::kSQLiteStoreType, path, options, &addError) ||
      (!coordinator->createdStore() && !coordinator->checkForDamage(0, &addError))) {
    if (coordinator->hasStore()) coordinator->removeStore();
    fnd::logFormat(fnd::LogFlag::Error, "CoreDataManager Error: %s", addError.description().c_str());
    if (error) *error = storeError(path, &addError);
    return false;
  }
  coordinator_ = std::move(coordinator);
  damageNoted_ = false;
  return true;
}

WrenDataManager::StoreProblem WrenDataManager::lastProblem() const {
  std::lock_guard lock(mutex_);
  if (!lastError_) return StoreProblem::None;
  auto cause = lastError_->underlyingError();
  if (!cause) return StoreProblem::Unavailable;
  if (cause->domain() == fnd::kCocoaErrorDomain) {
    if (cause->code() == store::kMigrationMissingSourceModelError) return StoreProblem::NewerVersion;
    if (cause->code() == store::kPersistentStoreIncompatibleVersionHashError) return StoreProblem::UnknownModel;
    if (cause->code() == store::kFileReadCorruptFileError || store::Coordinator::isDamageError(*cause))
      return StoreProblem::Damaged;
  }
  struct stat st {};
  const std::string path = persistentStorePath();
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 ? StoreProblem::Damaged
                                                                                  : StoreProblem::Unavailable;
}

void WrenDataManager::acceptUnknownModelOnce() {
  std::lock_guard lock(mutex_);
  acceptUnknownModel_ = true;
}

void WrenDataManager::noteFailure(const fnd::Error& error) {
  if (auto gone = libraryGoneFromFile(error)) return noteFailureFoundBy(nullptr, *gone);
  noteFailureFoundBy(nullptr, error);
}

std::optional<fnd::Error> WrenDataManager::libraryGoneFromFile(const fnd::Error& error) {
  if (store::Coordinator::isDamageError(error)) return std::nullopt;
  auto it = error.userInfo().find("NSSQLiteErrorDomain");
  if (it == error.userInfo().end() || (it->second.intValue() & 0xff) != SQLITE_ERROR) return std::nullopt;
  std::string path;
  std::shared_ptr<const store::Model> model;
  {
    std::lock_guard lock(mutex_);
    if (!coordinator_ || coordinator_->storeType() != store::kSQLiteStoreType) return std::nullopt;
    path = coordinator_->storePath();
    model = coordinator_->model();
  }
  // The file is looked at as another program would: a library whose tables are there failed
  // for another reason.
  if (!model || store::Coordinator::checkStoreFile(path, *model)) return std::nullopt;
  fnd::Error damaged = fnd::Error::withDescription(
      fnd::kCocoaErrorDomain, store::kFileReadCorruptFileError,
      "the file no longer holds the library's tables: it was emptied or cut short while Kesto was running");
  damaged.mutableUserInfo()["NSSQLiteErrorDomain"] = SQLITE_CORRUPT;
  return damaged;
}

void WrenDataManager::noteFailureFoundBy(const store::StoreFileCheck* check, const fnd::Error& error) {
  if (!store::Coordinator::isDamageError(error)) return;
  {
    std::lock_guard lock(mutex_);
    // What a check of a store closed since found (a restore put another in its place) is no news.
    if (!coordinator_ || damageNoted_ || (check && check != wholeCheck_.get())) return;
    damageNoted_ = true;
  }
  fnd::logError("The library file is damaged: " + error.localizedDescription());
  auto shared = std::make_shared<fnd::Error>(error);
  fnd::DispatchQueue::main().async([this, shared] {
    fnd::NotificationCenter::defaultCenter().postNotificationName(WrenDataManagerStoreDamagedNotification, this,
                                                                  fnd::Dictionary{{"error", fnd::Value(shared)}});
  });
}

void WrenDataManager::checkWholeStoreInBackground(std::function<void()> done) {
  std::shared_ptr<store::StoreFileCheck> check;
  {
    std::lock_guard lock(mutex_);
    if (!coordinator_ || coordinator_->storeType() != store::kSQLiteStoreType || wholeCheck_) {
      if (done) fnd::DispatchQueue::main().async(std::move(done));
      return;
    }
    wholeCheck_ = check = std::make_shared<store::StoreFileCheck>(coordinator_->storePath());
  }
  fnd::DispatchQueue::global(fnd::DispatchQueue::Priority::Background).async([this, check, done] {
    fnd::Error error;
    switch (check->run(&error)) {
      case store::StoreFileCheck::Result::Damaged: noteFailureFoundBy(check.get(), error); break;
      case store::StoreFileCheck::Result::Failed:
        fnd::logWarning("The library could not be checked for damage: " + error.localizedDescription());
        break;
      default: break;
    }
    if (done) fnd::DispatchQueue::main().async(done);
  });
}

void WrenDataManager::reportFailure(const fnd::Error& error) {
  fnd::NotificationCenter::defaultCenter().postNotificationName(
      WrenDataManagerStoreFailedNotification, this,
      fnd::Dictionary{{"error", fnd::Value(std::make_shared<fnd::Error>(error))}});
}

std::shared_ptr<store::Coordinator> WrenDataManager::persistentStoreCoordinator() {
  std::optional<fnd::Error> failure;
  {
    std::lock_guard lock(mutex_);
    if (coordinator_) return coordinator_;
    fnd::Error error;
    if (openStoreLocked(&error)) {
      lastError_.reset();
      return coordinator_;
    }
    lastError_ = error;
    failure = error;
  }
  reportFailure(*failure);
  return nullptr;
}

std::shared_ptr<store::Context> WrenDataManager::managedObjectContext() {
  {
    std::lock_guard lock(mutex_);
    if (mainContext_) return mainContext_;
  }
  auto coordinator = persistentStoreCoordinator();
  if (!coordinator) return nullptr;
  std::lock_guard lock(mutex_);
  if (!mainContext_) {
    auto context = store::Context::make(store::ConcurrencyType::MainQueue);
    context->setCoordinator(coordinator);
    auto undo = std::make_shared<fnd::UndoManager>();
    undo->setLevelsOfUndo(999);
    context->setUndoManager(std::move(undo));
    context->setMergePolicy(store::MergePolicy::PropertyObjectTrump);
    mainContext_ = std::move(context);
  }
  return mainContext_;
}

std::shared_ptr<store::Context> WrenDataManager::secondaryObjectContext() {
  auto main = managedObjectContext();
  if (!main) return nullptr;
  auto child = store::Context::make(store::ConcurrencyType::PrivateQueue);
  child->setParent(main);
  return child;
}

std::shared_ptr<store::Context> WrenDataManager::newManagedObjectContext() {
  auto coordinator = persistentStoreCoordinator();
  if (!coordinator) {
    fnd::logError("CoreDataManager error: Failed to initialize the store");
    return nullptr;
  }
  auto context = store::Context::make(store::ConcurrencyType::Confinement);
  context->setCoordinator(coordinator);
  context->setMergePolicy(store::MergePolicy::Overwrite);
  return context;
}

std::optional<fnd::Error> WrenDataManager::lastError() const {
  std::lock_guard lock(mutex_);
  return lastError_;
}

void WrenDataManager::reset() {
  std::lock_guard lock(mutex_);
  if (wholeCheck_) wholeCheck_->cancel();
  wholeCheck_.reset();
  mainContext_.reset();
  if (coordinator_) coordinator_->removeStore();
  coordinator_.reset();
  lastError_.reset();
}

}  // namespace kesto
