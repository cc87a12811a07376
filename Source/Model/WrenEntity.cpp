#include "Model/WrenEntity.h"

#include "Model/WrenDataManager.h"

#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Uuid.h"
#include "Platform/Store/Context.h"
#include "Platform/Store/Coordinator.h"

namespace kesto {

void logDetailedError(std::string_view action, const fnd::Error* error) {
  if (!error) return;
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

bool WrenEntity::saveContext() { return saveContext(defaultContext()); }

bool WrenEntity::saveContext(const ContextRef& context) {
  if (!context) {
    fnd::Error e = fnd::Error::withDescription("BRIGHTWREN", 1, "There is no store to save to.");
    logDetailedError("Error in saveContext:", &e);
    return false;
  }
  fnd::Error error;
  if (context->save(&error)) return true;
  logDetailedError("Error in saveContext:", &error);
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
