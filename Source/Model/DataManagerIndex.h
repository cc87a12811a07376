#pragma once

#include "Platform/Store/Predicate.h"
#include "Platform/Store/StoreForward.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace kesto {

class Bookmark;
class Folder;

// Which bookmarks of the in-memory library each folder and each smart list holds, with the live
// count of every folder, kept from the changes instead of testing every bookmark for every list
// and badge. Objects reported changed are read again at the next question, so a question always
// answers as a test of every bookmark would. Answers follow the library's order. Main thread only.
class DataManagerIndex {
 public:
  using BookmarkRef = std::shared_ptr<Bookmark>;
  using BookmarkList = std::vector<BookmarkRef>;

  static bool accepts(const store::Predicate& predicate, const BookmarkRef& bookmark);

  // Takes the library in its order; each bookmark is read at the first question.
  void reset(const BookmarkList& library);
  // As the library's own additions: a bookmark already held moves to the end.
  void append(const BookmarkList& added);
  void remove(const BookmarkList& removed);
  // A bookmark, folder or online-service record may have changed: read again at the next
  // question (held until then, so a record dropped meanwhile is never read freed).
  void changed(const std::shared_ptr<store::ManagedObject>& object);
  // Goes up with every change reported or made: an answer computed at the same generation
  // still holds.
  std::uint64_t generation() const { return generation_; }
  // Reads up to `most` bookmarks not read yet, so a large library can be read a part at a time
  // between other work; true when nothing is left to read.
  bool readSome(std::size_t most);
  // Drops what was learnt for predicates (they are about to be replaced).
  void forgetPredicates() { matches_.clear(); }

  enum class Members { All, Live };
  // The bookmarks filed in the folder with that identifier.
  BookmarkList inFolder(const std::string& folderID, Members which);
  // The live bookmarks filed in any of the folders.
  BookmarkList liveInFolders(const std::unordered_set<std::string>& folderIDs);
  // The live bookmarks of each folder that holds any, by folder identifier.
  const std::unordered_map<std::string, std::int32_t>& liveCounts();
  std::size_t liveCount();
  BookmarkList live();
  // The held bookmarks of the set that are live, in library order.
  BookmarkList liveAmong(const std::unordered_set<const Bookmark*>& candidates);
  // The bookmarks the predicate accepts (at most `limit`); the predicate's answers are kept for
  // the next question as long as the predicate object lives here.
  BookmarkList matching(const store::PredicateRef& predicate, std::size_t limit = SIZE_MAX);
  std::size_t countMatching(const store::PredicateRef& predicate);

  // What was reported since `generation`, when that is known: only bookmarks (added, removed or
  // changed) and records that no folder list or smart list tests (`others`). Absent after a
  // reset, a folder or service change, or when the record does not go back that far.
  struct Changes {
    std::unordered_set<const Bookmark*> bookmarks;
    bool others = false;
  };
  std::optional<Changes> changesSince(std::uint64_t generation) const;
  // One held bookmark as the index knows it (null / false / absent when not held).
  BookmarkRef held(const Bookmark* bookmark);
  std::uint32_t orderOf(const Bookmark* bookmark) const;
  bool isLive(const Bookmark* bookmark);
  const std::string* folderIDOf(const Bookmark* bookmark);
  bool accepted(const store::PredicateRef& predicate, const Bookmark* bookmark);

 private:
  struct Slot {
    BookmarkRef bookmark;                  // null once removed
    const std::string* folderID = nullptr;  // in folderIDNames_, while inFolder
    bool inFolder = false, live = false, read = false;
  };
  struct Matches {
    store::PredicateRef predicate;
    std::vector<char> accepted;  // by slot
    std::size_t count = 0;
  };

  enum class Kind : std::uint8_t { Bookmark, Folder, Service, Other };
  struct Logged {
    std::uint64_t generation;
    const void* object;
    Kind kind;
  };
  void log(const void* object, Kind kind);
  const Slot* slotFor(const Bookmark* bookmark);
  void settle();
  // Turns the objects reported changed into the slots to read again.
  void takeChanged();
  void read(std::uint32_t slot);
  void drop(std::uint32_t slot);
  std::uint32_t add(const BookmarkRef& bookmark);
  Matches& matchesFor(const store::PredicateRef& predicate);
  BookmarkList inOrder(std::vector<std::uint32_t> slots) const;
  void compactIfSparse();

  // One text per folder identifier, shared by the slots of its bookmarks.
  const std::string* folderIDName(const std::string& id) { return &*folderIDNames_.insert(id).first; }
  std::unordered_set<std::string> folderIDNames_;
  std::vector<Slot> slots_;
  std::unordered_map<const Bookmark*, std::uint32_t> slotOf_;
  std::unordered_map<std::string, std::unordered_set<std::uint32_t>> members_;
  std::unordered_map<std::string, std::int32_t> liveCounts_;
  std::size_t live_ = 0, removed_ = 0;
  // The identifier each folder had when its bookmarks were read: a renamed identifier sends its
  // bookmarks to be read again.
  std::unordered_map<const Folder*, std::string> folderIDs_;
  std::unordered_set<std::uint32_t> withoutID_;
  std::unordered_map<const store::Predicate*, Matches> matches_;
  std::vector<std::uint32_t> unread_;
  std::unordered_map<const store::ManagedObject*, std::shared_ptr<store::ManagedObject>> changed_;
  std::uint64_t generation_ = 0;
  std::vector<Logged> log_;
  std::uint64_t logStart_ = 0;
};

}  // namespace kesto
