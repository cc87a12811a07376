#include "Views/SourceListItem.h"

#include "Platform/Foundation/Assert.h"

#include <algorithm>

namespace kesto {

SourceListItemRef SourceListItem::itemWithTitle(const std::string& title, const std::string& identifier) {
  return itemWithTitle(title, identifier, ui::Image());
}

SourceListItemRef SourceListItem::itemWithTitle(const std::string& title, const std::string& identifier,
                                                const ui::Image& icon) {
  auto item = std::make_shared<SourceListItem>();
  item->setTitle(title);
  item->setIdentifier(identifier);
  item->setIcon(icon);
  return item;
}

SourceListItemRef SourceListItem::itemWithRepresentedObject(const fnd::ObjectRef& object, const ui::Image& icon) {
  auto item = std::make_shared<SourceListItem>();
  item->setRepresentedObject(object);
  item->setIcon(icon);
  return item;
}

SourceListItem* SourceListItem::childAt(size_t index) const {
  return index < children_.size() ? children_[index].get() : nullptr;
}

void SourceListItem::addChildItem(const SourceListItemRef& item) { children_.push_back(item); }

void SourceListItem::insertChildItem(const SourceListItemRef& item, size_t index) {
  if (index > children_.size()) {
    fnd::raiseFailure(fnd::kRangeException, "index " + std::to_string(index) + " beyond bounds [0 .. " +
                                                std::to_string(children_.size()) + "]");
    return;
  }
  children_.insert(children_.begin() + long(index), item);
}

void SourceListItem::removeChildItem(const SourceListItem* item) {
  children_.erase(std::remove_if(children_.begin(), children_.end(), [&](auto& c) { return c.get() == item; }),
                  children_.end());
}

void SourceListItem::removeChildItemAtIndex(size_t index) {
  if (index >= children_.size()) {
    fnd::raiseFailure(fnd::kRangeException, "index " + std::to_string(index) + " beyond bounds");
    return;
  }
  children_.erase(children_.begin() + long(index));
}

void SourceListItem::removeChildItems(const std::vector<SourceListItemRef>& items) {
  children_.erase(std::remove_if(children_.begin(), children_.end(),
                                 [&](auto& c) { return std::find(items.begin(), items.end(), c) != items.end(); }),
                  children_.end());
}

void SourceListItem::insertChildItems(const std::vector<SourceListItemRef>& items, const fnd::IndexSet& indexes) {
  auto at = indexes.indexes();
  if (at.size() != items.size()) {
    fnd::raiseFailure(fnd::kInvalidArgumentException, "count of items differs from count of indexes");
    return;
  }
  // Each index must be reachable once the items before it are in.
  for (size_t i = 0; i < at.size(); ++i)
    if (size_t(at[i]) > children_.size() + i) {
      fnd::raiseFailure(fnd::kRangeException, "index " + std::to_string(at[i]) + " beyond bounds");
      return;
    }
  for (size_t i = 0; i < at.size(); ++i) children_.insert(children_.begin() + long(at[i]), items[i]);
}

std::string SourceListItem::description() const { return "SourceListItem \"" + title_ + "\" (" + identifier_ + ")"; }

namespace sourcelistitems {

SourceListItem* itemFrom(fnd::Object* item) { return dynamic_cast<SourceListItem*>(item); }

std::uint64_t numberOfChildren(const std::vector<SourceListItemRef>& topLevel, fnd::Object* item) {
  if (!item) return topLevel.size();
  auto* i = itemFrom(item);
  return i ? i->childCount() : 0;
}

fnd::Object* childAt(const std::vector<SourceListItemRef>& topLevel, std::uint64_t index, fnd::Object* item) {
  if (!item) return index < topLevel.size() ? topLevel[index].get() : nullptr;
  auto* i = itemFrom(item);
  return i ? i->childAt(index) : nullptr;
}

bool isExpandable(fnd::Object* item) {
  auto* i = itemFrom(item);
  return i && i->hasChildren();
}

fnd::Value title(fnd::Object* item) {
  auto* i = itemFrom(item);
  return i ? fnd::Value(i->title()) : fnd::Value();
}

}  // namespace sourcelistitems

}  // namespace kesto
