#pragma once

#include <cstdint>
#include <limits>

namespace kesto::fnd {

// "No such index": the location of a failed search, the first index of an empty set.
inline constexpr std::int64_t NotFound = std::numeric_limits<std::int64_t>::max();

// A span of positions: a location and a length. Positions in strings count UTF-16 code units.
struct Range {
  std::int64_t location = 0;
  std::int64_t length = 0;

  constexpr std::int64_t max() const { return location + length; }
  constexpr bool contains(std::int64_t i) const { return i >= location && i < location + length; }
  constexpr bool isNotFound() const { return location == NotFound; }
  constexpr bool operator==(const Range&) const = default;

  static constexpr Range notFound() { return Range{NotFound, 0}; }
};

}  // namespace kesto::fnd
