#pragma once

#include "Platform/Store/Predicate.h"
#include "Platform/Store/SortDescriptor.h"

#include <string>
#include <vector>

namespace kesto::store {

enum class AggregateFunction { Min, Max, Sum, Average, Count };

// A named aggregate over a key path, for dictionary results ("max(version)" as "maxVersion").
struct ExpressionDescription {
  std::string name;
  AggregateFunction function = AggregateFunction::Count;
  std::string keyPath;
};

// What to fetch. A plain value: copy and change freely.
struct FetchRequest {
  enum class ResultType { Objects, ObjectIDs, Dictionaries, Count };

  std::string entityName;
  PredicateRef predicate;  // null: every object
  std::vector<SortDescriptor> sortDescriptors;
  long fetchLimit = 0;   // <= 0: no limit
  long fetchOffset = 0;  // <= 0: no offset
  long fetchBatchSize = 0;  // accepted; results are complete arrays either way
  bool includesSubentities = true;
  bool includesPendingChanges = true;
  // When false, objects come back as faults whose values load on first use.
  bool includesPropertyValues = true;
  ResultType resultType = ResultType::Objects;
  // Dictionary results: attribute names (values of the first row per object), and aggregates
  // (one dictionary for the whole result).
  std::vector<std::string> propertiesToFetch;
  std::vector<ExpressionDescription> expressions;
  // Accepted for compatibility; relationships resolve from memory after the first use.
  std::vector<std::string> relationshipKeyPathsForPrefetching;

  FetchRequest() = default;
  explicit FetchRequest(std::string entity) : entityName(std::move(entity)) {}
};

}  // namespace kesto::store
