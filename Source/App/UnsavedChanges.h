#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kesto {

// What Kesto holds in memory that the library did not take (a full disk, a read-only or damaged
// library), written where Kesto can bring it back before that memory goes (a quit, a library
// put in place of a damaged one). Main thread only.
class UnsavedChanges {
 public:
  // What was written, and what the files cannot bring back.
  struct Kept {
    // A backup of the library as Kesto holds it, every unsaved change in it (File > Restore
    // Library… brings it back); empty when none could be written (a damaged library, no room).
    std::string backup;
    // The new and changed bookmarks' titles and addresses, as a bookmark file; empty when none.
    std::string bookmarks;
    std::size_t bookmarkCount = 0;
    // Without the backup: the kinds of change the bookmark file does not hold ("notes", …).
    std::vector<std::string> missing;
    std::string backupFailure;  // why no backup was written, in words

    bool written() const { return !backup.empty() || !bookmarks.empty(); }
    // Every unsaved change is in a file.
    bool whole() const { return !backup.empty() || (!bookmarks.empty() && missing.empty()); }
    // Where each file is, what it holds, how to bring it back, and what is in no file.
    std::string message() const;
  };

  // Whether the main context holds changes the library has not taken.
  static bool any();
  // "2 new or changed bookmarks and other changes", for a question about them.
  static std::string summary();
  // Writes them: the backup to the first folder of exportFolders() that takes it, and the
  // bookmark file beside it (else to the first that takes it).
  static Kept keep();
  // Where they go, in order: beside the library, the documents folder, the home folder
  // (folders that take no files last).
  static std::vector<std::string> exportFolders();
};

}  // namespace kesto
