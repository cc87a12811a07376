#pragma once

#include "Views/IndexPath.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <unordered_map>
#include <vector>

namespace kesto {

// The selection of a tile collection view, apart from the view: a set of index paths that keeps
// the order they were selected in. The earliest member still selected is the anchor of range
// selections; the latest is where keyboard moves continue from. Adding and removing are O(1)
// amortised, so selecting or clearing a large list stays linear.
class TileCollectionViewSelection {
 public:
  bool contains(const IndexPath& indexPath) const { return positions_.count(indexPath) > 0; }
  bool empty() const { return positions_.empty(); }
  std::size_t size() const { return positions_.size(); }
  // The members, earliest selected first.
  std::vector<IndexPath> ordered() const;
  std::optional<IndexPath> anchor() const;
  std::optional<IndexPath> latest() const;

  // A member added again keeps its place in the order.
  void add(const IndexPath& indexPath);
  void remove(const IndexPath& indexPath);
  void clear();
  void reserve(std::size_t count);
  // After the data changed under the paths: each member becomes what `map` answers for it, in
  // the same order; a member it answers nothing for leaves, and two members mapped to one path
  // stay one.
  void remap(const std::function<std::optional<IndexPath>(const IndexPath&)>& map);

 private:
  // Removed members leave holes until there are more holes than members.
  std::vector<std::optional<IndexPath>> order_;
  std::unordered_map<IndexPath, std::size_t, IndexPathHash> positions_;
};

}  // namespace kesto
