#pragma once

#include "Platform/Foundation/Value.h"

#include <string>
#include <vector>

namespace kesto::store {

// One sort key: a key path, a direction and the comparison for strings. Missing values sort
// lowest (first when ascending).
struct SortDescriptor {
  enum class Comparison { Default, CaseInsensitive };
  std::string keyPath;
  bool ascending = true;
  Comparison comparison = Comparison::Default;

  SortDescriptor() = default;
  SortDescriptor(std::string key, bool asc, Comparison c = Comparison::Default)
      : keyPath(std::move(key)), ascending(asc), comparison(c) {}

  // <0, 0, >0 for two objects (Values wrapping objects or dictionaries).
  int compareObjects(const fnd::Value& a, const fnd::Value& b) const;
  // The same rule for two already extracted key values.
  int compareValues(const fnd::Value& a, const fnd::Value& b) const;
};

// Orders values of any type: null < numbers < dates < strings < data < others; numbers by
// value, strings by UTF-8 code point (or folded for case-insensitive).
int compareValues(const fnd::Value& a, const fnd::Value& b, bool caseInsensitive = false);

// Stable sort of `objects` by `descriptors` (the first descriptor decides, ties go to the next).
void sortArray(fnd::Array& objects, const std::vector<SortDescriptor>& descriptors);

}  // namespace kesto::store
