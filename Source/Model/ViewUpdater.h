#pragma once

#include "Model/ModelNotifications.h"
#include "Platform/Foundation/NotificationCenter.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

namespace kesto {


// User-info keys of the overlay message and of the page-content notifications.
inline constexpr const char* kOverlayMessageKey = "message";
inline constexpr const char* kOverlayWidthKey = "width";
inline constexpr const char* kOverlayHeightKey = "height";
inline constexpr const char* kOverlaySecondsKey = "seconds";
inline constexpr const char* kWebContentKey = "webContent";
inline constexpr const char* kChangedBookmarksKey = "bookmarks";
inline constexpr const char* kRemovedRowsKey = "removed";
inline constexpr const char* kInsertedRowsKey = "inserted";
inline constexpr const char* kAddedFoldersKey = "addedFolders";

class Bookmark;
class Folder;

// Asks the controllers that show a view of the library to refresh it, by posting a named
// notification on the default centre. Posting is synchronous on the calling thread, which must
// be the main thread because the observers touch the interface.
class ViewUpdater {
 public:
  // The sender the class-level posts carry.
  static const void* classObject();

  // While one lives on a thread, the refresh requests made there are held and each is posted
  // once when the outermost ends, in the order first asked: work that changes many things at
  // once costs one refresh of each view. Overlay messages and activity posts are not held.
  class Coalescing {
   public:
    Coalescing();
    ~Coalescing();
    Coalescing(const Coalescing&) = delete;
    Coalescing& operator=(const Coalescing&) = delete;
  };

  static void updateBookmarks();
  // The list shown changed only by these rows: those at `removed` (places in the list as it was)
  // left, those at `inserted` (places in the list now) came. The lists insert and remove them
  // instead of reloading. Held by Coalescing as a plain updateBookmarks, since the views may not
  // show the list as it was when the held refresh goes out.
  static void updateBookmarks(const std::vector<std::size_t>& removed, const std::vector<std::size_t>& inserted);
  // The rows an updateBookmarks notification says left and came; absent for a plain one.
  struct RowChange {
    std::vector<std::int64_t> removed, inserted;
  };
  static std::optional<RowChange> rowChange(const fnd::Notification& notification);
  static void updateBookmarksAndResetView();
  static void updateMenuBookmarks();
  // These bookmarks changed in place (their values, not which lists hold them): the lists shown
  // draw their rows again instead of reloading everything. Not held by Coalescing.
  static void updateBookmarkRows(const std::vector<std::shared_ptr<Bookmark>>& bookmarks);
  // The bookmarks an updateBookmarkRows notification names.
  static std::unordered_set<const void*> changedBookmarks(const fnd::Notification& notification);
  static void fetchMissingImages();
  static void fetchMissingImagesInFolder();
  static void openSelectedBookmarksMenu();
  static void showTags();
  static void resetTags();
  static void updateTags();
  static void updateHistory();
  static void updateSourceLists();
  static void updateFoldersCompletely();
  // The folder list after folders were added and nothing else changed among the folders (an
  // import's): the rows of `added` can be put in beside those there are. Observers that cannot
  // do that refresh completely, as for updateFoldersCompletely.
  static void updateFoldersAdding(const std::vector<std::shared_ptr<Folder>>& added);
  // The folders an updateFoldersAdding notification names; none for a complete refresh.
  static std::vector<std::shared_ptr<Folder>> addedFolders(const fnd::Notification& notification);
  static void updateFolderBadges();
  static void updatePopulars();
  static void updateSidebar();
  static void updateTrash();
  static void updateMaintenance();
  static void updateInspector();
  static void clearInspector();
  static void startActivity();
  static void stopActivity();
  static void selectBookmarksRow();
  static void selectInboxRow();
  static void showMoreBookmarksMessage();
  static void hideMoreBookmarksButton();
  static void updateCurrentBookmarkTitleFromEdit();
  static void updateCurrentBookmarkURLFromEdit();
  static void clearBookmarks();
  static void clearSearchField();
  static void clearPathBar();
  static void setSyncTimer();
  static void unsetSyncTimer();
  static void showPinboardPanel();
  static void hidePinboardPanel();
  static void showDeliciousPanel();
  static void showMessage(const std::string& message);
  static void showMessage(const std::string& message, double width, double height);
  static void showMessage(const std::string& message, double width, double height, int seconds);
  static void hideMessage();
  static void selectBookmarksView();
  static void showInitialPopup();
  static void hideInitialPopup();
};

}  // namespace kesto
