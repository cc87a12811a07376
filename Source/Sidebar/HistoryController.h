#pragma once

#include "Sidebar/SmartListController.h"

namespace kesto {

// The History list: bookmarks visited, added or modified today, yesterday, this week and this
// month, each with its count. The row chosen last is kept across runs.
class HistoryController : public SmartListController {
 public:
  static constexpr const char* kSelectedItemKey = "CurrentlySelectedHistoryItem";

  void updateSelection() override;
  std::int32_t currentlySelectedFolderIndex() const { return currentlySelectedFolderIndex_; }

 protected:
  const std::vector<Entry>& entryTable() const override;
  std::vector<fnd::NotificationName> notificationNames() const override;
  const char* selectedViewValue() const override;
  bool groupIsAlwaysExpanded() const override { return true; }
  void didRefresh() override { selectRowFromDefaults(kSelectedItemKey); }

 private:
  std::int32_t currentlySelectedFolderIndex_ = 0;
};

}  // namespace kesto
