#include "Platform/Foundation/IndexSet.h"

#include <algorithm>

namespace kesto::fnd {

namespace {
bool valid(std::int64_t i) { return i >= 0 && i != NotFound; }
}  // namespace

std::vector<Range>::const_iterator IndexSet::firstEndingAfter(std::int64_t index) const {
  return std::lower_bound(ranges_.begin(), ranges_.end(), index,
                          [](const Range& r, std::int64_t v) { return r.max() <= v; });
}

IndexSet::IndexSet(std::int64_t index) { add(index); }
IndexSet::IndexSet(Range range) { add(range); }
IndexSet::IndexSet(std::initializer_list<std::int64_t> indexes) {
  for (auto i : indexes) add(i);
}

std::int64_t IndexSet::count() const {
  std::int64_t n = 0;
  for (const auto& r : ranges_) n += r.length;
  return n;
}

bool IndexSet::contains(std::int64_t index) const {
  auto it = std::upper_bound(ranges_.begin(), ranges_.end(), index,
                             [](std::int64_t i, const Range& r) { return i < r.location; });
  return it != ranges_.begin() && std::prev(it)->contains(index);
}

bool IndexSet::containsRange(Range range) const {
  if (range.length <= 0 || !valid(range.location)) return false;
  auto it = std::upper_bound(ranges_.begin(), ranges_.end(), range.location,
                             [](std::int64_t i, const Range& r) { return i < r.location; });
  if (it == ranges_.begin()) return false;
  const Range& r = *std::prev(it);
  return r.location <= range.location && r.max() >= range.max();
}

bool IndexSet::containsAll(const IndexSet& other) const {
  return std::all_of(other.ranges_.begin(), other.ranges_.end(), [&](const Range& r) { return containsRange(r); });
}

bool IndexSet::intersectsRange(Range range) const { return countInRange(range) > 0; }

std::int64_t IndexSet::countInRange(Range range) const {
  if (range.length <= 0) return 0;
  const std::int64_t end = range.location > NotFound - range.length ? NotFound : range.max();
  std::int64_t n = 0;
  for (auto it = firstEndingAfter(range.location); it != ranges_.end() && it->location < end; ++it)
    n += std::min(it->max(), end) - std::max(it->location, range.location);
  return n;
}

std::int64_t IndexSet::firstIndex() const { return ranges_.empty() ? NotFound : ranges_.front().location; }
std::int64_t IndexSet::lastIndex() const { return ranges_.empty() ? NotFound : ranges_.back().max() - 1; }

std::int64_t IndexSet::indexGreaterThanOrEqualTo(std::int64_t index) const {
  if (index < 0) index = 0;
  auto it = firstEndingAfter(index);
  return it == ranges_.end() ? NotFound : std::max(it->location, index);
}

std::int64_t IndexSet::indexGreaterThan(std::int64_t index) const {
  if (index == NotFound) return NotFound;
  return indexGreaterThanOrEqualTo(index + 1);
}

std::int64_t IndexSet::indexLessThanOrEqualTo(std::int64_t index) const {
  if (index < 0) return NotFound;
  auto it = std::upper_bound(ranges_.begin(), ranges_.end(), index,
                             [](std::int64_t i, const Range& r) { return i < r.location; });
  return it == ranges_.begin() ? NotFound : std::min(std::prev(it)->max() - 1, index);
}

std::int64_t IndexSet::indexLessThan(std::int64_t index) const {
  if (index <= 0) return NotFound;
  return indexLessThanOrEqualTo(index - 1);
}

void IndexSet::add(std::int64_t index) {
  if (valid(index)) add(Range{index, 1});
}

void IndexSet::add(Range range) {
  if (range.length <= 0 || !valid(range.location) || range.location > NotFound - range.length) return;
  std::int64_t lo = range.location, hi = range.max();
  // The ranges that overlap or touch [lo, hi) lie together: from the first that ends at or after
  // lo to the last that starts at or before hi. They merge into one; the rest stays.
  auto first = std::lower_bound(ranges_.begin(), ranges_.end(), lo,
                                [](const Range& r, std::int64_t v) { return r.max() < v; });
  auto last = std::upper_bound(first, ranges_.end(), hi, [](std::int64_t v, const Range& r) { return v < r.location; });
  if (first == last) {
    ranges_.insert(first, Range{lo, hi - lo});
    return;
  }
  lo = std::min(lo, first->location);
  hi = std::max(hi, std::prev(last)->max());
  *first = Range{lo, hi - lo};
  ranges_.erase(std::next(first), last);
}

void IndexSet::add(const IndexSet& other) {
  if (other.ranges_.empty()) return;
  if (ranges_.empty()) {
    ranges_ = other.ranges_;
    return;
  }
  // One pass over both sorted lists, merging overlapping and touching ranges.
  std::vector<Range> out;
  out.reserve(ranges_.size() + other.ranges_.size());
  auto a = ranges_.cbegin(), b = other.ranges_.cbegin();
  while (a != ranges_.cend() || b != other.ranges_.cend()) {
    const Range& next = (b == other.ranges_.cend() || (a != ranges_.cend() && a->location <= b->location)) ? *a++ : *b++;
    if (!out.empty() && next.location <= out.back().max())
      out.back().length = std::max(out.back().max(), next.max()) - out.back().location;
    else
      out.push_back(next);
  }
  ranges_ = std::move(out);
}

void IndexSet::remove(std::int64_t index) {
  if (valid(index)) remove(Range{index, 1});
}

void IndexSet::remove(Range range) {
  if (range.length <= 0 || range.location < 0) return;
  std::int64_t lo = range.location, hi = range.location > NotFound - range.length ? NotFound : range.max();
  // The ranges that share an index with [lo, hi) lie together; of them only the parts before lo
  // and after hi stay.
  auto first = std::lower_bound(ranges_.begin(), ranges_.end(), lo,
                                [](const Range& r, std::int64_t v) { return r.max() <= v; });
  auto last = std::lower_bound(first, ranges_.end(), hi, [](const Range& r, std::int64_t v) { return r.location < v; });
  if (first == last) return;
  Range kept[2];
  int n = 0;
  if (first->location < lo) kept[n++] = Range{first->location, lo - first->location};
  if (std::prev(last)->max() > hi) kept[n++] = Range{hi, std::prev(last)->max() - hi};
  auto at = ranges_.erase(first, last);
  ranges_.insert(at, kept, kept + n);
}

void IndexSet::remove(const IndexSet& other) {
  for (const auto& r : other.ranges_) remove(r);
}

void IndexSet::shiftIndexes(std::int64_t start, std::int64_t delta) {
  if (delta == 0 || start < 0) return;
  if (delta < 0) {
    // Indexes in the gap [start + delta, start) disappear.
    std::int64_t gapStart = std::max<std::int64_t>(0, start + delta);
    remove(Range{gapStart, start - gapStart});
  }
  IndexSet below, moved;
  auto move = [&](std::int64_t loc, std::int64_t len) {
    if (loc < 0) {
      len += loc;
      loc = 0;
    }
    moved.add(Range{loc, len});
  };
  for (const auto& r : ranges_) {
    if (r.max() <= start) {
      below.add(r);
    } else if (r.location >= start) {
      move(r.location + delta, r.length);
    } else {
      below.add(Range{r.location, start - r.location});
      move(start + delta, r.max() - start);
    }
  }
  below.add(moved);
  ranges_ = std::move(below.ranges_);
}

std::vector<std::int64_t> IndexSet::indexes() const {
  std::vector<std::int64_t> out;
  out.reserve(static_cast<std::size_t>(std::min<std::int64_t>(count(), 1 << 20)));
  for (const auto& r : ranges_)
    for (std::int64_t i = r.location; i < r.max(); ++i) out.push_back(i);
  return out;
}

void IndexSet::forEach(const std::function<bool(std::int64_t)>& fn) const {
  for (const auto& r : ranges_)
    for (std::int64_t i = r.location; i < r.max(); ++i)
      if (!fn(i)) return;
}

}  // namespace kesto::fnd
