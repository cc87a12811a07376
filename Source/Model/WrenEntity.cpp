#include "Model/WrenEntity.h"

#include "Model/WrenDataManager.h"

#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Uuid.h"
#include "Platform/Store/Context.h"
#include "Platform/Store/Coordinator.h"

#include <sqlite3.h>

#include <atomic>
#include <mutex>
#include <utility>

namespace kesto {

void logDetailedError(std::string_view action, const fnd::Error* error) {
  if (!error) return;
  // A read or save that met a damaged file: the application offers the way back.
  WrenDataManager::sharedInstance().noteFailure(*error);
  fnd::logFormat(fnd::LogFlag::Error, "Failed to %.*s: %s", static_cast<int>(action.size()), action.data(),
                 error->localizedDescription().c_str());
  auto details = error->detailedErrors();
  if (!details.empty()) {
    for (const auto& d : details)
      fnd::logFormat(fnd::LogFlag::Error, "Detailed Error: %s", fnd::Value(d.userInfo()).description().c_str());
  } else {
    fnd::logFormat(fnd::LogFlag::Error, "%s", fnd::Value(error->userInfo()).description().c_str());
  }
}

ContextRef WrenEntity::defaultContext() { return WrenDataManager::sharedInstance().managedObjectContext(); }

ContextRef WrenEntity::currentContext() const {
  if (auto c = currentContext_.lock()) return c;
  return defaultContext();
}

void WrenEntity::setCurrentContext(const ContextRef& context) { currentContext_ = context; }

void WrenEntity::deleteEntity() {
  fnd::logFormat(fnd::LogFlag::Info, "deleting entity %s", description().c_str());
  deleteEntityInContext(defaultContext());
}

void WrenEntity::deleteEntityInContext(const ContextRef& context) {
  if (!context) return;
  auto self = std::static_pointer_cast<store::ManagedObject>(shared_from_this());
  context->deleteObject(self);
}

namespace {

std::mutex gOutcomeMutex;
WrenEntity::SaveOutcomeHandler gOutcomeHandler;
std::atomic<bool> gMainSaveFailed{false};

thread_local int tBatchDepth = 0;
thread_local bool tBatchHeldSave = false;

void reportOutcome(const std::optional<SaveFailure>& failure) {
  WrenEntity::SaveOutcomeHandler handler;
  {
    std::lock_guard lock(gOutcomeMutex);
    handler = gOutcomeHandler;
  }
  if (handler) handler(failure);
}

}  // namespace

void WrenEntity::setSaveOutcomeHandler(SaveOutcomeHandler handler) {
  std::lock_guard lock(gOutcomeMutex);
  gOutcomeHandler = std::move(handler);
}

bool WrenEntity::hasSaveOutcomeHandler() {
  std::lock_guard lock(gOutcomeMutex);
  return static_cast<bool>(gOutcomeHandler);
}

bool WrenEntity::lastSaveFailed() { return gMainSaveFailed.load(); }

std::string WrenEntity::causeOfSaveFailure(const fnd::Error& error) {
  auto it = error.userInfo().find("NSSQLiteErrorDomain");
  const auto extended = it == error.userInfo().end() ? 0 : it->second.intValue();
  // A file renamed or unlinked under an open connection refuses writes as "read-only": the
  // file's mode has nothing to do with it.
  if (extended == SQLITE_READONLY_DBMOVED) return "The library file was moved or deleted while Kesto was running";
  switch (extended & 0xff) {
    case SQLITE_FULL: return "No space is left on the disk";
    case SQLITE_READONLY: return "The library file is read-only";
    case SQLITE_PERM:
    case SQLITE_AUTH: return "Kesto may not write to the library file";
    case SQLITE_CANTOPEN: return "The library file could not be opened for writing";
    case SQLITE_IOERR: return "The disk could not be written to";
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return "Another program holds the library file";
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB: return "The library file is damaged";
    default: break;
  }
  // A library file emptied under Kesto fails as a plain SQL error ("no such table").
  if (WrenDataManager::sharedInstance().libraryGoneFromFile(error)) return "The library file is damaged";
  std::string text = error.localizedDescription();
  return text.empty() ? std::string("The library could not be written") : text;
}

WrenEntity::SaveBatch::SaveBatch() { ++tBatchDepth; }

WrenEntity::SaveBatch::~SaveBatch() {
  if (ended_ || --tBatchDepth > 0 || !tBatchHeldSave) return;
  tBatchHeldSave = false;
  saveContext();
}

bool WrenEntity::SaveBatch::endWithoutSaving() {
  if (ended_) return false;
  ended_ = true;
  if (--tBatchDepth > 0) return false;
  return std::exchange(tBatchHeldSave, false);
}

bool WrenEntity::saveContext() { return saveContext(defaultContext()); }

bool WrenEntity::saveContext(const ContextRef& context) {
  if (!context) {
    fnd::Error e = fnd::Error::withDescription("BRIGHTWREN", 1, "There is no store to save to.");
    logDetailedError("Error in saveContext:", &e);
    return false;
  }
  const bool isMain = context == defaultContext();
  if (isMain && tBatchDepth > 0) {
    // Held: the batch's end saves, and reports what became of it.
    tBatchHeldSave = true;
    return true;
  }
  fnd::Error error;
  if (context->save(&error)) {
    if (isMain && gMainSaveFailed.exchange(false)) reportOutcome(std::nullopt);
    return true;
  }
  logDetailedError("Error in saveContext:", &error);
  // A child saves into its parent in memory; only a context on the store can lose changes.
  if (!context->parent()) {
    if (isMain) gMainSaveFailed = true;
    reportOutcome(SaveFailure{error, causeOfSaveFailure(error), WrenDataManager::sharedInstance().persistentStorePath()});
  }
  return false;
}

std::string WrenEntity::uniqueID() { return fnd::Uuid::newString(); }

store::ManagedObjectRef WrenEntity::insertEntity(const std::string& entityName, const ContextRef& context) {
  auto ctx = context ? context : defaultContext();
  if (!ctx) return nullptr;
  return ctx->insertNewObject(entityName);
}

store::ManagedObjectRef WrenEntity::makeDetached(const std::string& entityName) {
  auto model = WrenDataManager::sharedInstance().managedObjectModel();
  if (!model) return nullptr;
  const auto* entity = model->entity(entityName);
  if (!entity) return nullptr;
  return store::ManagedObject::make(entity);
}

std::optional<std::vector<store::ManagedObjectRef>> WrenEntity::fetch(const std::string& entityName,
                                                                      const store::PredicateRef& predicate,
                                                                      const std::vector<store::SortDescriptor>* sorts,
                                                                      std::int64_t limit, std::int64_t offset,
                                                                      const ContextRef& context, fnd::Error* error) {
  auto ctx = context ? context : defaultContext();
  if (!ctx) {
    if (error) *error = fnd::Error::withDescription("BRIGHTWREN", 1, "There is no store to fetch from.");
    return std::nullopt;
  }
  store::FetchRequest request(entityName);
  request.predicate = predicate;
  if (limit > 0) request.fetchLimit = static_cast<long>(limit);
  if (offset > 0) request.fetchOffset = static_cast<long>(offset);
  if (sorts) request.sortDescriptors = *sorts;
  return ctx->fetch(request, error);
}

std::int64_t WrenEntity::count(const std::string& entityName, const store::PredicateRef& predicate,
                               const ContextRef& context, fnd::Error* error) {
  auto ctx = context ? context : defaultContext();
  if (!ctx) return 0;
  store::FetchRequest request(entityName);
  request.predicate = predicate;
  request.includesSubentities = false;
  return ctx->count(request, error).value_or(0);
}

store::PredicateRef WrenEntity::propertyPredicate(std::string_view key, const fnd::Value& value) {
  return store::Predicate::comparison(std::string(key), store::ComparisonOperator::Equal, value);
}

}  // namespace kesto
