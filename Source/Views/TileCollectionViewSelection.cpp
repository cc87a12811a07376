#include "Views/TileCollectionViewSelection.h"

namespace kesto {

std::vector<IndexPath> TileCollectionViewSelection::ordered() const {
  std::vector<IndexPath> out;
  out.reserve(positions_.size());
  for (const auto& p : order_)
    if (p) out.push_back(*p);
  return out;
}

std::optional<IndexPath> TileCollectionViewSelection::anchor() const {
  for (const auto& p : order_)
    if (p) return p;
  return std::nullopt;
}

std::optional<IndexPath> TileCollectionViewSelection::latest() const {
  // The end of the order is never a hole: removal trims them.
  return order_.empty() ? std::nullopt : order_.back();
}

void TileCollectionViewSelection::add(const IndexPath& p) {
  if (!positions_.emplace(p, order_.size()).second) return;
  order_.push_back(p);
}

void TileCollectionViewSelection::remove(const IndexPath& p) {
  auto it = positions_.find(p);
  if (it == positions_.end()) return;
  order_[it->second].reset();
  positions_.erase(it);
  while (!order_.empty() && !order_.back()) order_.pop_back();
  // Compact once holes outnumber members, keeping removal amortised O(1).
  if (order_.size() > 64 && order_.size() > 2 * positions_.size()) {
    std::vector<std::optional<IndexPath>> compact;
    compact.reserve(positions_.size());
    for (const auto& q : order_)
      if (q) {
        positions_[*q] = compact.size();
        compact.push_back(q);
      }
    order_.swap(compact);
  }
}

void TileCollectionViewSelection::clear() {
  order_.clear();
  positions_.clear();
}

void TileCollectionViewSelection::reserve(std::size_t count) {
  positions_.reserve(positions_.size() + count);
  order_.reserve(order_.size() + count);
}

void TileCollectionViewSelection::remap(const std::function<std::optional<IndexPath>(const IndexPath&)>& map) {
  std::vector<IndexPath> before = ordered();
  clear();
  reserve(before.size());
  for (const auto& p : before)
    if (auto q = map(p)) add(*q);
}

}  // namespace kesto
