#pragma once

#include "Model/BookmarkDummy.h"
#include "Model/FolderDummy.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace kesto::store {
class Context;
}

namespace kesto {

class DataManager;

// Reads a Netscape bookmark file (as browsers export it), or a Pocket / Read It Later or
// Instapaper reading-list export, and adds its folders, bookmarks and tags to the library under
// a new folder in the Imported folder. The parse and the store writes run on a thread of their
// own through a context confined to it; the views are refreshed on the main thread.
class HTMLImport {
 public:
  // What one parse collected.
  struct Parsed {
    std::vector<FolderDummy> folders;     // parents before children
    std::vector<BookmarkDummy> bookmarks; // document order
    std::vector<std::string> tags;        // each once, first-seen order
  };
  enum class FileKind { Netscape, Pocket, Instapaper };

  HTMLImport();
  ~HTMLImport();
  HTMLImport(const HTMLImport&) = delete;
  HTMLImport& operator=(const HTMLImport&) = delete;

  // Asked to reload the library when an import ends (may be null).
  void setDataManager(DataManager* dataManager);
  // Shows (true) or hides (false) the progress panel.
  void setImportFolderSheet(std::function<void(bool visible)> sheet);
  // Called on the main thread when an import has ended: true when it was written, false when
  // the file could not be read.
  void setCompletionHandler(std::function<void(bool imported)> completion);

  bool skipDuplicates() const;
  void setSkipDuplicates(bool skip);

  // Starts importing the file (main thread). Refused (false) while another import runs.
  bool importFromFile(const std::string& path);
  bool isImporting() const;
  // Identifier of the folder that receives the current or last import.
  std::string importRootFolderID() const;

  void openDialog();
  void closeDialog();

  // The parse on its own: the records a file yields under `rootFolderID`. URLs in `skipURLs`
  // (and repeats within the file) are left out when `skipDuplicates`. Absent when the bytes
  // are not a readable document.
  static std::optional<Parsed> parseDocument(std::string_view bytes, const std::string& rootFolderID,
                                             bool skipDuplicates, const std::unordered_set<std::string>& skipURLs,
                                             FileKind* kind = nullptr);
  // Writes parsed records through `context` (a context confined to the calling thread): the
  // folders, the tags not yet in the store, then the bookmarks, each step saved. False when a
  // save failed; what was saved before stays.
  static bool finalizeImport(const Parsed& parsed, const std::shared_ptr<store::Context>& context,
                             const std::string& rootFolderID);

 private:
  struct Impl;
  std::shared_ptr<Impl> d_;
};

}  // namespace kesto
