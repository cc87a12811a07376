#include "Views/SourceListItemSource.h"

namespace kesto {

std::uint64_t SourceListItemSource::sourceListNumberOfChildrenOfItem(SourceList&, SourceListItemPtr item) {
  return sourcelistitems::numberOfChildren(topLevelSourceListItems(), item);
}

SourceListItemPtr SourceListItemSource::sourceListChildOfItem(SourceList&, std::uint64_t index, SourceListItemPtr item) {
  return sourcelistitems::childAt(topLevelSourceListItems(), index, item);
}

bool SourceListItemSource::sourceListIsItemExpandable(SourceList&, SourceListItemPtr item) {
  return sourcelistitems::isExpandable(item);
}

fnd::Value SourceListItemSource::sourceListObjectValueForItem(SourceList&, SourceListItemPtr item) {
  return sourcelistitems::title(item);
}

bool SourceListItemSource::sourceListItemHasBadge(SourceList&, SourceListItemPtr item) {
  auto* i = sourcelistitems::itemFrom(item);
  return i && i->badgeValue().has_value();
}

std::int64_t SourceListItemSource::sourceListBadgeValueForItem(SourceList&, SourceListItemPtr item) {
  auto* i = sourcelistitems::itemFrom(item);
  return i ? i->badgeValue().value_or(0) : 0;
}

bool SourceListItemSource::sourceListItemHasIcon(SourceList&, SourceListItemPtr item) {
  auto* i = sourcelistitems::itemFrom(item);
  return i && !i->icon().isNull();
}

ui::Image SourceListItemSource::sourceListIconForItem(SourceList&, SourceListItemPtr item) {
  auto* i = sourcelistitems::itemFrom(item);
  return i ? i->icon() : ui::Image();
}

bool SourceListItemSource::sourceListShouldSelectItem(SourceList&, SourceListItemPtr item) {
  auto* i = sourcelistitems::itemFrom(item);
  return !i || i->identifier() != kSeparatorID;
}

}  // namespace kesto
