#pragma once

// Reuse pools and registrations, shared by the cells and the supplementary views of
// TileCollectionView.

#include "Views/TileCollectionView.h"

#include <map>
#include <memory>
#include <string>

namespace kesto::tile_reuse {

// An empty identifier keeps nothing and hands back nothing.
template <typename Pool, typename Item>
void enqueue(Pool& pool, const std::string& identifier, Item item) {
  if (identifier.empty()) return;
  pool[identifier].push_back(std::move(item));
}

template <typename Pool>
typename Pool::mapped_type::value_type dequeue(Pool& pool, const std::string& identifier) {
  if (identifier.empty()) return nullptr;
  auto it = pool.find(identifier);
  if (it == pool.end() || it->second.empty()) return nullptr;
  auto item = it->second.back();
  it->second.pop_back();
  return item;
}

// A new view for a registration: the first top-level object of kind T in the registered nib
// (none if it has no such object), else one made by the registered class, else a plain T.
template <typename T, typename ClassMap>
std::shared_ptr<T> make(TileCollectionView& view, const std::string& identifier,
                        const std::map<std::string, std::shared_ptr<const ui::Nib>>& nibs, const ClassMap& classes) {
  if (auto nib = nibs.find(identifier); nib != nibs.end())
    return std::static_pointer_cast<T>(view.firstTopLevelObjectOfClass(
        [](ui::View* v) { return dynamic_cast<T*>(v) != nullptr; }, *nib->second));
  if (auto cls = classes.find(identifier); cls != classes.end()) return cls->second(fnd::Rect());
  return std::make_shared<T>(fnd::Rect());
}

// One source per identifier: registering a class forgets a nib of that identifier and the other
// way round.
template <typename Source, typename OtherMap>
void registerSource(std::map<std::string, Source>& sources, OtherMap& others, const std::string& identifier,
                    Source source) {
  sources[identifier] = std::move(source);
  others.erase(identifier);
}

}  // namespace kesto::tile_reuse
