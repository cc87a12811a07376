#include "Sidebar/PopularsController.h"

#include "Model/DataManager.h"
#include "Model/ViewUpdater.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/UI/Menu.h"
#include "Sidebar/SidebarKeys.h"
#include "Views/SourceList.h"

#include <algorithm>

namespace kesto {

const std::vector<SmartListController::Entry>& PopularsController::entryTable() {
  using D = DataManager;
  static const std::vector<Entry> entries{
      {"Top 25 visited", "top25", "sourcelist_top25", &D::numberOfBookmarksInTop25, &D::loadTop25Bookmarks},
      {"Five stars", "fivestars", "sourcelist_5stars", &D::numberOfBookmarksWithFiveStars, &D::loadFiveStarsBookmarks},
      {"With notes", "notes", "sourcelist_notes", &D::numberOfBookmarksWithNotes, &D::loadAnnotatedBookmarks},
      {"With tags", "tags", "sourcelist_tags", &D::numberOfBookmarksWithTags, &D::loadBookmarksWithTags},
      {"With credentials", "creds", "sourcelist_credentials", &D::numberOfBookmarksWithCredentials,
       &D::loadBookmarksWithCredentials},
      {"Favorites", "favorites", "sourcelist_favorites", &D::numberOfBookmarksWithFavorite, &D::loadFavoriteBookmarks},
      {"", kSeparatorID, nullptr},
      {"Marked as blue", "popBlue", "bookmark_blue", &D::numberOfBookmarksWithColorBlue, &D::loadBlueBookmarks},
      {"Marked as orange", "popOrange", "bookmark_orange", &D::numberOfBookmarksWithColorOrange,
       &D::loadOrangeBookmarks},
      {"Marked as yellow", "popYellow", "bookmark_yellow", &D::numberOfBookmarksWithColorYellow,
       &D::loadYellowBookmarks},
      {"Marked as green", "popGreen", "bookmark_green", &D::numberOfBookmarksWithColorGreen, &D::loadGreenBookmarks},
      {"Marked as red", "popRed", "bookmark_red", &D::numberOfBookmarksWithColorRed, &D::loadRedBookmarks},
      {"Marked as grey", "popGrey", "bookmark_grey", &D::numberOfBookmarksWithColorGrey, &D::loadGreyBookmarks},
  };
  return entries;
}

PopularsController::PopularsController()
    : SmartListController(entryTable(), {UpdatePopularsViewNotification, BRWUpdateFoldersViewNotification},
                          SelectedPopularView) {}

std::optional<std::int64_t> PopularsController::badgeForEntry(const Entry& entry) {
  auto badge = SmartListController::badgeForEntry(entry);
  // The list holds at most 25; so does its badge.
  if (badge && std::string_view(entry.identifier) == "top25") badge = std::min<std::int64_t>(*badge, kTop25Limit);
  return badge;
}

void PopularsController::updateSelection() {
  auto* item = firstSelectedItem();
  // A cleared selection leaves the list that was loaded.
  if (!item) return;
  selectOnly(item);
  if (kestoData_) kestoData_->setCurrentFolder(nullptr);
  isDifferentFolder_ = false;
  if (selectedRowCount() != 1) return;
  endSearchForNewRow(item->identifier());
  fnd::UserDefaults::standard().setInteger(static_cast<std::int32_t>(list_->rowForItem(item)), kSelectedItemKey);
  loadEntryAndUpdate(item->identifier());
}

unsigned PopularsController::implementedSourceListDelegateMethods() const {
  return SmartListController::implementedSourceListDelegateMethods() | SourceListDelegate::MenuForEvent;
}

std::shared_ptr<ui::Menu> PopularsController::menuForItem(SourceListItem* item) const {
  auto menu = std::make_shared<ui::Menu>();
  // A heading only: it names the entry and does nothing.
  auto entry = menu->addItemWithTitle(item ? item->title() : std::string("clicked outside"), {});
  entry->setEnabled(false);
  return menu;
}

bool PopularsController::sourceListMenuForEventItem(SourceList& list, const ui::Event& event, SourceListItemPtr item) {
  contextMenu_ = menuForItem(dynamic_cast<SourceListItem*>(item));
  ui::Menu::popUpContextMenu(contextMenu_, event, list);
  return true;
}

}  // namespace kesto
