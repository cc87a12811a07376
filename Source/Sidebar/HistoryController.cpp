#include "Sidebar/HistoryController.h"

#include "Model/DataManager.h"
#include "Model/ViewUpdater.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Sidebar/SidebarKeys.h"
#include "Views/SourceList.h"

namespace kesto {

const std::vector<SmartListController::Entry>& HistoryController::entryTable() {
  using D = DataManager;
  static const std::vector<Entry> entries{
      {"Visited Today", "Today", "sourcelist_today", &D::numberOfBookmarksVisitedToday, &D::loadTodayBookmarks},
      {"Added Today", "AddedToday", "sourcelist_today", &D::numberOfBookmarksAddedToday, &D::loadAddedTodayBookmarks},
      {"Modified Today", "ModifiedToday", "sourcelist_today", &D::numberOfBookmarksModifiedToday,
       &D::loadModifiedTodayBookmarks},
      {" ", kSeparatorID, nullptr},
      {"Visited Yesterday", "Yesterday", "sourcelist_yesterday", &D::numberOfBookmarksVisitedYesterday,
       &D::loadYesterdayBookmarks},
      {"Added Yesterday", "AddedYesterday", "sourcelist_yesterday", &D::numberOfBookmarksAddedYesterday,
       &D::loadAddedYesterdayBookmarks},
      {"Modified Yesterday", "ModifiedYesterday", "sourcelist_yesterday", &D::numberOfBookmarksModifiedYesterday,
       &D::loadModifiedYesterdayBookmarks},
      {" ", kSeparatorID, nullptr},
      {"Visited This week", "Week", "sourcelist_week", &D::numberOfBookmarksVisitedThisWeek, &D::loadThisWeekBookmarks},
      {"Added This week", "AddedWeek", "sourcelist_week", &D::numberOfBookmarksAddedThisWeek,
       &D::loadAddedThisWeekBookmarks},
      {"Modified This week", "ModifiedWeek", "sourcelist_week", &D::numberOfBookmarksModifiedThisWeek,
       &D::loadModifiedThisWeekBookmarks},
      {" ", kSeparatorID, nullptr},
      {"Visited This month", "Month", "sourcelist_month", &D::numberOfBookmarksVisitedThisMonth,
       &D::loadThisMonthBookmarks},
      {"Added This month", "AddedMonth", "sourcelist_month", &D::numberOfBookmarksAddedThisMonth,
       &D::loadAddedThisMonthBookmarks},
      {"Modified This month", "ModifiedMonth", "sourcelist_month", &D::numberOfBookmarksModifiedThisMonth,
       &D::loadModifiedThisMonthBookmarks},
  };
  return entries;
}

HistoryController::HistoryController()
    : SmartListController(entryTable(), {BRWUpdateHistoryViewNotification, BRWUpdateFoldersViewNotification},
                          SelectedHistoryView) {}

void HistoryController::updateSelection() {
  auto* item = firstSelectedItem();
  isDifferentFolder_ = false;
  if (!item) {
    // Nothing chosen: nothing loads, and the emptied list is drawn as such.
    isDifferentFolder_ = true;
    ViewUpdater::updateBookmarksAndResetView();
    lastSelectedIdentifier_.reset();
    return;
  }
  selectOnly(item);
  endSearchForNewRow(item->identifier());
  currentlySelectedFolderIndex_ = static_cast<std::int32_t>(list_->rowForItem(item));
  fnd::UserDefaults::standard().setInteger(currentlySelectedFolderIndex_, kSelectedItemKey);
  loadEntryAndUpdate(item->identifier());
}

}  // namespace kesto
