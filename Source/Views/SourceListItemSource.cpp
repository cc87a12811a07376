#include "Views/SourceListItemSource.h"

namespace kesto {

unsigned SourceListItemSource::implementedSourceListDataSourceMethods() const {
  using M = SourceListDataSource;
  return M::ObjectValueForItem | M::SetObjectValueForItem | M::ItemHasBadge | M::BadgeValueForItem | M::ItemHasIcon |
         M::IconForItem;
}

unsigned SourceListItemSource::implementedSourceListDelegateMethods() const { return SourceListDelegate::ShouldSelectItem; }

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

void SourceListItemSource::sourceListSetObjectValueForItem(SourceList&, const fnd::Value& value, SourceListItemPtr item) {
  if (auto* i = sourcelistitems::itemFrom(item); i && value.isString()) i->setTitle(value.string());
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
