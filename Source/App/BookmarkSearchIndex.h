#pragma once

#include <array>
#include <atomic>
#include <cstdint>
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
//
// Each field's texts lie end to end in one buffer, so a word is looked for in one pass over
// the buffer instead of once per bookmark; a keystroke that only lengthens the words looks only
// among the previous matches.
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
  // One field of every entry: entry i's text is text[start[i], start[i + 1] - 1), each followed
  // by a NUL (stored texts hold no control characters, so no word runs from one into the next).
  // Tags of one entry are joined the same way.
  struct Column {
    std::string text;
    std::vector<std::size_t> start;
  };
  enum { kTitle, kURL, kNotes, kFolder, kTags, kColumns };
  using Positions = std::vector<std::uint32_t>;

  // Keeps the candidates in which `key` is in one of the columns of `mask`.
  void narrow(Positions& candidates, const std::string& key, unsigned mask) const;

  std::vector<std::shared_ptr<Bookmark>> bookmarks_;
  std::array<Column, kColumns> columns_;
  // Per entry, a bit per column whose text is there at all (an absent text matches no word,
  // not even one that folds to nothing).
  std::vector<std::uint8_t> present_;
  std::size_t librarySize_ = 0;
  const void* libraryFirst_ = nullptr;
  // The last search: its folded words, fields and every match, for the next keystroke.
  std::vector<std::string> lastKeys_;
  unsigned lastMask_ = 0;
  Positions lastMatches_;
  bool haveLast_ = false;
  // Set from any thread that saves a context.
  std::shared_ptr<std::atomic<bool>> stale_;
};

}  // namespace kesto
