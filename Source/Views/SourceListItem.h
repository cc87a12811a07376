#pragma once

#include "Platform/Foundation/IndexSet.h"
#include "Platform/Foundation/Value.h"
#include "Platform/UI/Image.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kesto {

class SourceListItem;
using SourceListItemRef = std::shared_ptr<SourceListItem>;

// One row of a sidebar list: a group heading, a folder, a tag... The item only stores what the
// controllers answer the list's questions with; it draws nothing. Items are shared: a parent
// keeps its children alive, the represented object is only watched (it may go away).
class SourceListItem : public fnd::Object {
 public:
  SourceListItem() = default;

  static SourceListItemRef itemWithTitle(const std::string& title, const std::string& identifier);
  static SourceListItemRef itemWithTitle(const std::string& title, const std::string& identifier,
                                         const ui::Image& icon);
  static SourceListItemRef itemWithRepresentedObject(const fnd::ObjectRef& object, const ui::Image& icon);

  // A copy: later changes to the item do not show in it.
  std::vector<SourceListItemRef> children() const { return children_; }
  void setChildren(const std::vector<SourceListItemRef>& children) { children_ = children; }
  bool hasChildren() const { return !children_.empty(); }
  // Direct access for the controllers' data-source answers (no copy).
  size_t childCount() const { return children_.size(); }
  SourceListItem* childAt(size_t index) const;

  void addChildItem(const SourceListItemRef& item);
  // `index` may be at most the number of children.
  void insertChildItem(const SourceListItemRef& item, size_t index);
  // Removes every occurrence.
  void removeChildItem(const SourceListItem* item);
  void removeChildItemAtIndex(size_t index);
  void removeChildItems(const std::vector<SourceListItemRef>& items);
  // The items end up at the given indexes of the result, in ascending order.
  void insertChildItems(const std::vector<SourceListItemRef>& items, const fnd::IndexSet& indexes);

  const std::string& title() const { return title_; }
  void setTitle(const std::string& title) { title_ = title; }
  const ui::Image& icon() const { return icon_; }
  void setIcon(const ui::Image& icon) { icon_ = icon; }
  fnd::ObjectRef representedObject() const { return representedObject_.lock(); }
  void setRepresentedObject(const fnd::ObjectRef& object) { representedObject_ = object; }
  const std::string& identifier() const { return identifier_; }
  void setIdentifier(const std::string& identifier) { identifier_ = identifier; }
  // Absent: the row has no badge.
  std::optional<std::int64_t> badgeValue() const { return badgeValue_; }
  void setBadgeValue(std::optional<std::int64_t> value) { badgeValue_ = value; }

  std::string description() const override;

 private:
  std::vector<SourceListItemRef> children_;
  std::string title_;
  ui::Image icon_;
  std::weak_ptr<fnd::Object> representedObject_;
  std::string identifier_;
  std::optional<std::int64_t> badgeValue_;
};

// The answers every sidebar list gives its source list about items it made: the top level is the
// controller's own list of items; anything below is the items' children.
namespace sourcelistitems {
// The item behind an opaque source-list item, or null when it is none of ours.
SourceListItem* itemFrom(fnd::Object* item);
std::uint64_t numberOfChildren(const std::vector<SourceListItemRef>& topLevel, fnd::Object* item);
fnd::Object* childAt(const std::vector<SourceListItemRef>& topLevel, std::uint64_t index, fnd::Object* item);
bool isExpandable(fnd::Object* item);
fnd::Value title(fnd::Object* item);
}  // namespace sourcelistitems

}  // namespace kesto
