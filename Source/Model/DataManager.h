#pragma once

#include "Model/ModelNotifications.h"
#include "Platform/Foundation/Date.h"
#include "Platform/Store/Predicate.h"
#include "Platform/Store/SortDescriptor.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace kesto::store {
class Context;
}

namespace kesto {

class Bookmark;
class Folder;
class Preferences;
class Tag;


// Sorts bookmarks by the descriptors (stable; each key read once per bookmark).
void sortBookmarks(std::vector<std::shared_ptr<Bookmark>>& list, const std::vector<store::SortDescriptor>& sorts);

// The in-memory library: every bookmark and folder of the store, the current list the browser
// shows, the menu-bar list, the smart lists and their counters, duplicates and clean-ups.
// Main thread only.
class DataManager {
 public:
  using BookmarkRef = std::shared_ptr<Bookmark>;
  using FolderRef = std::shared_ptr<Folder>;
  using BookmarkList = std::vector<BookmarkRef>;
  using FolderList = std::vector<FolderRef>;
  using SortDescriptors = std::vector<store::SortDescriptor>;

  DataManager();
  ~DataManager();
  DataManager(const DataManager&) = delete;
  DataManager& operator=(const DataManager&) = delete;

  // Start-up: takes the main context, observes the reload notifications, prepares and starts
  // the first load.
  void awakeFromNib();
  void prepare();
  void prepareNonFolderViews();
  void prepareForTagView();
  void prepareFolderView();

  // Loading. The store read runs on a child context's queue; the arrays are filled on the main
  // queue, which then posts the refreshes.
  void fetchAllBookmarksFromCoreData();
  void fetchAllBookmarksFromCoreDataFromService();
  void loadBookmarks();
  void loadBookmarksAndReset();
  void doLoadBookmarks(bool reset);
  void clearBookmarks();
  void clearMenuBookmarks();
  void startActivity();
  void stopActivity();
  BookmarkList bookmarksWithFolder(const std::string& folderID) const;
  BookmarkList allBookmarksInLibrary() const;
  std::optional<BookmarkList> allBookmarksInLibraryAndCollect() const;
  void resetFetchLimitAndOffset();

  // Smart lists.
  void preparePredicates();
  void loadAllBookmarksInLibrary();
  void loadBookmarksInInbox();
  void loadTrashedBookmarks();
  void loadDeliciousBookmarks();
  void loadPinboardBookmarks();
  void loadTodayBookmarks();
  void loadYesterdayBookmarks();
  void loadThisWeekBookmarks();
  void loadThisMonthBookmarks();
  void loadAddedTodayBookmarks();
  void loadAddedYesterdayBookmarks();
  void loadAddedThisWeekBookmarks();
  void loadAddedThisMonthBookmarks();
  void loadModifiedTodayBookmarks();
  void loadModifiedYesterdayBookmarks();
  void loadModifiedThisWeekBookmarks();
  void loadModifiedThisMonthBookmarks();
  void loadAnnotatedBookmarks();
  void loadTop25Bookmarks();
  void loadFiveStarsBookmarks();
  void loadFavoriteBookmarks();
  void loadBookmarksWithCredentials();
  void loadBookmarksWithTags();
  void loadBlueBookmarks();
  void loadOrangeBookmarks();
  void loadRedBookmarks();
  void loadGreenBookmarks();
  void loadYellowBookmarks();
  void loadGreyBookmarks();
  void loadBrokenBookmarks();
  void loadDuplicatedBookmarks();
  void loadMissingImagesBookmarks();
  // Searches: library-wide in the store (at most 1000), within the current list, and for the
  // menu bar.
  void applySearchPredicate(const store::PredicateRef& predicate);
  void applySearchPredicateOnCurrentSelection(const store::PredicateRef& predicate);
  void applySearchPredicateFromMenu(const store::PredicateRef& predicate);
  void loadMenuBookmarks();
  void loadWeekBookmarksMenu();
  void loadFavoriteBookmarksMenu();
  void addBookmarks(const BookmarkList& bookmarks);
  void removeBookmarks(const BookmarkList& bookmarks);
  void addFolders(const FolderList& folders);
  void removeFolders(const FolderList& folders);
  void addBookmarksAvoidingDuplicates(const BookmarkList&) {}
  // Rebuilds the date windows when the local day has changed since they were built, so "Today"
  // never means the day the application started. Lists and counters call it themselves.
  void refreshDateWindowsIfDayChanged();

  // Counters.
  std::int32_t numberOfBookmarksInLibrary();
  std::int32_t numberOfTotalBookmarks();
  std::int32_t numberOfImportedBookmarks();
  std::int32_t numberOBookmarksInTrash();
  std::int32_t numberOfBookmarksInInbox();
  std::int32_t numberOfBookmarksInFolder(const std::string& folderID);
  // Every folder's badge at once (one pass over the library).
  std::unordered_map<std::string, std::int32_t> numberOfBookmarksInFolders();
  std::int32_t numberOfBookmarksInDelicious();
  std::int32_t numberOfBookmarksInPinboard();
  std::int32_t numberOfBookmarksInLibraryAndCollect();
  std::int32_t numberOfBookmarksInTop25();
  std::int32_t numberOfBookmarksWithFiveStars();
  std::int32_t numberOfBookmarksWithNotes();
  std::int32_t numberOfBookmarksWithTags();
  std::int32_t numberOfBookmarksWithCredentials();
  std::int32_t numberOfBookmarksWithFavorite();
  std::int32_t numberOfBookmarksWithColorBlue();
  std::int32_t numberOfBookmarksWithColorOrange();
  std::int32_t numberOfBookmarksWithColorYellow();
  std::int32_t numberOfBookmarksWithColorGreen();
  std::int32_t numberOfBookmarksWithColorRed();
  std::int32_t numberOfBookmarksWithColorGrey();
  std::int32_t numberOfBookmarksVisitedToday();
  std::int32_t numberOfBookmarksVisitedYesterday();
  std::int32_t numberOfBookmarksVisitedThisWeek();
  std::int32_t numberOfBookmarksVisitedThisMonth();
  std::int32_t numberOfBookmarksAddedToday();
  std::int32_t numberOfBookmarksAddedYesterday();
  std::int32_t numberOfBookmarksAddedThisWeek();
  std::int32_t numberOfBookmarksAddedThisMonth();
  std::int32_t numberOfBookmarksModifiedToday();
  std::int32_t numberOfBookmarksModifiedYesterday();
  std::int32_t numberOfBookmarksModifiedThisWeek();
  std::int32_t numberOfBookmarksModifiedThisMonth();
  std::int32_t numberOfBookmarksWithMissingImages();

  // Sorting, tags, duplicates and clean-ups.
  SortDescriptors folderSortDescriptors() const;
  SortDescriptors inboxSortDescriptors() const;
  SortDescriptors duplicateSortDescriptors() const;
  // Every tag while the current list is not empty; absent while it is.
  std::optional<std::vector<std::shared_ptr<Tag>>> allTags() const;
  void clearTags();
  // Later copies of every URL that at least two live bookmarks share, grouped by the first
  // copy's title; the first copy (the oldest row) and service copies are never listed.
  BookmarkList duplicates() const;
  void removeDuplicates();
  void removeBrokenLinks();

  // Properties.
  BookmarkList& bookmarks() { return bookmarks_; }
  FolderList& folders() { return *allFolders_; }
  BookmarkList& menuBookmarks() { return menuBookmarks_; }
  const BookmarkList& allBookmarks() const { return allBookmarks_; }
  const FolderList& allFolders() const { return *allFolders_; }
  const FolderRef& currentFolder() const { return currentFolder_; }
  void setCurrentFolder(FolderRef f) { currentFolder_ = std::move(f); }
  const BookmarkRef& currentBookmark() const { return currentBookmark_; }
  void setCurrentBookmark(BookmarkRef b) { currentBookmark_ = std::move(b); }
  const BookmarkList& currentBookmarks() const { return currentBookmarks_; }
  void setCurrentBookmarks(BookmarkList v) { currentBookmarks_ = std::move(v); }
  const BookmarkRef& selectedBookmark() const { return selectedBookmark_; }
  void setSelectedBookmark(BookmarkRef b) { selectedBookmark_ = std::move(b); }
  const BookmarkList& selectedBookmarks() const { return selectedBookmarks_; }
  void setSelectedBookmarks(BookmarkList v) { selectedBookmarks_ = std::move(v); }
  const BookmarkRef& currentBookmarkMenu() const { return currentBookmarkMenu_; }
  void setCurrentBookmarkMenu(BookmarkRef b) { currentBookmarkMenu_ = std::move(b); }
  const BookmarkList& currentBookmarksMenu() const { return currentBookmarksMenu_; }
  void setCurrentBookmarksMenu(BookmarkList v) { currentBookmarksMenu_ = std::move(v); }
  const BookmarkRef& selectedBookmarkMenu() const { return selectedBookmarkMenu_; }
  void setSelectedBookmarkMenu(BookmarkRef b) { selectedBookmarkMenu_ = std::move(b); }
  const BookmarkList& selectedBookmarksMenu() const { return selectedBookmarksMenu_; }
  void setSelectedBookmarksMenu(BookmarkList v) { selectedBookmarksMenu_ = std::move(v); }
  std::vector<std::string>& currentlySelectedTags() { return currentlySelectedTags_; }
  const store::PredicateRef& currentPredicate() const { return currentPredicate_; }
  void setCurrentPredicate(store::PredicateRef p) { currentPredicate_ = std::move(p); }
  const SortDescriptors& currentSortDescriptors() const { return currentSortDescriptors_; }
  void setCurrentSortDescriptors(SortDescriptors s) { currentSortDescriptors_ = std::move(s); }
  std::int64_t currentFetchLimit() const { return currentFetchLimit_; }
  void setCurrentFetchLimit(std::int64_t v) { currentFetchLimit_ = v; }
  std::int64_t currentOffset() const { return currentOffset_; }
  void setCurrentOffset(std::int64_t v) { currentOffset_ = v; }
  const std::shared_ptr<store::Context>& context() const { return context_; }
  void setContext(std::shared_ptr<store::Context> c) { context_ = std::move(c); }
  bool loadingFromTags() const { return loadingFromTags_; }
  void setLoadingFromTags(bool v) { loadingFromTags_ = v; }
  bool isSearching() const { return isSearching_; }
  void setIsSearching(bool v) { isSearching_ = v; }
  bool loadingFromPinboard() const { return loadingFromPinboard_; }
  void setLoadingFromPinboard(bool v) { loadingFromPinboard_ = v; }
  bool loadingFromDelicious() const { return loadingFromDelicious_; }
  void setLoadingFromDelicious(bool v) { loadingFromDelicious_ = v; }
  bool shouldCopyDuringDrag() const { return shouldCopyDuringDrag_; }
  void setShouldCopyDuringDrag(bool v) { shouldCopyDuringDrag_ = v; }
  bool doubleClickedOrDragging() const { return doubleClickedOrDragging_; }
  void setDoubleClickedOrDragging(bool v) { doubleClickedOrDragging_ = v; }
  bool doubleClickedOrDraggingMenu() const { return doubleClickedOrDraggingMenu_; }
  void setDoubleClickedOrDraggingMenu(bool v) { doubleClickedOrDraggingMenu_ = v; }
  // The preferences outlet; unset means the registered preferences (or user defaults).
  void setPreferences(std::shared_ptr<const Preferences> p) { preferences_ = std::move(p); }

  // The smart-list predicates (one object each for the whole run, except that the twelve date
  // predicates are replaced when the day changes).
  struct Predicates {
    store::PredicateRef library, inbox, trash, today, addedToday, modifiedToday, yesterday, addedYesterday,
        modifiedYesterday, thisweek, addedThisweek, modifiedThisweek, thisMonth, addedThisMonth, modifiedThisMonth,
        annotated, top25, fiveStars, favorites, withCredentials, withTags, blue, orange, red, green, yellow, grey,
        duplicates, delicious, pinboard, brokenLinks, missingImages;
  };
  const Predicates& predicates() const { return p_; }
  const store::PredicateRef& libraryPredicate() const { return p_.library; }

 private:
  std::shared_ptr<const Preferences> prefs() const;
  void buildDateWindows();
  void loadSmartList(const store::PredicateRef& predicate);
  BookmarkList filter(const store::Predicate& predicate) const;
  std::int32_t countInMemory(const store::Predicate& predicate) const;
  std::int32_t countInStore(const store::PredicateRef& predicate) const;
  std::int32_t fetchAndCount(const store::PredicateRef& predicate) const;
  void finishLoad(std::vector<std::int64_t> bookmarkKeys, std::vector<std::int64_t> folderKeys, bool complete);
  void invalidateBadges() { badgeCache_.reset(); }
  const std::unordered_map<std::string, std::int32_t>& badgeCounts();

  std::shared_ptr<bool> alive_;
  std::shared_ptr<store::Context> context_;
  std::shared_ptr<const Preferences> preferences_;
  BookmarkList allBookmarks_;
  std::shared_ptr<FolderList> allFolders_;
  BookmarkList bookmarks_;
  BookmarkList menuBookmarks_;
  FolderRef currentFolder_;
  BookmarkRef currentBookmark_, selectedBookmark_, currentBookmarkMenu_, selectedBookmarkMenu_;
  BookmarkList currentBookmarks_, selectedBookmarks_, currentBookmarksMenu_, selectedBookmarksMenu_;
  std::vector<std::string> currentlySelectedTags_;
  store::PredicateRef currentPredicate_;
  SortDescriptors currentSortDescriptors_;
  std::int64_t currentFetchLimit_ = 200;
  std::int64_t currentOffset_ = 0;
  bool loadingFromTags_ = false, isSearching_ = false, loadingFromPinboard_ = false, loadingFromDelicious_ = false,
       shouldCopyDuringDrag_ = false, doubleClickedOrDragging_ = false, doubleClickedOrDraggingMenu_ = false,
       isImportingFromService_ = false;
  Predicates p_;
  fnd::Date windowsDay_;
  std::optional<std::unordered_map<std::string, std::int32_t>> badgeCache_;
  int saveObserver_ = 0;
  std::shared_ptr<store::Context> observedContext_;
};

}  // namespace kesto
