#include "Model/ViewUpdater.h"

#include "Model/Bookmark.h"
#include "Model/Folder.h"
#include "Platform/Foundation/NotificationCenter.h"

#include <utility>
#include <vector>

namespace kesto {

namespace {

const char kClassTag = 0;

thread_local int tCoalescing = 0;
thread_local std::vector<std::pair<fnd::NotificationName, const void*>> tHeld;

void post(fnd::NotificationName name, const void* object, fnd::Dictionary userInfo = {}) {
  if (tCoalescing > 0 && userInfo.empty() && name != BRWActivityStartedNotification &&
      name != BRWActivityEndedNotification) {
    for (const auto& [heldName, heldObject] : tHeld)
      if (heldName == name && heldObject == object) return;
    tHeld.emplace_back(name, object);
    return;
  }
  fnd::NotificationCenter::defaultCenter().postNotificationName(name, object, std::move(userInfo));
}

}  // namespace

const void* ViewUpdater::classObject() { return &kClassTag; }

ViewUpdater::Coalescing::Coalescing() { ++tCoalescing; }

ViewUpdater::Coalescing::~Coalescing() {
  if (--tCoalescing > 0) return;
  // Observers may ask for more refreshes while these are posted; those go out at once.
  auto held = std::move(tHeld);
  tHeld.clear();
  for (const auto& [name, object] : held) post(name, object);
}

void ViewUpdater::updateBookmarks() { post(BRWUpdateBookmarksViewNotification, classObject()); }

void ViewUpdater::updateBookmarks(const std::vector<std::size_t>& removed, const std::vector<std::size_t>& inserted) {
  if (tCoalescing > 0) return updateBookmarks();
  auto rows = [](const std::vector<std::size_t>& places) {
    fnd::Array out;
    out.reserve(places.size());
    for (auto p : places) out.emplace_back(static_cast<std::int64_t>(p));
    return fnd::Value(std::move(out));
  };
  post(BRWUpdateBookmarksViewNotification, classObject(),
       {{kRemovedRowsKey, rows(removed)}, {kInsertedRowsKey, rows(inserted)}});
}

std::optional<ViewUpdater::RowChange> ViewUpdater::rowChange(const fnd::Notification& notification) {
  auto removed = notification.userInfo.find(kRemovedRowsKey);
  auto inserted = notification.userInfo.find(kInsertedRowsKey);
  if (removed == notification.userInfo.end() || inserted == notification.userInfo.end() || !removed->second.isArray() ||
      !inserted->second.isArray())
    return std::nullopt;
  RowChange change;
  for (auto [from, to] : {std::pair{&removed->second, &change.removed}, std::pair{&inserted->second, &change.inserted}})
    for (const auto& v : from->array()) to->push_back(v.intValue());
  return change;
}

void ViewUpdater::updateBookmarksAndResetView() { post(BRWUpdateBookmarksAndResetViewNotification, classObject()); }
void ViewUpdater::updateMenuBookmarks() { post(BRWUpdateMenuBookmarksViewNotification, classObject()); }
void ViewUpdater::updateBookmarkRows(const std::vector<std::shared_ptr<Bookmark>>& bookmarks) {
  if (bookmarks.empty()) return;
  fnd::Array changed;
  changed.reserve(bookmarks.size());
  for (const auto& b : bookmarks)
    if (b) changed.push_back(fnd::Value(std::static_pointer_cast<fnd::Object>(b)));
  post(BRWUpdateBookmarkRowsNotification, classObject(), {{kChangedBookmarksKey, fnd::Value(std::move(changed))}});
}

std::unordered_set<const void*> ViewUpdater::changedBookmarks(const fnd::Notification& notification) {
  std::unordered_set<const void*> out;
  auto it = notification.userInfo.find(kChangedBookmarksKey);
  if (it == notification.userInfo.end() || !it->second.isArray()) return out;
  for (const auto& v : it->second.array())
    if (v.isObject()) out.insert(std::dynamic_pointer_cast<Bookmark>(v.object()).get());
  out.erase(nullptr);
  return out;
}

void ViewUpdater::fetchMissingImages() { post(BRWFetchMissingImagesNotification, classObject()); }
void ViewUpdater::fetchMissingImagesInFolder() { post(FetchMissingImagesInFolderNotification, classObject()); }
void ViewUpdater::openSelectedBookmarksMenu() { post(BRWOpenSelectedBookmarksMenuNotification, classObject()); }
void ViewUpdater::showTags() { post(BRWShowTagsViewNotification, classObject()); }
void ViewUpdater::resetTags() { post(BRWResetTagsViewNotification, classObject()); }
void ViewUpdater::updateTags() { post(BRWUpdateTagsViewNotification, classObject()); }
void ViewUpdater::updateHistory() { post(BRWUpdateHistoryViewNotification, classObject()); }
void ViewUpdater::updateSourceLists() { post(BRWUpdateFoldersViewNotification, classObject()); }
void ViewUpdater::updateFoldersCompletely() { post(BRWUpdateFoldersCompletelyViewNotification, classObject()); }

void ViewUpdater::updateFoldersAdding(const std::vector<std::shared_ptr<Folder>>& added) {
  fnd::Array folders;
  folders.reserve(added.size());
  for (const auto& f : added)
    if (f) folders.push_back(fnd::Value(std::static_pointer_cast<fnd::Object>(f)));
  post(BRWUpdateFoldersCompletelyViewNotification, classObject(), {{kAddedFoldersKey, fnd::Value(std::move(folders))}});
}

std::vector<std::shared_ptr<Folder>> ViewUpdater::addedFolders(const fnd::Notification& notification) {
  std::vector<std::shared_ptr<Folder>> out;
  auto it = notification.userInfo.find(kAddedFoldersKey);
  if (it == notification.userInfo.end() || !it->second.isArray()) return out;
  for (const auto& v : it->second.array())
    if (auto f = v.isObject() ? std::dynamic_pointer_cast<Folder>(v.object()) : nullptr) out.push_back(std::move(f));
  return out;
}
void ViewUpdater::updateFolderBadges() { post(UpdateFolderBadgesNotification, classObject()); }
void ViewUpdater::updatePopulars() { post(UpdatePopularsViewNotification, classObject()); }
void ViewUpdater::updateSidebar() { post(SelectCurrentSidebarViewNotification, classObject()); }
void ViewUpdater::updateTrash() { post(UpdateTrashViewNotification, classObject()); }
void ViewUpdater::updateMaintenance() { post(UpdateMaintenanceViewNotification, classObject()); }
void ViewUpdater::updateInspector() { post(BRWUpdateInspectorViewNotification, classObject()); }
void ViewUpdater::clearInspector() { post(BRWClearInspectorViewNotification, classObject()); }
void ViewUpdater::startActivity() { post(BRWActivityStartedNotification, classObject()); }
void ViewUpdater::stopActivity() { post(BRWActivityEndedNotification, classObject()); }
void ViewUpdater::selectBookmarksRow() { post(BRWSelectLibraryFolderNotification, classObject()); }
void ViewUpdater::selectInboxRow() { post(BRWSelectInboxFolderNotification, classObject()); }
void ViewUpdater::showMoreBookmarksMessage() { post(ShowMoreBookmarksButtonNotification, classObject()); }
void ViewUpdater::hideMoreBookmarksButton() { post(HideMoreBookmarksButtonNotification, classObject()); }
void ViewUpdater::updateCurrentBookmarkTitleFromEdit() { post(BRWUpdateCurrentBookmarkTitleNotification, classObject()); }
void ViewUpdater::updateCurrentBookmarkURLFromEdit() { post(BRWUpdateCurrentBookmarkURLNotification, classObject()); }
void ViewUpdater::clearBookmarks() { post(ClearBookmarksNotification, classObject()); }
void ViewUpdater::clearSearchField() { post(ClearSearchField, classObject()); }
void ViewUpdater::clearPathBar() { post(BRWClearPathBar, classObject()); }
void ViewUpdater::setSyncTimer() { post(BRWSetSyncTimer, classObject()); }
void ViewUpdater::unsetSyncTimer() { post(BRWUnsetSyncTimer, classObject()); }
void ViewUpdater::showPinboardPanel() { post(ShowPinboardPanel, classObject()); }
void ViewUpdater::hidePinboardPanel() { post(HidePinboardPanel, nullptr); }
void ViewUpdater::showDeliciousPanel() { post(ShowDeliciousPanel, classObject()); }
void ViewUpdater::hideMessage() { post(HideOverlayMessageNotification, classObject()); }
void ViewUpdater::selectBookmarksView() { post(SelectBookmarksView, nullptr); }
void ViewUpdater::showInitialPopup() { post(ShowInitialPopup, nullptr); }
void ViewUpdater::hideInitialPopup() { post(HideInitialPopup, nullptr); }

void ViewUpdater::showMessage(const std::string& message) { showMessage(message, 400.0, 130.0); }

void ViewUpdater::showMessage(const std::string& message, double width, double height) {
  showMessage(message, width, height, 2);
}

void ViewUpdater::showMessage(const std::string& message, double width, double height, int seconds) {
  fnd::Dictionary info{{kOverlayMessageKey, message},
                       {kOverlayWidthKey, width},
                       {kOverlayHeightKey, height},
                       {kOverlaySecondsKey, static_cast<double>(seconds)}};
  post(ShowOverlayWithMessage, classObject(), std::move(info));
}

}  // namespace kesto
