#pragma once

#include "Platform/Foundation/Value.h"

#include <functional>
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

// The sort keys of many rows, taken once so that a sort compares them without going back to
// the rows: numbers and dates as plain doubles, texts folded once where the order ignores case.
// compare() gives what the descriptors' compareValues would give for the same keys.
class SortKeys {
 public:
  // `key(row, column)` is row `row`'s key for descriptors[column].
  SortKeys(const std::vector<SortDescriptor>& descriptors, std::size_t rows,
           const std::function<fnd::Value(std::size_t row, std::size_t column)>& key);
  ~SortKeys();
  int compare(std::size_t x, std::size_t y) const;

 private:
  struct Column;
  std::vector<Column> columns_;
};

// Stable sort of `objects` by `descriptors` (the first descriptor decides, ties go to the next).
void sortArray(fnd::Array& objects, const std::vector<SortDescriptor>& descriptors);

}  // namespace kesto::store
