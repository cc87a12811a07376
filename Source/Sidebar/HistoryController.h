#pragma once

#include "Sidebar/SmartListController.h"

namespace kesto {

// The History list: bookmarks visited, added or modified today, yesterday, this week and this
// month, each with its count. The row chosen last is kept across runs.
class HistoryController : public SmartListController {
 public:
  static constexpr const char* kSelectedItemKey = "CurrentlySelectedHistoryItem";

  HistoryController();
  void updateSelection() override;
  std::int32_t currentlySelectedFolderIndex() const { return currentlySelectedFolderIndex_; }

 protected:
  bool groupIsAlwaysExpanded() const override { return true; }
  void didRefresh() override { selectRowFromDefaults(kSelectedItemKey); }

 private:
  // The entries, in display order.
  static const std::vector<Entry>& entryTable();
  std::int32_t currentlySelectedFolderIndex_ = 0;
};

}  // namespace kesto
