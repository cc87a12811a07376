#include "Model/DataManager.h"

#include "Model/Bookmark.h"
#include "Model/DataModel.h"
#include "Model/DateAdditions.h"
#include "Model/Folder.h"
#include "Model/Preferences.h"
#include "Model/StringAdditions.h"
#include "Model/Tag.h"
#include "Model/ViewUpdater.h"
#include "Model/WrenDataManager.h"

#include "Platform/Foundation/Assert.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Store/Context.h"
#include "Platform/Store/Coordinator.h"
#include "Platform/Store/DetachedFetch.h"
#include "Platform/Store/EntityDescription.h"
#include "Platform/Store/KeyValueCoding.h"

#include <algorithm>
#include <unordered_set>

namespace kesto {

namespace {

constexpr const char* kLive = "trashed < 1 and blocked < 1";
constexpr std::int64_t kSearchLimit = 1000;
constexpr std::size_t kTop25 = 25;

store::PredicateRef parse(const char* format, const fnd::Array& args = {}) {
  fnd::Error error;
  auto p = store::Predicate::parse(format, args, &error);
  if (!p) fnd::logFormat(fnd::LogFlag::Error, "Bad predicate \"%s\": %s", format, error.localizedDescription().c_str());
  return p;
}

std::int32_t clamp32(std::int64_t n) { return static_cast<std::int32_t>(n); }

fnd::Value sortKey(const DataManager::BookmarkRef& b, const store::SortDescriptor& s) {
  if (s.keyPath.find('.') == std::string::npos) return b->valueForKey(s.keyPath);
  return store::valueForKeyPath(fnd::Value(std::static_pointer_cast<fnd::Object>(b)), s.keyPath);
}

// Reads bookmarks' sort keys as every list sorts them: plain attributes looked up once, key
// paths through relationships by key-value coding.
class BookmarkKeys {
 public:
  BookmarkKeys(const DataManager::SortDescriptors& sorts, const store::EntityDescription* entity)
      : sorts_(sorts), entity_(entity) {
    for (const auto& s : sorts)
      attributes_.push_back(entity && s.keyPath.find('.') == std::string::npos ? entity->attributeIndex(s.keyPath) : -1);
  }
  fnd::Value value(const DataManager::BookmarkRef& b, std::size_t i) const {
    return attributes_[i] >= 0 && b->entity() == entity_ ? b->value(attributes_[i]) : sortKey(b, sorts_[i]);
  }
  // One bookmark's keys, into `keys` (reusing what it held).
  void read(const DataManager::BookmarkRef& b, store::RowSortKeys& keys) const {
    keys.take(sorts_, [&](std::size_t i) { return value(b, i); });
  }
  // The keys of a whole list, each read once.
  store::SortKeys all(const DataManager::BookmarkList& list) const {
    return store::SortKeys(sorts_, list.size(), [&](std::size_t row, std::size_t i) { return value(list[row], i); });
  }

 private:
  const DataManager::SortDescriptors& sorts_;
  const store::EntityDescription* entity_;
  std::vector<int> attributes_;
};

}  // namespace

void sortBookmarks(DataManager::BookmarkList& list, const DataManager::SortDescriptors& sorts) {
  const std::size_t n = list.size(), k = sorts.size();
  if (k == 0 || n < 2) return;
  const store::SortKeys keys = BookmarkKeys(sorts, list.front()->entity()).all(list);
  auto before = [&](std::uint32_t x, std::uint32_t y) { return keys.compare(x, y) < 0; };
  // Lists taken from the library in its order are often in order already (the library is read
  // sorted): one look at each neighbour then replaces the sort.
  bool inOrder = true;
  for (std::uint32_t i = 1; i < n && inOrder; ++i) inOrder = !before(i, i - 1);
  if (inOrder) return;
  std::vector<std::uint32_t> order(n);
  for (std::uint32_t i = 0; i < n; ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), before);
  DataManager::BookmarkList sortedList;
  sortedList.reserve(n);
  for (auto i : order) sortedList.push_back(std::move(list[i]));
  list = std::move(sortedList);
}

std::vector<std::size_t> mergeSortedBookmarks(DataManager::BookmarkList& list, DataManager::BookmarkList incoming,
                                              const DataManager::SortDescriptors& sorts,
                                              const std::function<std::uint32_t(const Bookmark*)>& orderOf) {
  if (incoming.empty()) return {};
  const std::size_t n = list.size(), k = incoming.size();
  const BookmarkKeys keyed(sorts, incoming.front()->entity());
  struct Row {
    store::RowSortKeys keys;
    std::uint32_t order;
  };
  // The order a stable sort of the library-ordered rows gives: the keys, then library order.
  auto compare = [&](const Row& a, const Row& b) {
    if (int c = a.keys.compare(b.keys, sorts)) return c;
    return a.order < b.order ? -1 : (a.order > b.order ? 1 : 0);
  };
  // The batch sorted once, with its keys read once.
  std::vector<Row> rows(k);
  for (std::size_t i = 0; i < k; ++i) {
    keyed.read(incoming[i], rows[i].keys);
    rows[i].order = orderOf(incoming[i].get());
  }
  std::vector<std::uint32_t> order(k);
  for (std::uint32_t i = 0; i < k; ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](std::uint32_t x, std::uint32_t y) { return compare(rows[x], rows[y]) < 0; });
  // Each one's place after the last one's, found by galloping then halving: the list's keys are
  // read only at the places looked at, O(k log(n/k)) of them, never all n; its library order
  // only where the keys are equal.
  store::RowSortKeys probe;
  auto after = [&](std::size_t i, const Row& row) {
    keyed.read(list[i], probe);
    if (int c = probe.compare(row.keys, sorts)) return c > 0;
    return orderOf(list[i].get()) > row.order;
  };
  std::vector<std::size_t> places(k);
  std::size_t from = 0;
  for (std::size_t j = 0; j < k; ++j) {
    const Row& row = rows[order[j]];
    std::size_t lo = from, step = 1, hi = from;
    while (hi < n && !after(hi, row)) {
      lo = hi + 1;
      hi = lo + step - 1;
      step *= 2;
    }
    hi = std::min(hi, n);
    while (lo < hi) {
      const std::size_t mid = lo + (hi - lo) / 2;
      if (after(mid, row)) hi = mid;
      else lo = mid + 1;
    }
    places[j] = from = lo;
  }
  DataManager::BookmarkList merged;
  merged.reserve(n + k);
  std::vector<std::size_t> inserted;
  inserted.reserve(k);
  std::size_t next = 0;
  for (std::size_t i = 0; i <= n; ++i) {
    while (next < k && places[next] == i) {
      inserted.push_back(merged.size());
      merged.push_back(std::move(incoming[order[next++]]));
    }
    if (i < n) merged.push_back(std::move(list[i]));
  }
  list = std::move(merged);
  return inserted;
}

DataManager::DataManager() : allFolders_(std::make_shared<FolderList>()) {
  KESTO_ASSERT_MAIN_THREAD();
  // Every list and counter can rely on the predicates; prepare() builds them again at start-up.
  preparePredicates();
}

DataManager::~DataManager() {
  lifetime_.end();
  fnd::NotificationCenter::defaultCenter().removeObserver(this);
  if (observedContext_) {
    observedContext_->removeSaveObserver(saveObserver_);
    observedContext_->removeSaveObserver(mergeObserver_);
  }
}

void DataManager::setContext(std::shared_ptr<store::Context> c) {
  context_ = std::move(c);
  observeContext();
}

void DataManager::observeContext() {
  if (observedContext_) {
    observedContext_->removeSaveObserver(saveObserver_);
    observedContext_->removeSaveObserver(mergeObserver_);
  }
  observedContext_ = context_;
  unsaved_.clear();
  // The library may hold objects of the old context: everything is read again.
  index_.reset(allBookmarks_);
  if (!context_) return;
  // What a save or a merge changed is read again at the next list or count.
  saveObserver_ = context_->addSaveObserver([this](const store::SaveNotification& n) {
    for (const auto* list : {&n.inserted, &n.updated, &n.deleted})
      for (const auto& o : *list) index_.changed(o);
  });
  mergeObserver_ = context_->addMergeObserver([this](const store::SaveNotification& n) {
    for (const auto* ids : {&n.insertedIDs, &n.updatedIDs})
      for (const auto& id : *ids)
        if (auto o = context_->objectRegisteredForID(id)) index_.changed(o);
  });
}

DataManagerIndex& DataManager::index() {
  // Unsaved changes are read at every question: an undo or a rollback may yet take them back.
  for (const auto& o : unsaved_) index_.changed(o);
  unsaved_.clear();
  if (context_ && context_->hasChanges()) {
    for (const auto& list : {context_->insertedObjects(), context_->updatedObjects(), context_->deletedObjects()})
      for (const auto& o : list) {
        index_.changed(o);
        unsaved_.push_back(o);
      }
  }
  return index_;
}

std::shared_ptr<const Preferences> DataManager::prefs() const {
  return preferences_ ? preferences_ : currentPreferences();
}

void DataManager::awakeFromNib() {
  KESTO_ASSERT_MAIN_THREAD();
  setContext(WrenDataManager::sharedInstance().managedObjectContext());
  auto& center = fnd::NotificationCenter::defaultCenter();
  center.addObserver(this, [this](const fnd::Notification&) { clearBookmarks(); }, ClearBookmarksNotification);
  center.addObserver(this, [this](const fnd::Notification&) { fetchAllBookmarksFromCoreData(); },
                     FetchBookmarksFromCoreDataNotification);
  loadingFromTags_ = false;
  prepare();
}

void DataManager::prepare() {
  isImportingFromService_ = false;
  allBookmarks_.clear();
  allFolders_ = std::make_shared<FolderList>();
  menuBookmarks_.clear();
  currentFolder_.reset();
  currentlySelectedTags_.clear();
  index_.reset(allBookmarks_);
  unsaved_.clear();
  preparePredicates();
  ViewUpdater::resetTags();
  fetchAllBookmarksFromCoreData();
}

void DataManager::prepareNonFolderViews() {
  loadingFromTags_ = false;
  currentFolder_.reset();
  currentlySelectedTags_.clear();
}

void DataManager::prepareForTagView() {
  loadingFromTags_ = true;
  currentFolder_.reset();
  resetFetchLimitAndOffset();
}

void DataManager::prepareFolderView() {
  loadingFromTags_ = false;
  currentlySelectedTags_.clear();
}

DataManager::BrowsingState DataManager::browsingState() const {
  using Service = BrowsingState::Service;
  return {currentFolder_, loadingFromTags_, currentlySelectedTags_,
          loadingFromDelicious_ ? Service::Delicious : loadingFromPinboard_ ? Service::Pinboard : Service::None};
}

void DataManager::browse(BrowsingState state) {
  currentFolder_ = std::move(state.folder);
  loadingFromTags_ = state.tagView;
  currentlySelectedTags_ = std::move(state.tags);
  loadingFromDelicious_ = state.service == BrowsingState::Service::Delicious;
  loadingFromPinboard_ = state.service == BrowsingState::Service::Pinboard;
}

void DataManager::fetchAllBookmarksFromCoreDataFromService() {
  isImportingFromService_ = true;
  fetchAllBookmarksFromCoreData();
}

void DataManager::fetchAllBookmarksFromCoreData() {
  clearBookmarks();
  auto coordinator = context_ ? WrenDataManager::sharedInstance().persistentStoreCoordinator() : nullptr;
  auto alive = lifetime_.watch();
  if (!coordinator) {
    // No store: the lists stay empty, and the refreshes still go out so the interface settles.
    fnd::DispatchQueue::main().async([this, alive] {
      if (alive) finishLoad(nullptr, nullptr);
    });
    return;
  }
  // The rows are read and made into objects on a connection and a thread of their own; the main
  // queue only takes the finished objects in, so a large library never holds the window up.
  // Over the main connection where the store has no file to open again.
  fnd::Error error;
  auto connection = coordinator->openSecondConnection(&error);
  if (!connection) connection = coordinator;
  store::FetchRequest bookmarkRequest(Bookmark::entityName());
  bookmarkRequest.sortDescriptors = currentSortDescriptors_;
  store::FetchRequest folderRequest(Folder::entityName());
  folderRequest.sortDescriptors = {store::SortDescriptor("name", true)};
  std::shared_ptr<store::DetachedFetch> bookmarks = store::DetachedFetch::make(context_, std::move(bookmarkRequest));
  std::shared_ptr<store::DetachedFetch> folders = store::DetachedFetch::make(context_, std::move(folderRequest));
  loadPending_ = true;
  if (!loadQueue_) loadQueue_ = fnd::DispatchQueue::create("Library load");
  auto listOrder = std::make_shared<const SortDescriptors>(folderSortDescriptors());
  loadQueue_->async([this, alive, connection, bookmarks, folders, listOrder] {
    for (auto* fetch : {bookmarks.get(), folders.get()}) {
      fnd::Error readError;
      // A failed read is fetched again on the main queue, where a failure keeps the last load.
      if (!fetch->read(*connection, &readError)) logDetailedError("read the library", &readError);
    }
    // The library list's order is found here too, so the main thread only checks it.
    auto inListOrder = std::make_shared<BookmarkList>();
    for (auto& o : bookmarks->rowsSortedBy(*listOrder))
      if (auto b = std::dynamic_pointer_cast<Bookmark>(std::move(o))) inListOrder->push_back(std::move(b));
    fnd::DispatchQueue::main().async([this, alive, bookmarks, folders, inListOrder, listOrder] {
      if (alive) finishLoad(bookmarks, folders, {inListOrder, listOrder});
    });
  });
}

DataManager::BookmarkList DataManager::firstScreen() {
  // A list of the library or a smart list whose rows the store orders and cuts alone (number and
  // date keys): those few rows, read now. Anything else waits for the load.
  constexpr long kFirstScreen = 200;
  BookmarkList out;
  auto coordinator = context_ ? WrenDataManager::sharedInstance().persistentStoreCoordinator() : nullptr;
  if (!coordinator || loadingFromTags_ || currentFolder_ || !currentPredicate_ || currentPredicate_ == p_.top25 ||
      currentPredicate_ == p_.duplicates)
    return out;
  store::FetchRequest request(Bookmark::entityName());
  request.predicate = currentPredicate_;
  request.sortDescriptors = currentSortDescriptors_;
  request.fetchLimit = kFirstScreen;
  auto fetch = store::DetachedFetch::make(context_, std::move(request));
  if (!fetch->read(*coordinator)) return out;
  for (auto& o : fetch->adopt().value_or(std::vector<store::ManagedObjectRef>{}))
    if (auto b = std::dynamic_pointer_cast<Bookmark>(o)) out.push_back(std::move(b));
  return out;
}

void DataManager::finishLoad(const std::shared_ptr<store::DetachedFetch>& bookmarks,
                             const std::shared_ptr<store::DetachedFetch>& folders, const LoadedOrder& order) {
  // Taken in over a few turns of the main loop, so the window keeps answering: the bookmarks,
  // then the folders and the index, then the index reads the library a part per turn. A later
  // load takes over from any of these steps.
  takeInLoad(bookmarks, folders, order, ++loadsTakenIn_);
}

void DataManager::takeInLoad(const std::shared_ptr<store::DetachedFetch>& bookmarks,
                             const std::shared_ptr<store::DetachedFetch>& folders, const LoadedOrder& order,
                             std::uint64_t load) {
  constexpr std::size_t kTakenPerTurn = 25000;
  if (load != loadsTakenIn_) return;
  if (bookmarks && !bookmarks->adoptSome(kTakenPerTurn)) {
    fnd::DispatchQueue::main().async(lifetime_.whileAlive(
        [this, bookmarks, folders, order, load] { takeInLoad(bookmarks, folders, order, load); }));
    return;
  }
  auto bookmarkRows = std::make_shared<std::optional<std::vector<store::ManagedObjectRef>>>(adoptLoaded(bookmarks.get()));
  fnd::DispatchQueue::main().async(lifetime_.whileAlive([this, load, bookmarkRows, folders, order] {
    if (load != loadsTakenIn_) return;
    // The folders and the bookmarks as our own types in this turn; the library and its index
    // change together in the next, so no question between them finds one without the other.
    auto folderRows = adoptLoaded(folders.get());
    // A failed read is not an empty library: the arrays keep what the last load found.
    const bool loaded = *bookmarkRows && folderRows;
    auto library = std::make_shared<BookmarkList>();
    auto folderList = std::make_shared<FolderList>();
    if (loaded) {
      library->reserve((*bookmarkRows)->size());
      for (auto& o : **bookmarkRows)
        if (auto b = std::dynamic_pointer_cast<Bookmark>(o)) library->push_back(std::move(b));
      for (auto& o : *folderRows)
        if (auto f = std::dynamic_pointer_cast<Folder>(o)) folderList->push_back(std::move(f));
    }
    bookmarkRows->reset();
    fnd::DispatchQueue::main().async(lifetime_.whileAlive([this, load, loaded, library, folderList, order] {
      if (load != loadsTakenIn_) return;
      loadPending_ = false;
      if (loaded) {
        allBookmarks_ = std::move(*library);
        allFolders_ = folderList;
        index_.reset(allBookmarks_);
      }
      fnd::DispatchQueue::main().async(lifetime_.whileAlive(
          [this, loaded, load, order] { readIndexThenAnnounce(loaded, load, loaded ? order : LoadedOrder{}); }));
    }));
  }));
}

std::optional<std::vector<store::ManagedObjectRef>> DataManager::adoptLoaded(store::DetachedFetch* fetch) {
  if (!fetch) return std::nullopt;
  fnd::Error error;
  auto found = fetch->adopt(&error);
  if (!found) logDetailedError("fetch the library", &error);
  return found;
}

void DataManager::readIndexThenAnnounce(bool loaded, std::uint64_t load, const LoadedOrder& order) {
  constexpr std::size_t kReadPerTurn = 10000;
  if (load != loadsTakenIn_) return;
  if (!index_.readSome(kReadPerTurn)) {
    fnd::DispatchQueue::main().async(
        lifetime_.whileAlive([this, loaded, load, order] { readIndexThenAnnounce(loaded, load, order); }));
    return;
  }
  if (order.bookmarks && order.sorts) {
    keepLoadedLibraryList(*order.bookmarks, *order.sorts);
    // The refreshes in a turn of their own.
    fnd::DispatchQueue::main().async(lifetime_.whileAlive([this, loaded, load] { readIndexThenAnnounce(loaded, load); }));
    return;
  }
  announceLoad(loaded);
  if (loaded && allBookmarks_.empty()) ViewUpdater::showInitialPopup();
}

void DataManager::keepLoadedLibraryList(const BookmarkList& inListOrder, const SortDescriptors& sorts) {
  // Only while the list's order is still the one sorted for, and the rows sorted are the
  // library's, one for one (unsaved inserts are not).
  const SortDescriptors now = folderSortDescriptors();
  if (inListOrder.size() != allBookmarks_.size() || inListOrder.empty() || now.size() != sorts.size() ||
      !std::equal(now.begin(), now.end(), sorts.begin(), [](const auto& a, const auto& b) {
        return a.keyPath == b.keyPath && a.ascending == b.ascending && a.comparison == b.comparison;
      }))
    return;
  ComputedList list = listKey(nullptr, p_.library, now);
  list.bookmarks.reserve(inListOrder.size());
  std::vector<std::uint32_t> order;
  order.reserve(inListOrder.size());
  for (const auto& row : inListOrder) {
    // A row the context held already (the first screen read it) joined as the object held.
    BookmarkRef b = row;
    std::uint32_t at = index_.orderOf(b.get());
    if (at == UINT32_MAX && context_) {
      b = std::dynamic_pointer_cast<Bookmark>(context_->objectRegisteredForID(row->objectID()));
      at = b ? index_.orderOf(b.get()) : UINT32_MAX;
    }
    if (at == UINT32_MAX) return;
    if (index_.isLive(b.get())) {
      list.bookmarks.push_back(b);
      order.push_back(at);
    }
  }
  // Values the context changed between the read and the take-in may have moved a row: the order
  // is checked as a sort would leave it (keys, then library order), and a list out of order is
  // left to the sort.
  const std::size_t n = list.bookmarks.size();
  if (n == 0) return;
  const store::SortKeys keys = BookmarkKeys(now, list.bookmarks.front()->entity()).all(list.bookmarks);
  for (std::size_t i = 1; i < n; ++i) {
    const int c = keys.compare(i - 1, i);
    if (c > 0 || (c == 0 && order[i - 1] > order[i])) return;
  }
  keepComputed(std::move(list));
}

DataManager::BookmarkList& DataManager::menuBookmarks() {
  // The menu bar shows only live bookmarks, in library order.
  if (menuBookmarksStale_) menuBookmarks_ = filter(p_.library);
  menuBookmarksStale_ = false;
  return menuBookmarks_;
}

void DataManager::announceLoad(bool loaded, bool foldersChanged, const FolderList& addedFolders) {
  menuBookmarksStale_ = true;
  auto& center = fnd::NotificationCenter::defaultCenter();
  // Bookmarks came in (a hand-over, a sync, a drop): the offer made to an empty library is over.
  if (loaded && !allBookmarks_.empty()) ViewUpdater::hideInitialPopup();
  center.postNotificationName(KestoPerformAutoSync, nullptr);
  if (isImportingFromService_) {
    isImportingFromService_ = false;
    // The reload emptied the list on show: a service's list takes what the import brought at
    // once, whether or not the sidebar chooses its row again.
    if (loaded && browsingState().service != BrowsingState::Service::None)
      loadSmartList(browsingState().service == BrowsingState::Service::Pinboard ? SmartList::Pinboard
                                                                               : SmartList::Delicious);
    ViewUpdater::updateSidebar();
  } else if (foldersChanged) {
    if (addedFolders.empty()) ViewUpdater::updateFoldersCompletely();
    else ViewUpdater::updateFoldersAdding(addedFolders);
  } else {
    ViewUpdater::updateSourceLists();
  }
  center.postNotificationName(UpdateFoldersNotification, nullptr);
}

void DataManager::loadBookmarks() { doLoadBookmarks(false); }
void DataManager::loadBookmarksAndReset() { doLoadBookmarks(true); }

void DataManager::doLoadBookmarks(bool reset) {
  KESTO_ASSERT_MAIN_THREAD();
  fnd::DispatchQueue::main().async(lifetime_.whileAlive([this] { startActivity(); }));
  refreshDateWindowsIfDayChanged();
  currentSortDescriptors_ = folderSortDescriptors();
  if (!currentFolder_ && !loadingFromTags_ && !currentPredicate_) currentPredicate_ = p_.library;
  // Tag views read tags from the store and duplicates read the store file: always afresh.
  std::optional<ComputedList> key;
  std::optional<ListChange> change;
  const bool reading = isReadingLibrary();
  if (reading) {
    // The library is still being read: the first screen of the list comes from the store, and
    // the whole list follows when the load ends.
    bookmarks_ = firstScreen();
  } else if (!loadingFromTags_ && (currentFolder_ || currentPredicate_ != p_.duplicates)) {
    key = listKey(currentFolder_, currentPredicate_, currentSortDescriptors_);
  }
  auto kept = key ? std::find_if(computed_.begin(), computed_.end(), [&](const ComputedList& c) { return c.isSameList(*key); })
                  : computed_.end();
  // The views show the kept list as it was: a patch tells them which rows left and came.
  const bool shown = kept != computed_.end() && !reset && bookmarks_ == kept->bookmarks;
  ListChange patched;
  if (kept != computed_.end() &&
      (kept->generation == key->generation || patchComputedList(*kept, key->generation, &patched))) {
    if (shown && !(patched.removed.empty() && patched.inserted.empty()))
      change = std::move(patched);
    // The most recent first: switching back and forth between a few lists keeps them all.
    std::rotate(computed_.begin(), kept, kept + 1);
    // Shown already (a second refresh after one change): tens of thousands of references are
    // not copied again.
    if (bookmarks_ != computed_.front().bookmarks) bookmarks_ = computed_.front().bookmarks;
  } else if (!reading) {
    if (kept != computed_.end()) computed_.erase(kept);
    // Emptied without a refresh of its own: the views reload once, with the list made here.
    bookmarks_.clear();
    computeCurrentList();
    if (key) {
      key->bookmarks = bookmarks_;
      keepComputed(std::move(*key));
    }
  }
  if (reset)
    ViewUpdater::updateBookmarksAndResetView();
  else if (change)
    ViewUpdater::updateBookmarks(change->removed, change->inserted);
  else
    ViewUpdater::updateBookmarks();
  fnd::DispatchQueue::main().after(1.0, lifetime_.whileAlive([this] { stopActivity(); }));
}

DataManager::ComputedList DataManager::listKey(const FolderRef& folder, const store::PredicateRef& predicate,
                                               const SortDescriptors& sorts) {
  ComputedList key;
  key.folder = folder;
  key.predicate = folder ? nullptr : predicate;
  for (const auto& d : sorts)
    key.sorts.emplace_back(d.keyPath + (d.comparison == store::SortDescriptor::Comparison::Default ? "" : "/i"), d.ascending);
  key.subFolders = folder && prefs()->showBookmarksInSubFolders();
  key.generation = index().generation();
  return key;
}

void DataManager::keepComputed(ComputedList list) {
  constexpr std::size_t kKeptLists = 4;
  std::erase_if(computed_, [&](const ComputedList& c) { return c.isSameList(list); });
  computed_.insert(computed_.begin(), std::move(list));
  if (computed_.size() > kKeptLists) computed_.pop_back();
}

std::function<bool(const DataManager::BookmarkRef&)> DataManager::currentListTest(bool othersChanged) {
  if (currentFolder_) {
    if (prefs()->showBookmarksInSubFolders()) {
      // A folder moved in or out of this one brings or takes bookmarks that did not change.
      if (othersChanged) return {};
      auto list = Bookmark::folderIDsForFolder(currentFolder_->folderID());
      return [this, ids = std::unordered_set<std::string>(list.begin(), list.end())](const BookmarkRef& b) {
        const std::string* id = index_.folderIDOf(b.get());
        return id && ids.count(*id) && index_.isLive(b.get());
      };
    }
    // A smart folder's predicate may test anything.
    if (currentFolder_->isSmart()) return {};
    return [this, id = currentFolder_->folderID()](const BookmarkRef& b) {
      const std::string* folderID = index_.folderIDOf(b.get());
      return folderID && *folderID == id && index_.isLive(b.get()) && b->toManyCount(bookmark_rel::services) == 0;
    };
  }
  // Top 25 holds the first 25 only: computed afresh, which is cheap.
  if (!currentPredicate_ || currentPredicate_ == p_.top25) return {};
  if (currentPredicate_ == p_.library) return [this](const BookmarkRef& b) { return index_.isLive(b.get()); };
  if (isKept(currentPredicate_))
    return [this, p = currentPredicate_](const BookmarkRef& b) { return index_.accepted(p, b.get()); };
  if (othersChanged) return {};
  return [p = currentPredicate_](const BookmarkRef& b) { return DataManagerIndex::accepts(*p, b); };
}

bool DataManager::patchComputedList(ComputedList& kept, std::uint64_t generation, ListChange* change) {
  // The bookmarks changed since leave the list and those that belong merge in again, however
  // many they are: that is never more work than filtering and sorting the whole list.
  auto changes = index_.changesSince(kept.generation);
  if (!changes) return false;
  auto belongs = currentListTest(changes->others);
  if (!belongs) return false;
  auto& list = kept.bookmarks;
  ListChange made;
  std::size_t at = 0;
  std::erase_if(list, [&](const BookmarkRef& b) {
    const bool gone = changes->bookmarks.count(b.get()) > 0;
    if (gone) made.removed.push_back(at);
    ++at;
    return gone;
  });
  BookmarkList incoming;
  for (const auto* b : changes->bookmarks)
    if (auto held = index_.held(b); held && belongs(held)) incoming.push_back(std::move(held));
  made.inserted = mergeSortedBookmarks(list, std::move(incoming), currentSortDescriptors_,
                                       [this](const Bookmark* b) { return index_.orderOf(b); });
  kept.generation = generation;
  if (change) *change = std::move(made);
  return true;
}

void DataManager::computeCurrentList() {
  auto preferences = prefs();
  auto filterSorted = [&](const store::PredicateRef& p) {
    if (!p) return;
    bookmarks_ = filter(p);
    sortBookmarks(bookmarks_, currentSortDescriptors_);
  };
  if (loadingFromTags_ && !currentlySelectedTags_.empty()) {
    // "ANY tags.name == <name>" for each selected name (OR, or AND with showALLTags), then
    // "trashed == 0 and blocked < 1". Resolved through the tags' own bookmark sets, with the
    // names compared as values: a quote in a tag name cannot break the list.
    std::unordered_map<const Bookmark*, std::size_t> hits;
    for (const auto& name : currentlySelectedTags_) {
      std::unordered_set<const Bookmark*> carrying;
      for (const auto& tag : Tag::fetchEntitiesWhereProperty("name", name, context_).value_or(Tag::List{}))
        for (const auto& o : tag->toMany(tag_rel::bookmarks)) carrying.insert(static_cast<const Bookmark*>(o.get()));
      for (const auto* b : carrying) ++hits[b];
    }
    const std::size_t needed = preferences->showALLTags() ? currentlySelectedTags_.size() : 1;
    std::unordered_set<const Bookmark*> carrying;
    for (const auto& [b, n] : hits)
      if (n >= needed) carrying.insert(b);
    for (auto& b : index().liveAmong(carrying))
      if (b->value(bookmark_attr::trashed).doubleValue() == 0) bookmarks_.push_back(std::move(b));
    sortBookmarks(bookmarks_, currentSortDescriptors_);
  } else if (loadingFromTags_) {
    bookmarks_.clear();
  } else if (currentFolder_) {
    store::PredicateRef p;
    if (preferences->showBookmarksInSubFolders()) {
      // The folder predicate ("trashed < 1 and blocked < 1 and folder.folderID IN ids"),
      // evaluated with a hash set of the identifiers.
      auto list = Bookmark::folderIDsForFolder(currentFolder_->folderID());
      bookmarks_ = index().liveInFolders(std::unordered_set<std::string>(list.begin(), list.end()));
      sortBookmarks(bookmarks_, currentSortDescriptors_);
    } else if (currentFolder_->isSmart()) {
      std::string stored = currentFolder_->predicate().value_or(std::string());
      fnd::Error error;
      p = store::Predicate::parse(brightwren::stringByReplacingString(stored, "\"", "'"), {}, &error);
      if (!p) p = store::Predicate::parse(stored, {}, &error);
      if (!p)
        fnd::logFormat(fnd::LogFlag::Error, "Smart folder predicate does not parse: %s",
                       error.localizedDescription().c_str());
    } else {
      // "folder.folderID = %@ and trashed < 1 and blocked < 1 and services.@count == 0", from the
      // folder's own members: the predicate evaluated over a large library made a click slow.
      for (auto& b : index().inFolder(currentFolder_->folderID(), DataManagerIndex::Members::Live))
        if (b->toManyCount(bookmark_rel::services) == 0) bookmarks_.push_back(std::move(b));
      sortBookmarks(bookmarks_, currentSortDescriptors_);
    }
    filterSorted(p);
  } else {
    if (!currentPredicate_) currentPredicate_ = p_.library;
    if (currentPredicate_ == p_.top25) {
      // The first 25 opened bookmarks in library order; the list does not rank by visits.
      bookmarks_ = index().matching(p_.top25, kTop25);
    } else if (currentPredicate_ == p_.duplicates) {
      clearBookmarks();
      bookmarks_ = duplicates();
    } else {
      filterSorted(currentPredicate_);
    }
  }
}

void DataManager::clearBookmarks() {
  KESTO_ASSERT_MAIN_THREAD();
  bookmarks_.clear();
  ViewUpdater::updateBookmarks();
}

void DataManager::clearMenuBookmarks() {
  menuBookmarksStale_ = false;
  menuBookmarks_.clear();
  ViewUpdater::updateMenuBookmarks();
}

void DataManager::startActivity() { ViewUpdater::startActivity(); }
void DataManager::stopActivity() { ViewUpdater::stopActivity(); }

DataManager::BookmarkList DataManager::bookmarksWithFolder(const std::string& folderID) {
  // "folder.folderID = %@": every bookmark filed there, trashed and blocked ones included.
  return index().inFolder(folderID, DataManagerIndex::Members::All);
}

DataManager::BookmarkList DataManager::allBookmarksInLibrary() const {
  return Bookmark::fetchEntitiesWithPredicate(p_.library, nullptr, 0, 0, context_).value_or(BookmarkList{});
}

std::optional<DataManager::BookmarkList> DataManager::allBookmarksInLibraryAndCollect() const {
  return Bookmark::fetchEntitiesWithPredicate(parse(kLive), nullptr, 0, 0, context_);
}

void DataManager::resetFetchLimitAndOffset() {
  currentFetchLimit_ = 200;
  currentOffset_ = 0;
}

bool DataManager::isKept(const store::PredicateRef& predicate) const {
  // Only predicates that live for the run are indexed; others (a smart folder's, parsed at each
  // click) would pile up.
  static constexpr store::PredicateRef Predicates::*kKept[] = {
      &Predicates::inbox, &Predicates::trash, &Predicates::today, &Predicates::addedToday,
      &Predicates::modifiedToday, &Predicates::yesterday, &Predicates::addedYesterday,
      &Predicates::modifiedYesterday, &Predicates::thisweek, &Predicates::addedThisweek,
      &Predicates::modifiedThisweek, &Predicates::thisMonth, &Predicates::addedThisMonth,
      &Predicates::modifiedThisMonth, &Predicates::annotated, &Predicates::top25, &Predicates::fiveStars,
      &Predicates::favorites, &Predicates::withCredentials, &Predicates::withTags, &Predicates::blue,
      &Predicates::orange, &Predicates::red, &Predicates::green, &Predicates::yellow, &Predicates::grey,
      &Predicates::delicious, &Predicates::pinboard, &Predicates::brokenLinks, &Predicates::missingImages,
      &Predicates::total, &Predicates::imported, &Predicates::trashCount};
  return std::any_of(std::begin(kKept), std::end(kKept), [&](auto member) { return p_.*member == predicate; });
}

DataManager::BookmarkList DataManager::filter(const store::PredicateRef& predicate) {
  if (!predicate) return {};
  if (predicate == p_.library || predicate == p_.duplicates) return index().live();
  if (isKept(predicate)) return index().matching(predicate);
  BookmarkList out;
  for (const auto& b : allBookmarks_)
    if (DataManagerIndex::accepts(*predicate, b)) out.push_back(b);
  return out;
}

// ---- Smart lists ----------------------------------------------------------------------------

void DataManager::buildDateWindows() {
  using namespace brightwren;
  const fnd::Date now = fnd::Date::now();
  const fnd::Calendar calendar = fnd::Calendar::current();
  const fnd::Date startOfToday = calendar.startOfDay(now);
  // The bounds step by 86,400 s from now, then take the start of that day.
  auto startOfDayAfter = [&](double days) { return calendar.startOfDay(now.dateByAddingTimeInterval(days * 86400.0)); };
  struct Window {
    fnd::Date start, end;
  };
  const Window today{startOfToday, now.dateByAddingTimeInterval(86400.0)};
  const Window yesterday{startOfDayAfter(-1), startOfToday};
  const Window week{startOfDayAfter(-7), startOfDayAfter(1)};
  const Window month{dateAtStartOfMonth(now), startOfToday};
  auto opened = [](const Window& w) {
    return parse("((lastOpened > %@) AND (lastOpened < %@) ) and trashed < 1 and blocked < 1", {w.start, w.end});
  };
  auto added = [](const Window& w) {
    return parse("((addedDate > %@) AND (addedDate < %@) ) and trashed < 1 and blocked < 1", {w.start, w.end});
  };
  auto modified = [](const Window& w) {
    return parse("((updatedDate > %@) AND (updatedDate < %@) ) and trashed < 1 and blocked < 1", {w.start, w.end});
  };
  // A list being shown keeps showing the same window after a rebuild.
  std::vector<std::pair<store::PredicateRef*, store::PredicateRef>> rebuilt = {
      {&p_.today, opened(today)},       {&p_.addedToday, added(today)},         {&p_.modifiedToday, modified(today)},
      {&p_.yesterday, opened(yesterday)}, {&p_.addedYesterday, added(yesterday)}, {&p_.modifiedYesterday, modified(yesterday)},
      {&p_.thisweek, opened(week)},     {&p_.addedThisweek, added(week)},       {&p_.modifiedThisweek, modified(week)},
      {&p_.thisMonth, opened(month)},   {&p_.addedThisMonth, added(month)},     {&p_.modifiedThisMonth, modified(month)},
  };
  for (auto& [slot, fresh] : rebuilt) {
    if (*slot && currentPredicate_ == *slot) currentPredicate_ = fresh;
    *slot = std::move(fresh);
  }
  index_.forgetPredicates();
  windowsDay_ = startOfToday;
}

void DataManager::refreshDateWindowsIfDayChanged() {
  if (!p_.today) return;
  if (brightwren::dateAtStartOfDay(fnd::Date::now()) != windowsDay_) buildDateWindows();
}

void DataManager::preparePredicates() {
  p_.library = parse(kLive);
  p_.inbox = parse("folder.folderID = %@ and trashed < 1 and blocked < 1", {Folder::kInboxID});
  p_.trash = parse("trashed > 0");
  buildDateWindows();
  p_.annotated = parse("notes.length > 0 and trashed < 1 and blocked < 1");
  p_.top25 = parse("timesOpened > 0 and trashed < 1 and blocked < 1");
  p_.fiveStars = parse("rating >= 5 and trashed < 1 and blocked < 1");
  p_.favorites = parse("isFavorite > 0 and trashed < 1 and blocked < 1");
  p_.withCredentials = parse("login.length > 0 and trashed < 1 and blocked < 1");
  p_.withTags = parse("tags.@count > 0 and trashed < 1 and blocked < 1");
  p_.blue = parse("color ==[c] 'blue' and trashed < 1 and blocked < 1");
  p_.orange = parse("color ==[c] 'orange' and trashed < 1 and blocked < 1");
  p_.red = parse("color ==[c] 'red' and trashed < 1 and blocked < 1");
  p_.green = parse("color ==[c] 'green' and trashed < 1 and blocked < 1");
  p_.yellow = parse("color ==[c] 'yellow' and trashed < 1 and blocked < 1");
  p_.grey = parse("color ==[c] 'grey' and trashed < 1 and blocked < 1");
  p_.duplicates = parse(kLive);
  p_.delicious = parse("ANY services.name =='delicious' and trashed < 1 and blocked < 1");
  p_.pinboard = parse("ANY services.name == 'pinboard' and trashed < 1 and blocked < 1");
  p_.brokenLinks = parse("broken == 1 and trashed < 1 and blocked < 1");
  p_.missingImages = parse("imageUpdated < 1 and trashed < 1 and blocked < 1");
  p_.total = parse("trashed < 1");
  p_.imported = parse("showImported >0 and trashed < 1 and blocked < 1");
  p_.trashCount = parse("trashed > 0 and blocked < 1");
  index_.forgetPredicates();
  currentPredicate_ = p_.inbox;
}

namespace {

enum class Counted { None, InMemory, InStore, FetchedFromStore };

// One row per smart list: its predicate, the predicate and way of its badge, and whether it
// depends on the day.
struct SmartListRow {
  store::PredicateRef DataManager::Predicates::*list;
  store::PredicateRef DataManager::Predicates::*counter;
  Counted counted;
  bool dated;
};

const SmartListRow& rowFor(DataManager::SmartList list) {
  using P = DataManager::Predicates;
  using C = Counted;
  static const SmartListRow rows[] = {
      {&P::library, &P::library, C::InMemory, false},          {&P::inbox, &P::inbox, C::InMemory, false},
      {&P::trash, &P::trashCount, C::InMemory, false},         {&P::delicious, &P::delicious, C::FetchedFromStore, false},
      {&P::pinboard, &P::pinboard, C::FetchedFromStore, false}, {&P::today, &P::today, C::InStore, true},
      {&P::yesterday, &P::yesterday, C::InStore, true},        {&P::thisweek, &P::thisweek, C::InStore, true},
      {&P::thisMonth, &P::thisMonth, C::InStore, true},        {&P::addedToday, &P::addedToday, C::InStore, true},
      {&P::addedYesterday, &P::addedYesterday, C::InStore, true}, {&P::addedThisweek, &P::addedThisweek, C::InStore, true},
      {&P::addedThisMonth, &P::addedThisMonth, C::InStore, true}, {&P::modifiedToday, &P::modifiedToday, C::InStore, true},
      {&P::modifiedYesterday, &P::modifiedYesterday, C::InStore, true},
      {&P::modifiedThisweek, &P::modifiedThisweek, C::InStore, true},
      {&P::modifiedThisMonth, &P::modifiedThisMonth, C::InStore, true},
      {&P::annotated, &P::annotated, C::InStore, false},       {&P::top25, &P::top25, C::InStore, false},
      {&P::fiveStars, &P::fiveStars, C::InStore, false},       {&P::favorites, &P::favorites, C::InStore, false},
      {&P::withCredentials, &P::withCredentials, C::InStore, false},
      {&P::withTags, &P::withTags, C::InStore, false},         {&P::blue, &P::blue, C::InStore, false},
      {&P::orange, &P::orange, C::InStore, false},             {&P::red, &P::red, C::InStore, false},
      {&P::green, &P::green, C::InStore, false},               {&P::yellow, &P::yellow, C::InStore, false},
      {&P::grey, &P::grey, C::InStore, false},                 {&P::brokenLinks, &P::brokenLinks, C::None, false},
      {&P::duplicates, &P::duplicates, C::None, false},        {&P::missingImages, &P::missingImages, C::InStore, false},
  };
  static_assert(std::size(rows) == static_cast<std::size_t>(DataManager::SmartList::MissingImages) + 1);
  return rows[static_cast<std::size_t>(list)];
}

}  // namespace

const store::PredicateRef& DataManager::predicateFor(SmartList list) const { return p_.*rowFor(list).list; }

void DataManager::loadSmartList(SmartList list) {
  KESTO_ASSERT_MAIN_THREAD();
  const SmartListRow& row = rowFor(list);
  if (list == SmartList::ThisMonth) prepareNonFolderViews();
  if (row.dated) refreshDateWindowsIfDayChanged();
  loadPredicate(p_.*row.list);
}

void DataManager::loadPredicate(const store::PredicateRef& predicate) {
  currentSortDescriptors_ = folderSortDescriptors();
  currentPredicate_ = predicate;
  loadBookmarks();
}

void DataManager::appendSearchResults(const store::PredicateRef& predicate, BookmarkList& list) {
  auto sorts = folderSortDescriptors();
  auto found = Bookmark::fetchEntitiesWithPredicate(predicate, &sorts, kSearchLimit, 0, context_);
  if (found) list.insert(list.end(), found->begin(), found->end());
}

void DataManager::applySearchPredicate(const store::PredicateRef& predicate) {
  KESTO_ASSERT_MAIN_THREAD();
  clearBookmarks();
  appendSearchResults(predicate, bookmarks_);
}

void DataManager::applySearchPredicateOnCurrentSelection(const store::PredicateRef& predicate) {
  KESTO_ASSERT_MAIN_THREAD();
  loadBookmarks();
  BookmarkList current = bookmarks_;
  clearBookmarks();
  if (!predicate) return;
  for (const auto& b : current)
    if (DataManagerIndex::accepts(*predicate, b)) bookmarks_.push_back(b);
  sortBookmarks(bookmarks_, folderSortDescriptors());
}

void DataManager::applySearchPredicateFromMenu(const store::PredicateRef& predicate) {
  KESTO_ASSERT_MAIN_THREAD();
  clearMenuBookmarks();
  appendSearchResults(predicate, menuBookmarks_);
}

void DataManager::fillMenuBookmarks(const store::PredicateRef& predicate, const SortDescriptors& sorts) {
  menuBookmarksStale_ = false;
  menuBookmarks_ = filter(predicate);
  sortBookmarks(menuBookmarks_, sorts);
}

void DataManager::loadWeekBookmarksMenu() {
  // "trashed < 1  and blocked < 1": the library's test.
  fillMenuBookmarks(p_.library, {store::SortDescriptor("lastOpened", false)});
}

void DataManager::loadFavoriteBookmarksMenu() { fillMenuBookmarks(p_.favorites, {store::SortDescriptor("title", true)}); }

void DataManager::loadMenuBookmarks() {
  KESTO_ASSERT_MAIN_THREAD();
  currentSortDescriptors_ = folderSortDescriptors();
  fillMenuBookmarks(p_.library, currentSortDescriptors_);
  ViewUpdater::updateMenuBookmarks();
}

namespace {

template <typename List>
void appendMovingToEnd(List& all, const List& added) {
  std::unordered_set<const void*> incoming;
  for (const auto& x : added) incoming.insert(x.get());
  all.erase(std::remove_if(all.begin(), all.end(), [&](const auto& x) { return incoming.count(x.get()) > 0; }),
            all.end());
  std::unordered_set<const void*> appended;
  for (const auto& x : added)
    if (appended.insert(x.get()).second) all.push_back(x);
}

template <typename List>
void removeAll(List& all, const List& removed) {
  std::unordered_set<const void*> gone;
  for (const auto& x : removed) gone.insert(x.get());
  all.erase(std::remove_if(all.begin(), all.end(), [&](const auto& x) { return gone.count(x.get()) > 0; }), all.end());
}

}  // namespace

void DataManager::addBookmarks(const BookmarkList& list) {
  KESTO_ASSERT_MAIN_THREAD();
  appendMovingToEnd(allBookmarks_, list);
  index_.append(list);
  if (!list.empty()) ViewUpdater::hideInitialPopup();
  ViewUpdater::updateBookmarks();
  ViewUpdater::updateMenuBookmarks();
  ViewUpdater::updateSourceLists();
}

void DataManager::removeBookmarks(const BookmarkList& list) {
  KESTO_ASSERT_MAIN_THREAD();
  removeAll(allBookmarks_, list);
  index_.remove(list);
  ViewUpdater::updateBookmarks();
  ViewUpdater::updateMenuBookmarks();
  ViewUpdater::updateSourceLists();
}

void DataManager::addFolders(const FolderList& list) {
  KESTO_ASSERT_MAIN_THREAD();
  appendMovingToEnd(*allFolders_, list);
  ViewUpdater::updateSourceLists();
}

void DataManager::removeFolders(const FolderList& list) {
  KESTO_ASSERT_MAIN_THREAD();
  removeAll(*allFolders_, list);
  ViewUpdater::updateSourceLists();
}

void DataManager::followSave(const std::function<void()>& save) {
  KESTO_ASSERT_MAIN_THREAD();
  if (!context_) {
    save();
    return;
  }
  std::vector<store::ManagedObjectRef> inserted, deleted;
  bool foldersUpdated = false;
  const int observer = context_->addSaveObserver([&](const store::SaveNotification& n) {
    inserted.insert(inserted.end(), n.inserted.begin(), n.inserted.end());
    deleted.insert(deleted.end(), n.deleted.begin(), n.deleted.end());
    foldersUpdated = foldersUpdated || std::any_of(n.updated.begin(), n.updated.end(), [](const auto& o) {
                       return dynamic_cast<const Folder*>(o.get()) != nullptr;
                     });
  });
  save();
  context_->removeSaveObserver(observer);
  followChanges(inserted, deleted, foldersUpdated);
}

void DataManager::followMergedSave(const store::SaveNotification& saved) {
  KESTO_ASSERT_MAIN_THREAD();
  if (!context_) return;
  // Rows another context wrote: the main context's objects for them, read when first asked.
  std::vector<store::ManagedObjectRef> inserted, deleted;
  for (const auto& id : saved.insertedIDs)
    if (auto o = context_->objectWithID(id)) inserted.push_back(std::move(o));
  for (const auto& id : saved.deletedIDs)
    if (auto o = context_->objectRegisteredForID(id)) deleted.push_back(std::move(o));
  const bool foldersUpdated = std::any_of(saved.updatedIDs.begin(), saved.updatedIDs.end(), [](const auto& id) {
    return id && id->entity() && id->entity()->name() == Folder::entityName();
  });
  // A large save (an import of thousands): the views follow in a turn of their own, so the
  // window is not held up by taking the rows in and redrawing in one piece.
  followChanges(inserted, deleted, foldersUpdated, false);
}

void DataManager::followChanges(const std::vector<store::ManagedObjectRef>& inserted,
                                const std::vector<store::ManagedObjectRef>& deleted, bool foldersUpdated,
                                bool announceNow) {
  BookmarkList insertedBookmarks, deletedBookmarks;
  FolderList insertedFolders, deletedFolders;
  for (const auto& o : inserted) {
    if (auto b = std::dynamic_pointer_cast<Bookmark>(o)) insertedBookmarks.push_back(std::move(b));
    else if (auto f = std::dynamic_pointer_cast<Folder>(o)) insertedFolders.push_back(std::move(f));
  }
  for (const auto& o : deleted) {
    if (auto b = std::dynamic_pointer_cast<Bookmark>(o)) deletedBookmarks.push_back(std::move(b));
    else if (auto f = std::dynamic_pointer_cast<Folder>(o)) deletedFolders.push_back(std::move(f));
  }
  if (!insertedBookmarks.empty() || !deletedBookmarks.empty()) {
    removeAll(allBookmarks_, deletedBookmarks);
    appendMovingToEnd(allBookmarks_, insertedBookmarks);
    index_.remove(deletedBookmarks);
    index_.append(insertedBookmarks);
  }
  if (!insertedFolders.empty() || !deletedFolders.empty()) {
    removeAll(*allFolders_, deletedFolders);
    appendMovingToEnd(*allFolders_, insertedFolders);
  }
  // Folders only added (an import's): the folder list can put their rows in beside the others.
  const bool onlyAdded = !foldersUpdated && deletedFolders.empty();
  const bool foldersChanged = foldersUpdated || !insertedFolders.empty() || !deletedFolders.empty();
  FolderList added = onlyAdded ? std::move(insertedFolders) : FolderList{};
  if (announceNow) return announceLoad(true, foldersChanged, added);
  fnd::DispatchQueue::main().async(lifetime_.whileAlive(
      [this, foldersChanged, added = std::move(added)] { announceLoad(true, foldersChanged, added); }));
}

// ---- Counters -------------------------------------------------------------------------------

std::int32_t DataManager::countInMemory(const store::PredicateRef& predicate) {
  if (!predicate) return 0;
  if (predicate == p_.library) return clamp32(static_cast<std::int64_t>(index().liveCount()));
  if (isKept(predicate)) return clamp32(static_cast<std::int64_t>(index().countMatching(predicate)));
  return clamp32(static_cast<std::int64_t>(filter(predicate).size()));
}

std::int32_t DataManager::countInStore(const store::PredicateRef& predicate) const {
  if (!predicate) return 0;
  return clamp32(Bookmark::countWithPredicate(predicate, context_));
}

std::int32_t DataManager::fetchAndCount(const store::PredicateRef& predicate) const {
  auto found = Bookmark::fetchEntitiesWithPredicate(predicate, nullptr, 0, 0, context_);
  return found ? clamp32(static_cast<std::int64_t>(found->size())) : 0;
}

std::int32_t DataManager::numberOfBookmarks(SmartList list) {
  KESTO_ASSERT_MAIN_THREAD();
  const SmartListRow& row = rowFor(list);
  if (row.dated) refreshDateWindowsIfDayChanged();
  const store::PredicateRef& p = p_.*row.counter;
  switch (row.counted) {
    case Counted::InMemory: return countInMemory(p);
    case Counted::InStore: return countInStore(p);
    case Counted::FetchedFromStore: return fetchAndCount(p);
    case Counted::None: break;
  }
  return 0;
}

std::int32_t DataManager::numberOfTotalBookmarks() { return countInMemory(p_.total); }
std::int32_t DataManager::numberOfImportedBookmarks() { return countInMemory(p_.imported); }

std::unordered_map<std::string, std::int32_t> DataManager::numberOfBookmarksInFolders() { return index().liveCounts(); }

std::int32_t DataManager::numberOfBookmarksInFolder(const std::string& folderID) {
  // "folder.folderID = %@ and trashed < 1 and blocked < 1"
  const auto& counts = index().liveCounts();
  auto it = counts.find(folderID);
  return it == counts.end() ? 0 : it->second;
}

std::int32_t DataManager::numberOfBookmarksInLibraryAndCollect() {
  auto all = allBookmarksInLibraryAndCollect();
  return all ? clamp32(static_cast<std::int64_t>(all->size())) : 0;
}

}  // namespace kesto
