#pragma once

#include "Model/DataManagerIndex.h"
#include "Model/ModelNotifications.h"
#include "Platform/Foundation/Date.h"
#include "Platform/Foundation/FoundationForward.h"
#include "Platform/Foundation/Lifetime.h"
#include "Platform/Store/Predicate.h"
#include "Platform/Store/SortDescriptor.h"
#include "Platform/Store/StoreForward.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace kesto {

class Bookmark;
class Folder;
class Preferences;
class Tag;


// Sorts bookmarks by the descriptors (stable; each key read once per bookmark).
void sortBookmarks(std::vector<std::shared_ptr<Bookmark>>& list, const std::vector<store::SortDescriptor>& sorts);
// Merges `incoming` (in any order) into `list`, which is sorted as sortBookmarks sorts a list in
// library order (`orderOf` gives a bookmark's place there): the list the sort of both would give.
// Answers the places the incoming bookmarks took, in increasing order.
std::vector<std::size_t> mergeSortedBookmarks(std::vector<std::shared_ptr<Bookmark>>& list,
                                              std::vector<std::shared_ptr<Bookmark>> incoming,
                                              const std::vector<store::SortDescriptor>& sorts,
                                              const std::function<std::uint32_t(const Bookmark*)>& orderOf);

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
  BookmarkList bookmarksWithFolder(const std::string& folderID);
  BookmarkList allBookmarksInLibrary() const;
  std::optional<BookmarkList> allBookmarksInLibraryAndCollect() const;
  void resetFetchLimitAndOffset();

  // Smart lists: each shown by making its predicate the current one and computing the list.
  enum class SmartList {
    Library, Inbox, Trash, Delicious, Pinboard,
    Today, Yesterday, ThisWeek, ThisMonth,
    AddedToday, AddedYesterday, AddedThisWeek, AddedThisMonth,
    ModifiedToday, ModifiedYesterday, ModifiedThisWeek, ModifiedThisMonth,
    Annotated, Top25, FiveStars, Favorites, WithCredentials, WithTags,
    Blue, Orange, Red, Green, Yellow, Grey,
    BrokenLinks, Duplicates, MissingImages,
  };
  void preparePredicates();
  void loadSmartList(SmartList list);
  const store::PredicateRef& predicateFor(SmartList list) const;
  void loadAllBookmarksInLibrary() { loadSmartList(SmartList::Library); }
  void loadBookmarksInInbox() { loadSmartList(SmartList::Inbox); }
  void loadTrashedBookmarks() { loadSmartList(SmartList::Trash); }
  void loadDeliciousBookmarks() { loadSmartList(SmartList::Delicious); }
  void loadPinboardBookmarks() { loadSmartList(SmartList::Pinboard); }
  void loadTodayBookmarks() { loadSmartList(SmartList::Today); }
  void loadYesterdayBookmarks() { loadSmartList(SmartList::Yesterday); }
  void loadThisWeekBookmarks() { loadSmartList(SmartList::ThisWeek); }
  void loadThisMonthBookmarks() { loadSmartList(SmartList::ThisMonth); }
  void loadAddedTodayBookmarks() { loadSmartList(SmartList::AddedToday); }
  void loadAddedYesterdayBookmarks() { loadSmartList(SmartList::AddedYesterday); }
  void loadAddedThisWeekBookmarks() { loadSmartList(SmartList::AddedThisWeek); }
  void loadAddedThisMonthBookmarks() { loadSmartList(SmartList::AddedThisMonth); }
  void loadModifiedTodayBookmarks() { loadSmartList(SmartList::ModifiedToday); }
  void loadModifiedYesterdayBookmarks() { loadSmartList(SmartList::ModifiedYesterday); }
  void loadModifiedThisWeekBookmarks() { loadSmartList(SmartList::ModifiedThisWeek); }
  void loadModifiedThisMonthBookmarks() { loadSmartList(SmartList::ModifiedThisMonth); }
  void loadAnnotatedBookmarks() { loadSmartList(SmartList::Annotated); }
  void loadTop25Bookmarks() { loadSmartList(SmartList::Top25); }
  void loadFiveStarsBookmarks() { loadSmartList(SmartList::FiveStars); }
  void loadFavoriteBookmarks() { loadSmartList(SmartList::Favorites); }
  void loadBookmarksWithCredentials() { loadSmartList(SmartList::WithCredentials); }
  void loadBookmarksWithTags() { loadSmartList(SmartList::WithTags); }
  void loadBlueBookmarks() { loadSmartList(SmartList::Blue); }
  void loadOrangeBookmarks() { loadSmartList(SmartList::Orange); }
  void loadRedBookmarks() { loadSmartList(SmartList::Red); }
  void loadGreenBookmarks() { loadSmartList(SmartList::Green); }
  void loadYellowBookmarks() { loadSmartList(SmartList::Yellow); }
  void loadGreyBookmarks() { loadSmartList(SmartList::Grey); }
  void loadBrokenBookmarks() { loadSmartList(SmartList::BrokenLinks); }
  void loadDuplicatedBookmarks() { loadSmartList(SmartList::Duplicates); }
  void loadMissingImagesBookmarks() { loadSmartList(SmartList::MissingImages); }
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
  // Runs `save` (a save of the main context) and brings the library in memory up to date with
  // what it wrote: the bookmarks and folders it inserted join, those it deleted leave, the
  // changed ones are re-read by the lists. For changes that may touch any bookmark (an undo),
  // in place of a reload of the whole library.
  void followSave(const std::function<void()>& save);
  // The same for a save of another context the main context has merged (an import); the views
  // follow in a later turn of the main loop.
  void followMergedSave(const store::SaveNotification& saved);
  // Rebuilds the date windows when the local day has changed since they were built, so "Today"
  // never means the day the application started. Lists and counters call it themselves.
  void refreshDateWindowsIfDayChanged();

  // Counters: the badge of a smart list (0 for a list without one), and the counts that no list
  // shares.
  std::int32_t numberOfBookmarks(SmartList list);
  std::int32_t numberOfTotalBookmarks();
  std::int32_t numberOfImportedBookmarks();
  std::int32_t numberOfBookmarksInFolder(const std::string& folderID);
  // Every folder's badge at once.
  std::unordered_map<std::string, std::int32_t> numberOfBookmarksInFolders();
  std::int32_t numberOfBookmarksInLibraryAndCollect();
  std::int32_t numberOfBookmarksInLibrary() { return numberOfBookmarks(SmartList::Library); }
  std::int32_t numberOBookmarksInTrash() { return numberOfBookmarks(SmartList::Trash); }
  std::int32_t numberOfBookmarksInInbox() { return numberOfBookmarks(SmartList::Inbox); }
  std::int32_t numberOfBookmarksInDelicious() { return numberOfBookmarks(SmartList::Delicious); }
  std::int32_t numberOfBookmarksInPinboard() { return numberOfBookmarks(SmartList::Pinboard); }
  std::int32_t numberOfBookmarksInTop25() { return numberOfBookmarks(SmartList::Top25); }
  std::int32_t numberOfBookmarksWithFiveStars() { return numberOfBookmarks(SmartList::FiveStars); }
  std::int32_t numberOfBookmarksWithNotes() { return numberOfBookmarks(SmartList::Annotated); }
  std::int32_t numberOfBookmarksWithTags() { return numberOfBookmarks(SmartList::WithTags); }
  std::int32_t numberOfBookmarksWithCredentials() { return numberOfBookmarks(SmartList::WithCredentials); }
  std::int32_t numberOfBookmarksWithFavorite() { return numberOfBookmarks(SmartList::Favorites); }
  std::int32_t numberOfBookmarksWithColorBlue() { return numberOfBookmarks(SmartList::Blue); }
  std::int32_t numberOfBookmarksWithColorOrange() { return numberOfBookmarks(SmartList::Orange); }
  std::int32_t numberOfBookmarksWithColorYellow() { return numberOfBookmarks(SmartList::Yellow); }
  std::int32_t numberOfBookmarksWithColorGreen() { return numberOfBookmarks(SmartList::Green); }
  std::int32_t numberOfBookmarksWithColorRed() { return numberOfBookmarks(SmartList::Red); }
  std::int32_t numberOfBookmarksWithColorGrey() { return numberOfBookmarks(SmartList::Grey); }
  std::int32_t numberOfBookmarksVisitedToday() { return numberOfBookmarks(SmartList::Today); }
  std::int32_t numberOfBookmarksVisitedYesterday() { return numberOfBookmarks(SmartList::Yesterday); }
  std::int32_t numberOfBookmarksVisitedThisWeek() { return numberOfBookmarks(SmartList::ThisWeek); }
  std::int32_t numberOfBookmarksVisitedThisMonth() { return numberOfBookmarks(SmartList::ThisMonth); }
  std::int32_t numberOfBookmarksAddedToday() { return numberOfBookmarks(SmartList::AddedToday); }
  std::int32_t numberOfBookmarksAddedYesterday() { return numberOfBookmarks(SmartList::AddedYesterday); }
  std::int32_t numberOfBookmarksAddedThisWeek() { return numberOfBookmarks(SmartList::AddedThisWeek); }
  std::int32_t numberOfBookmarksAddedThisMonth() { return numberOfBookmarks(SmartList::AddedThisMonth); }
  std::int32_t numberOfBookmarksModifiedToday() { return numberOfBookmarks(SmartList::ModifiedToday); }
  std::int32_t numberOfBookmarksModifiedYesterday() { return numberOfBookmarks(SmartList::ModifiedYesterday); }
  std::int32_t numberOfBookmarksModifiedThisWeek() { return numberOfBookmarks(SmartList::ModifiedThisWeek); }
  std::int32_t numberOfBookmarksModifiedThisMonth() { return numberOfBookmarks(SmartList::ModifiedThisMonth); }
  std::int32_t numberOfBookmarksWithMissingImages() { return numberOfBookmarks(SmartList::MissingImages); }

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

  // While the first load reads the library: the list holds at most its first screen, so its
  // length is no count of anything.
  bool isReadingLibrary() const { return loadPending_ && allBookmarks_.empty(); }

  // Properties.
  BookmarkList& bookmarks() { return bookmarks_; }
  FolderList& folders() { return *allFolders_; }
  // The menu-bar list; after a load it is made when first asked for (the list is mostly hidden).
  BookmarkList& menuBookmarks();
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
  void setContext(std::shared_ptr<store::Context> c);
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
  // What the browser shows, as one value: the folder (none for the library, smart lists and tag
  // views), whether a tag view is shown and with which tag names, and the online service whose
  // row is chosen (new bookmarks then carry its mark).
  struct BrowsingState {
    enum class Service { None, Delicious, Pinboard };
    FolderRef folder;
    bool tagView = false;
    std::vector<std::string> tags;
    Service service = Service::None;
  };
  BrowsingState browsingState() const;
  void browse(BrowsingState state);
  // The preferences outlet; unset means the registered preferences (or user defaults).
  void setPreferences(std::shared_ptr<const Preferences> p) { preferences_ = std::move(p); }

  // The smart-list predicates (one object each for the whole run, except that the twelve date
  // predicates are replaced when the day changes).
  struct Predicates {
    store::PredicateRef library, inbox, trash, today, addedToday, modifiedToday, yesterday, addedYesterday,
        modifiedYesterday, thisweek, addedThisweek, modifiedThisweek, thisMonth, addedThisMonth, modifiedThisMonth,
        annotated, top25, fiveStars, favorites, withCredentials, withTags, blue, orange, red, green, yellow, grey,
        duplicates, delicious, pinboard, brokenLinks, missingImages;
    // Counts no list shares: "trashed < 1", "showImported >0 and trashed < 1 and blocked < 1" and
    // "trashed > 0 and blocked < 1".
    store::PredicateRef total, imported, trashCount;
  };
  const Predicates& predicates() const { return p_; }
  const store::PredicateRef& libraryPredicate() const { return p_.library; }

 private:
  std::shared_ptr<const Preferences> prefs() const;
  void buildDateWindows();
  void loadPredicate(const store::PredicateRef& predicate);
  // A library-wide search's results (at most the search limit), in folder order, added to `list`.
  void appendSearchResults(const store::PredicateRef& predicate, BookmarkList& list);
  void fillMenuBookmarks(const store::PredicateRef& predicate, const SortDescriptors& sorts);
  // The library's bookmarks the predicate accepts, in library order; the smart lists' own
  // predicates are answered from the index.
  BookmarkList filter(const store::PredicateRef& predicate);
  std::int32_t countInMemory(const store::PredicateRef& predicate);
  std::int32_t countInStore(const store::PredicateRef& predicate) const;
  std::int32_t fetchAndCount(const store::PredicateRef& predicate) const;
  void computeCurrentList();
  // Brings the kept list up to `generation` from the bookmarks changed since; false when it
  // cannot be told that way (the list is then computed afresh).
  struct ComputedList;
  // The rows that left a list (their places before) and that came (their places after).
  struct ListChange {
    std::vector<std::size_t> removed, inserted;
  };
  bool patchComputedList(ComputedList& kept, std::uint64_t generation, ListChange* change = nullptr);
  // What a list is computed from, at the index's generation now.
  ComputedList listKey(const FolderRef& folder, const store::PredicateRef& predicate, const SortDescriptors& sorts);
  void keepComputed(ComputedList list);
  // The library list of a load whose rows the reading thread sorted in the list's order: kept
  // as computed once checked, so the main thread never sorts a large library at start.
  void keepLoadedLibraryList(const BookmarkList& inListOrder, const SortDescriptors& sorts);
  // Whether a bookmark belongs in the current list; none when that cannot be told one by one.
  std::function<bool(const BookmarkRef&)> currentListTest(bool othersChanged);
  // While the library is read: the first rows of the current list, when the store can cut them
  // out alone.
  BookmarkList firstScreen();
  // The bookmarks a load read, sorted on its thread in the order the list had then.
  struct LoadedOrder {
    std::shared_ptr<const BookmarkList> bookmarks;
    std::shared_ptr<const SortDescriptors> sorts;
  };
  // Takes in the rows a load read (none: no store).
  void finishLoad(const std::shared_ptr<store::DetachedFetch>& bookmarks,
                  const std::shared_ptr<store::DetachedFetch>& folders, const LoadedOrder& order = {});
  // Takes load number `load` in over turns of the main loop (unless a later one was taken in
  // meanwhile): the bookmarks a part at a time, then the folders and the index.
  void takeInLoad(const std::shared_ptr<store::DetachedFetch>& bookmarks,
                  const std::shared_ptr<store::DetachedFetch>& folders, const LoadedOrder& order, std::uint64_t load);
  // The answer of a load's read, taken into the main context (absent when it failed).
  std::optional<std::vector<std::shared_ptr<store::ManagedObject>>> adoptLoaded(store::DetachedFetch* fetch);
  // Reads the index a part at a time, then announces load number `load` unless a later one
  // was taken in meanwhile.
  void readIndexThenAnnounce(bool loaded, std::uint64_t load, const LoadedOrder& order = {});
  // What every load ends with: the menu-bar list refilled, the folders and sidebar refreshed.
  // `loaded`: the rows were read (a failed read keeps what the last load found).
  // `foldersChanged`: folders may have come, gone or changed, so the folder list is built again;
  // otherwise only its badges and the list shown follow.
  // `addedFolders`: folders that came and nothing else changed among the folders (their rows can
  // be put in beside the others).
  void announceLoad(bool loaded, bool foldersChanged = true, const FolderList& addedFolders = {});
  // `announceNow`: the views follow at once; otherwise in a later turn of the main loop.
  void followChanges(const std::vector<std::shared_ptr<store::ManagedObject>>& inserted,
                     const std::vector<std::shared_ptr<store::ManagedObject>>& deleted, bool foldersUpdated,
                     bool announceNow = true);
  bool isKept(const store::PredicateRef& predicate) const;
  // The index with the unsaved changes of the context read again (they may yet be undone).
  DataManagerIndex& index();
  void observeContext();

  fnd::Lifetime lifetime_{fnd::Lifetime::Affinity::MainThread};
  std::shared_ptr<store::Context> context_;
  std::shared_ptr<const Preferences> preferences_;
  BookmarkList allBookmarks_;
  std::shared_ptr<FolderList> allFolders_;
  BookmarkList bookmarks_;
  BookmarkList menuBookmarks_;
  bool menuBookmarksStale_ = false;
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
  DataManagerIndex index_;
  // The last lists computed and what they were computed from: a list asked for again is not
  // filtered and sorted again, only brought up to date.
  struct ComputedList {
    FolderRef folder;
    store::PredicateRef predicate;
    std::vector<std::pair<std::string, bool>> sorts;
    bool subFolders = false;
    std::uint64_t generation = 0;
    BookmarkList bookmarks;
    bool isSameList(const ComputedList& o) const {
      return folder == o.folder && predicate == o.predicate && sorts == o.sorts && subFolders == o.subFolders;
    }
  };
  std::vector<ComputedList> computed_;
  std::vector<std::shared_ptr<store::ManagedObject>> unsaved_;
  int saveObserver_ = 0, mergeObserver_ = 0;
  // Loads read the store here, one after another, so they end in the order they began.
  std::shared_ptr<fnd::DispatchQueue> loadQueue_;
  bool loadPending_ = false;
  std::uint64_t loadsTakenIn_ = 0;
  std::shared_ptr<store::Context> observedContext_;
};

}  // namespace kesto
