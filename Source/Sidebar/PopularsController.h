#pragma once

#include "Sidebar/SmartListController.h"

namespace kesto {

namespace ui {
class Menu;
}

// The Popular list: the library's collections by use and by marking (Top 25 visited, five stars,
// notes, tags, credentials, favourites, the six colour labels), each with its count.
class PopularsController : public SmartListController {
 public:
  static constexpr const char* kSelectedItemKey = "CurrentlySelectedPopularItem";
  static constexpr std::int64_t kTop25Limit = 25;

  PopularsController();
  void updateSelection() override;

  // The context menu names the entry under the pointer ("clicked outside" below the entries).
  unsigned implementedSourceListDelegateMethods() const override;
  bool sourceListMenuForEventItem(SourceList& list, const ui::Event& event, SourceListItemPtr item) override;
  std::shared_ptr<ui::Menu> menuForItem(SourceListItem* item) const;

 protected:
  std::optional<std::int64_t> badgeForEntry(const Entry& entry) override;
  void didRefresh() override { selectRowFromDefaults(kSelectedItemKey); }

 private:
  // The entries, in display order.
  static const std::vector<Entry>& entryTable();
  std::shared_ptr<ui::Menu> contextMenu_;
};

}  // namespace kesto
