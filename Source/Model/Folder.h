#pragma once

#include "Model/WrenEntity.h"

namespace kesto {

class FolderDummy;

// A folder of the library. The tree is kept by identifiers: every folder names its parent in
// parentFolderID ("root" for a top-level folder).
class Folder : public Entity<Folder> {
 public:
  static const char* entityName() { return "Folder"; }
  static constexpr const char* kRootID = "root";
  static constexpr const char* kHomeID = "home";
  static constexpr const char* kLibraryID = "library";
  static constexpr const char* kInboxID = "_inbox";
  static constexpr const char* kImportedID = "_imported";

  // A new folder in the main context with a new identifier, parent "root" and the next order
  // index among its siblings.
  static Ref initEntity();
  // A detached folder carrying identifier, parent, order index, expansion and version.
  Ref copy() const;

  // The folder with that identifier, created (named after the identifier) when the store has
  // none; null for "root", "home" and "library", and null when the lookup failed (never a
  // duplicate made after a failed fetch).
  static Ref folderWithFolderID(const std::string& folderID, const ContextRef& context = nullptr);
  // The same lookup that never creates.
  static Ref existingFolderWithFolderID(const std::string& folderID, const ContextRef& context = nullptr);
  // A new folder with that identifier, named after it, without looking for one first; null for
  // "root", "home" and "library".
  static Ref newFolderWithFolderID(const std::string& folderID, const ContextRef& context = nullptr);
  static Ref inboxFolder();
  static Ref importedFolder();

  // Adds 1 to the version, except for the Inbox and the Imported folder.
  void incrementVersionNumber();
  // incrementVersionNumber, then saves the main context.
  bool saveFolder();

  // The largest order index among the folders with the same parent; 0 when none.
  std::int64_t lastOrderIndex() const;
  static List fetchFoldersOrderedByIndex();
  static List fetchFoldersOrderedByName();
  // Folders whose name contains the filter ([cd]) with their ancestors (expanded) and children;
  // matches not already listed are highlighted.
  static List fetchFoldersOrderedByIndexWithFilter(const std::string& filter);
  static List fetchFoldersOrderedByNameWithFilter(const std::string& filter);

  // The names from the top-level ancestor down to this folder joined by "/". Walks stop at
  // "root", at a missing parent and at a cycle.
  std::string completeFolderPath() const;
  // Ancestors, outermost first.
  List parentFolders() const;
  // Every descendant, depth first in order-index order; each folder once even with cycles.
  List subFolders() const;
  std::int64_t numberOfSiblings() const;

  // Creates or updates a folder from a transfer record (a sync file or a shared-folder archive),
  // then saves the context.
  static Ref importFolder(const FolderDummy& record, bool fromSync, const ContextRef& context = nullptr);
  // importFolder's update of this folder, without the lookup and the save: in a sync only a
  // higher version is taken.
  void takeRecord(const FolderDummy& record, bool fromSync);
  // Deletes every folder with an empty name. Their bookmarks move to the Inbox and their child
  // folders to the top level first, so nothing is orphaned.
  static void cleanRogueFolders();
  // Re-parents folders caught in a parent cycle (from a sync file or archive) to `newParent`.
  // Answers how many were moved.
  static int breakParentCycles(const std::string& newParent = kRootID, const ContextRef& context = nullptr);

  // "blocked", "folder_grey" or "folder_<colour>".
  std::string imageName();

  bool isHighlighted() const { return isHighlighted_; }
  void setIsHighlighted(bool v) { isHighlighted_ = v; }

  std::string folderID() const;
  void setFolderID(const std::string& v);
  std::string parentFolderID() const;
  void setParentFolderID(const std::string& v);
  std::string name() const;
  void setName(const std::string& v);
  std::int64_t orderIndex() const;
  void setOrderIndex(std::int64_t v);
  std::int64_t version() const;
  void setVersion(std::int64_t v);
  std::int64_t isExpanded() const;
  void setIsExpanded(std::int64_t v);
  bool isSmart() const;
  void setIsSmart(bool v);
  // Absent when no predicate is stored.
  std::optional<std::string> predicate() const;
  void setPredicate(const std::optional<std::string>& v);
  std::optional<std::string> color() const;
  void setColor(const std::optional<std::string>& v);
  std::int64_t blocked() const;
  void setBlocked(std::int64_t v);

 private:
  bool isHighlighted_ = false;
};

}  // namespace kesto
