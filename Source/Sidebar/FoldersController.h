#pragma once

#include "Platform/Foundation/Lifetime.h"
#include "Platform/UI/Action.h"
#include "Platform/UI/Responder.h"
#include "Platform/UI/UIForward.h"
#include "Views/SourceListItemSource.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace kesto {

class DataManager;
class Folder;
class FolderPanels;
class Pathbar;
class PushButton;
class SharedFolderArchive;
class SourceList;
class TutorialPopovers;

// What the folder list needs of an online bookmark service ("delicious" or "pinboard"). Until
// the service clients register one, the rows say that connecting is not available.
class FolderServiceClient {
 public:
  virtual ~FolderServiceClient() = default;
  // Stores the account and starts the first import; false when the account was refused.
  virtual bool connect(const std::string& user, const std::string& password) = 0;
  // Reads the collection from the service again (when the last read is old enough).
  virtual void import() = 0;
  // The user asked for an update: read it whatever the time of the last read.
  virtual void manualImport() { import(); }
  // Whether a bookmark of the library with that address already carries the service's mark.
  virtual bool isAlreadyPresent(const std::string& url) = 0;
};
using FolderServiceClientFactory = std::function<std::unique_ptr<FolderServiceClient>(const std::string& service)>;
void registerFolderServiceClientFactory(FolderServiceClientFactory factory);

// The folder list of the sidebar: the Library row with the Inbox, the service rows, Imported and
// the user's folder tree. Selecting a row shows its bookmarks; the list adds, renames, removes,
// locks, shares, colours, searches, reorders and takes drops. Main thread only.
class FoldersController : public SourceListItemSource, public ui::ActionResponder {
 public:
  // Identifiers of the fixed rows.
  static constexpr const char* kLibraryItemID = "library";
  static constexpr const char* kHomeItemID = "home";
  static constexpr const char* kDeliciousItemID = "delicious";
  static constexpr const char* kPinboardItemID = "pinboard";
  // Drag texts of the list and of the bookmark list.
  static constexpr const char* kFolderDragPrefix = "folder:";
  static constexpr const char* kBookmarkDragPrefix = "bm:";
  static constexpr const char* kInvalidDragText = "invalid:DragItem";
  // The six colour words of the colour labels, in menu order.
  static const std::vector<std::string>& colorNames();

  FoldersController();
  ~FoldersController() override;
  FoldersController(const FoldersController&) = delete;
  FoldersController& operator=(const FoldersController&) = delete;

  // Outlets.
  void setDataManager(DataManager* dataManager) { kestoData_ = dataManager; }
  DataManager* dataManager() const { return kestoData_; }
  void setWindow(ui::Window* window) { window_ = window; }
  // The path bar above the bookmark list (may be none).
  void setPathbar(Pathbar* pathbar);
  // The first-use popovers of the fixed rows (none when null).
  void setTutorials(TutorialPopovers* tutorials) { tutorials_ = tutorials; }
  std::shared_ptr<ui::View> view() const { return view_; }
  std::shared_ptr<SourceList> sourceList() const { return list_; }
  std::shared_ptr<ui::SearchField> searchField() const { return searchField_; }
  std::shared_ptr<ui::View> searchView() const { return searchView_; }
  std::shared_ptr<ui::Label> occurrencesLabel() const { return occurrencesLabel_; }
  std::shared_ptr<PushButton> addButton() const { return addButton_; }
  std::shared_ptr<ui::PopUpButton> sortButton() const { return sortButton_; }
  FolderPanels& panels() const { return *panels_; }

  // Start-up: observers, the Inbox and Imported folders, the sort mode. The first tree comes
  // with the library's first load.
  void awakeFromNib();
  void createInboxAtFirstLaunch();
  void fixInboxedFolders();

  // Sort mode: index 1 of the pop-up is the manual order.
  void toggleFolderSorting(int selectedIndex);
  bool isUserSorted() const { return isUserSorted_; }

  // Tree building and refresh.
  void loadFolders();
  void reloadFolders(const std::string& parentFolderID);
  // Rows for folders that were added while nothing else changed among the folders (an import's),
  // put in beside the rows there are, under the Imported row or a folder's; false when that
  // cannot be done so (a search filters the rows, a parent has no row, the rows are behind the
  // library) and the tree must be built again.
  bool addFolderRows(const std::vector<std::shared_ptr<Folder>>& added);
  void updateViewCompletely();
  void updateView();
  void loadBadges();

  // Selection.
  void sourceListSelectionDidChange(const fnd::Notification& notification) override;
  void updateSelection();
  void selectFolderView();
  void selectInboxView();
  void selectLibraryView();
  void selectFolderWithID(const std::string& folderID);
  // The identifier of the selected row; empty when none.
  std::string selectedIdentifier() const;

  // Folder search: one step with the field's text (the same text again goes to the next match).
  void find();
  void search();
  void clearSearch();

  // Adding and removing.
  void addBookmark();
  void addFolder();
  // Answers the new folder; none when it could not be saved (the failure is shown).
  std::shared_ptr<Folder> doAddNewFolderIsSmart(bool isSmart);
  // Asks for the text a smart folder's bookmarks must contain, then adds it.
  void addSmartFolder();
  // Makes a smart folder for bookmarks whose title, address or notes contain `text`.
  std::shared_ptr<Folder> addSmartFolderMatching(const std::string& text);
  void removeFolder();
  void deleteFolderWithID(const std::string& folderID);
  // Removes the folder with its subfolders as one undoable step; their bookmarks go to the
  // Inbox's trash and one tombstone is kept for the folder. False when nothing was removed.
  bool doRemoveFolder(const std::string& folderID);

  // Locking: the panels ask for the library's password; the folder is the one selected when
  // the panel was opened.
  void lockFolder();
  void unlockFolder();
  void createPassword();
  // The new-password panel's button: answers whether a password was saved.
  bool saveNewPassword();
  // The password panel's button: answers whether the password was right.
  bool confirmPassword();
  void blockFolderAndSubfoldersWithFolderID(const std::string& folderID, bool shouldBlock);

  // Save/Share as an archive, through a save panel; a folder holding saved logins or passwords
  // asks first whether they go in.
  void shareFolder();
  // Writes the archive of the folder to `path`, replacing what is there only once the new one
  // is complete; the outcome is shown. Answers whether it was written. Saved logins and
  // passwords go in only with `includeCredentials`.
  bool shareFolderToPath(const std::string& folderID, const std::string& path, bool includeCredentials = false);

  // Context menu and its actions.
  bool sourceListMenuForEventItem(SourceList& list, const ui::Event& event, SourceListItemPtr item) override;
  std::shared_ptr<ui::Menu> menuForItem(SourceListItem* item);
  void changeFolderColor(const std::string& color);
  void emptyTrash();
  void doEmptyTrash();
  void fetchMissingImagesInCurrentFolder();

  // Online-service rows.
  // The service's account panel; answers false (after saying so, without waiting for the user)
  // when this build cannot connect to the service.
  bool showServicePanel(const std::string& service);
  void readFromService(const std::string& service, bool manual = false);
  void disconnectFromService(const std::string& service);

  // Expansion and the path bar.
  void expandImported();
  void pathbarAction(int index);
  void clearPathBar();
  // While results come from the whole library the path bar shows no folder; a search in the
  // current list, or choosing a row, shows the folder's path again.
  void setLibraryWideSearch(bool on);

  // Drag and drop.
  bool sourceListWriteItemsToPasteboard(SourceList& list, const std::vector<SourceListItemPtr>& items,
                                        ui::DragPayload& pasteboard) override;
  std::uint64_t sourceListValidateDropProposedItemProposedChildIndex(SourceList& list, const ui::OutlineDraggingInfo& info,
                                                                     SourceListItemPtr proposedItem,
                                                                     long proposedChildIndex) override;
  bool sourceListAcceptDropItemChildIndex(SourceList& list, const ui::OutlineDraggingInfo& info, SourceListItemPtr item,
                                          long childIndex) override;
  // The drop itself, by target identifier (also for callers without a list).
  bool acceptDrop(const std::string& text, const std::string& targetID, long childIndex, bool copy);
  // Places the folder among the children of `target` (none: the top level) at the list's child
  // index (-1: first), renumbering the siblings from 1.
  void reorderFoldersWithDraggedFolder(const std::shared_ptr<Folder>& dragged, const std::shared_ptr<Folder>& target,
                                       long toIndex);

  // Source list answers.
  unsigned implementedSourceListDataSourceMethods() const override;
  unsigned implementedSourceListDelegateMethods() const override;
  void sourceListSetObjectValueForItem(SourceList& list, const fnd::Value& value, SourceListItemPtr item) override;
  bool sourceListIsGroupAlwaysExpanded(SourceList& list, SourceListItemPtr group) override;
  bool sourceListShouldEditItem(SourceList& list, SourceListItemPtr item) override;
  bool sourceListShouldExpandItem(SourceList& list, SourceListItemPtr item) override;
  void sourceListItemDidExpand(const fnd::Notification& notification) override;
  void sourceListItemDidCollapse(const fnd::Notification& notification) override;
  void sourceListDeleteKeyPressedOnRows(const fnd::Notification& notification) override;
  void sourceListWillDisplayCellForItem(SourceList& list, ui::TextCell& cell, SourceListItemPtr item) override;
  // Renames the folder of a row as one undoable step; a blank name is refused. Answers whether
  // the name was stored.
  bool renameFolder(const std::string& folderID, const std::string& name);

  // Adds the folder entries to the application's File menu.
  void addMenuItems(ui::Menu& fileMenu);

  // State the tests and the other lists read.
  SourceListItem* homeItem() const { return homeItem_.get(); }
  SourceListItem* inboxItem() const { return inboxItem_.get(); }
  SourceListItem* importedItem() const { return importedItem_.get(); }
  SourceListItem* itemForFolderID(const std::string& folderID) const;
  std::int32_t currentlySelectedFolderIndex() const { return currentlySelectedFolderIndex_; }
  const std::string& firstFoundFolderID() const { return firstFoundFolderID_; }

 protected:
  // The folder list's commands ("newFolder:", "undo:", ...) for its menus and key equivalents,
  // with the File menu's titles and keys for the three it adds there.
  void addActions(ui::ActionSet& set) override;

 private:
  friend class FolderPanels;
  void buildView();
  void observe();
  SourceListItemRef makeFolderItem(Folder& folder, const std::unordered_map<std::string, std::int32_t>& counts);
  SourceListItemRef itemForRowID(const std::string& id) const;
  std::vector<SourceListItemRef> fixedRows() const;
  void centreRow(long row);
  // Opens the rows of the folder's ancestors and stores them open (and the folder, when asked).
  void revealFolder(Folder& folder, bool storeItselfOpen);
  std::int32_t serviceCount(const std::string& service) const;
  void selectItem(SourceListItem* item);
  void scheduleSelectionUpdate();
  std::shared_ptr<Folder> selectedFolder() const;
  bool isFixedRow(const std::string& id) const;
  void showError(const std::string& message, const std::string& detail);
  bool save(const std::string& what);
  void reloadAfterUndo();
  void adjustBadgesAfterDragging();
  bool folderDrop(const std::vector<std::string>& lines, const std::string& targetID, long childIndex);
  bool bookmarkDrop(const std::vector<std::string>& lines, const std::string& targetID, bool copy);
  bool newFolderDrop(const std::vector<std::string>& lines);
  bool serviceDrop(const std::vector<std::string>& lines, const std::string& service, bool copy);
  void updatePathbar();
  void openTutorialForRow(const std::string& id, long row);
  TutorialPopovers* tutorials_ = nullptr;

  DataManager* kestoData_ = nullptr;
  ui::Window* window_ = nullptr;
  Pathbar* pathbar_ = nullptr;
  bool libraryWideSearch_ = false;
  std::shared_ptr<ui::View> view_, searchView_;
  std::shared_ptr<SourceList> list_;
  std::shared_ptr<ui::SearchField> searchField_;
  std::shared_ptr<ui::Label> occurrencesLabel_;
  std::shared_ptr<PushButton> addButton_;
  std::shared_ptr<ui::PopUpButton> sortButton_;
  std::unique_ptr<FolderPanels> panels_;
  std::unique_ptr<SharedFolderArchive> archive_;
  SharedFolderArchive& sharedFolderArchive();
  void chooseSharePath(const std::string& folderID, const std::string& name, bool includeCredentials);
  std::shared_ptr<ui::Menu> contextMenu_;
  std::unique_ptr<ui::Menu> addMenu_;

  SourceListItemRef libraryItem_, homeItem_, inboxItem_, deliciousItem_, pinboardItem_, importedItem_;
  std::vector<SourceListItemRef> sourceListFolders_;
  const std::vector<SourceListItemRef>& topLevelSourceListItems() const override { return sourceListFolders_; }
  std::unordered_map<std::string, SourceListItemRef> folderSourceListItems_;
  std::vector<SourceListItemRef> expandedItems_;
  // Locked folders show no badge.
  std::unordered_set<std::string> lockedFolders_;
  bool isUserSorted_ = true;
  // While the rows are rebuilt and their expansion restored: an expansion then is no choice of a
  // list (updateView selects and loads the list once, after it).
  bool rebuildingRows_ = false;
  bool observing_ = false;
  std::string searchString_, lastUsedSearchString_, firstFoundFolderID_, lastSelectedIdentifier_;
  int sameSearchCount_ = 0;
  bool isSearching_ = false;
  std::int32_t currentlySelectedFolderIndex_ = 0;
  // The folder a password panel serves, captured when it opened.
  std::string lockingFolderID_;
  // Locks or unlocks that folder, once.
  void applyLockToChosenFolder();
  bool isLocking_ = false;
  fnd::Lifetime lifetime_{fnd::Lifetime::Affinity::MainThread};
};

}  // namespace kesto
