#pragma once

#include "Model/BookmarkDummy.h"
#include "Model/FolderDummy.h"
#include "Model/StoredText.h"
#include "Platform/Store/StoreForward.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace kesto {

class DataManager;

// Reads a Netscape bookmark file (as browsers export it), or a Pocket / Read It Later or
// Instapaper reading-list export, and adds its folders, bookmarks and tags to the library under
// a new folder in the Imported folder. The file is read in one pass on a thread of its own and
// stored there in one transaction: an import is stored whole or not at all, a crash included.
// The views are refreshed once, on the main thread, when it is done.
class HTMLImport {
 public:
  // What one parse collected.
  struct Parsed {
    std::vector<FolderDummy> folders;     // parents before children
    std::vector<BookmarkDummy> bookmarks; // document order
    std::vector<std::string> tags;        // each once, first-seen order
    std::size_t flattenedFolders = 0;     // nested too deep, read into the deepest kept folder
    stored::LeftOutCounts leftOut;        // entries whose address was not taken, by reason
    std::size_t unread = 0;               // links of the file neither kept nor left out for a reason
  };
  enum class FileKind { Netscape, Pocket, Instapaper };

  // The folder that receives an import.
  struct ReceivingFolder {
    std::string folderID;
    std::string name;
    std::string parentFolderID;
    std::int64_t orderIndex = 1;
  };
  enum class Outcome { Imported, Unreadable, NotStored };
  struct Report {
    Outcome outcome = Outcome::Unreadable;
    std::size_t folders = 0, bookmarks = 0, flattenedFolders = 0;
    std::size_t alreadyHeld = 0, repeated = 0;  // skipped as duplicates
    stored::LeftOutCounts leftOut;
    std::size_t unread = 0;  // entries of the file that could not be read
    std::size_t notHandedOn = 0;  // of those, the ones the parser never reached (it stopped early)
    // Of those, the ones in an element or comment the file never closes (its name, lower case;
    // "#comment").
    std::size_t inUnendedText = 0;
    std::string unendedTextElement;
    std::vector<std::string> bookmarkIDs;  // unique identifiers of the stored bookmarks, in file order
    std::vector<std::int64_t> bookmarkKeys;  // their rows' keys in the store, in the same order
    std::string notStoredCause;  // why the store took nothing, in the user's words
  };

  HTMLImport();
  ~HTMLImport();
  HTMLImport(const HTMLImport&) = delete;
  HTMLImport& operator=(const HTMLImport&) = delete;

  // Asked to reload the library when an import ends (may be null).
  void setDataManager(DataManager* dataManager);
  // Shows (true) or hides (false) the progress panel.
  void setImportFolderSheet(std::function<void(bool visible)> sheet);
  // Called on the main thread when an import has ended: true when it was stored, false when
  // the file could not be read or stored.
  void setCompletionHandler(std::function<void(bool imported)> completion);

  bool skipDuplicates() const;
  void setSkipDuplicates(bool skip);

  // Starts importing the file (main thread). Refused (false) while another import runs.
  bool importFromFile(const std::string& path);
  bool isImporting() const;
  // Identifier of the folder that receives the current or last import.
  std::string importRootFolderID() const;
  // Unique identifiers of the bookmarks the last import stored, in file order (empty when it
  // stored nothing). Gathered while storing, so nothing is searched for them afterwards.
  const std::vector<std::string>& importedBookmarkIDs() const;

  void openDialog();
  void closeDialog();

  // The parse on its own: the records a file yields under `rootFolderID`. URLs in `skipURLs`
  // (and repeats within the file) are left out when `skipDuplicates`. Absent when the bytes
  // are not a readable document.
  static std::optional<Parsed> parseDocument(std::string_view bytes, const std::string& rootFolderID,
                                             bool skipDuplicates, const std::unordered_set<std::string>& skipURLs,
                                             FileKind* kind = nullptr);
  // Reads the file at `path` and stores it under a new folder `root`, through `context` (any
  // context of the store; used on the calling thread), in one transaction: all of it or, when
  // anything fails or the process dies, nothing. Reading and storing overlap on two threads.
  static Report importFile(const std::string& path, const ReceivingFolder& root, bool skipDuplicates,
                           const std::shared_ptr<store::Context>& context);

 private:
  struct Impl;
  std::shared_ptr<Impl> d_;
};

}  // namespace kesto
