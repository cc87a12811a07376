#pragma once

#include "Platform/Foundation/Value.h"

#include <cstdint>
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

// One row's sort keys, taken apart from any other row (numbers and dates as doubles, texts
// folded once where the order ignores case), for comparing rows met one at a time, as a merge
// into a sorted list meets them. compare() gives what SortKeys::compare gives for the same keys.
class RowSortKeys {
 public:
  // Takes a row's keys, `key(column)` being its key for descriptors[column]; taking the next
  // row into the same object reuses what this one took.
  void take(const std::vector<SortDescriptor>& descriptors, const std::function<fnd::Value(std::size_t column)>& key);
  // `descriptors` are the ones both rows were taken with.
  int compare(const RowSortKeys& other, const std::vector<SortDescriptor>& descriptors) const;

 private:
  struct Column {
    std::uint8_t rank = 0;  // as compareValues ranks them
    double number = 0;      // numbers and dates
    fnd::Value value;       // texts and the rest
    std::string folded;     // texts, where the order ignores case
  };
  std::vector<Column> columns_;
};

// Stable sort of `objects` by `descriptors` (the first descriptor decides, ties go to the next).
void sortArray(fnd::Array& objects, const std::vector<SortDescriptor>& descriptors);

}  // namespace kesto::store
