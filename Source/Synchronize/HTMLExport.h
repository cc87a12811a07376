#pragma once

#include <memory>
#include <string>
#include <vector>

namespace kesto {

class Bookmark;
class DataManager;
class Folder;

// Told how an export ended.
class HTMLExportDelegate {
 public:
  virtual ~HTMLExportDelegate() = default;
  // The file was written; `message` names it.
  virtual void exportSucces(const std::string& message) = 0;
  // The file could not be written. By default an alert says so.
  virtual void exportFailed(const std::string& message);
};

// Writes the library's folder tree, with each folder's bookmarks, as a Netscape bookmark file
// that browsers (and HTMLImport) read, on the calling (main) thread or, from a snapshot taken
// there, on a thread of its own. The file goes into a temporary file that replaces the target at
// the end, so a failure leaves what was there. Names, titles and URLs are escaped, so no
// value can break the file or run as markup. Trashed bookmarks are left out (importing the file
// must not bring them back), and so are locked folders unless the caller says the user unlocked
// them.
class HTMLExport {
 public:
  HTMLExport();
  ~HTMLExport();

  // Not owned.
  void setDelegate(HTMLExportDelegate* delegate);
  HTMLExportDelegate* delegate() const;
  // The library in memory (not owned; may be null): while it holds what the store holds, each
  // folder's bookmarks come from it instead of a fetch per folder.
  void setDataManager(DataManager* dataManager);

  // Whether locked folders (and the bookmarks in them) are written; false until set, after the
  // user has given the folders' password.
  void setIncludesLockedFolders(bool include);
  // How many locked folders the last export left out.
  std::size_t lockedFoldersLeftOut() const;

  // The whole tree (the folders whose parent is "root"), streamed into the file as it is made;
  // false when the file was not written.
  bool exportAllTofile(const std::string& path);
  // The same (main thread): the tree is taken now, as lines that share the library's texts, and
  // written on a thread of its own; the delegate is told on the main thread once the file is
  // written, while this exporter lives.
  void exportAllTofileInBackground(const std::string& path);
  // Whether a file is being written in the background.
  bool isExporting() const;
  // The program is quitting: a background export still under way is finished now, its file
  // written before this returns (the outcome goes to the log; the delegate is not told).
  void finishBeforeQuit();
  // Only `folder` and what lies below it.
  bool exportFolder(const std::shared_ptr<Folder>& folder, const std::string& path);
  // `bookmarks` alone, in one folder named `folderName` (what a library that cannot be saved
  // still holds in memory); false when the file was not written.
  bool exportBookmarks(const std::vector<std::shared_ptr<Bookmark>>& bookmarks, const std::string& folderName,
                       const std::string& path);
  // The file for one folder, not written.
  std::string exportToHTML(const std::shared_ptr<Folder>& folder);

  // The folder blocks of the listed folders, concatenated.
  std::string createHTMLByFolders(const std::vector<std::shared_ptr<Folder>>& folders);
  std::string createHTMLByFolder(const std::shared_ptr<Folder>& folder);
  void createExportStringInit();
  void createExportStringEnd();
  // Writes the text built so far, atomically as UTF-8, and tells the delegate (whole exports
  // stream their text and do not keep it).
  bool writeFile(const std::string& path);
  const std::string& exportString() const;

  // Text for element content ("&", "<", ">") and for attribute values (quotes too).
  static std::string escapeText(const std::string& text);
  static std::string escapeAttribute(const std::string& text);

 private:
  struct Impl;
  std::shared_ptr<Impl> d_;
};

}  // namespace kesto
