#include "Sidebar/FoldersController.h"

#include "Sidebar/SidebarCommands.h"
#include "Sidebar/TutorialPopovers.h"

#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/Folder.h"
#include "Model/Service.h"
#include "Model/StringAdditions.h"
#include "Model/ViewUpdater.h"
#include "Model/WrenDataManager.h"
#include "Platform/Foundation/Assert.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/RunLoop.h"
#include "Platform/Foundation/ScopedFlag.h"
#include "Platform/Foundation/Strings.h"
#include "Platform/Foundation/UndoManager.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Store/Context.h"
#include "Platform/UI/Alert.h"
#include "Platform/UI/Button.h"
#include "Platform/UI/Label.h"
#include "Platform/UI/Menu.h"
#include "Platform/UI/PopUpButton.h"
#include "Platform/UI/SearchField.h"
#include "Platform/UI/Window.h"
#include "Sidebar/CountLabel.h"
#include "Sidebar/FolderPanels.h"
#include "Sidebar/ListLifetime.h"
#include "Sidebar/SidebarKeys.h"
#include "Sidebar/ViewManager.h"
#include "Synchronize/SharedFolderArchive.h"
#include "Views/ImageNamed.h"
#include "Views/Pathbar.h"
#include "Views/PushButton.h"
#include "Views/SourceList.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <unordered_set>

namespace kesto {

namespace {

constexpr double kSearchHeight = 58;

bool userDefaultsNamesFolders() {
  auto shown = fnd::UserDefaults::standard().stringForKey(SelectedView);
  return !shown || *shown == SelectedLibraryView;
}

bool preference(const char* key) { return fnd::UserDefaults::standard().boolForKey(key); }

// What the list writes to keep itself in order (positions renumbered on a load, which rows are
// open, a name for a nameless folder) is no step of the user's. Recorded, it would come between
// the user and the change Edit > Undo names: after a load (a tab chosen again, a sync, an import)
// Undo would take back a renumbering and leave a deleted folder deleted.
class UnrecordedChanges {
 public:
  UnrecordedChanges() {
    auto context = WrenEntity::defaultContext();
    undo_ = context ? context->undoManager() : nullptr;
    if (undo_) undo_->disableUndoRegistration();
  }
  ~UnrecordedChanges() {
    if (undo_) undo_->enableUndoRegistration();
  }
  UnrecordedChanges(const UnrecordedChanges&) = delete;
  UnrecordedChanges& operator=(const UnrecordedChanges&) = delete;

 private:
  fnd::UndoManager* undo_ = nullptr;
};

}  // namespace

const std::vector<std::string>& FoldersController::colorNames() {
  static const std::vector<std::string> names{"blue", "red", "green", "grey", "yellow", "orange"};
  return names;
}

FoldersController::FoldersController() {
  KESTO_ASSERT_MAIN_THREAD();
  panels_ = std::make_unique<FolderPanels>();
  panels_->setConfirmPassword([this] { return confirmPassword(); });
  panels_->setSaveNewPassword([this] { return saveNewPassword(); });
  panels_->setCreateSmartFolder([this] { return addSmartFolderMatching(panels_->smartFolderField().stringValue()) != nullptr; });
  buildView();
  libraryItem_ = SourceListItem::itemWithTitle("", kLibraryItemID);
  homeItem_ = SourceListItem::itemWithTitle("Library", kHomeItemID, imageNamed("folder_library"));
  inboxItem_ = SourceListItem::itemWithTitle("Inbox", Folder::kInboxID, imageNamed("folder_inbox"));
  deliciousItem_ = SourceListItem::itemWithTitle("Delicious", kDeliciousItemID, imageNamed("delicious_folders"));
  pinboardItem_ = SourceListItem::itemWithTitle("Pinboard", kPinboardItemID, imageNamed("pinboard_folders"));
  importedItem_ = SourceListItem::itemWithTitle("Imported", Folder::kImportedID, imageNamed("folder_import"));
}

FoldersController::~FoldersController() {
  endListController(this, lifetime_, list_.get());
  if (list_) list_->setNextResponder(nullptr);
  if (pathbar_) pathbar_->setTarget(nullptr);
}

void FoldersController::buildView() {
  const double w = 220, h = 600;
  view_ = std::make_shared<ui::View>(fnd::Rect(0, 0, w, h));
  view_->setBackgroundColor(ui::Color::white(0.93));

  // Above the list: the folder search, then new folder, new smart folder and the order.
  searchView_ = std::make_shared<ui::View>(fnd::Rect(0, h - kSearchHeight, w, kSearchHeight));
  searchView_->setAutoresizingMask(ui::View::WidthSizable | ui::View::MinYMargin);
  searchField_ = std::make_shared<ui::SearchField>(fnd::Rect(6, 32, w - 76, 22));
  searchField_->setPlaceholderString("Find folder");
  searchField_->setAutoresizingMask(ui::View::WidthSizable);
  searchField_->setAction([this] { search(); });
  searchView_->addSubview(searchField_);
  occurrencesLabel_ = makeCountLabel(fnd::Rect(w - 68, 35, 64, 16));
  occurrencesLabel_->setAutoresizingMask(ui::View::MinXMargin);
  searchView_->addSubview(occurrencesLabel_);
  addButton_ = PushButton::addImageButton(*searchView_, fnd::Rect(6, 3, 30, 24), "toolbar_add", "New folder");
  addButton_->setAction([this] { addFolder(); });
  PushButton::addImageButton(*searchView_, fnd::Rect(38, 3, 30, 24), "folder_smart", "New smart folder")
      ->setAction([this] { addSmartFolder(); });
  sortButton_ = std::make_shared<ui::PopUpButton>(fnd::Rect(w - 124, 3, 118, 24));
  sortButton_->setAutoresizingMask(ui::View::MinXMargin);
  sortButton_->addItemWithTitle("Sort A-Z");
  sortButton_->addItemWithTitle("Manual Order");
  sortButton_->setToolTip("Order of the folders");
  sortButton_->setAction([this] { toggleFolderSorting(sortButton_->indexOfSelectedItem()); });
  searchView_->addSubview(sortButton_);
  view_->addSubview(searchView_);

  list_ = std::make_shared<SourceList>(fnd::Rect(0, 0, w, h - kSearchHeight));
  list_->setAutoresizingMask(ui::View::WidthSizable | ui::View::HeightSizable);
  list_->setIndentationPerLevel(12);
  list_->setAllowsEmptySelection(false);
  view_->addSubview(list_);
}

void FoldersController::setPathbar(Pathbar* pathbar) {
  if (pathbar_) pathbar_->setTarget(nullptr);
  pathbar_ = pathbar;
  if (pathbar_) {
    pathbar_->setTarget(this);
    pathbar_->setAction(cmd::pathbarAction);
  }
}

// ---- Start-up --------------------------------------------------------------------------------

void FoldersController::observe() {
  if (observing_) return;
  observing_ = true;
  auto& center = fnd::NotificationCenter::defaultCenter();
  center.addObserver(this, [this](const fnd::Notification&) { updateView(); }, BRWUpdateFoldersViewNotification);
  center.addObserver(this, [this](const fnd::Notification& n) {
    // Folders only added (an import's) get their rows beside the others: the tree is not built
    // again around them.
    const auto added = ViewUpdater::addedFolders(n);
    if (!added.empty() && addFolderRows(added)) updateView();
    else updateViewCompletely();
  }, BRWUpdateFoldersCompletelyViewNotification);
  center.addObserver(this, [this](const fnd::Notification&) { selectLibraryView(); }, BRWSelectLibraryFolderNotification);
  center.addObserver(this, [this](const fnd::Notification&) { selectInboxView(); }, BRWSelectInboxFolderNotification);
  center.addObserver(this, [this](const fnd::Notification&) { expandImported(); }, BRWExpandImportedFolderNotification);
  center.addObserver(this, [this](const fnd::Notification&) { clearPathBar(); }, BRWClearPathBar);
  center.addObserver(this, [this](const fnd::Notification&) { loadBadges(); }, UpdateFolderBadgesNotification);
  center.addObserver(this, [this](const fnd::Notification&) { updatePathbar(); }, BRWUpdateBookmarksAndResetViewNotification);
}

void FoldersController::awakeFromNib() {
  KESTO_ASSERT_MAIN_THREAD();
  observe();
  fixInboxedFolders();
  list_->setDataSource(this);
  list_->setDelegate(this);
  endSearchOnClickInShownRow(*list_, kestoData_, [this] { updateSelection(); });
  // Actions of the menus reach the controller while the list has the focus.
  list_->setNextResponder(this);
  setNextResponder(view_.get());
  expandedItems_.clear();
  folderSourceListItems_.clear();
  searchString_.clear();
  createInboxAtFirstLaunch();
  lastUsedSearchString_.clear();
  firstFoundFolderID_.clear();
  sameSearchCount_ = 0;
  auto& defaults = fnd::UserDefaults::standard();
  isUserSorted_ = defaults.hasValueForKey(kFoldersUserSortedKey) ? defaults.boolForKey(kFoldersUserSortedKey) : true;
  sortButton_->selectItemAtIndex(isUserSorted_ ? 1 : 0);
  isSearching_ = false;
  lastSelectedIdentifier_.clear();
}

void FoldersController::createInboxAtFirstLaunch() {
  struct Fixed {
    const char* id;
    const char* name;
  };
  // Both are saved together: each save of a new folder waits for the disk twice, and this runs
  // before the window's first frame.
  bool changed = false, made = false;
  for (Fixed fixed : {Fixed{Folder::kInboxID, "Inbox"}, Fixed{Folder::kImportedID, "Imported"}}) {
    auto found = Folder::fetchEntitiesWhereProperty("folderID", fixed.id);
    // A failed look-up is not "missing": a second Inbox would follow.
    if (!found) continue;
    if (!found->empty()) {
      // One made on the fly by a look-up carries its identifier as name and no parent.
      auto& existing = found->front();
      if (existing->parentFolderID().empty() || existing->name() == fixed.id) {
        existing->setParentFolderID(Folder::kRootID);
        existing->setName(fixed.name);
        changed = true;
      }
      continue;
    }
    auto folder = Folder::initEntity();
    if (!folder) continue;
    folder->setName(fixed.name);
    folder->setFolderID(fixed.id);
    made = true;
  }
  if (made && !WrenEntity::saveContext())
    showError("The folder could not be saved", "Kesto could not create the Inbox and Imported folders.");
  else if (changed && !made)
    save("The folder could not be saved");
}

void FoldersController::fixInboxedFolders() {
  auto inboxed = Folder::fetchEntitiesWhereProperty("parentFolderID", Folder::kInboxID).value_or(Folder::List{});
  if (inboxed.empty()) return;
  for (auto& f : inboxed) {
    f->setParentFolderID(Folder::kRootID);
    f->incrementVersionNumber();
  }
  save("The folders could not be saved");
}

void FoldersController::toggleFolderSorting(int selectedIndex) {
  isUserSorted_ = selectedIndex == 1;
  auto& defaults = fnd::UserDefaults::standard();
  defaults.setBool(isUserSorted_, kFoldersUserSortedKey);
  defaults.synchronize();
  sortButton_->selectItemAtIndex(isUserSorted_ ? 1 : 0);
  updateViewCompletely();
}

// ---- Tree ------------------------------------------------------------------------------------

SourceListItemRef FoldersController::makeFolderItem(Folder& folder,
                                                    const std::unordered_map<std::string, std::int32_t>& counts) {
  auto item = SourceListItem::itemWithTitle(folder.name(), folder.folderID(), imageNamed(folder.imageName()));
  if (folder.blocked() > 0) lockedFolders_.insert(folder.folderID());
  if (folder.blocked() < 1) {
    auto it = counts.find(folder.folderID());
    if (it != counts.end() && it->second > 0) item->setBadgeValue(it->second);
  }
  folderSourceListItems_[folder.folderID()] = item;
  if (folder.isExpanded() > 0) expandedItems_.push_back(item);
  return item;
}

std::vector<SourceListItemRef> FoldersController::fixedRows() const {
  std::vector<SourceListItemRef> rows{inboxItem_};
  if (!preference("disableDelicious")) rows.push_back(deliciousItem_);
  if (!preference("disablePinboard")) rows.push_back(pinboardItem_);
  rows.push_back(importedItem_);
  return rows;
}

namespace {
// Marks the rows as being rebuilt for as long as it lives (a nested rebuild keeps the mark).
using RebuildingRows = fnd::ScopedFlag;
}  // namespace

void FoldersController::loadFolders() {
  KESTO_ASSERT_MAIN_THREAD();
  const RebuildingRows rebuilding(rebuildingRows_);
  const UnrecordedChanges bookkeeping;
  firstFoundFolderID_.clear();
  // Folders without a name have no row; their children and bookmarks are kept (moved to the
  // top level and the Inbox) before they go.
  Folder::cleanRogueFolders();
  auto nameless = Folder::fetchEntitiesWhereProperty("name", fnd::Value()).value_or(Folder::List{});
  if (!nameless.empty()) {
    for (auto& f : nameless) f->setName(f->folderID() == Folder::kInboxID ? "Inbox" : "Untitled");
  }

  auto folders = isUserSorted_ ? Folder::fetchFoldersOrderedByIndex() : Folder::fetchFoldersOrderedByName();
  std::unordered_map<std::string, std::vector<Folder*>> children;
  children.reserve(folders.size());
  for (auto& f : folders) children[f->parentFolderID()].push_back(f.get());

  const auto counts = kestoData_ ? kestoData_->numberOfBookmarksInFolders() : std::unordered_map<std::string, std::int32_t>{};
  folderSourceListItems_.clear();
  expandedItems_.clear();
  lockedFolders_.clear();
  const bool renumber = searchString_.empty() && isUserSorted_;
  auto setIndex = [](Folder& f, std::int64_t index) {
    if (f.orderIndex() != index) f.setOrderIndex(index);
  };

  // Depth first with an explicit stack; a folder is placed once even when parents loop.
  std::unordered_set<std::string> placed{Folder::kInboxID, Folder::kImportedID};
  std::function<void(SourceListItem&, const std::string&)> addChildren = [&](SourceListItem& parent,
                                                                           const std::string& id) {
    auto it = children.find(id);
    if (it == children.end()) return;
    std::vector<SourceListItemRef> list;
    std::int64_t k = 0;
    for (Folder* c : it->second) {
      if (!placed.insert(c->folderID()).second) continue;
      auto item = makeFolderItem(*c, counts);
      if (renumber) setIndex(*c, k);
      addChildren(*item, c->folderID());
      list.push_back(item);
      ++k;
    }
    parent.setChildren(list);
  };

  std::vector<SourceListItemRef> library = fixedRows(), imported;
  std::int64_t n = 1;
  for (auto& f : folders) {
    const std::string id = f->folderID();
    if (id == Folder::kInboxID || id == Folder::kImportedID) {
      if (isUserSorted_) setIndex(*f, 0);
      continue;
    }
    const std::string parent = f->parentFolderID();
    if (parent != Folder::kRootID && parent != Folder::kImportedID) continue;
    if (!placed.insert(id).second) continue;
    auto item = makeFolderItem(*f, counts);
    if (renumber) setIndex(*f, n);
    addChildren(*item, id);
    (parent == Folder::kImportedID ? imported : library).push_back(item);
    ++n;
  }

  sourceListFolders_ = {libraryItem_};
  homeItem_->setChildren(library);
  importedItem_->setChildren(imported);
  libraryItem_->setChildren({homeItem_});
  list_->reloadData();
  list_->expandItem(homeItem_.get());
  auto importedFolder = Folder::existingFolderWithFolderID(Folder::kImportedID);
  if (importedFolder && importedFolder->isExpanded() > 0) list_->expandItem(importedItem_.get());
  save("The folder order could not be saved");
}

void FoldersController::reloadFolders(const std::string& parentFolderID) {
  std::vector<store::SortDescriptor> sorts{store::SortDescriptor("orderIndex", true)};
  auto folders = Folder::fetchEntitiesWithPredicate(store::Predicate::parse("parentFolderID == %@", {parentFolderID}),
                                                    &sorts)
                     .value_or(Folder::List{});
  std::vector<SourceListItemRef> list;
  const auto counts = kestoData_ ? kestoData_->numberOfBookmarksInFolders() : std::unordered_map<std::string, std::int32_t>{};
  if (parentFolderID == Folder::kRootID) list = fixedRows();
  if (parentFolderID == Folder::kImportedID) {
    // Imported's children are the folders filed there.
    std::vector<SourceListItemRef> imported;
    for (auto& f : folders) {
      auto it = folderSourceListItems_.find(f->folderID());
      auto item = it != folderSourceListItems_.end() ? it->second : makeFolderItem(*f, counts);
      imported.push_back(item);
    }
    importedItem_->setChildren(imported);
  }
  // Siblings are numbered from 1 among the folders only: the fixed rows are no positions.
  std::int64_t n = 0;
  std::vector<SourceListItemRef> folderItems;
  for (auto& f : folders) {
    const std::string id = f->folderID();
    if (id == Folder::kInboxID || id == Folder::kImportedID) continue;
    auto it = folderSourceListItems_.find(id);
    SourceListItemRef item = it != folderSourceListItems_.end() ? it->second : makeFolderItem(*f, counts);
    item->setTitle(f->name());
    item->setIcon(imageNamed(f->imageName()));
    folderItems.push_back(item);
    ++n;
    if (f->orderIndex() != n) f->setOrderIndex(n);
  }
  if (parentFolderID == Folder::kRootID) {
    list.insert(list.end(), folderItems.begin(), folderItems.end());
    homeItem_->setChildren(list);
  } else if (parentFolderID == Folder::kImportedID) {
    importedItem_->setChildren(folderItems);
  } else if (auto it = folderSourceListItems_.find(parentFolderID); it != folderSourceListItems_.end()) {
    it->second->setChildren(folderItems);
  }
  save("The folder order could not be saved");
  list_->reloadData();
}

bool FoldersController::addFolderRows(const std::vector<std::shared_ptr<Folder>>& added) {
  KESTO_ASSERT_MAIN_THREAD();
  if (!searchString_.empty() || !libraryItem_ || !list_) return false;
  std::unordered_map<std::string, std::vector<Folder::Ref>> children;  // the new folders by parent
  std::unordered_set<std::string> newIDs;
  for (const auto& f : added) {
    const std::string id = f ? f->folderID() : std::string();
    // A nameless folder goes at the next whole build; a folder with a row is no new one.
    if (id.empty() || f->name().empty() || itemForRowID(id) || !newIDs.insert(id).second) return false;
    children[f->parentFolderID()].push_back(f);
  }
  // The tree's order: the manual order, or names without case; then the order rows were made.
  const store::SortDescriptor order = isUserSorted_
                                          ? store::SortDescriptor("orderIndex", true)
                                          : store::SortDescriptor("name", true, store::SortDescriptor::Comparison::CaseInsensitive);
  auto inOrder = [&](std::vector<Folder::Ref>& folders) {
    std::stable_sort(folders.begin(), folders.end(), [&](const Folder::Ref& a, const Folder::Ref& b) {
      const int c = order.compareObjects(fnd::Value(std::static_pointer_cast<fnd::Object>(a)),
                                         fnd::Value(std::static_pointer_cast<fnd::Object>(b)));
      return c != 0 ? c < 0 : a->storeKey() < b->storeKey();
    });
  };
  // Each new subtree hangs under the Imported row or a folder's row there is.
  std::vector<std::pair<SourceListItemRef, std::string>> parents;
  for (auto& [parent, list] : children) {
    if (newIDs.count(parent)) continue;
    SourceListItemRef item = parent == Folder::kImportedID ? importedItem_ : isFixedRow(parent) || parent == Folder::kRootID
                                                                                 ? nullptr
                                                                                 : itemForRowID(parent);
    if (!item) return false;
    parents.emplace_back(item, parent);
  }
  const auto counts = kestoData_ ? kestoData_->numberOfBookmarksInFolders() : std::unordered_map<std::string, std::int32_t>{};
  std::unordered_set<std::string> placed;
  std::function<SourceListItemRef(Folder&)> subtree = [&](Folder& folder) {
    auto item = makeFolderItem(folder, counts);
    std::vector<SourceListItemRef> rows;
    if (auto it = children.find(folder.folderID()); it != children.end()) {
      inOrder(it->second);
      for (const auto& c : it->second)
        if (placed.insert(c->folderID()).second) rows.push_back(subtree(*c));
    }
    item->setChildren(rows);
    return item;
  };
  for (auto& [parentItem, parentID] : parents) {
    // The parent's rows as the tree is built: those there are kept, the new ones made.
    std::vector<store::SortDescriptor> sorts{order};
    auto siblings = Folder::fetchEntitiesWithPredicate(store::Predicate::parse("parentFolderID == %@", {parentID}), &sorts)
                        .value_or(Folder::List{});
    std::vector<SourceListItemRef> rows;
    std::size_t kept = 0;
    for (const auto& f : siblings) {
      const std::string id = f->folderID();
      if (newIDs.count(id)) {
        if (placed.insert(id).second) rows.push_back(subtree(*f));
      } else if (auto item = itemForRowID(id)) {
        rows.push_back(item);
        ++kept;
      } else {
        return false;
      }
    }
    // Rows behind the library (a folder gone, come or moved meanwhile): the tree is built again.
    if (kept != parentItem->children().size()) return false;
    parentItem->setChildren(rows);
    list_->reloadItem(parentItem.get(), true);
  }
  return placed.size() == newIDs.size();
}

void FoldersController::updateViewCompletely() {
  loadFolders();
  updateView();
}

SourceListItemRef FoldersController::itemForRowID(const std::string& id) const {
  if (id == Folder::kInboxID) return inboxItem_;
  if (id == Folder::kImportedID) return importedItem_;
  if (id == kHomeItemID) return homeItem_;
  if (id == kDeliciousItemID) return deliciousItem_;
  if (id == kPinboardItemID) return pinboardItem_;
  auto it = folderSourceListItems_.find(id);
  return it == folderSourceListItems_.end() ? nullptr : it->second;
}

SourceListItem* FoldersController::itemForFolderID(const std::string& folderID) const {
  auto it = folderSourceListItems_.find(folderID);
  return it == folderSourceListItems_.end() ? nullptr : it->second.get();
}

void FoldersController::updateView() {
  KESTO_ASSERT_MAIN_THREAD();
  if (!userDefaultsNamesFolders()) return;
  // Reloading rows under an open name editor would drop what the user is typing.
  if (list_->isEditing()) {
    loadBadges();
    return;
  }
  if (kestoData_) kestoData_->prepareFolderView();
  {
    const RebuildingRows rebuilding(rebuildingRows_);
    for (auto& item : expandedItems_)
      if (list_->rowForItem(item.get()) >= 0 || list_->parentForItem(item.get())) list_->expandItem(item.get());
  }
  loadBadges();
  SourceListItemRef found;
  if (auto stored = fnd::UserDefaults::standard().stringForKey(kCurrentlySelectedFolderKey)) {
    found = itemForRowID(*stored);
    // A folder made elsewhere since the last load (default library, import, sync) gets its row.
    if (!found && !isFixedRow(*stored) && Folder::existingFolderWithFolderID(*stored)) {
      const std::string shown = firstFoundFolderID_;
      loadFolders();
      firstFoundFolderID_ = shown;
      found = itemForRowID(*stored);
    }
  }
  if (found) {
    selectItem(found.get());
    list_->reloadItem(found.get());
    currentlySelectedFolderIndex_ = found == inboxItem_ ? 2 : static_cast<std::int32_t>(list_->selectedRow());
    centreRow(list_->selectedRow());
  }
  if (!kestoData_ || !kestoData_->isSearching()) {
    updateSelection();
    // Selecting the row above asked for this same update after the selection delay: done now.
    fnd::RunLoop::cancelPreviousPerformRequests(this);
  }
  ViewUpdater::updateBookmarks();
  if (found) selectItem(found.get());
  // While a search is on, the row chosen again above is the row already shown, not the user's
  // choice: its list is not loaded after the selection delay, which would end the search.
  if (kestoData_ && kestoData_->isSearching()) fnd::RunLoop::cancelPreviousPerformRequests(this);
}

void FoldersController::loadBadges() {
  if (!kestoData_) return;
  auto badge = [](SourceListItem& item, std::int32_t count) {
    item.setBadgeValue(count > 0 ? std::optional<std::int64_t>(count) : std::nullopt);
  };
  // Every folder row at once: one pass over the library, so rows a move emptied lose their badge.
  const auto counts = kestoData_->numberOfBookmarksInFolders();
  badge(*homeItem_, kestoData_->numberOfBookmarksInLibrary());
  // The Inbox's count is the same test as any folder's.
  auto inbox = counts.find(Folder::kInboxID);
  badge(*inboxItem_, inbox == counts.end() ? 0 : inbox->second);
  badge(*deliciousItem_, serviceCount(kDeliciousItemID));
  badge(*pinboardItem_, serviceCount(kPinboardItemID));
  for (auto& [id, item] : folderSourceListItems_) {
    auto it = counts.find(id);
    badge(*item, it == counts.end() || lockedFolders_.count(id) ? 0 : it->second);
  }
  list_->setNeedsDisplay();
}

std::int32_t FoldersController::serviceCount(const std::string& service) const {
  // Without the service's record no bookmark can carry its mark; with it, a count in the store
  // (the rows are never read).
  if (!kestoData_ || !Service::fetchEntityWhereProperty("name", service)) return 0;
  const auto& p = service == kPinboardItemID ? kestoData_->predicates().pinboard : kestoData_->predicates().delicious;
  return static_cast<std::int32_t>(Bookmark::countWithPredicate(p));
}

void FoldersController::centreRow(long row) {
  if (row < 0) return;
  list_->scrollRowToVisible(row);
}

void FoldersController::selectItem(SourceListItem* item) {
  if (!item) return;
  brightwren::setSelectedItems(*list_, {item});
}

// ---- Selection -------------------------------------------------------------------------------

void FoldersController::scheduleSelectionUpdate() {
  fnd::RunLoop::main().performAfterDelay(0.1, lifetime_.whileAlive([this] { updateSelection(); }), this);
}

void FoldersController::sourceListSelectionDidChange(const fnd::Notification&) { scheduleSelectionUpdate(); }

std::string FoldersController::selectedIdentifier() const {
  auto* item = dynamic_cast<SourceListItem*>(list_->itemAtRow(list_->selectedRow()));
  return item ? item->identifier() : std::string();
}

std::shared_ptr<Folder> FoldersController::selectedFolder() const {
  auto id = selectedIdentifier();
  if (id.empty() || isFixedRow(id)) return nullptr;
  return Folder::existingFolderWithFolderID(id);
}

bool FoldersController::isFixedRow(const std::string& id) const {
  return id == kLibraryItemID || id == kHomeItemID || id == Folder::kInboxID || id == Folder::kImportedID ||
         id == kDeliciousItemID || id == kPinboardItemID;
}

void FoldersController::updateSelection() {
  if (ViewManager::sharedInstance().currentView() != ViewManager::Folders || !kestoData_) return;
  auto rows = list_->selectedRowIndexes();
  if (rows.count() == 0) return;
  auto* item = dynamic_cast<SourceListItem*>(list_->itemAtRow(static_cast<long>(rows.firstIndex())));
  if (!item) return;
  if (rows.count() > 1) {
    selectItem(item);
    return;
  }
  currentlySelectedFolderIndex_ = static_cast<std::int32_t>(rows.firstIndex());
  const std::string id = item->identifier();
  const bool isNew = id != lastSelectedIdentifier_;
  auto& defaults = fnd::UserDefaults::standard();
  defaults.setString(id, kCurrentlySelectedFolderKey);
  defaults.synchronize();
  auto refresh = [isNew] { isNew ? ViewUpdater::updateBookmarksAndResetView() : ViewUpdater::updateBookmarks(); };
  // A fixed row newly chosen ends a search as a folder's row does, before its list loads: its
  // list is not the results.
  if (isNew && isFixedRow(id)) ViewUpdater::clearSearchField();
  // What the browser shows is set in one step per row; rows that do not name the tag state keep
  // it, and only a service row with its account marks new bookmarks.
  using Browsing = DataManager::BrowsingState;
  Browsing kept = kestoData_->browsingState();
  kept.service = Browsing::Service::None;

  if (id == kHomeItemID) {
    kestoData_->browse({});
    kestoData_->loadAllBookmarksInLibrary();
    refresh();
  } else if (id == Folder::kImportedID) {
    kept.folder = nullptr;
    kestoData_->browse(std::move(kept));
    kestoData_->clearBookmarks();
  } else if (id == kDeliciousItemID || id == kPinboardItemID) {
    if (!Service::fetchEntityWhereProperty("name", id)) {
      kestoData_->browse(std::move(kept));
      // Asked when the row is chosen, never again at a reload, a tab switch or an add.
      if (isNew) showServicePanel(id);
      // Without its account the row is not kept as the list shown (whether the login panel is
      // then used or cancelled): the sidebar goes back to the list the browser still shows, so
      // a later refresh or Go To Folder never lands on an empty service row.
      if (!lastSelectedIdentifier_.empty()) defaults.setString(lastSelectedIdentifier_, kCurrentlySelectedFolderKey);
      else defaults.removeObject(kCurrentlySelectedFolderKey);
      defaults.synchronize();
      if (auto previous = itemForRowID(lastSelectedIdentifier_)) selectItem(previous.get());
      else list_->deselectAll();
      return;
    } else {
      const bool pinboard = id == kPinboardItemID;
      kestoData_->browse({nullptr, false, {}, pinboard ? Browsing::Service::Pinboard : Browsing::Service::Delicious});
      if (pinboard)
        kestoData_->loadPinboardBookmarks();
      else
        kestoData_->loadDeliciousBookmarks();
      if (isNew) readFromService(id);
      fnd::NotificationCenter::defaultCenter().postNotificationName(HideNoBookmarksLabelNotification);
      loadBadges();
      refresh();
    }
  } else if (id == Folder::kInboxID) {
    kestoData_->browse({});
    kestoData_->loadBookmarksInInbox();
    loadBadges();
    refresh();
  } else {
    auto folder = Folder::existingFolderWithFolderID(id);
    ViewUpdater::clearSearchField();
    if (folder) {
      auto shown = fnd::UserDefaults::standard().stringForKey(SelectedView);
      kept.folder = userDefaultsNamesFolders() ? folder : nullptr;
      kept.tagView = shown && *shown == SelectedTagsView;
    }
    kestoData_->browse(std::move(kept));
    if (folder) {
      if (folder->blocked() > 0) {
        // A locked folder shows nothing until it is unlocked.
        kestoData_->clearBookmarks();
      } else if (isNew) {
        kestoData_->loadBookmarksAndReset();
      } else {
        kestoData_->loadBookmarks();
      }
    }
  }
  // The first time the user opens a fixed row it explains itself; the row restored at start is
  // not opened by the user.
  if (isNew && !lastSelectedIdentifier_.empty()) openTutorialForRow(id, static_cast<long>(rows.firstIndex()));
  lastSelectedIdentifier_ = id;
  libraryWideSearch_ = false;
  updatePathbar();
}

void FoldersController::openTutorialForRow(const std::string& id, long row) {
  using T = TutorialPopovers::Tutorial;
  if (!tutorials_) return;
  std::optional<T> tutorial;
  if (id == kHomeItemID) tutorial = T::Library;
  else if (id == Folder::kImportedID) tutorial = T::Import;
  else if (id == Folder::kInboxID) tutorial = T::Inbox;
  // A service row without its account shows the account panel instead.
  else if (id == kDeliciousItemID && Service::fetchEntityWhereProperty("name", id)) tutorial = T::Delicious;
  else if (id == kPinboardItemID && Service::fetchEntityWhereProperty("name", id)) tutorial = T::Pinboard;
  // Beside the row, over the bookmark list: the rows below it stay within reach.
  if (tutorial) tutorials_->placeOpened(*tutorial, {list_.get(), list_->rectOfRow(row), PopoverArrow::Right});
}

void FoldersController::selectFolderView() {
  if (window_) window_->makeFirstResponder(list_.get());
}

void FoldersController::selectInboxView() {
  selectFolderView();
  selectItem(inboxItem_.get());
}

void FoldersController::selectLibraryView() {
  selectFolderView();
  selectItem(homeItem_.get());
}

void FoldersController::selectFolderWithID(const std::string& folderID) {
  if (folderID.empty()) return;
  selectFolderView();
  SourceListItemRef item = folderID == Folder::kInboxID ? inboxItem_ : itemForRowID(folderID);
  if (!item || item == homeItem_ || item == importedItem_ || item == deliciousItem_ || item == pinboardItem_) return;
  if (auto folder = Folder::existingFolderWithFolderID(folderID)) revealFolder(*folder, true);
  selectItem(item.get());
  currentlySelectedFolderIndex_ = static_cast<std::int32_t>(list_->selectedRow());
  list_->scrollRowToCenter(list_->selectedRow());
  updateSelection();
  ViewUpdater::updateBookmarks();
}

void FoldersController::revealFolder(Folder& folder, bool storeItselfOpen) {
  const UnrecordedChanges bookkeeping;
  // Not a list the user chose: the caller loads the list once the row is shown.
  const RebuildingRows revealing(rebuildingRows_);
  bool changed = false;
  auto storeOpen = [&changed](Folder& f) {
    if (f.isExpanded() == 1) return;
    f.setIsExpanded(1);
    changed = true;
  };
  if (storeItselfOpen) storeOpen(folder);
  // Outermost first: each row opened shows the next one's row. Imported stands for the folder
  // "_imported", which has no entry among the folders' rows.
  for (auto& ancestor : folder.parentFolders()) {
    storeOpen(*ancestor);
    if (auto row = itemForRowID(ancestor->folderID())) list_->expandItem(row.get());
  }
  if (changed) save("The folder could not be saved");
}

// ---- Search ----------------------------------------------------------------------------------

void FoldersController::find() {
  if (window_) window_->makeFirstResponder(searchField_.get());
}

void FoldersController::search() {
  if (!searchString_.empty()) lastUsedSearchString_ = searchString_;
  searchString_ = brightwren::stringByRemovingLeadingAndTrailingSpaces(searchField_->stringValue());
  sameSearchCount_ = searchString_ == lastUsedSearchString_ ? sameSearchCount_ + 1 : 0;
  if (searchString_.empty()) clearSearch();
  if (searchString_.size() >= 2) isSearching_ = true;
  if (isSearching_ && !searchString_.empty()) {
    // The store, not a snapshot: folders added or removed since the last full load count.
    auto matches = Folder::fetchEntitiesWithPredicate(store::Predicate::parse(
                                                          "name contains[cd] %@ or color contains[cd] %@ and blocked < 1",
                                                          {searchString_, searchString_}))
                       .value_or(Folder::List{});
    std::erase_if(matches, [](const Folder::Ref& f) { return f->folderID() == Folder::kInboxID || f->folderID() == Folder::kImportedID; });
    std::stable_sort(matches.begin(), matches.end(), [](const Folder::Ref& a, const Folder::Ref& b) {
      return fnd::caseInsensitiveCompare(a->name(), b->name()) == fnd::ComparisonResult::Ascending;
    });
    if (sameSearchCount_ >= static_cast<int>(matches.size())) sameSearchCount_ = 0;
    if (!matches.empty()) {
      occurrencesLabel_->setStringValue(std::to_string(matches.size()) + (matches.size() == 1 ? " match" : " matches"));
      auto& shown = matches[static_cast<size_t>(sameSearchCount_)];
      firstFoundFolderID_ = shown->folderID();
      revealFolder(*shown, false);
      find();
    } else {
      occurrencesLabel_->setStringValue("Not found");
    }
  }
  if (!firstFoundFolderID_.empty()) fnd::UserDefaults::standard().setString(firstFoundFolderID_, kCurrentlySelectedFolderKey);
  updateView();
  if (auto found = firstFoundFolderID_.empty() ? nullptr : itemForRowID(firstFoundFolderID_))
    list_->scrollRowToCenter(list_->rowForItem(found.get()));
}

void FoldersController::clearSearch() {
  isSearching_ = false;
  occurrencesLabel_->setStringValue("");
  firstFoundFolderID_.clear();
  searchField_->setStringValue("");
}

// ---- Source list answers ---------------------------------------------------------------------

unsigned FoldersController::implementedSourceListDataSourceMethods() const {
  using M = SourceListDataSource;
  return SourceListItemSource::implementedSourceListDataSourceMethods() | M::WriteItemsToPasteboard |
         M::ValidateDrop | M::AcceptDrop;
}

unsigned FoldersController::implementedSourceListDelegateMethods() const {
  using M = SourceListDelegate;
  return SourceListItemSource::implementedSourceListDelegateMethods() | M::IsGroupAlwaysExpanded | M::MenuForEvent |
         M::DeleteKeyPressedOnRows | M::SelectionDidChange | M::ShouldEditItem | M::ShouldExpandItem |
         M::ItemDidExpand | M::ItemDidCollapse | M::WillDisplayCell;
}

void FoldersController::sourceListSetObjectValueForItem(SourceList& list, const fnd::Value& value,
                                                        SourceListItemPtr item) {
  auto* i = sourcelistitems::itemFrom(item);
  if (!i || !value.isString()) return;
  auto folder = Folder::existingFolderWithFolderID(i->identifier());
  if (!folder) {
    if (!isFixedRow(i->identifier())) SourceListItemSource::sourceListSetObjectValueForItem(list, value, item);
    return;
  }
  if (renameFolder(i->identifier(), value.string())) i->setTitle(folder->name());
  list_->reloadItem(i);
}

bool FoldersController::renameFolder(const std::string& folderID, const std::string& name) {
  auto folder = Folder::existingFolderWithFolderID(folderID);
  if (!folder || folderID == Folder::kInboxID || folderID == Folder::kImportedID) return false;
  std::string trimmed = name;
  while (!trimmed.empty() && std::isspace(static_cast<unsigned char>(trimmed.front()))) trimmed.erase(trimmed.begin());
  while (!trimmed.empty() && std::isspace(static_cast<unsigned char>(trimmed.back()))) trimmed.pop_back();
  // A blank name would make the folder disappear at the next load.
  if (trimmed.empty()) return false;
  if (trimmed == folder->name()) return true;
  const std::string old = folder->name();
  // Undone as a rename of its own, which saves with a higher version again: going back to the
  // old version would lose to the renamed copy other machines already hold.
  auto context = WrenEntity::defaultContext();
  fnd::UndoManager* undo = context ? context->undoManager() : nullptr;
  if (undo) undo->disableUndoRegistration();
  folder->setName(trimmed);
  const bool saved = folder->saveFolder();
  if (!saved) folder->setName(old);
  if (undo) undo->enableUndoRegistration();
  if (!saved) {
    showError("The folder could not be renamed", "The new name could not be saved.");
    return false;
  }
  if (undo) {
    undo->registerUndoWithTarget(this, lifetime_.whileAlive([this, folderID, old] { renameFolder(folderID, old); }));
    undo->setActionName("Rename");
  }
  if (auto* item = itemForFolderID(folderID)) {
    item->setTitle(trimmed);
    if (!list_->isEditing()) list_->reloadItem(item);
  }
  // The path bar names the shown folder and its ancestors, one of which this may be.
  updatePathbar();
  return true;
}

bool FoldersController::sourceListIsGroupAlwaysExpanded(SourceList&, SourceListItemPtr group) {
  auto* i = sourcelistitems::itemFrom(group);
  if (!i) return false;
  static const std::unordered_set<std::string> groups{"collect", "history", "library", "home", "popular", "issues", "deleted"};
  return groups.count(i->identifier()) > 0;
}

bool FoldersController::sourceListShouldEditItem(SourceList&, SourceListItemPtr item) {
  auto* i = sourcelistitems::itemFrom(item);
  if (!i) return false;
  static const std::unordered_set<std::string> fixed{"home", "_inbox", "today", "yesterday", "thisweek", "lastimport",
                                                     "trash", "_imported", "popular", "issues", "fivestars", "top25",
                                                     "broken", "duplicates", "missingImages", "library",
                                                     "delicious", "pinboard"};
  if (fixed.count(i->identifier())) return false;
  auto folder = Folder::existingFolderWithFolderID(i->identifier());
  return !folder || folder->blocked() < 1;
}

bool FoldersController::sourceListShouldExpandItem(SourceList&, SourceListItemPtr item) {
  auto* i = sourcelistitems::itemFrom(item);
  if (!i) return true;
  if (i->identifier() == kHomeItemID || i->identifier() == kLibraryItemID) return true;
  auto folder = Folder::existingFolderWithFolderID(i->identifier());
  return !folder || folder->blocked() < 1;
}

void FoldersController::sourceListItemDidExpand(const fnd::Notification& notification) {
  if (auto* i = sourcelistitems::itemFrom(sourceListItemOf(notification))) {
    const std::string id = i->title() == "Imports" ? std::string(Folder::kImportedID) : i->identifier();
    if (auto folder = Folder::existingFolderWithFolderID(id); folder && folder->isExpanded() != 1) {
      const UnrecordedChanges bookkeeping;
      folder->setIsExpanded(1);
      save("The folder could not be saved");
    }
  }
  if (!rebuildingRows_) updateSelection();
}

void FoldersController::sourceListItemDidCollapse(const fnd::Notification& notification) {
  if (auto* i = sourcelistitems::itemFrom(sourceListItemOf(notification))) {
    std::erase_if(expandedItems_, [i](const SourceListItemRef& e) { return e.get() == i; });
    const std::string id = i->title() == "Imports" ? std::string(Folder::kImportedID) : i->identifier();
    if (auto folder = Folder::existingFolderWithFolderID(id); folder && folder->isExpanded() != 0) {
      const UnrecordedChanges bookkeeping;
      folder->setIsExpanded(0);
      save("The folder could not be saved");
    }
  }
  updateSelection();
}

void FoldersController::sourceListDeleteKeyPressedOnRows(const fnd::Notification&) { removeFolder(); }

void FoldersController::sourceListWillDisplayCellForItem(SourceList&, ui::TextCell& cell, SourceListItemPtr item) {
  auto* i = sourcelistitems::itemFrom(item);
  if (i && i->identifier() == kLibraryItemID) {
    cell.textColor = ui::Color::white(0.6);
    cell.font.pointSize = 13;
  }
}

// ---- Expansion and path bar ------------------------------------------------------------------

void FoldersController::expandImported() {
  list_->expandItem(importedItem_.get());
  updateView();
}

void FoldersController::updatePathbar() {
  if (!pathbar_) return;
  pathbar_->removeAllItems();
  auto current = kestoData_ ? kestoData_->currentFolder() : nullptr;
  if (!current || libraryWideSearch_) return;
  for (auto& ancestor : current->parentFolders()) pathbar_->addItemWithTitle(ancestor->name());
  pathbar_->addItemWithTitle(current->name());
}

void FoldersController::pathbarAction(int index) {
  auto current = kestoData_ ? kestoData_->currentFolder() : nullptr;
  if (!current || index < 0) return;
  auto ancestors = current->parentFolders();
  if (static_cast<size_t>(index) < ancestors.size()) selectFolderWithID(ancestors[static_cast<size_t>(index)]->folderID());
}

void FoldersController::clearPathBar() {
  if (pathbar_) pathbar_->removeAllItems();
}

void FoldersController::setLibraryWideSearch(bool on) {
  libraryWideSearch_ = on;
  updatePathbar();
}

// ---- Saving and errors -----------------------------------------------------------------------

bool FoldersController::save(const std::string& what) {
  if (WrenEntity::saveContext()) return true;
  // Where the application tells of failed saves (once, with the cause, keeping the change in
  // memory for the next try), a second, modal alert here would only repeat it.
  if (!WrenEntity::hasSaveOutcomeHandler())
    showError(what, "Kesto could not write to its library. The change is not kept.");
  return false;
}

void FoldersController::showError(const std::string& message, const std::string& detail) {
  ui::Alert alert;
  alert.setMessageText(message);
  alert.setInformativeText(detail);
  alert.addButtonWithTitle("OK");
  // Without a modal loop: errors come from saves inside a rename editor's commit or a drop.
  alert.beginSheetModalForWindow(nullptr, nullptr);
}

}  // namespace kesto
