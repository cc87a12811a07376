#include "App/BookmarkSearchIndex.h"

#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/Folder.h"
#include "Model/Tag.h"
#include "Platform/Foundation/Assert.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Store/Predicate.h"
#include "Platform/Store/SaveNotification.h"

#include <algorithm>
#include <cstring>
#include <numeric>

namespace kesto {

namespace {
constexpr unsigned kFold = store::kCaseInsensitive | store::kDiacriticInsensitive;

// Below this share of the library, the candidates are tested one by one; above it, one pass
// over a column's buffer is cheaper.
constexpr std::size_t kScanShare = 8;

// The first occurrence of `key` in [from, to), or null.
const char* find(const char* from, const char* to, const std::string& key) {
  if (to <= from) return nullptr;
  return static_cast<const char*>(memmem(from, static_cast<std::size_t>(to - from), key.data(), key.size()));
}

// Every earlier word is inside one of the new words: whatever the new words match, the earlier
// ones matched too, so the earlier matches hold every new one.
bool narrows(const std::vector<std::string>& earlier, const std::vector<std::string>& now) {
  return std::all_of(earlier.begin(), earlier.end(), [&](const std::string& e) {
    return std::any_of(now.begin(), now.end(), [&](const std::string& n) { return n.find(e) != std::string::npos; });
  });
}
}  // namespace

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
  haveLast_ = false;
  std::vector<std::shared_ptr<Bookmark>> live;
  live.reserve(all.size());
  for (const auto& b : all)
    if (b && !b->isDeleted() && b->trashed() == 0 && b->blocked() == 0) live.push_back(b);
  sortBookmarks(live, data.folderSortDescriptors());
  for (auto& c : columns_) {
    c.text.clear();
    c.start.clear();
    c.start.reserve(live.size() + 1);
  }
  present_.assign(live.size(), 0);
  auto put = [&](int column, std::size_t entry, const std::optional<std::string>& text) {
    auto& c = columns_[column];
    c.start.push_back(c.text.size());
    if (text) {
      present_[entry] |= 1u << column;
      c.text += store::foldString(*text, kFold);
    }
    c.text += '\0';
  };
  for (std::size_t i = 0; i < live.size(); ++i) {
    const auto& b = live[i];
    put(kTitle, i, b->title());
    put(kURL, i, b->url());
    put(kNotes, i, b->notes());
    std::optional<std::string> folder;
    if (auto f = b->folder()) {
      auto name = f->name();
      if (!name.empty()) folder = std::move(name);
    }
    put(kFolder, i, folder);
    auto& tags = columns_[kTags];
    tags.start.push_back(tags.text.size());
    for (const auto& t : b->tags()) {
      if (!t) continue;
      present_[i] |= 1u << kTags;
      tags.text += store::foldString(t->name(), kFold);
      tags.text += '\0';
    }
    // An entry without tags still ends, so the next entry's tags start after a NUL.
    if (!(present_[i] & (1u << kTags))) tags.text += '\0';
  }
  for (auto& c : columns_) c.start.push_back(c.text.size());
  bookmarks_ = std::move(live);
}

void BookmarkSearchIndex::narrow(Positions& candidates, const std::string& key, unsigned mask) const {
  // A word folding to nothing is in every text there is.
  if (key.empty()) {
    std::erase_if(candidates, [&](std::uint32_t e) { return !(present_[e] & mask); });
    return;
  }
  // No stored text holds a NUL: such a word could only match across two texts.
  if (key.find('\0') != std::string::npos) {
    candidates.clear();
    return;
  }
  // Column by column, only the candidates no earlier column matched are looked at: a word
  // that is in nearly every title is then not looked for in every address as well.
  std::vector<std::uint8_t> hit(bookmarks_.size(), 0);
  Positions open = candidates;
  for (int column : {kTitle, kURL, kTags, kFolder, kNotes}) {
    if (open.empty()) break;
    if (!(mask & (1u << column))) continue;
    const auto& c = columns_[column];
    const char* base = c.text.data();
    if (open.size() * kScanShare < bookmarks_.size()) {
      for (std::uint32_t e : open)
        if ((present_[e] & (1u << column)) && find(base + c.start[e], base + c.start[e + 1], key)) hit[e] = 1;
    } else {
      // One pass over the column; the matches come in entry order, so the entry of each is
      // found by walking on from the last one.
      const char* end = base + c.text.size();
      const char* from = base;
      std::size_t e = 0;
      while (const char* at = find(from, end, key)) {
        const auto offset = static_cast<std::size_t>(at - base);
        while (c.start[e + 1] <= offset) ++e;
        hit[e] = 1;
        from = base + c.start[e + 1];
      }
    }
    std::erase_if(open, [&](std::uint32_t e) { return hit[e] != 0; });
  }
  std::erase_if(candidates, [&](std::uint32_t e) { return !hit[e]; });
}

std::vector<std::shared_ptr<Bookmark>> BookmarkSearchIndex::search(DataManager& data,
                                                                   const std::vector<std::string>& words,
                                                                   const SearchFields& fields, std::size_t limit,
                                                                   std::size_t* total) {
  KESTO_ASSERT_MAIN_THREAD();
  std::vector<std::shared_ptr<Bookmark>> found;
  if (total) *total = 0;
  if (words.empty()) return found;
  prepare(data);
  std::vector<std::string> keys;
  for (const auto& w : words) keys.push_back(store::foldString(w, kFold));
  const unsigned mask = (fields.title ? 1u << kTitle : 0) | (fields.url ? 1u << kURL : 0) |
                        (fields.notes ? 1u << kNotes : 0) | (fields.folders ? 1u << kFolder : 0) |
                        (fields.tags ? 1u << kTags : 0);
  Positions candidates;
  const bool fromLast = haveLast_ && mask == lastMask_ && narrows(lastKeys_, keys);
  if (fromLast) {
    candidates = lastMatches_;
  } else {
    candidates.resize(bookmarks_.size());
    std::iota(candidates.begin(), candidates.end(), 0u);
  }
  for (const auto& k : keys) {
    // The earlier matches already hold the words searched before.
    if (fromLast && std::find(lastKeys_.begin(), lastKeys_.end(), k) != lastKeys_.end()) continue;
    if (mask == 0) candidates.clear();
    if (candidates.empty()) break;
    narrow(candidates, k, mask);
  }
  for (std::size_t i = 0; i < candidates.size() && found.size() < limit; ++i) found.push_back(bookmarks_[candidates[i]]);
  if (total) *total = candidates.size();
  lastKeys_ = std::move(keys);
  lastMask_ = mask;
  lastMatches_ = std::move(candidates);
  haveLast_ = true;
  return found;
}

}  // namespace kesto
