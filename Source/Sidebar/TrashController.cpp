#include "Sidebar/TrashController.h"

#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/ViewUpdater.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/UI/Alert.h"
#include "Sidebar/SidebarKeys.h"
#include "Synchronize/SyncTombstones.h"
#include "Views/SourceList.h"

#include <algorithm>
#include <unordered_set>

namespace kesto {

bool emptyTrashRecordingTombstones(DataManager* dataManager) {
  auto trashed = Bookmark::fetchEntitiesWhereProperty("trashed", std::int64_t(1)).value_or(Bookmark::List{});
  std::vector<SyncTombstone> tombstones;
  tombstones.reserve(trashed.size());
  for (auto& b : trashed)
    if (auto id = b->uniqueIDValue(); id && !id->empty()) tombstones.push_back({*id, b->version(), "b"});
  if (!tombstones.empty()) SyncTombstones::add(tombstones);
  if (trashed.empty()) return true;
  // Out of the in-memory library first: the refresh that follows must neither count nor list them.
  bool inspected = false;
  if (dataManager) {
    std::unordered_set<const Bookmark*> doomed;
    for (const auto& b : trashed) doomed.insert(b.get());
    // Nor may the inspector go on showing one.
    if (doomed.count(dataManager->currentBookmark().get())) {
      dataManager->setCurrentBookmark(nullptr);
      inspected = true;
    }
    auto bulk = dataManager->currentBookmarks();
    const auto before = bulk.size();
    bulk.erase(std::remove_if(bulk.begin(), bulk.end(), [&](const auto& b) { return doomed.count(b.get()) > 0; }),
               bulk.end());
    if (bulk.size() != before) {
      dataManager->setCurrentBookmarks(bulk);
      inspected = true;
    }
    dataManager->removeBookmarks(trashed);
  }
  Bookmark::deleteBookmarks(trashed);
  const bool saved = WrenEntity::saveContext();
  if (inspected) ViewUpdater::updateInspector();
  return saved;
}

const std::vector<SmartListController::Entry>& TrashController::entryTable() {
  static const std::vector<Entry> entries{{"Empty Trash", kEmptyTrashID, "sourcelist_empty_trash"}};
  return entries;
}

// Refreshed whichever list is shown: its badge follows every change.
TrashController::TrashController() : SmartListController(entryTable(), {UpdateTrashViewNotification}, nullptr) {}

std::optional<std::int64_t> TrashController::badgeForEntry(const Entry&) {
  if (!kestoData_) return std::nullopt;
  const std::int32_t n = kestoData_->numberOBookmarksInTrash();
  return n > 0 ? std::optional<std::int64_t>(n) : std::nullopt;
}

void TrashController::updateView() {
  // The badge follows every change; the bookmark list is the trash's only while the trash is
  // shown, otherwise it belongs to the list the sidebar shows (a folder just deleted elsewhere).
  loadItems();
  if (!kestoData_) return;
  if (fnd::UserDefaults::standard().stringForKey(SelectedView).value_or(SelectedLibraryView) != SelectedTrashView) return;
  kestoData_->prepareNonFolderViews();
  kestoData_->loadTrashedBookmarks();
  ViewUpdater::updateBookmarks();
}

void TrashController::updateSelection() {
  auto* item = firstSelectedItem();
  if (item && item->identifier() == kEmptyTrashID) {
    // The entry acts like a button: cleared, so that the next click asks again.
    list_->deselectAll();
    performEntryAction([this] { emptyTrash(); });
  }
  ViewUpdater::updateBookmarks();
}

bool TrashController::emptyTrash() {
  ui::Alert alert;
  alert.setMessageText("Empty the trash?");
  alert.setInformativeText("Do you really want to empty the Trash? All trashed bookmarks will be permanently deleted.");
  alert.addButtonWithTitle("Empty Trash");
  alert.addButtonWithTitle("Cancel");
  if (alert.runModal() != ui::AlertFirstButtonReturn) return false;
  const bool emptied = doEmptyTrash();
  ViewUpdater::updateSidebar();
  return emptied;
}

bool TrashController::doEmptyTrash() {
  if (emptyTrashRecordingTombstones(kestoData_)) return true;
  ui::Alert failed;
  failed.setMessageText("The trash could not be emptied");
  failed.setInformativeText("Kesto could not write to its library. The trashed bookmarks are kept.");
  failed.addButtonWithTitle("OK");
  failed.runModal();
  return false;
}

}  // namespace kesto
