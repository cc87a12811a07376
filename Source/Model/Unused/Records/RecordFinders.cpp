#include "Model/Unused/Records/RecordFinders.h"

#include "Model/Unused/Records/RecordClass.h"
#include "Model/Unused/Records/RecordContext.h"
#include "Model/Unused/Records/RecordKit.h"
#include "Platform/Store/Context.h"
#include "Platform/Store/Coordinator.h"
#include "Platform/Store/ManagedObject.h"
#include "Platform/Store/Model.h"

#include <atomic>
#include <mutex>

namespace kesto::recordkit {

namespace {

std::atomic<long> defaultBatchSize{20};
std::mutex batchSizeMutex;

store::PredicateRef equality(const std::string& attribute, const fnd::Value& value) {
  fnd::Error error;
  auto p = store::Predicate::parse("%K = %@", fnd::Array{fnd::Value(attribute), value}, &error);
  if (!p) RecordKit::handleErrors(&error);
  return p;
}

Objects allOrEmpty(const store::FetchRequest& request, const ContextRef& context) {
  auto found = RK_executeFetchRequest(request, context);
  return found ? std::move(*found) : Objects{};
}

ObjectRef first(store::FetchRequest request, const ContextRef& context) {
  return RK_executeFetchRequestAndReturnFirstObject(request, context);
}

std::vector<std::string> splitSortTerm(const std::string& term) {
  std::vector<std::string> keys;
  std::size_t start = 0;
  while (true) {
    std::size_t comma = term.find(',', start);
    keys.push_back(term.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return keys;
}

std::optional<store::AggregateFunction> aggregateFunction(std::string name) {
  if (!name.empty() && name.back() == ':') name.pop_back();
  if (name == "min") return store::AggregateFunction::Min;
  if (name == "max") return store::AggregateFunction::Max;
  if (name == "sum") return store::AggregateFunction::Sum;
  if (name == "average" || name == "avg") return store::AggregateFunction::Average;
  if (name == "count") return store::AggregateFunction::Count;
  return std::nullopt;
}

// A value in the storage type of `attribute` (sums of integers stay integers, and so on).
fnd::Value asAttributeType(const fnd::Value& v, const store::AttributeDescription* attribute) {
  if (v.isNull() || !v.isNumber() || !attribute) return v;
  switch (attribute->type) {
    case store::AttributeType::Integer16:
    case store::AttributeType::Integer32:
    case store::AttributeType::Integer64:
      return fnd::Value(static_cast<long long>(v.intValue()));
    case store::AttributeType::Boolean:
      return fnd::Value(v.boolValue());
    case store::AttributeType::Double:
    case store::AttributeType::Float:
      return fnd::Value(v.doubleValue());
    default:
      return v;
  }
}

std::string classOf(const ObjectRef& object) {
  return object && object->entity() ? object->entity()->className() : std::string();
}

}  // namespace

// --- Entity basics ----------------------------------------------------------------------------

std::string RK_entityName(const std::string& cls) { return cls; }

const store::EntityDescription* RK_entityDescription(const std::string& cls, const ContextRef& context) {
  if (auto hooks = recordClassHooks(cls); hooks && hooks->entityInManagedObjectContext)
    return hooks->entityInManagedObjectContext(context);
  if (!context) return nullptr;
  auto coordinator = context->coordinator();
  if (!coordinator || !coordinator->model()) return nullptr;
  return coordinator->model()->entity(RK_entityName(cls));
}

const store::EntityDescription* RK_entityDescription(const std::string& cls) {
  return RK_entityDescription(cls, RK_contextForCurrentThread());
}

ObjectRef RK_createInContext(const std::string& cls, const ContextRef& context) {
  if (auto hooks = recordClassHooks(cls); hooks && hooks->insertInManagedObjectContext)
    return hooks->insertInManagedObjectContext(context);
  if (!context) return nullptr;
  return context->insertNewObject(RK_entityName(cls));
}

ObjectRef RK_createEntity(const std::string& cls) { return RK_createInContext(cls, RK_contextForCurrentThread()); }

bool RK_deleteInContext(const ObjectRef& object, const ContextRef& context) {
  if (object && context) context->deleteObject(object);
  return true;
}

bool RK_deleteEntity(const ObjectRef& object) {
  if (object) RK_deleteInContext(object, object->context());
  return true;
}

bool RK_deleteAllMatchingPredicate(const std::string& cls, const store::PredicateRef& predicate,
                                   const ContextRef& context) {
  store::FetchRequest request = RK_requestAllWithPredicate(cls, predicate, context);
  request.includesPropertyValues = false;
  for (const auto& o : allOrEmpty(request, context)) RK_deleteInContext(o, context);
  return true;
}

bool RK_deleteAllMatchingPredicate(const std::string& cls, const store::PredicateRef& predicate) {
  return RK_deleteAllMatchingPredicate(cls, predicate, RK_contextForCurrentThread());
}

bool RK_truncateAll(const std::string& cls, const ContextRef& context) {
  for (const auto& o : RK_findAll(cls, context)) RK_deleteInContext(o, context);
  return true;
}

bool RK_truncateAll(const std::string& cls) { return RK_truncateAll(cls, RK_contextForCurrentThread()); }

ObjectRef RK_inContext(const ObjectRef& object, const ContextRef& context) {
  if (!object || !context) return nullptr;
  fnd::Error error;
  ObjectRef found;
  context->performAndWait([&] { found = context->existingObjectWithID(object->objectID(), &error); });
  if (!found) RecordKit::handleErrors(&error);
  return found;
}

ObjectRef RK_inThreadContext(const ObjectRef& object) { return RK_inContext(object, RK_contextForCurrentThread()); }

std::optional<Objects> RK_executeFetchRequest(const store::FetchRequest& request, const ContextRef& context) {
  if (!context) return std::nullopt;
  std::optional<Objects> result;
  fnd::Error error;
  context->performAndWait([&] { result = context->fetch(request, &error); });
  if (!result) RecordKit::handleErrors(&error);
  return result;
}

std::optional<Objects> RK_executeFetchRequest(const store::FetchRequest& request) {
  return RK_executeFetchRequest(request, RK_contextForCurrentThread());
}

ObjectRef RK_executeFetchRequestAndReturnFirstObject(store::FetchRequest& request, const ContextRef& context) {
  request.fetchLimit = 1;
  auto found = RK_executeFetchRequest(request, context);
  return found && !found->empty() ? found->front() : nullptr;
}

ObjectRef RK_executeFetchRequestAndReturnFirstObject(store::FetchRequest& request) {
  return RK_executeFetchRequestAndReturnFirstObject(request, RK_contextForCurrentThread());
}

std::vector<std::string> RK_propertiesNamed(const std::string& cls, const std::vector<std::string>& names) {
  std::vector<std::string> found;
  const store::EntityDescription* entity = RK_entityDescription(cls);
  if (!entity) return found;
  for (const auto& n : names)
    if (entity->attribute(n) || entity->relationship(n)) found.push_back(n);
  return found;
}

std::vector<store::SortDescriptor> RK_sortAscending(bool ascending, const std::vector<std::string>& keys) {
  std::vector<store::SortDescriptor> descriptors;
  for (const auto& k : keys) descriptors.emplace_back(k, ascending);
  return descriptors;
}

std::vector<store::SortDescriptor> RK_ascendingSortDescriptors(const std::vector<std::string>& keys) {
  return RK_sortAscending(true, keys);
}

std::vector<store::SortDescriptor> RK_descendingSortDescriptors(const std::vector<std::string>& keys) {
  return RK_sortAscending(false, keys);
}

long RK_defaultBatchSize() { return defaultBatchSize.load(); }

void RK_setDefaultBatchSize(long size) {
  std::lock_guard lock(batchSizeMutex);
  defaultBatchSize.store(size);
}

// --- Requests ---------------------------------------------------------------------------------

store::FetchRequest RK_createFetchRequest(const std::string& cls, const ContextRef& context) {
  const store::EntityDescription* entity = RK_entityDescription(cls, context);
  return store::FetchRequest(entity ? entity->name() : RK_entityName(cls));
}

store::FetchRequest RK_createFetchRequest(const std::string& cls) {
  return RK_createFetchRequest(cls, RK_contextForCurrentThread());
}

store::FetchRequest RK_requestAll(const std::string& cls, const ContextRef& context) {
  return RK_createFetchRequest(cls, context);
}

store::FetchRequest RK_requestAll(const std::string& cls) { return RK_requestAll(cls, RK_contextForCurrentThread()); }

store::FetchRequest RK_requestAllWithPredicate(const std::string& cls, const store::PredicateRef& predicate,
                                               const ContextRef& context) {
  store::FetchRequest r = RK_createFetchRequest(cls, context);
  r.predicate = predicate;
  return r;
}

store::FetchRequest RK_requestAllWithPredicate(const std::string& cls, const store::PredicateRef& predicate) {
  return RK_requestAllWithPredicate(cls, predicate, RK_contextForCurrentThread());
}

store::FetchRequest RK_requestAllWhere(const std::string& cls, const std::string& attribute, const fnd::Value& value,
                                       const ContextRef& context) {
  store::FetchRequest r = RK_createFetchRequest(cls, context);
  r.predicate = equality(attribute, value);
  return r;
}

store::FetchRequest RK_requestAllWhere(const std::string& cls, const std::string& attribute, const fnd::Value& value) {
  return RK_requestAllWhere(cls, attribute, value, RK_contextForCurrentThread());
}

store::FetchRequest RK_requestFirstWithPredicate(const std::string& cls, const store::PredicateRef& predicate,
                                                 const ContextRef& context) {
  store::FetchRequest r = RK_requestAllWithPredicate(cls, predicate, context);
  r.fetchLimit = 1;
  return r;
}

store::FetchRequest RK_requestFirstWithPredicate(const std::string& cls, const store::PredicateRef& predicate) {
  return RK_requestFirstWithPredicate(cls, predicate, RK_contextForCurrentThread());
}

store::FetchRequest RK_requestFirstByAttribute(const std::string& cls, const std::string& attribute,
                                               const fnd::Value& value, const ContextRef& context) {
  store::FetchRequest r = RK_requestAllWhere(cls, attribute, value, context);
  r.fetchLimit = 1;
  return r;
}

store::FetchRequest RK_requestFirstByAttribute(const std::string& cls, const std::string& attribute,
                                               const fnd::Value& value) {
  return RK_requestFirstByAttribute(cls, attribute, value, RK_contextForCurrentThread());
}

store::FetchRequest RK_requestAllSortedBy(const std::string& cls, const std::string& sortTerm, bool ascending,
                                          const store::PredicateRef& predicate, const ContextRef& context) {
  store::FetchRequest r = RK_requestAll(cls, context);
  if (predicate) r.predicate = predicate;
  r.fetchBatchSize = RK_defaultBatchSize();
  r.sortDescriptors = RK_sortAscending(ascending, splitSortTerm(sortTerm));
  return r;
}

store::FetchRequest RK_requestAllSortedBy(const std::string& cls, const std::string& sortTerm, bool ascending,
                                          const store::PredicateRef& predicate) {
  return RK_requestAllSortedBy(cls, sortTerm, ascending, predicate, RK_contextForCurrentThread());
}

store::FetchRequest RK_requestAllSortedBy(const std::string& cls, const std::string& sortTerm, bool ascending,
                                          const ContextRef& context) {
  return RK_requestAllSortedBy(cls, sortTerm, ascending, store::PredicateRef(), context);
}

store::FetchRequest RK_requestAllSortedBy(const std::string& cls, const std::string& sortTerm, bool ascending) {
  return RK_requestAllSortedBy(cls, sortTerm, ascending, store::PredicateRef(), RK_contextForCurrentThread());
}

// --- Finders ----------------------------------------------------------------------------------

Objects RK_findAll(const std::string& cls, const ContextRef& context) {
  return allOrEmpty(RK_requestAll(cls, context), context);
}
Objects RK_findAll(const std::string& cls) { return RK_findAll(cls, RK_contextForCurrentThread()); }

Objects RK_findAllSortedBy(const std::string& cls, const std::string& sortTerm, bool ascending,
                           const ContextRef& context) {
  return allOrEmpty(RK_requestAllSortedBy(cls, sortTerm, ascending, context), context);
}
Objects RK_findAllSortedBy(const std::string& cls, const std::string& sortTerm, bool ascending) {
  return RK_findAllSortedBy(cls, sortTerm, ascending, RK_contextForCurrentThread());
}

Objects RK_findAllSortedBy(const std::string& cls, const std::string& sortTerm, bool ascending,
                           const store::PredicateRef& predicate, const ContextRef& context) {
  return allOrEmpty(RK_requestAllSortedBy(cls, sortTerm, ascending, predicate, context), context);
}
Objects RK_findAllSortedBy(const std::string& cls, const std::string& sortTerm, bool ascending,
                           const store::PredicateRef& predicate) {
  return RK_findAllSortedBy(cls, sortTerm, ascending, predicate, RK_contextForCurrentThread());
}

Objects RK_findAllWithPredicate(const std::string& cls, const store::PredicateRef& predicate,
                                const ContextRef& context) {
  store::FetchRequest r = RK_createFetchRequest(cls, context);
  r.predicate = predicate;
  return allOrEmpty(r, context);
}
Objects RK_findAllWithPredicate(const std::string& cls, const store::PredicateRef& predicate) {
  return RK_findAllWithPredicate(cls, predicate, RK_contextForCurrentThread());
}

Objects RK_findByAttribute(const std::string& cls, const std::string& attribute, const fnd::Value& value,
                           const ContextRef& context) {
  return allOrEmpty(RK_requestAllWhere(cls, attribute, value, context), context);
}
Objects RK_findByAttribute(const std::string& cls, const std::string& attribute, const fnd::Value& value) {
  return RK_findByAttribute(cls, attribute, value, RK_contextForCurrentThread());
}

Objects RK_findByAttribute(const std::string& cls, const std::string& attribute, const fnd::Value& value,
                           const std::string& orderBy, bool ascending, const ContextRef& context) {
  return allOrEmpty(RK_requestAllSortedBy(cls, orderBy, ascending, equality(attribute, value), context), context);
}
Objects RK_findByAttribute(const std::string& cls, const std::string& attribute, const fnd::Value& value,
                           const std::string& orderBy, bool ascending) {
  return RK_findByAttribute(cls, attribute, value, orderBy, ascending, RK_contextForCurrentThread());
}

ObjectRef RK_findFirst(const std::string& cls, const ContextRef& context) {
  return first(RK_createFetchRequest(cls, context), context);
}
ObjectRef RK_findFirst(const std::string& cls) { return RK_findFirst(cls, RK_contextForCurrentThread()); }

ObjectRef RK_findFirstByAttribute(const std::string& cls, const std::string& attribute, const fnd::Value& value,
                                  const ContextRef& context) {
  return first(RK_requestFirstByAttribute(cls, attribute, value, context), context);
}
ObjectRef RK_findFirstByAttribute(const std::string& cls, const std::string& attribute, const fnd::Value& value) {
  return RK_findFirstByAttribute(cls, attribute, value, RK_contextForCurrentThread());
}

ObjectRef RK_findFirstOrderedByAttribute(const std::string& cls, const std::string& attribute, bool ascending,
                                         const ContextRef& context) {
  return first(RK_requestAllSortedBy(cls, attribute, ascending, context), context);
}
ObjectRef RK_findFirstOrderedByAttribute(const std::string& cls, const std::string& attribute, bool ascending) {
  return RK_findFirstOrderedByAttribute(cls, attribute, ascending, RK_contextForCurrentThread());
}

ObjectRef RK_findFirstWithPredicate(const std::string& cls, const store::PredicateRef& predicate,
                                    const ContextRef& context) {
  return first(RK_requestFirstWithPredicate(cls, predicate, context), context);
}
ObjectRef RK_findFirstWithPredicate(const std::string& cls, const store::PredicateRef& predicate) {
  return RK_findFirstWithPredicate(cls, predicate, RK_contextForCurrentThread());
}

ObjectRef RK_findFirstWithPredicate(const std::string& cls, const store::PredicateRef& predicate,
                                    const std::string& sortedBy, bool ascending, const ContextRef& context) {
  return first(RK_requestAllSortedBy(cls, sortedBy, ascending, predicate, context), context);
}
ObjectRef RK_findFirstWithPredicate(const std::string& cls, const store::PredicateRef& predicate,
                                    const std::string& sortedBy, bool ascending) {
  return RK_findFirstWithPredicate(cls, predicate, sortedBy, ascending, RK_contextForCurrentThread());
}

ObjectRef RK_findFirstWithPredicate(const std::string& cls, const store::PredicateRef& predicate,
                                    const std::vector<std::string>& attributes, const ContextRef& context) {
  store::FetchRequest r = RK_createFetchRequest(cls, context);
  r.predicate = predicate;
  r.propertiesToFetch = attributes;
  return first(std::move(r), context);
}
ObjectRef RK_findFirstWithPredicate(const std::string& cls, const store::PredicateRef& predicate,
                                    const std::vector<std::string>& attributes) {
  return RK_findFirstWithPredicate(cls, predicate, attributes, RK_contextForCurrentThread());
}

ObjectRef RK_findFirstWithPredicate(const std::string& cls, const store::PredicateRef& predicate,
                                    const std::string& sortedBy, bool ascending, const ContextRef& context,
                                    const std::vector<std::string>& attributes) {
  store::FetchRequest r = RK_requestAllSortedBy(cls, sortedBy, ascending, predicate, context);
  r.propertiesToFetch = RK_propertiesNamed(cls, attributes);
  return first(std::move(r), context);
}
ObjectRef RK_findFirstWithPredicate(const std::string& cls, const store::PredicateRef& predicate,
                                    const std::string& sortedBy, bool ascending,
                                    const std::vector<std::string>& attributes) {
  return RK_findFirstWithPredicate(cls, predicate, sortedBy, ascending, RK_contextForCurrentThread(), attributes);
}

// --- Counts and aggregates --------------------------------------------------------------------

std::uint64_t RK_countOfEntities(const std::string& cls, const ContextRef& context) {
  return RK_countOfEntitiesWithPredicate(cls, nullptr, context);
}
std::uint64_t RK_countOfEntities(const std::string& cls) { return RK_countOfEntities(cls, RK_contextForCurrentThread()); }

std::uint64_t RK_countOfEntitiesWithPredicate(const std::string& cls, const store::PredicateRef& predicate,
                                              const ContextRef& context) {
  if (!context) return 0;
  store::FetchRequest r = RK_createFetchRequest(cls, context);
  r.predicate = predicate;
  std::optional<std::int64_t> count;
  fnd::Error error;
  context->performAndWait([&] { count = context->count(r, &error); });
  if (!count) {
    RecordKit::handleErrors(&error);
    return 0;
  }
  return static_cast<std::uint64_t>(*count);
}

std::uint64_t RK_countOfEntitiesWithPredicate(const std::string& cls, const store::PredicateRef& predicate) {
  return RK_countOfEntitiesWithPredicate(cls, predicate, RK_defaultContext());
}

fnd::Value RK_numberOfEntities(const std::string& cls, const ContextRef& context) {
  return fnd::Value(static_cast<unsigned long long>(RK_countOfEntities(cls, context)));
}
fnd::Value RK_numberOfEntities(const std::string& cls) { return RK_numberOfEntities(cls, RK_contextForCurrentThread()); }

fnd::Value RK_numberOfEntitiesWithPredicate(const std::string& cls, const store::PredicateRef& predicate,
                                            const ContextRef& context) {
  return fnd::Value(static_cast<unsigned long long>(RK_countOfEntitiesWithPredicate(cls, predicate, context)));
}
fnd::Value RK_numberOfEntitiesWithPredicate(const std::string& cls, const store::PredicateRef& predicate) {
  return RK_numberOfEntitiesWithPredicate(cls, predicate, RK_contextForCurrentThread());
}

bool RK_hasAtLeastOneEntity(const std::string& cls, const ContextRef& context) {
  return RK_numberOfEntities(cls, context).intValue() > 0;
}
bool RK_hasAtLeastOneEntity(const std::string& cls) { return RK_hasAtLeastOneEntity(cls, RK_contextForCurrentThread()); }

fnd::Value RK_aggregateOperation(const std::string& cls, const std::string& operation, const std::string& attribute,
                                 const store::PredicateRef& predicate, const ContextRef& context) {
  auto function = aggregateFunction(operation);
  if (!function || !context) return {};
  store::FetchRequest r = RK_requestAllWithPredicate(cls, predicate, context);
  r.resultType = store::FetchRequest::ResultType::Dictionaries;
  r.expressions = {store::ExpressionDescription{"result", *function, attribute}};
  std::optional<std::vector<fnd::Dictionary>> rows;
  fnd::Error error;
  context->performAndWait([&] { rows = context->fetchDictionaries(r, &error); });
  if (!rows) {
    RecordKit::handleErrors(&error);
    return {};
  }
  if (rows->empty()) return {};
  auto it = rows->front().find("result");
  if (it == rows->front().end()) return {};
  const store::EntityDescription* entity = RK_entityDescription(cls, context);
  return asAttributeType(it->second, entity ? entity->attribute(attribute) : nullptr);
}

fnd::Value RK_aggregateOperation(const std::string& cls, const std::string& operation, const std::string& attribute,
                                 const store::PredicateRef& predicate) {
  return RK_aggregateOperation(cls, operation, attribute, predicate, RK_defaultContext());
}

fnd::Value RK_maxValueFor(const ObjectRef& object, const std::string& attribute) {
  if (!object) return {};
  ContextRef context = object->context();
  if (!context) context = RK_contextForCurrentThread();
  return RK_aggregateOperation(classOf(object), "max", attribute, nullptr, context);
}

ObjectRef RK_objectWithMinValueFor(const ObjectRef& object, const std::string& attribute, const ContextRef& context) {
  if (!object) return nullptr;
  fnd::Error error;
  auto present = store::Predicate::parse("%K != nil", fnd::Array{fnd::Value(attribute)}, &error);
  if (!present) {
    RecordKit::handleErrors(&error);
    return nullptr;
  }
  return RK_findFirstWithPredicate(classOf(object), present, attribute, true, context);
}

ObjectRef RK_objectWithMinValueFor(const ObjectRef& object, const std::string& attribute) {
  return object ? RK_objectWithMinValueFor(object, attribute, object->context()) : nullptr;
}

}  // namespace kesto::recordkit
