#pragma once

#include "Synchronize/SyncFile.h"

#include <string>
#include <vector>

namespace kesto {

// Merges a parsed sync file or shared-folder file into a context. Call it on the context's queue;
// the context is saved at the end (a child context pushes into its parent in memory).
//
// In a sync, records match by identifier and an incoming record wins when its version is higher;
// on an equal version with different content the later updated date wins, then the larger library
// identifier, so two peers that edited the same version converge. From an archive every folder is
// copied and every bookmark added new. Deletions arrive as tombstones and are version-checked; the
// bookmarks of a deleted folder move to the Inbox, trashed, rather than vanish. Parent cycles are
// broken afterwards.
class SyncMerge {
 public:
  struct Options {
    bool isSync = true;
    // This library's identifier and the one of the incoming document (for the tie-break).
    std::string localKestoID;
    std::string remoteKestoID;
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
  };

  static Result processImport(const SyncDocument& document, const ContextRef& context, const Options& options);

  // Deletes the folder and its descendants (each once, whatever cycles the tree holds); their
  // bookmarks go to the Inbox, trashed, with a version bump. Answers how many folders went.
  static int deleteFolderDuringImport(const std::string& folderID, const ContextRef& context);
};

}  // namespace kesto
