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

// Sorts by the descriptors with each object's keys read once.

bool accepts(const store::Predicate& p, const DataManager::BookmarkRef& b) {
  return p.evaluate(fnd::Value(std::static_pointer_cast<fnd::Object>(b)));
}

std::int32_t clamp32(std::int64_t n) { return static_cast<std::int32_t>(n); }

// "trashed < 1 and blocked < 1" without going through the predicate: a missing flag fails it.
bool isLive(const Bookmark& b) {
  const auto& trashed = b.value(bookmark_attr::trashed);
  const auto& blocked = b.value(bookmark_attr::blocked);
  return trashed.isNumber() && blocked.isNumber() && trashed.doubleValue() < 1 && blocked.doubleValue() < 1;
}

// The Top 25 test: "timesOpened > 0 and trashed < 1 and blocked < 1".
bool isOpenedAndLive(const Bookmark& b) {
  const auto& opened = b.value(bookmark_attr::timesOpened);
  return opened.isNumber() && opened.doubleValue() > 0 && isLive(b);
}

const std::string* folderIDOf(const Bookmark& b) {
  auto folder = b.toOne(bookmark_rel::folder);
  if (!folder) return nullptr;
  const auto& id = folder->value(folder_attr::folderID);
  return id.isString() ? &id.string() : nullptr;
}

}  // namespace

void sortBookmarks(DataManager::BookmarkList& list, const DataManager::SortDescriptors& sorts) {
  const std::size_t n = list.size(), k = sorts.size();
  if (k == 0 || n < 2) return;
  std::vector<fnd::Value> keys;
  keys.reserve(n * k);
  for (const auto& b : list) {
    for (const auto& s : sorts) {
      if (s.keyPath.find('.') == std::string::npos)
        keys.push_back(b->valueForKey(s.keyPath));
      else
        keys.push_back(store::valueForKeyPath(fnd::Value(std::static_pointer_cast<fnd::Object>(b)), s.keyPath));
    }
  }
  std::vector<std::uint32_t> order(n);
  for (std::uint32_t i = 0; i < n; ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](std::uint32_t x, std::uint32_t y) {
    for (std::size_t i = 0; i < k; ++i) {
      int c = sorts[i].compareValues(keys[x * k + i], keys[y * k + i]);
      if (c != 0) return c < 0;
    }
    return false;
  });
  DataManager::BookmarkList sortedList;
  sortedList.reserve(n);
  for (auto i : order) sortedList.push_back(std::move(list[i]));
  list = std::move(sortedList);
}

DataManager::DataManager() : allFolders_(std::make_shared<FolderList>()) {
  KESTO_ASSERT_MAIN_THREAD();
  // Every list and counter can rely on the predicates; prepare() builds them again at start-up.
  preparePredicates();
}

DataManager::~DataManager() {
  lifetime_.end();
  fnd::NotificationCenter::defaultCenter().removeObserver(this);
  if (observedContext_ && saveObserver_) observedContext_->removeSaveObserver(saveObserver_);
}

std::shared_ptr<const Preferences> DataManager::prefs() const {
  return preferences_ ? preferences_ : currentPreferences();
}

void DataManager::awakeFromNib() {
  KESTO_ASSERT_MAIN_THREAD();
  context_ = WrenDataManager::sharedInstance().managedObjectContext();
  auto& center = fnd::NotificationCenter::defaultCenter();
  center.addObserver(this, [this](const fnd::Notification&) { clearBookmarks(); }, ClearBookmarksNotification);
  center.addObserver(this, [this](const fnd::Notification&) { fetchAllBookmarksFromCoreData(); },
                     FetchBookmarksFromCoreDataNotification);
  if (context_) {
    // Saves can change what a folder badge counts (a bookmark trashed or moved).
    observedContext_ = context_;
    saveObserver_ = context_->addSaveObserver([this](const store::SaveNotification&) { invalidateBadges(); });
  }
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
  invalidateBadges();
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

void DataManager::fetchAllBookmarksFromCoreDataFromService() {
  isImportingFromService_ = true;
  fetchAllBookmarksFromCoreData();
}

void DataManager::fetchAllBookmarksFromCoreData() {
  clearBookmarks();
  // The identifiers are read on a private queue straight from the store: a child of the main
  // context would copy every row through the main queue. Rows the main context has not saved yet
  // are picked up by the main-queue step.
  std::shared_ptr<store::Context> child;
  if (context_) {
    if (auto coordinator = WrenDataManager::sharedInstance().persistentStoreCoordinator()) {
      child = store::Context::make(store::ConcurrencyType::PrivateQueue);
      child->setCoordinator(coordinator);
    }
  }
  auto alive = lifetime_.watch();
  if (!child) {
    // No store: the lists stay empty, and the refreshes still go out so the interface settles.
    fnd::DispatchQueue::main().async([this, alive] {
      if (alive) finishLoad({}, {}, false);
    });
    return;
  }
  child->perform([this, child, alive] {
    std::vector<std::int64_t> bookmarkKeys, folderKeys;
    bool complete = true;
    auto collect = [&](const char* entity, std::vector<std::int64_t>& keys) {
      fnd::Error error;
      store::FetchRequest request(entity);
      request.resultType = store::FetchRequest::ResultType::ObjectIDs;
      request.includesPropertyValues = false;  // only the identifiers cross to the main queue
      auto ids = child->fetchObjectIDs(request, &error);
      if (!ids) {
        logDetailedError("fetch the library", &error);
        complete = false;
        return;
      }
      keys.reserve(ids->size());
      for (const auto& id : *ids) keys.push_back(id->primaryKey());
    };
    collect(Bookmark::entityName(), bookmarkKeys);
    collect(Folder::entityName(), folderKeys);
    fnd::DispatchQueue::main().async(
        [this, alive, child, b = std::move(bookmarkKeys), f = std::move(folderKeys), complete]() mutable {
          if (alive) finishLoad(std::move(b), std::move(f), complete);
        });
  });
}

void DataManager::finishLoad(std::vector<std::int64_t> bookmarkKeys, std::vector<std::int64_t> folderKeys,
                             bool complete) {
  // The objects the child found, fetched in the main context: one fetch per entity, kept to the
  // found rows (0 stands for rows not yet written, which the main context holds itself).
  auto fetchKept = [&](const char* entity, const std::vector<store::SortDescriptor>& sorts,
                       const std::vector<std::int64_t>& keys) -> std::optional<std::vector<store::ManagedObjectRef>> {
    if (!context_ || !complete) return std::nullopt;
    store::FetchRequest request(entity);
    request.sortDescriptors = sorts;
    fnd::Error error;
    auto found = context_->fetch(request, &error);
    if (!found) {
      logDetailedError("fetch the library", &error);
      return std::nullopt;
    }
    std::unordered_set<std::int64_t> wanted(keys.begin(), keys.end());
    std::vector<store::ManagedObjectRef> kept;
    kept.reserve(found->size());
    for (auto& o : *found) {
      auto id = o->objectID();
      std::int64_t pk = id ? id->primaryKey() : 0;
      if (pk == 0 || wanted.count(pk)) kept.push_back(std::move(o));
    }
    return kept;
  };
  auto bookmarkRows = fetchKept(Bookmark::entityName(), currentSortDescriptors_, bookmarkKeys);
  auto folderRows = fetchKept(Folder::entityName(), {store::SortDescriptor("name", true)}, folderKeys);
  // A failed read is not an empty library: the arrays keep what the last load found.
  const bool loaded = bookmarkRows && folderRows;
  if (loaded) {
    allBookmarks_.clear();
    allBookmarks_.reserve(bookmarkRows->size());
    for (auto& o : *bookmarkRows)
      if (auto b = std::dynamic_pointer_cast<Bookmark>(o)) allBookmarks_.push_back(std::move(b));
    auto folders = std::make_shared<FolderList>();
    for (auto& o : *folderRows)
      if (auto f = std::dynamic_pointer_cast<Folder>(o)) folders->push_back(std::move(f));
    allFolders_ = folders;
    invalidateBadges();
  }
  // The menu bar shows only live bookmarks, in library order.
  menuBookmarks_ = filter(*p_.library);
  auto& center = fnd::NotificationCenter::defaultCenter();
  center.postNotificationName(KestoPerformAutoSync, nullptr);
  if (isImportingFromService_) {
    ViewUpdater::updateSidebar();
    isImportingFromService_ = false;
  } else {
    ViewUpdater::updateFoldersCompletely();
  }
  center.postNotificationName(UpdateFoldersNotification, nullptr);
  if (loaded && allBookmarks_.empty()) ViewUpdater::showInitialPopup();
}

void DataManager::loadBookmarks() { doLoadBookmarks(false); }
void DataManager::loadBookmarksAndReset() { doLoadBookmarks(true); }

void DataManager::doLoadBookmarks(bool reset) {
  KESTO_ASSERT_MAIN_THREAD();
  auto alive = lifetime_.watch();
  fnd::DispatchQueue::main().async([this, alive] {
    if (alive) startActivity();
  });
  clearBookmarks();
  refreshDateWindowsIfDayChanged();
  currentSortDescriptors_ = folderSortDescriptors();
  auto preferences = prefs();
  auto filterSorted = [&](const store::PredicateRef& p) {
    if (!p) return;
    bookmarks_ = filter(*p);
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
    for (const auto& b : allBookmarks_) {
      auto it = hits.find(b.get());
      if (it == hits.end() || it->second < needed || !isLive(*b)) continue;
      if (b->value(bookmark_attr::trashed).doubleValue() != 0) continue;
      bookmarks_.push_back(b);
    }
    sortBookmarks(bookmarks_, currentSortDescriptors_);
  } else if (loadingFromTags_) {
    bookmarks_.clear();
  } else if (currentFolder_) {
    store::PredicateRef p;
    if (preferences->showBookmarksInSubFolders()) {
      // The folder predicate ("trashed < 1 and blocked < 1 and folder.folderID IN ids"),
      // evaluated with a hash set of the identifiers.
      auto list = Bookmark::folderIDsForFolder(currentFolder_->folderID());
      std::unordered_set<std::string> ids(list.begin(), list.end());
      for (const auto& b : allBookmarks_) {
        if (!isLive(*b)) continue;
        const std::string* id = folderIDOf(*b);
        if (id && ids.count(*id)) bookmarks_.push_back(b);
      }
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
      // "folder.folderID = %@ and trashed < 1 and blocked < 1 and services.@count == 0", tested
      // directly: the predicate evaluated over a large library made a click on a folder slow.
      const std::string& id = currentFolder_->folderID();
      for (const auto& b : allBookmarks_) {
        const std::string* folderID = folderIDOf(*b);
        if (folderID && *folderID == id && isLive(*b) && b->toManyCount(bookmark_rel::services) == 0)
          bookmarks_.push_back(b);
      }
      sortBookmarks(bookmarks_, currentSortDescriptors_);
    }
    filterSorted(p);
  } else {
    if (!currentPredicate_) currentPredicate_ = p_.library;
    if (currentPredicate_ == p_.top25) {
      // The first 25 opened bookmarks in library order; the list does not rank by visits.
      for (const auto& b : allBookmarks_) {
        if (bookmarks_.size() == kTop25) break;
        if (isOpenedAndLive(*b)) bookmarks_.push_back(b);
      }
    } else if (currentPredicate_ == p_.duplicates) {
      clearBookmarks();
      bookmarks_ = duplicates();
    } else {
      filterSorted(currentPredicate_);
    }
  }
  if (reset)
    ViewUpdater::updateBookmarksAndResetView();
  else
    ViewUpdater::updateBookmarks();
  fnd::DispatchQueue::main().after(1.0, [this, alive] {
    if (alive) stopActivity();
  });
}

void DataManager::clearBookmarks() {
  KESTO_ASSERT_MAIN_THREAD();
  bookmarks_.clear();
  ViewUpdater::updateBookmarks();
}

void DataManager::clearMenuBookmarks() {
  menuBookmarks_.clear();
  ViewUpdater::updateMenuBookmarks();
}

void DataManager::startActivity() { ViewUpdater::startActivity(); }
void DataManager::stopActivity() { ViewUpdater::stopActivity(); }

DataManager::BookmarkList DataManager::bookmarksWithFolder(const std::string& folderID) const {
  auto p = parse("folder.folderID = %@", {folderID});
  return p ? filter(*p) : BookmarkList{};
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

DataManager::BookmarkList DataManager::filter(const store::Predicate& predicate) const {
  BookmarkList out;
  if (&predicate == p_.library.get() || &predicate == p_.duplicates.get()) {
    for (const auto& b : allBookmarks_)
      if (isLive(*b)) out.push_back(b);
    return out;
  }
  if (&predicate == p_.top25.get()) {
    for (const auto& b : allBookmarks_)
      if (isOpenedAndLive(*b)) out.push_back(b);
    return out;
  }
  for (const auto& b : allBookmarks_)
    if (accepts(predicate, b)) out.push_back(b);
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
  currentPredicate_ = p_.inbox;
}

void DataManager::loadSmartList(const store::PredicateRef& predicate) {
  KESTO_ASSERT_MAIN_THREAD();
  currentSortDescriptors_ = folderSortDescriptors();
  currentPredicate_ = predicate;
  loadBookmarks();
}

void DataManager::loadAllBookmarksInLibrary() { loadSmartList(p_.library); }
void DataManager::loadBookmarksInInbox() { loadSmartList(p_.inbox); }
void DataManager::loadTrashedBookmarks() { loadSmartList(p_.trash); }
void DataManager::loadDeliciousBookmarks() { loadSmartList(p_.delicious); }
void DataManager::loadPinboardBookmarks() { loadSmartList(p_.pinboard); }
void DataManager::loadTodayBookmarks() { refreshDateWindowsIfDayChanged(); loadSmartList(p_.today); }
void DataManager::loadYesterdayBookmarks() { refreshDateWindowsIfDayChanged(); loadSmartList(p_.yesterday); }
void DataManager::loadThisWeekBookmarks() { refreshDateWindowsIfDayChanged(); loadSmartList(p_.thisweek); }
void DataManager::loadThisMonthBookmarks() {
  prepareNonFolderViews();
  refreshDateWindowsIfDayChanged();
  loadSmartList(p_.thisMonth);
}
void DataManager::loadAddedTodayBookmarks() { refreshDateWindowsIfDayChanged(); loadSmartList(p_.addedToday); }
void DataManager::loadAddedYesterdayBookmarks() { refreshDateWindowsIfDayChanged(); loadSmartList(p_.addedYesterday); }
void DataManager::loadAddedThisWeekBookmarks() { refreshDateWindowsIfDayChanged(); loadSmartList(p_.addedThisweek); }
void DataManager::loadAddedThisMonthBookmarks() { refreshDateWindowsIfDayChanged(); loadSmartList(p_.addedThisMonth); }
void DataManager::loadModifiedTodayBookmarks() { refreshDateWindowsIfDayChanged(); loadSmartList(p_.modifiedToday); }
void DataManager::loadModifiedYesterdayBookmarks() { refreshDateWindowsIfDayChanged(); loadSmartList(p_.modifiedYesterday); }
void DataManager::loadModifiedThisWeekBookmarks() { refreshDateWindowsIfDayChanged(); loadSmartList(p_.modifiedThisweek); }
void DataManager::loadModifiedThisMonthBookmarks() { refreshDateWindowsIfDayChanged(); loadSmartList(p_.modifiedThisMonth); }
void DataManager::loadAnnotatedBookmarks() { loadSmartList(p_.annotated); }
void DataManager::loadTop25Bookmarks() { loadSmartList(p_.top25); }
void DataManager::loadFiveStarsBookmarks() { loadSmartList(p_.fiveStars); }
void DataManager::loadFavoriteBookmarks() { loadSmartList(p_.favorites); }
void DataManager::loadBookmarksWithCredentials() { loadSmartList(p_.withCredentials); }
void DataManager::loadBookmarksWithTags() { loadSmartList(p_.withTags); }
void DataManager::loadBlueBookmarks() { loadSmartList(p_.blue); }
void DataManager::loadOrangeBookmarks() { loadSmartList(p_.orange); }
void DataManager::loadRedBookmarks() { loadSmartList(p_.red); }
void DataManager::loadGreenBookmarks() { loadSmartList(p_.green); }
void DataManager::loadYellowBookmarks() { loadSmartList(p_.yellow); }
void DataManager::loadGreyBookmarks() { loadSmartList(p_.grey); }
void DataManager::loadBrokenBookmarks() { loadSmartList(p_.brokenLinks); }
void DataManager::loadDuplicatedBookmarks() { loadSmartList(p_.duplicates); }
void DataManager::loadMissingImagesBookmarks() { loadSmartList(p_.missingImages); }

void DataManager::applySearchPredicate(const store::PredicateRef& predicate) {
  KESTO_ASSERT_MAIN_THREAD();
  clearBookmarks();
  auto sorts = folderSortDescriptors();
  auto found = Bookmark::fetchEntitiesWithPredicate(predicate, &sorts, kSearchLimit, 0, context_);
  if (found) bookmarks_.insert(bookmarks_.end(), found->begin(), found->end());
}

void DataManager::applySearchPredicateOnCurrentSelection(const store::PredicateRef& predicate) {
  KESTO_ASSERT_MAIN_THREAD();
  loadBookmarks();
  BookmarkList current = bookmarks_;
  clearBookmarks();
  if (!predicate) return;
  for (const auto& b : current)
    if (accepts(*predicate, b)) bookmarks_.push_back(b);
  sortBookmarks(bookmarks_, folderSortDescriptors());
}

void DataManager::applySearchPredicateFromMenu(const store::PredicateRef& predicate) {
  KESTO_ASSERT_MAIN_THREAD();
  clearMenuBookmarks();
  auto sorts = folderSortDescriptors();
  auto found = Bookmark::fetchEntitiesWithPredicate(predicate, &sorts, kSearchLimit, 0, context_);
  if (found) menuBookmarks_.insert(menuBookmarks_.end(), found->begin(), found->end());
}

void DataManager::loadWeekBookmarksMenu() {
  menuBookmarks_ = filter(*parse("trashed < 1  and blocked < 1"));
  sortBookmarks(menuBookmarks_, {store::SortDescriptor("lastOpened", false)});
}

void DataManager::loadFavoriteBookmarksMenu() {
  menuBookmarks_ = filter(*p_.favorites);
  sortBookmarks(menuBookmarks_, {store::SortDescriptor("title", true)});
}

void DataManager::loadMenuBookmarks() {
  KESTO_ASSERT_MAIN_THREAD();
  currentSortDescriptors_ = folderSortDescriptors();
  menuBookmarks_ = filter(*parse("trashed < 1  and blocked < 1"));
  sortBookmarks(menuBookmarks_, currentSortDescriptors_);
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
  invalidateBadges();
  ViewUpdater::updateBookmarks();
  ViewUpdater::updateMenuBookmarks();
  ViewUpdater::updateSourceLists();
}

void DataManager::removeBookmarks(const BookmarkList& list) {
  KESTO_ASSERT_MAIN_THREAD();
  removeAll(allBookmarks_, list);
  invalidateBadges();
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

// ---- Counters -------------------------------------------------------------------------------

std::int32_t DataManager::countInMemory(const store::Predicate& predicate) const {
  if (&predicate == p_.library.get()) return clamp32(static_cast<std::int64_t>(filter(predicate).size()));
  std::int64_t n = 0;
  for (const auto& b : allBookmarks_)
    if (accepts(predicate, b)) ++n;
  return clamp32(n);
}

std::int32_t DataManager::countInStore(const store::PredicateRef& predicate) const {
  if (!predicate) return 0;
  return clamp32(Bookmark::countWithPredicate(predicate, context_));
}

std::int32_t DataManager::fetchAndCount(const store::PredicateRef& predicate) const {
  auto found = Bookmark::fetchEntitiesWithPredicate(predicate, nullptr, 0, 0, context_);
  return found ? clamp32(static_cast<std::int64_t>(found->size())) : 0;
}

std::int32_t DataManager::numberOfBookmarksInLibrary() { return countInMemory(*p_.library); }
std::int32_t DataManager::numberOfTotalBookmarks() { return countInMemory(*parse("trashed < 1")); }
std::int32_t DataManager::numberOfImportedBookmarks() {
  return countInMemory(*parse("showImported >0 and trashed < 1 and blocked < 1"));
}
std::int32_t DataManager::numberOBookmarksInTrash() { return countInMemory(*parse("trashed > 0 and blocked < 1")); }
std::int32_t DataManager::numberOfBookmarksInInbox() { return countInMemory(*p_.inbox); }

const std::unordered_map<std::string, std::int32_t>& DataManager::badgeCounts() {
  KESTO_ASSERT_MAIN_THREAD();
  if (badgeCache_) return *badgeCache_;
  // The same test as "folder.folderID = %@ and trashed < 1 and blocked < 1", in one pass.
  auto& counts = badgeCache_.emplace();
  for (const auto& b : allBookmarks_) {
    if (!isLive(*b)) continue;
    if (const std::string* id = folderIDOf(*b)) ++counts[*id];
  }
  return counts;
}

std::unordered_map<std::string, std::int32_t> DataManager::numberOfBookmarksInFolders() { return badgeCounts(); }

std::int32_t DataManager::numberOfBookmarksInFolder(const std::string& folderID) {
  const auto& counts = badgeCounts();
  auto it = counts.find(folderID);
  return it == counts.end() ? 0 : it->second;
}

std::int32_t DataManager::numberOfBookmarksInDelicious() { return fetchAndCount(p_.delicious); }
std::int32_t DataManager::numberOfBookmarksInPinboard() { return fetchAndCount(p_.pinboard); }
std::int32_t DataManager::numberOfBookmarksInLibraryAndCollect() {
  auto all = allBookmarksInLibraryAndCollect();
  return all ? clamp32(static_cast<std::int64_t>(all->size())) : 0;
}
std::int32_t DataManager::numberOfBookmarksInTop25() { return countInStore(p_.top25); }
std::int32_t DataManager::numberOfBookmarksWithFiveStars() { return countInStore(p_.fiveStars); }
std::int32_t DataManager::numberOfBookmarksWithNotes() { return countInStore(p_.annotated); }
std::int32_t DataManager::numberOfBookmarksWithTags() { return countInStore(p_.withTags); }
std::int32_t DataManager::numberOfBookmarksWithCredentials() { return countInStore(p_.withCredentials); }
std::int32_t DataManager::numberOfBookmarksWithFavorite() { return countInStore(p_.favorites); }
std::int32_t DataManager::numberOfBookmarksWithColorBlue() { return countInStore(p_.blue); }
std::int32_t DataManager::numberOfBookmarksWithColorOrange() { return countInStore(p_.orange); }
std::int32_t DataManager::numberOfBookmarksWithColorYellow() { return countInStore(p_.yellow); }
std::int32_t DataManager::numberOfBookmarksWithColorGreen() { return countInStore(p_.green); }
std::int32_t DataManager::numberOfBookmarksWithColorRed() { return countInStore(p_.red); }
std::int32_t DataManager::numberOfBookmarksWithColorGrey() { return countInStore(p_.grey); }
#define KESTO_DATE_COUNTER(fn, slot)     \
  std::int32_t DataManager::fn() {       \
    refreshDateWindowsIfDayChanged();    \
    return countInStore(p_.slot);        \
  }
KESTO_DATE_COUNTER(numberOfBookmarksVisitedToday, today)
KESTO_DATE_COUNTER(numberOfBookmarksVisitedYesterday, yesterday)
KESTO_DATE_COUNTER(numberOfBookmarksVisitedThisWeek, thisweek)
KESTO_DATE_COUNTER(numberOfBookmarksVisitedThisMonth, thisMonth)
KESTO_DATE_COUNTER(numberOfBookmarksAddedToday, addedToday)
KESTO_DATE_COUNTER(numberOfBookmarksAddedYesterday, addedYesterday)
KESTO_DATE_COUNTER(numberOfBookmarksAddedThisWeek, addedThisweek)
KESTO_DATE_COUNTER(numberOfBookmarksAddedThisMonth, addedThisMonth)
KESTO_DATE_COUNTER(numberOfBookmarksModifiedToday, modifiedToday)
KESTO_DATE_COUNTER(numberOfBookmarksModifiedYesterday, modifiedYesterday)
KESTO_DATE_COUNTER(numberOfBookmarksModifiedThisWeek, modifiedThisweek)
KESTO_DATE_COUNTER(numberOfBookmarksModifiedThisMonth, modifiedThisMonth)
#undef KESTO_DATE_COUNTER
std::int32_t DataManager::numberOfBookmarksWithMissingImages() { return countInStore(p_.missingImages); }

}  // namespace kesto
