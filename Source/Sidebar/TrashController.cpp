#include "Sidebar/TrashController.h"

#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/ViewUpdater.h"
#include "Platform/UI/Alert.h"
#include "Synchronize/SyncTombstones.h"
#include "Views/SourceList.h"

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
  if (dataManager) dataManager->removeBookmarks(trashed);
  Bookmark::deleteBookmarks(trashed);
  const bool saved = WrenEntity::saveContext();
  if (dataManager) dataManager->setCurrentBookmark(nullptr);
  return saved;
}

const std::vector<SmartListController::Entry>& TrashController::entryTable() const {
  static const std::vector<Entry> entries{{"Empty Trash", kEmptyTrashID, "sourcelist_empty_trash"}};
  return entries;
}

std::vector<const char*> TrashController::notificationNames() const { return {UpdateTrashViewNotification}; }

std::optional<std::int64_t> TrashController::badgeForEntry(const Entry&) {
  if (!kestoData_) return std::nullopt;
  const std::int32_t n = kestoData_->numberOBookmarksInTrash();
  return n > 0 ? std::optional<std::int64_t>(n) : std::nullopt;
}

void TrashController::updateView() {
  loadItems();
  if (!kestoData_) return;
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
