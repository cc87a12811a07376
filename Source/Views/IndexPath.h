#pragma once

#include <compare>
#include <cstdint>
#include <functional>
#include <string>

namespace kesto {

// A two-position index path of the collection views: section, then item. Equality compares
// both positions; ordering is by section, then item.
struct IndexPath {
  std::int64_t section = 0;
  std::int64_t item = 0;

  static IndexPath forItem(std::int64_t item, std::int64_t section) { return IndexPath{section, item}; }
  std::int64_t tile_section() const { return section; }
  std::int64_t tile_item() const { return item; }
  bool operator==(const IndexPath&) const = default;
  auto operator<=>(const IndexPath&) const = default;
  // "<IndexPath: 0x...; section = S; item = I>"
  std::string debugDescription() const;
};

struct IndexPathHash {
  std::size_t operator()(const IndexPath& p) const noexcept {
    return std::hash<std::int64_t>()(p.section * 0x9E3779B97F4A7C15ull ^ static_cast<std::uint64_t>(p.item));
  }
};

}  // namespace kesto
