#pragma once

#include "Views/SourceListItem.h"
#include "Views/SourceListProtocols.h"

#include <vector>

namespace kesto {

// The data source and delegate of a sidebar list built from SourceListItems: the answers about
// children, titles, badges, icons, renaming and separators come from the items themselves, so
// every such list gives them alike. Subclasses name their top-level items and add what is their
// own, announcing it beside what this class announces.
class SourceListItemSource : public SourceListDataSource, public SourceListDelegate {
 public:
  static constexpr const char* kSeparatorID = "separator";

  unsigned implementedSourceListDataSourceMethods() const override;
  unsigned implementedSourceListDelegateMethods() const override;

  std::uint64_t sourceListNumberOfChildrenOfItem(SourceList& list, SourceListItemPtr item) override;
  SourceListItemPtr sourceListChildOfItem(SourceList& list, std::uint64_t index, SourceListItemPtr item) override;
  bool sourceListIsItemExpandable(SourceList& list, SourceListItemPtr item) override;
  fnd::Value sourceListObjectValueForItem(SourceList& list, SourceListItemPtr item) override;
  // A row renamed in place takes the new title; a value that is no text changes nothing.
  void sourceListSetObjectValueForItem(SourceList& list, const fnd::Value& value, SourceListItemPtr item) override;
  bool sourceListItemHasBadge(SourceList& list, SourceListItemPtr item) override;
  std::int64_t sourceListBadgeValueForItem(SourceList& list, SourceListItemPtr item) override;
  bool sourceListItemHasIcon(SourceList& list, SourceListItemPtr item) override;
  ui::Image sourceListIconForItem(SourceList& list, SourceListItemPtr item) override;
  // Separators are drawn rows, never a place to go.
  bool sourceListShouldSelectItem(SourceList& list, SourceListItemPtr item) override;

 protected:
  // The list's top level, in row order.
  virtual const std::vector<SourceListItemRef>& topLevelSourceListItems() const = 0;
};

}  // namespace kesto
