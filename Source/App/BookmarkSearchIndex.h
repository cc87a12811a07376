#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace kesto {

class Bookmark;
class DataManager;

// The fields a library search looks in.
struct SearchFields {
  bool title = true, url = true, notes = true, tags = true, folders = true;
};

// The library search while the user types: the live bookmarks in list order with their
// searchable texts folded once (case and diacritics), so a keystroke is a scan of prepared text
// rather than a store query. It answers what the store query of the same words would, and is
// rebuilt after any save, since a save may change any text or the order. Main thread only.
class BookmarkSearchIndex {
 public:
  BookmarkSearchIndex();
  ~BookmarkSearchIndex();
  BookmarkSearchIndex(const BookmarkSearchIndex&) = delete;
  BookmarkSearchIndex& operator=(const BookmarkSearchIndex&) = delete;

  // The first `limit` live bookmarks, in the list's folder order, in which every word matches
  // one of the chosen fields. No words match nothing. `total`, when given, receives the number
  // of all matches, also those beyond the limit.
  std::vector<std::shared_ptr<Bookmark>> search(DataManager& data, const std::vector<std::string>& words,
                                                const SearchFields& fields, std::size_t limit,
                                                std::size_t* total = nullptr);
  // Builds the index now when it is out of date (the first keystroke prepares it).
  void prepare(DataManager& data);
  void invalidate() { *stale_ = true; }

 private:
  struct Entry;
  std::vector<Entry> entries_;
  std::size_t librarySize_ = 0;
  const void* libraryFirst_ = nullptr;
  // Set from any thread that saves a context.
  std::shared_ptr<std::atomic<bool>> stale_;
};

}  // namespace kesto
