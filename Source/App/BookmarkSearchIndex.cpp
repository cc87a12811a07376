#include "App/BookmarkSearchIndex.h"

#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/Folder.h"
#include "Model/Tag.h"
#include "Platform/Foundation/Assert.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Store/Predicate.h"
#include "Platform/Store/SaveNotification.h"

namespace kesto {

namespace {
constexpr unsigned kFold = store::kCaseInsensitive | store::kDiacriticInsensitive;

// A missing text matches no word, as a missing value satisfies no comparison.
std::optional<std::string> folded(const std::optional<std::string>& s) {
  if (!s) return std::nullopt;
  return store::foldString(*s, kFold);
}

bool contains(const std::optional<std::string>& text, const std::string& word) {
  return text && text->find(word) != std::string::npos;
}
}  // namespace

struct BookmarkSearchIndex::Entry {
  std::shared_ptr<Bookmark> bookmark;
  std::optional<std::string> title, url, notes, folder;
  std::vector<std::string> tags;
};

BookmarkSearchIndex::BookmarkSearchIndex() : stale_(std::make_shared<std::atomic<bool>>(true)) {
  KESTO_ASSERT_MAIN_THREAD();
  std::weak_ptr<std::atomic<bool>> stale = stale_;
  fnd::NotificationCenter::defaultCenter().addObserver(
      this,
      [stale](const fnd::Notification&) {
        if (auto s = stale.lock()) *s = true;
      },
      store::kContextDidSaveNotification);
}

BookmarkSearchIndex::~BookmarkSearchIndex() { fnd::NotificationCenter::defaultCenter().removeObserver(this); }

void BookmarkSearchIndex::prepare(DataManager& data) {
  KESTO_ASSERT_MAIN_THREAD();
  const auto& all = data.allBookmarks();
  const void* first = all.empty() ? nullptr : all.front().get();
  if (!*stale_ && all.size() == librarySize_ && first == libraryFirst_) return;
  *stale_ = false;
  librarySize_ = all.size();
  libraryFirst_ = first;
  std::vector<std::shared_ptr<Bookmark>> live;
  live.reserve(all.size());
  for (const auto& b : all)
    if (b && !b->isDeleted() && b->trashed() == 0 && b->blocked() == 0) live.push_back(b);
  sortBookmarks(live, data.folderSortDescriptors());
  entries_.clear();
  entries_.reserve(live.size());
  for (auto& b : live) {
    Entry e;
    e.title = folded(b->title());
    e.url = folded(b->url());
    e.notes = folded(b->notes());
    if (auto f = b->folder()) {
      auto name = f->name();
      if (!name.empty()) e.folder = store::foldString(name, kFold);
    }
    for (const auto& t : b->tags())
      if (t) e.tags.push_back(store::foldString(t->name(), kFold));
    e.bookmark = std::move(b);
    entries_.push_back(std::move(e));
  }
}

std::vector<std::shared_ptr<Bookmark>> BookmarkSearchIndex::search(DataManager& data,
                                                                   const std::vector<std::string>& words,
                                                                   const SearchFields& fields, std::size_t limit,
                                                                   std::size_t* total) {
  KESTO_ASSERT_MAIN_THREAD();
  std::vector<std::shared_ptr<Bookmark>> found;
  std::size_t matched = 0;
  if (total) *total = 0;
  if (words.empty()) return found;
  prepare(data);
  std::vector<std::string> keys;
  for (const auto& w : words) keys.push_back(store::foldString(w, kFold));
  for (const auto& e : entries_) {
    bool all = true;
    for (const auto& k : keys) {
      bool any = (fields.title && contains(e.title, k)) || (fields.url && contains(e.url, k)) ||
                 (fields.notes && contains(e.notes, k)) || (fields.folders && contains(e.folder, k));
      if (!any && fields.tags)
        for (const auto& t : e.tags)
          if (t.find(k) != std::string::npos) {
            any = true;
            break;
          }
      if (!any) {
        all = false;
        break;
      }
    }
    if (!all) continue;
    ++matched;
    if (found.size() < limit) found.push_back(e.bookmark);
    else if (!total) break;
  }
  if (total) *total = matched;
  return found;
}

}  // namespace kesto
