#pragma once

#include "Platform/Foundation/FoundationForward.h"
#include "Synchronize/SyncFile.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kesto {

class Bookmark;
class DataManager;
class Folder;

// Shared-folder archives: one folder with its subfolders and bookmarks carried by hand from one
// library to another. An archive is a folder "Name.kesto" holding "Contents/kesto.xml" (the
// shared-folder file, UTF-16 with a byte-order mark) and an empty "Contents/Resources".
// Importing adds copies: every folder and bookmark gets a fresh identifier and the top folder
// goes under the Imported folder. Archives are untrusted: identifiers are re-keyed in the
// parsed document only, never by text replacement, and cycles are broken after the merge.
// Sharing and importing take the engine's exclusive job slot, so neither runs beside a sync.
class SharedFolderArchive {
 public:
  static constexpr const char* kExtension = "kesto";
  static constexpr std::size_t kMaxDocumentBytes = 128u * 1024 * 1024;

  SharedFolderArchive();
  ~SharedFolderArchive();
  SharedFolderArchive(const SharedFolderArchive&) = delete;
  SharedFolderArchive& operator=(const SharedFolderArchive&) = delete;

  // Asked to reload the library after an import (may be null).
  void setDataManager(DataManager* dataManager);
  // Shows (true) or hides (false) the import panel.
  void setImportFolderSheet(std::function<void(bool visible)> sheet);

  // Writes the archive of `folder` into the temporary folder, named after the MD5 of
  // `savePath`, and answers its path; the caller copies it to `savePath` and tells the user
  // when that has worked. Every step is checked: a failure is shown and answers nothing. Saved
  // logins and passwords go in only with `includeCredentials` (an archive is handed to other
  // people); left out, their elements are written empty. Main thread.
  std::optional<std::string> shareBookmarksToPath(const std::shared_ptr<Folder>& folder, const std::string& savePath,
                                                  fnd::Error* error = nullptr, bool includeCredentials = false);
  // Whether a bookmark the archive of `folder` would carry has a saved login or password.
  bool holdsCredentials(const std::shared_ptr<Folder>& folder);
  // Writes the package for `xml` at `packagePath`.
  static bool writeToExportFolder(const std::string& xml, const std::string& packagePath, fnd::Error* error = nullptr);

  // Whether an import leaves out bookmarks whose address the library holds already (or that the
  // archive holds twice), as HTML imports do when the user asks.
  void setSkipDuplicates(bool skip);
  bool skipDuplicates() const;

  // Starts importing the archive at `path`; answers false (and does nothing) when the path does
  // not exist or another job runs. `completion` runs on the main thread with whether anything
  // was imported.
  bool importSharedFolderFromPath(const std::string& path, std::function<void(bool imported)> completion = {});

  // The shared-folder document of an archive, decoded by its byte-order mark; absent when it
  // cannot be read, with the reason in `refusal` when one is given. Links inside the package are
  // never followed: an archive is read only from what it holds itself.
  static std::optional<std::string> readArchiveDocument(const std::string& packagePath,
                                                        std::string* refusal = nullptr);
  // Gives every folder of the document a fresh identifier and moves the references (parents,
  // bookmarks' folders) with it. Folders whose parent is not in the document go under
  // "_imported"; bookmarks whose folder is not in it go to the top folder, which is made under
  // "_imported" and named `topName` when the archive has none.
  static void rekeyFolders(SyncDocument& document, const std::string& topName = "Untitled");

 private:
  // The folders an archive of `folder` carries (the folder first) and their bookmarks, each
  // once; absent when the store cannot be read.
  std::optional<std::vector<std::shared_ptr<Bookmark>>> sharedContents(const std::shared_ptr<Folder>& folder,
                                                                       std::vector<std::shared_ptr<Folder>>& folders);
  struct Impl;
  std::shared_ptr<Impl> d_;
};

}  // namespace kesto
