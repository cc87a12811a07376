// Sort orders, the tag list, duplicates and the maintenance clean-ups of DataManager.
#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/DataModel.h"
#include "Model/Preferences.h"
#include "Model/Service.h"
#include "Model/Tag.h"
#include "Model/WrenDataManager.h"

#include "Platform/Foundation/Assert.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Store/Context.h"

#include <sqlite3.h>

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

namespace kesto {

DataManager::SortDescriptors DataManager::folderSortDescriptors() const {
  auto p = prefs();
  store::SortDescriptor last;
  if (p->sortFoldersByDateAscending()) {
    last = store::SortDescriptor("addedDate", true);
  } else if (p->sortFoldersByDateDescending()) {
    last = store::SortDescriptor("addedDate", false);
  } else if (p->sortFoldersAlfabetically()) {
    last = store::SortDescriptor("title", true, store::SortDescriptor::Comparison::CaseInsensitive);
  } else {
    return {};
  }
  SortDescriptors out;
  if (p->sortFoldersByFavorite()) out.emplace_back("isFavorite", false);
  if (p->sortFoldersByRating()) out.emplace_back("rating", false);
  if (p->sortFoldersByMostVisited()) out.emplace_back("timesOpened", false);
  out.push_back(last);
  return out;
}

DataManager::SortDescriptors DataManager::inboxSortDescriptors() const {
  auto p = prefs();
  if (p->sortInboxByDateAscending()) return {store::SortDescriptor("addedDate", true)};
  if (p->sortInboxByDateDescending()) return {store::SortDescriptor("addedDate", false)};
  return {};
}

DataManager::SortDescriptors DataManager::duplicateSortDescriptors() const {
  return {store::SortDescriptor("url", true, store::SortDescriptor::Comparison::CaseInsensitive)};
}

std::optional<std::vector<std::shared_ptr<Tag>>> DataManager::allTags() const {
  if (bookmarks_.empty()) return std::nullopt;
  return Tag::fetchEntities(context_);
}

void DataManager::clearTags() { currentlySelectedTags_.clear(); }

namespace {

// Identifiers of every live copy after the first (lowest row) of each URL that two or more live
// bookmarks share; groups ordered by the first copy's title. Read-only: a wrong path can never
// leave a stray database behind.
std::vector<std::string> duplicateIdentifiers(const std::string& path) {
  std::vector<std::string> ids;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    fnd::logFormat(fnd::LogFlag::Error, "Cannot read the store for duplicates: %s", db ? sqlite3_errmsg(db) : "");
    sqlite3_close(db);
    return ids;
  }
  sqlite3_busy_timeout(db, 2000);
  static const char* kQuery =
      "select b.zuniqueid from zbookmark as b "
      "join (select zurl, min(z_pk) as firstpk from zbookmark where ztrashed == 0 and zblocked == 0 "
      "      group by zurl having count() > 1) as g on b.zurl = g.zurl "
      "join zbookmark as f on f.z_pk = g.firstpk "
      "where b.ztrashed == 0 and b.zblocked == 0 and b.z_pk != g.firstpk "
      "order by f.ztitle asc, g.firstpk asc, b.z_pk asc";
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, kQuery, -1, &stmt, nullptr) == SQLITE_OK) {
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      const unsigned char* text = sqlite3_column_text(stmt, 0);
      if (text) ids.emplace_back(reinterpret_cast<const char*>(text));
    }
  } else {
    fnd::logFormat(fnd::LogFlag::Error, "Duplicates query failed: %s", sqlite3_errmsg(db));
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return ids;
}

}  // namespace

DataManager::BookmarkList DataManager::duplicates() const {
  auto& stack = WrenDataManager::sharedInstance();
  auto ids = duplicateIdentifiers(stack.persistentStorePath());
  if (ids.empty()) return {};
  // The loaded library answers most identifiers at once; rows it does not hold yet (added since
  // the last load) are fetched from the store.
  std::unordered_map<std::string, BookmarkRef> byID;
  byID.reserve(allBookmarks_.size());
  for (const auto& b : allBookmarks_) {
    const auto& id = b->value(bookmark_attr::uniqueID);
    if (id.isString()) byID.emplace(id.string(), b);
  }
  fnd::Array missing;
  for (const auto& id : ids)
    if (!byID.count(id)) missing.emplace_back(id);
  if (!missing.empty()) {
    auto found = Bookmark::fetchEntitiesWithPredicate(
        store::Predicate::parse("uniqueID IN %@", {fnd::Value(std::move(missing))}), nullptr, 0, 0, context_);
    if (found)
      for (auto& b : *found) byID.emplace(b->uniqueIDValue().value_or(std::string()), b);
  }
  auto delicious = Service::serviceNamed(Service::kDelicious, context_);
  auto pinboard = Service::serviceNamed(Service::kPinboard, context_);
  BookmarkList out;
  for (const auto& id : ids) {
    auto it = byID.find(id);
    if (it == byID.end()) continue;
    bool serviceCopy = false;
    if (delicious || pinboard)
      for (const auto& s : it->second->toMany(bookmark_rel::services))
        if (s == delicious || s == pinboard) serviceCopy = true;
    if (!serviceCopy) out.push_back(it->second);
  }
  return out;
}

void DataManager::removeDuplicates() {
  KESTO_ASSERT_MAIN_THREAD();
  // Each listed copy has an older live copy of its URL that is never listed, so the last live
  // copy always survives.
  std::unordered_set<const Bookmark*> loaded;
  for (const auto& b : allBookmarks_) loaded.insert(b.get());
  for (const auto& b : duplicates()) {
    if (!loaded.count(b.get())) continue;
    b->setTrashed(1);
    b->saveBookmark();
  }
}

void DataManager::removeBrokenLinks() {
  KESTO_ASSERT_MAIN_THREAD();
  if (!p_.brokenLinks) return;
  for (const auto& b : filter(p_.brokenLinks)) {
    b->setTrashed(1);
    b->saveBookmark();
  }
}

}  // namespace kesto
