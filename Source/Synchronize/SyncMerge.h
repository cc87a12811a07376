#pragma once

#include "Synchronize/SyncFile.h"
#include "Platform/Foundation/Error.h"

#include <string>
#include <vector>

namespace kesto {

// Merges a parsed sync file or shared-folder file into a context. Call it on the context's queue;
// the context is saved at the end (a child context pushes into its parent in memory).
//
// In a sync, records match by identifier and an incoming record wins when its version is higher.
// On an equal version with different content every library settles on the same record from
// what travels with it: the later updated date, compared in the file's whole seconds, then the
// larger synced content (the same content under a later date is taken too). From an archive every folder is copied and every bookmark added new.
// Bookmark tombstones are version-checked (an edit made after the deletion keeps the bookmark);
// a folder tombstone deletes the folder and everything below it whatever the versions, and the
// bookmarks inside move to the Inbox, trashed, keeping their versions. Parent cycles are broken
// afterwards.
class SyncMerge {
 public:
  struct Options {
    bool isSync = true;
    // Tombstones of this library, applied after the incoming records.
    std::vector<SyncTombstone> localTombstones;
    // Where cycles are re-parented: "root" in a sync, "_imported" for an archive.
    std::string cycleParent = "root";
  };

  struct Result {
    int bookmarksCreated = 0;
    int bookmarksUpdated = 0;
    int bookmarksDeleted = 0;
    int foldersDeleted = 0;
    int cyclesBroken = 0;
    bool saved = false;
    fnd::Error saveError;
    // One per folder a folder tombstone took away, so that libraries which still hold one of
    // them below another parent learn of the deletion too.
    std::vector<SyncTombstone> folderTombstones;
  };

  static Result processImport(const SyncDocument& document, const ContextRef& context, const Options& options);
  // Loads what a sync merge and the outgoing file read into `context` (every folder and
  // bookmark with its tags and services), so that it can run while the incoming file is read.
  static void preload(const ContextRef& context);

  // Deletes the folder and its descendants (each once, whatever cycles the tree holds; the
  // descendants also when the folder itself is not here); their bookmarks go to the Inbox,
  // trashed. Answers how many folders went.
  static int deleteFolderDuringImport(const std::string& folderID, const ContextRef& context);
};

}  // namespace kesto
