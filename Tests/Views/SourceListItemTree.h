#pragma once

#include "Views/SourceList.h"
#include "Views/SourceListItem.h"

#include <cstdint>
#include <vector>

namespace kesto::test {

// Answers a source list from trees of SourceListItem below `groups`: children, titles, badges and
// icons, as the sidebar's controllers do. Which of the answers are announced is the subclass's.
class SourceListItemTree : public SourceListDataSource {
 public:
  std::vector<SourceListItemRef> groups;

  static SourceListItem* at(SourceListItemPtr item) { return static_cast<SourceListItem*>(item); }

  std::uint64_t sourceListNumberOfChildrenOfItem(SourceList&, SourceListItemPtr item) override {
    return item ? at(item)->childCount() : groups.size();
  }
  SourceListItemPtr sourceListChildOfItem(SourceList&, std::uint64_t i, SourceListItemPtr item) override {
    return item ? static_cast<SourceListItemPtr>(at(item)->childAt(i)) : groups[i].get();
  }
  bool sourceListIsItemExpandable(SourceList&, SourceListItemPtr item) override { return at(item)->hasChildren(); }
  fnd::Value sourceListObjectValueForItem(SourceList&, SourceListItemPtr item) override { return at(item)->title(); }
  bool sourceListItemHasBadge(SourceList&, SourceListItemPtr item) override { return at(item)->badgeValue().has_value(); }
  std::int64_t sourceListBadgeValueForItem(SourceList&, SourceListItemPtr item) override {
    return at(item)->badgeValue().value_or(0);
  }
  bool sourceListItemHasIcon(SourceList&, SourceListItemPtr item) override { return !at(item)->icon().isNull(); }
  ui::Image sourceListIconForItem(SourceList&, SourceListItemPtr item) override { return at(item)->icon(); }
};

}  // namespace kesto::test
