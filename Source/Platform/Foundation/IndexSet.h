#pragma once

#include "Platform/Foundation/Range.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <vector>

namespace kesto::fnd {

// An ordered set of non-negative indexes, kept as sorted, disjoint, non-adjacent ranges.
// Negative indexes and NotFound are ignored.
class IndexSet {
 public:
  IndexSet() = default;
  explicit IndexSet(std::int64_t index);
  explicit IndexSet(Range range);
  IndexSet(std::initializer_list<std::int64_t> indexes);

  std::int64_t count() const;
  bool isEmpty() const { return ranges_.empty(); }
  bool contains(std::int64_t index) const;
  // True when every index of `range` is in the set (an empty range: false).
  bool containsRange(Range range) const;
  bool containsAll(const IndexSet& other) const;
  bool intersectsRange(Range range) const;
  std::int64_t countInRange(Range range) const;

  // NotFound when there is none.
  std::int64_t firstIndex() const;
  std::int64_t lastIndex() const;
  std::int64_t indexGreaterThan(std::int64_t index) const;
  std::int64_t indexGreaterThanOrEqualTo(std::int64_t index) const;
  std::int64_t indexLessThan(std::int64_t index) const;
  std::int64_t indexLessThanOrEqualTo(std::int64_t index) const;

  void add(std::int64_t index);
  void add(Range range);
  void add(const IndexSet& other);
  void remove(std::int64_t index);
  void remove(Range range);
  void remove(const IndexSet& other);
  void removeAll() { ranges_.clear(); }
  // Moves every index >= `start` by `delta`; moving down drops the indexes that fall into the
  // gap before `start` is reached (as rows removed above).
  void shiftIndexes(std::int64_t start, std::int64_t delta);

  const std::vector<Range>& ranges() const { return ranges_; }
  std::vector<std::int64_t> indexes() const;
  // Stops when `fn` answers false.
  void forEach(const std::function<bool(std::int64_t)>& fn) const;

  bool operator==(const IndexSet& other) const { return ranges_ == other.ranges_; }

 private:
  // The first range holding an index above `index`, by binary search.
  std::vector<Range>::const_iterator firstEndingAfter(std::int64_t index) const;

  std::vector<Range> ranges_;
};

}  // namespace kesto::fnd
