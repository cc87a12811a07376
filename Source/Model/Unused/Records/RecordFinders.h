#pragma once

#include "Model/Unused/Records/RecordTypes.h"
#include "Platform/Foundation/Value.h"
#include "Platform/Store/FetchRequest.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Entity-level operations of the record stack. `cls` names a record class, which is also the
// name of its entity. Forms without a context work in the calling thread's context
// (RK_contextForCurrentThread) unless noted.
namespace kesto::recordkit {

// --- Entity basics ---
std::string RK_entityName(const std::string& cls);
const store::EntityDescription* RK_entityDescription(const std::string& cls, const ContextRef& context);
const store::EntityDescription* RK_entityDescription(const std::string& cls);
ObjectRef RK_createInContext(const std::string& cls, const ContextRef& context);
ObjectRef RK_createEntity(const std::string& cls);
bool RK_deleteInContext(const ObjectRef& object, const ContextRef& context);
bool RK_deleteEntity(const ObjectRef& object);  // in the object's own context
bool RK_deleteAllMatchingPredicate(const std::string& cls, const store::PredicateRef& predicate,
                                   const ContextRef& context);
bool RK_deleteAllMatchingPredicate(const std::string& cls, const store::PredicateRef& predicate);
bool RK_truncateAll(const std::string& cls, const ContextRef& context);
bool RK_truncateAll(const std::string& cls);
// The same row in another context; null (reported) when it cannot be loaded.
ObjectRef RK_inContext(const ObjectRef& object, const ContextRef& context);
ObjectRef RK_inThreadContext(const ObjectRef& object);
// Absent (reported) when the fetch fails.
std::optional<Objects> RK_executeFetchRequest(const store::FetchRequest& request, const ContextRef& context);
std::optional<Objects> RK_executeFetchRequest(const store::FetchRequest& request);
// Sets the caller's request's fetch limit to 1.
ObjectRef RK_executeFetchRequestAndReturnFirstObject(store::FetchRequest& request, const ContextRef& context);
ObjectRef RK_executeFetchRequestAndReturnFirstObject(store::FetchRequest& request);
// The names among `names` that are properties of the entity, in order.
std::vector<std::string> RK_propertiesNamed(const std::string& cls, const std::vector<std::string>& names);
std::vector<store::SortDescriptor> RK_sortAscending(bool ascending, const std::vector<std::string>& keys);
std::vector<store::SortDescriptor> RK_ascendingSortDescriptors(const std::vector<std::string>& keys);
std::vector<store::SortDescriptor> RK_descendingSortDescriptors(const std::vector<std::string>& keys);
long RK_defaultBatchSize();
void RK_setDefaultBatchSize(long size);

// --- Requests ---
store::FetchRequest RK_createFetchRequest(const std::string& cls, const ContextRef& context);
store::FetchRequest RK_createFetchRequest(const std::string& cls);
store::FetchRequest RK_requestAll(const std::string& cls, const ContextRef& context);
store::FetchRequest RK_requestAll(const std::string& cls);
store::FetchRequest RK_requestAllWithPredicate(const std::string& cls, const store::PredicateRef& predicate,
                                               const ContextRef& context);
store::FetchRequest RK_requestAllWithPredicate(const std::string& cls, const store::PredicateRef& predicate);
store::FetchRequest RK_requestAllWhere(const std::string& cls, const std::string& attribute, const fnd::Value& value,
                                       const ContextRef& context);
store::FetchRequest RK_requestAllWhere(const std::string& cls, const std::string& attribute, const fnd::Value& value);
store::FetchRequest RK_requestFirstWithPredicate(const std::string& cls, const store::PredicateRef& predicate,
                                                 const ContextRef& context);
store::FetchRequest RK_requestFirstWithPredicate(const std::string& cls, const store::PredicateRef& predicate);
store::FetchRequest RK_requestFirstByAttribute(const std::string& cls, const std::string& attribute,
                                               const fnd::Value& value, const ContextRef& context);
store::FetchRequest RK_requestFirstByAttribute(const std::string& cls, const std::string& attribute,
                                               const fnd::Value& value);
// `sortTerm` is split at each ","; every piece, spaces included, is one sort key.
store::FetchRequest RK_requestAllSortedBy(const std::string& cls, const std::string& sortTerm, bool ascending,
                                          const store::PredicateRef& predicate, const ContextRef& context);
store::FetchRequest RK_requestAllSortedBy(const std::string& cls, const std::string& sortTerm, bool ascending,
                                          const store::PredicateRef& predicate);
store::FetchRequest RK_requestAllSortedBy(const std::string& cls, const std::string& sortTerm, bool ascending,
                                          const ContextRef& context);
store::FetchRequest RK_requestAllSortedBy(const std::string& cls, const std::string& sortTerm, bool ascending);

// --- Finders (all: empty when nothing matches; first: null) ---
Objects RK_findAll(const std::string& cls, const ContextRef& context);
Objects RK_findAll(const std::string& cls);
Objects RK_findAllSortedBy(const std::string& cls, const std::string& sortTerm, bool ascending,
                           const ContextRef& context);
Objects RK_findAllSortedBy(const std::string& cls, const std::string& sortTerm, bool ascending);
Objects RK_findAllSortedBy(const std::string& cls, const std::string& sortTerm, bool ascending,
                           const store::PredicateRef& predicate, const ContextRef& context);
Objects RK_findAllSortedBy(const std::string& cls, const std::string& sortTerm, bool ascending,
                           const store::PredicateRef& predicate);
Objects RK_findAllWithPredicate(const std::string& cls, const store::PredicateRef& predicate,
                                const ContextRef& context);
Objects RK_findAllWithPredicate(const std::string& cls, const store::PredicateRef& predicate);
Objects RK_findByAttribute(const std::string& cls, const std::string& attribute, const fnd::Value& value,
                           const ContextRef& context);
Objects RK_findByAttribute(const std::string& cls, const std::string& attribute, const fnd::Value& value);
Objects RK_findByAttribute(const std::string& cls, const std::string& attribute, const fnd::Value& value,
                           const std::string& orderBy, bool ascending, const ContextRef& context);
Objects RK_findByAttribute(const std::string& cls, const std::string& attribute, const fnd::Value& value,
                           const std::string& orderBy, bool ascending);
ObjectRef RK_findFirst(const std::string& cls, const ContextRef& context);
ObjectRef RK_findFirst(const std::string& cls);
ObjectRef RK_findFirstByAttribute(const std::string& cls, const std::string& attribute, const fnd::Value& value,
                                  const ContextRef& context);
ObjectRef RK_findFirstByAttribute(const std::string& cls, const std::string& attribute, const fnd::Value& value);
ObjectRef RK_findFirstOrderedByAttribute(const std::string& cls, const std::string& attribute, bool ascending,
                                         const ContextRef& context);
ObjectRef RK_findFirstOrderedByAttribute(const std::string& cls, const std::string& attribute, bool ascending);
ObjectRef RK_findFirstWithPredicate(const std::string& cls, const store::PredicateRef& predicate,
                                    const ContextRef& context);
ObjectRef RK_findFirstWithPredicate(const std::string& cls, const store::PredicateRef& predicate);
ObjectRef RK_findFirstWithPredicate(const std::string& cls, const store::PredicateRef& predicate,
                                    const std::string& sortedBy, bool ascending, const ContextRef& context);
ObjectRef RK_findFirstWithPredicate(const std::string& cls, const store::PredicateRef& predicate,
                                    const std::string& sortedBy, bool ascending);
// "andRetrieveAttributes" forms: the attributes to fetch are given as names.
ObjectRef RK_findFirstWithPredicate(const std::string& cls, const store::PredicateRef& predicate,
                                    const std::vector<std::string>& attributes, const ContextRef& context);
ObjectRef RK_findFirstWithPredicate(const std::string& cls, const store::PredicateRef& predicate,
                                    const std::vector<std::string>& attributes);
ObjectRef RK_findFirstWithPredicate(const std::string& cls, const store::PredicateRef& predicate,
                                    const std::string& sortedBy, bool ascending, const ContextRef& context,
                                    const std::vector<std::string>& attributes);
ObjectRef RK_findFirstWithPredicate(const std::string& cls, const store::PredicateRef& predicate,
                                    const std::string& sortedBy, bool ascending,
                                    const std::vector<std::string>& attributes);

// --- Counts and aggregates ---
std::uint64_t RK_countOfEntities(const std::string& cls, const ContextRef& context);
std::uint64_t RK_countOfEntities(const std::string& cls);
std::uint64_t RK_countOfEntitiesWithPredicate(const std::string& cls, const store::PredicateRef& predicate,
                                              const ContextRef& context);
// In the default context, whatever the thread.
std::uint64_t RK_countOfEntitiesWithPredicate(const std::string& cls, const store::PredicateRef& predicate);
fnd::Value RK_numberOfEntities(const std::string& cls, const ContextRef& context);
fnd::Value RK_numberOfEntities(const std::string& cls);
fnd::Value RK_numberOfEntitiesWithPredicate(const std::string& cls, const store::PredicateRef& predicate,
                                            const ContextRef& context);
fnd::Value RK_numberOfEntitiesWithPredicate(const std::string& cls, const store::PredicateRef& predicate);
bool RK_hasAtLeastOneEntity(const std::string& cls, const ContextRef& context);
bool RK_hasAtLeastOneEntity(const std::string& cls);
// `operation`: "min", "max", "sum", "average" (or "avg") or "count", a trailing ":" allowed.
// The result has the attribute's type; null when there is no row or the operation is unknown.
fnd::Value RK_aggregateOperation(const std::string& cls, const std::string& operation, const std::string& attribute,
                                 const store::PredicateRef& predicate, const ContextRef& context);
// In the default context.
fnd::Value RK_aggregateOperation(const std::string& cls, const std::string& operation, const std::string& attribute,
                                 const store::PredicateRef& predicate);
// The largest value of `attribute` over the object's entity (in the object's context).
fnd::Value RK_maxValueFor(const ObjectRef& object, const std::string& attribute);
// The object of the object's entity with the smallest non-empty value of `attribute`.
ObjectRef RK_objectWithMinValueFor(const ObjectRef& object, const std::string& attribute, const ContextRef& context);
ObjectRef RK_objectWithMinValueFor(const ObjectRef& object, const std::string& attribute);

}  // namespace kesto::recordkit
