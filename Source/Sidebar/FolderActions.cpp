// The folder list's actions: adding, removing, locking, sharing, the context menu and the
// service rows.
#include "Sidebar/FoldersController.h"

#include "Model/Base64.h"
#include "Model/Bookmark.h"
#include "Model/Config.h"
#include "Model/DataManager.h"
#include "Model/Folder.h"
#include "Model/Service.h"
#include "Model/ViewUpdater.h"
#include "Platform/Foundation/Assert.h"
#include "Platform/Foundation/Date.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/RunLoop.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/UndoManager.h"
#include "Platform/Store/Context.h"
#include "Platform/UI/Alert.h"
#include "Platform/UI/FilePanel.h"
#include "Platform/UI/Menu.h"
#include "Platform/UI/Panel.h"
#include "Platform/UI/TextField.h"
#include "Platform/UI/Window.h"
#include "Sidebar/FolderPanels.h"
#include "Sidebar/SidebarCommands.h"
#include "Sidebar/TrashController.h"
#include "Synchronize/SharedFolderArchive.h"
#include "Synchronize/SyncTombstones.h"
#include "Support/AlertPresenter.h"
#include "Views/ImageNamed.h"
#include "Views/Pathbar.h"
#include "Views/SourceList.h"

#include <filesystem>
#include <system_error>

namespace kesto {

namespace {

FolderServiceClientFactory& serviceFactory() {
  static FolderServiceClientFactory factory;
  return factory;
}

std::unique_ptr<FolderServiceClient> serviceClient(const std::string& service) {
  return serviceFactory() ? serviceFactory()(service) : nullptr;
}

std::string serviceTitle(const std::string& service) { return service == "pinboard" ? "Pinboard" : "Delicious"; }

void tellUser(const std::string& message, const std::string& detail) {
  ui::Alert alert;
  alert.setMessageText(message);
  alert.setInformativeText(detail);
  alert.addButtonWithTitle("OK");
  alert.runModal();
}

// The bookmarks filed directly in a folder (fetched, so nothing of the store is missed).
Bookmark::List bookmarksIn(const std::string& folderID) {
  return Bookmark::fetchEntitiesWithPredicate(store::Predicate::parse("folder.folderID == %@", {folderID}))
      .value_or(Bookmark::List{});
}

// Undoing takes the tombstones back, redoing records them again, as often as the user goes back
// and forth.
void tombstoneUndo(fnd::UndoManager* undo, const std::vector<SyncTombstone>& tombstones, bool recorded) {
  undo->registerUndoWithTarget(nullptr, [undo, tombstones, recorded] {
    if (recorded)
      SyncTombstones::remove(tombstones);
    else
      SyncTombstones::add(tombstones);
    tombstoneUndo(undo, tombstones, !recorded);
  });
}

}  // namespace

void registerFolderServiceClientFactory(FolderServiceClientFactory factory) { serviceFactory() = std::move(factory); }

// ---- Adding ----------------------------------------------------------------------------------

void FoldersController::addBookmark() {
  fnd::NotificationCenter::defaultCenter().postNotificationName(AddBookmarkNotification, this);
}

void FoldersController::addFolder() {
  KESTO_ASSERT_MAIN_THREAD();
  // The list takes the keys before the folder is made: a field that had them (the inspector's
  // notes) stores its text now, and what that refreshes comes before the new row is chosen.
  selectFolderView();
  // A name being edited is kept as typed before the rows are rebuilt around the new folder.
  list_->endEditing(true);
  auto folder = doAddNewFolderIsSmart(false);
  if (!folder) return;
  currentlySelectedFolderIndex_ = static_cast<std::int32_t>(list_->selectedRow());
  if (list_->selectedRow() >= 0) list_->editRow(list_->selectedRow());
}

std::shared_ptr<Folder> FoldersController::doAddNewFolderIsSmart(bool isSmart) {
  auto folder = Folder::initEntity();
  if (!folder) return nullptr;
  // A name from the start: an edit the user leaves must not leave a folder without one.
  folder->setName(isSmart ? "Smart Folder" : "New Folder");
  if (isSmart) {
    folder->setIsSmart(true);
    folder->setColor(std::string("smart"));
  }
  auto parent = selectedFolder();
  // The Inbox, Imported and locked folders take no new children: the folder goes to the top.
  if (parent && parent->folderID() != Folder::kInboxID && parent->folderID() != Folder::kImportedID &&
      parent->blocked() < 1) {
    parent->setIsExpanded(1);
    if (auto it = folderSourceListItems_.find(parent->folderID()); it != folderSourceListItems_.end())
      expandedItems_.push_back(it->second);
    folder->setParentFolderID(parent->folderID());
    folder->setOrderIndex(folder->lastOrderIndex() + 1);
  }
  if (!folder->saveFolder()) {
    folder->deleteEntity();
    WrenEntity::saveContext();
    showError("The folder could not be saved", "Kesto could not write the new folder to its library.");
    return nullptr;
  }
  if (kestoData_) kestoData_->addFolders({folder});
  auto item = SourceListItem::itemWithTitle(folder->name(), folder->folderID(), imageNamed(folder->imageName()));
  folderSourceListItems_[folder->folderID()] = item;
  reloadFolders(folder->parentFolderID());
  if (parent) list_->expandItem(itemForFolderID(parent->folderID()));
  auto* shown = itemForFolderID(folder->folderID());
  selectItem(shown);
  currentlySelectedFolderIndex_ = static_cast<std::int32_t>(list_->selectedRow());
  list_->scrollRowToVisible(list_->selectedRow());
  updateView();
  selectItem(shown);
  return folder;
}

void FoldersController::addSmartFolder() { panels_->showSmartFolderPanel(window_); }

std::shared_ptr<Folder> FoldersController::addSmartFolderMatching(const std::string& text) {
  std::string trimmed = text;
  while (!trimmed.empty() && trimmed.front() == ' ') trimmed.erase(trimmed.begin());
  while (!trimmed.empty() && trimmed.back() == ' ') trimmed.pop_back();
  if (trimmed.empty()) return nullptr;
  // The text is a value of the predicate, never part of its syntax; only a predicate that
  // parses back is stored.
  auto predicate = store::Predicate::parse("title contains[cd] %@ or url contains[cd] %@ or notes contains[cd] %@",
                                           {trimmed, trimmed, trimmed});
  if (!predicate) return nullptr;
  const std::string format = predicate->format();
  if (!store::Predicate::parse(format)) return nullptr;
  auto folder = doAddNewFolderIsSmart(true);
  if (!folder) return nullptr;
  folder->setPredicate(format);
  folder->setName(trimmed);
  if (!folder->saveFolder()) {
    showError("The folder could not be saved", "Kesto could not write the smart folder to its library.");
    return nullptr;
  }
  if (auto* item = itemForFolderID(folder->folderID())) {
    item->setTitle(trimmed);
    list_->reloadItem(item);
  }
  updateSelection();
  return folder;
}

// ---- Removing --------------------------------------------------------------------------------

void FoldersController::removeFolder() {
  KESTO_ASSERT_MAIN_THREAD();
  const std::string id = selectedIdentifier();
  if (id.empty() || isFixedRow(id)) return;
  if (Folder::existingFolderWithFolderID(id)) deleteFolderWithID(id);
  if (kestoData_) kestoData_->setCurrentFolder(nullptr);
}

void FoldersController::deleteFolderWithID(const std::string& folderID) {
  KESTO_ASSERT_MAIN_THREAD();
  auto folder = Folder::existingFolderWithFolderID(folderID);
  if (!folder) return;
  if (folder->blocked() > 0) {
    tellUser("This folder is password protected", "Remove its password protection before you delete it.");
    return;
  }
  ui::Alert alert;
  alert.setMessageText("Delete this folder?");
  alert.setInformativeText("Do you really want to delete " + folder->name() +
                           "? All subfolders will be removed as well. Contained bookmarks will be moved to the trash");
  alert.addButtonWithTitle("Delete");
  alert.addButtonWithTitle("Cancel");
  if (alert.runModal() != ui::AlertFirstButtonReturn) return;
  // The confirmed folder, not whatever is selected by then.
  fnd::RunLoop::main().performAfterDelay(0.5, lifetime_.whileAlive([this, folderID] { doRemoveFolder(folderID); }),
                                         this);
}

bool FoldersController::doRemoveFolder(const std::string& folderID) {
  if (folderID.empty() || isFixedRow(folderID)) return false;
  auto folder = Folder::existingFolderWithFolderID(folderID);
  if (!folder || folder->blocked() > 0) return false;
  std::string parent = folder->parentFolderID();
  if (parent.empty()) parent = Folder::kRootID;
  auto inbox = Folder::existingFolderWithFolderID(Folder::kInboxID);

  auto context = WrenEntity::defaultContext();
  fnd::UndoManager* undo = context ? context->undoManager() : nullptr;
  if (undo) {
    undo->beginUndoGrouping();
    undo->setActionName("Delete");
  }
  auto doomed = folder->subFolders();
  doomed.insert(doomed.begin(), folder);
  // A tombstone for every folder of the subtree: a library where a subfolder was moved out, or
  // renamed, must not keep it and send it back. The tombstones belong to the undo group: an
  // undone removal must not delete the folders on the other machines at the next sync.
  std::vector<SyncTombstone> tombstones;
  for (const auto& f : doomed) tombstones.push_back({f->folderID(), f->version(), "f"});
  SyncTombstones::add(tombstones);
  if (undo) tombstoneUndo(undo, tombstones, true);
  const auto now = fnd::Date::now();
  Bookmark::List trashed;
  for (auto& f : doomed) {
    for (auto& b : bookmarksIn(f->folderID())) {
      b->setTrashed(1);
      if (inbox) b->setFolder(inbox);
      b->incrementVersionNumber();
      b->setUpdatedDate(now);
      trashed.push_back(b);
    }
  }
  // Children before their parents.
  for (auto it = doomed.rbegin(); it != doomed.rend(); ++it) {
    folderSourceListItems_.erase((*it)->folderID());
    (*it)->deleteEntity();
  }
  const bool saved = save("The folder could not be deleted");
  if (kestoData_) kestoData_->removeFolders(doomed);
  reloadFolders(parent);
  if (undo) undo->endUndoGrouping();
  if (kestoData_) kestoData_->setCurrentFolder(nullptr);
  updateView();
  ViewUpdater::updateTrash();
  return saved;
}

void FoldersController::reloadAfterUndo() {
  save("The change could not be saved");
  updateViewCompletely();
  if (kestoData_) kestoData_->fetchAllBookmarksFromCoreData();
  ViewUpdater::updateSidebar();
}

// ---- Locking ---------------------------------------------------------------------------------

void FoldersController::lockFolder() {
  auto folder = selectedFolder();
  if (!folder || folder->folderID() == Folder::kInboxID || folder->folderID() == Folder::kImportedID) return;
  isLocking_ = true;
  lockingFolderID_ = folder->folderID();
  auto stored = Config::storedPassword();
  if (!stored || stored->empty())
    createPassword();
  else
    panels_->showPasswordPanel(window_);
}

void FoldersController::unlockFolder() {
  auto folder = selectedFolder();
  if (!folder || folder->folderID() == Folder::kInboxID || folder->folderID() == Folder::kImportedID) return;
  isLocking_ = false;
  lockingFolderID_ = folder->folderID();
  if (Config::storedPassword())
    panels_->showPasswordPanel(window_);
  else
    createPassword();
}

void FoldersController::createPassword() { panels_->showNewPasswordPanel(window_); }

bool FoldersController::saveNewPassword() {
  const std::string text = panels_->newPasswordField().stringValue();
  if (text.empty() || text != panels_->confirmPasswordField().stringValue()) return false;
  for (auto& old : Config::fetchEntitiesWhereProperty("kestoKey", Config::kPasswordKey).value_or(Config::List{}))
    old->deleteEntity();
  auto config = Config::initEntity();
  if (!config) return false;
  config->setKestoKey(Config::kPasswordKey);
  // The stored form other machines read back from the sync file.
  config->setKestoValue(Base64::encodeString(text));
  if (!save("The password could not be saved")) return false;
  // Making the password locks (or unlocks) nothing: the user chooses the lock action again, and
  // the password panel then serves the folder selected at that time.
  lockingFolderID_.clear();
  // The panel goes before the alert that tells its outcome.
  panels_->newPasswordPanel().orderOut();
  ui::Alert alert;
  alert.setAlertStyle(ui::AlertStyle::Informational);
  alert.setWindowTitle("Kesto Password");
  alert.setMessageText("Password succesfully created. You can now password protect your folders.");
  alert.addButtonWithTitle("OK");
  alert.runModal();
  return true;
}

bool FoldersController::confirmPassword() {
  if (!Config::isFolderPassword(panels_->passwordField().stringValue())) return false;
  applyLockToChosenFolder();
  return true;
}

void FoldersController::applyLockToChosenFolder() {
  const std::string id = lockingFolderID_;
  lockingFolderID_.clear();
  if (id.empty() || id == Folder::kInboxID || !Folder::existingFolderWithFolderID(id)) return;
  blockFolderAndSubfoldersWithFolderID(id, isLocking_);
  ViewUpdater::updateSidebar();
}

void FoldersController::blockFolderAndSubfoldersWithFolderID(const std::string& folderID, bool shouldBlock) {
  auto folder = Folder::existingFolderWithFolderID(folderID);
  if (!folder) return;
  auto tree = folder->subFolders();
  tree.insert(tree.begin(), folder);
  const std::int64_t flag = shouldBlock ? 1 : 0;
  DataManager::BookmarkList changed;
  for (auto& f : tree) {
    f->setBlocked(flag);
    f->setIsExpanded(0);
    if (shouldBlock)
      lockedFolders_.insert(f->folderID());
    else
      lockedFolders_.erase(f->folderID());
    f->incrementVersionNumber();
    // Versions go up so that the flags reach the other machines with the next sync.
    for (auto& b : bookmarksIn(f->folderID())) {
      b->setBlocked(flag);
      b->incrementVersionNumber();
      changed.push_back(b);
    }
    if (auto* item = itemForFolderID(f->folderID())) item->setIcon(imageNamed(f->imageName()));
  }
  save(shouldBlock ? "The folder could not be locked" : "The folder could not be unlocked");
  if (auto* item = itemForFolderID(folderID)) list_->collapseItem(item, true);
  if (kestoData_) kestoData_->addBookmarks(changed);
}

// ---- Sharing ---------------------------------------------------------------------------------

void FoldersController::shareFolder() {
  auto* item = dynamic_cast<SourceListItem*>(list_->itemAtRow(list_->selectedRow()));
  if (!item) return;
  auto folder = selectedFolder();
  if (!folder || folder->folderID() == Folder::kInboxID || folder->folderID() == Folder::kImportedID) return;
  if (folder->blocked() > 0) {
    tellUser("This folder is password protected", "Remove its password protection before you share it.");
    return;
  }
  std::string name = item->title();
  for (char& c : name)
    if (c == '/') c = '-';
  const std::string id = folder->folderID();
  if (!sharedFolderArchive().holdsCredentials(folder)) {
    chooseSharePath(id, name, false);
    return;
  }
  // An archive goes to other people: saved logins and passwords travel only when the user says
  // so, and leaving them out is the default answer.
  ui::Alert alert;
  alert.setMessageText("Include saved logins and passwords?");
  alert.setInformativeText("Some bookmarks in “" + name +
                           "” have a saved login or password. Anyone who receives the archive can read them.");
  alert.addButtonWithTitle("Leave Them Out");
  alert.addButtonWithTitle("Include Them");
  alert.addButtonWithTitle("Cancel");
  alert.beginSheetModalForWindow(window_, lifetime_.whileAlive([this, id, name](int code) {
    if (code != ui::AlertFirstButtonReturn && code != ui::AlertSecondButtonReturn) return;
    const bool include = code == ui::AlertSecondButtonReturn;
    // The save panel opens once this alert has gone, not from inside its answer.
    fnd::DispatchQueue::main().async(
        lifetime_.whileAlive([this, id, name, include] { chooseSharePath(id, name, include); }));
  }));
}

void FoldersController::chooseSharePath(const std::string& folderID, const std::string& name,
                                        bool includeCredentials) {
  ui::SavePanel panel;
  panel.setTitle("Save/Share");
  panel.setPrompt("Save");
  panel.setNameFieldStringValue(name + "." + SharedFolderArchive::kExtension);
  panel.setAllowedFileTypes({SharedFolderArchive::kExtension});
  panel.beginSheetModalForWindow(window_, lifetime_.whileAlive([this, panel, folderID, includeCredentials](int result) {
    if (result == ui::ModalResponse::OK) shareFolderToPath(folderID, panel.path(), includeCredentials);
  }));
}

SharedFolderArchive& FoldersController::sharedFolderArchive() {
  if (!archive_) {
    archive_ = std::make_unique<SharedFolderArchive>();
    archive_->setDataManager(kestoData_);
  }
  return *archive_;
}

bool FoldersController::shareFolderToPath(const std::string& folderID, const std::string& path,
                                          bool includeCredentials) {
  namespace fs = std::filesystem;
  auto folder = Folder::existingFolderWithFolderID(folderID);
  if (!folder || path.empty()) return false;
  fnd::Error error;
  // A failure to prepare the archive has been told already.
  auto written = sharedFolderArchive().shareBookmarksToPath(folder, path, &error, includeCredentials);
  if (!written) return false;
  // Next to the destination first, then renamed over it: a failure leaves what was there.
  std::error_code ec, ignored;
  const fs::path target(path), staged = target.parent_path() / ("." + target.filename().string() + ".part"),
                               previous = target.parent_path() / ("." + target.filename().string() + ".old");
  fs::remove_all(staged, ignored);
  // The copy's own outcome decides (a full disk stops it half-way); removing the prepared
  // archive afterwards must not overwrite it.
  fs::copy(*written, staged, fs::copy_options::recursive, ec);
  fs::remove_all(*written, ignored);
  bool ok = !ec;
  if (ok && fs::exists(target)) {
    fs::remove_all(previous, ec);
    fs::rename(target, previous, ec);
    ok = !ec;
  }
  if (ok) {
    fs::rename(staged, target, ec);
    ok = !ec;
    if (!ok && fs::exists(previous)) fs::rename(previous, target, ec);
  }
  fs::remove_all(previous, ignored);
  fs::remove_all(staged, ignored);
  if (!ok) {
    tellUser("The folder could not be shared", "Kesto could not write " + path + ": " + ec.message() + ".");
    return false;
  }
  // Told only once the archive is in its place (success, so with the information icon).
  AlertPresenter::inform("Share", "Your Kesto archive has been saved", "OK");
  return true;
}

// ---- Context menu ----------------------------------------------------------------------------

bool FoldersController::sourceListMenuForEventItem(SourceList& list, const ui::Event& event, SourceListItemPtr item) {
  auto* i = dynamic_cast<SourceListItem*>(item);
  if (!i) return false;
  selectItem(i);
  contextMenu_ = menuForItem(i);
  if (!contextMenu_ || contextMenu_->numberOfItems() == 0) return false;
  ui::Menu::popUpContextMenu(contextMenu_, event, list);
  return true;
}

std::shared_ptr<ui::Menu> FoldersController::menuForItem(SourceListItem* item) {
  auto menu = std::make_shared<ui::Menu>();
  if (!item) return menu;
  const std::string id = item->identifier();
  auto add = [&](ui::Menu& m, const std::string& title, ui::Command action) {
    auto entry = m.addItemWithTitle(title, action);
    entry->setTarget(this);
    return entry;
  };
  if (id == "trash") {
    add(*menu, "Empty Trash", cmd::emptyTrash);
  } else if (id == kHomeItemID) {
    add(*menu, "Add Folder", cmd::addFolder);
    add(*menu, "Add Smart Folder", cmd::addSmartFolder);
  } else if (id == kDeliciousItemID || id == kPinboardItemID) {
    if (Service::fetchEntityWhereProperty("name", id)) {
      add(*menu, "Update from " + serviceTitle(id), id == kPinboardItemID ? cmd::manualReadFromPinboard : cmd::manualReadFromDelicious);
      add(*menu, "Add Bookmark", cmd::addBookmark);
      add(*menu, "Disconnect from " + serviceTitle(id),
          id == kPinboardItemID ? cmd::disconnectFromPinboard : cmd::disconnectFromDelicious);
    }
  } else if (!isFixedRow(id) && id != "today" && id != "yesterday" && id != "thisweek" && id != "fivestars" &&
             id != "top25" && id != "notes" && id != "broken" && id != "duplicates" && id != "missingImages") {
    add(*menu, "Add Bookmark", cmd::addBookmark);
    menu->addItem(ui::MenuItem::separatorItem());
    add(*menu, "Add Folder", cmd::addFolder);
    add(*menu, "Save/Share", cmd::shareFolder);
    if (list_->shouldEditItem(item)) {
      // Shows the list's own key (F2, no modifier); the list takes the key itself.
      auto rename = add(*menu, "Rename", cmd::renameFolder);
      rename->setKeyEquivalent("F2");
      rename->setKeyEquivalentModifierMask(0);
    }
    add(*menu, "Delete", cmd::removeFolder);
    menu->addItem(ui::MenuItem::separatorItem());
    if (auto folder = Folder::existingFolderWithFolderID(id)) {
      if (folder->blocked() < 1)
        add(*menu, "Password Protect Folder", cmd::lockFolder);
      else
        add(*menu, "Remove Password Protection", cmd::unlockFolder);
    }
    menu->addItem(ui::MenuItem::separatorItem());
    auto colors = std::make_shared<ui::Menu>("Color");
    for (const auto& name : colorNames()) {
      auto entry = add(*colors, name, cmd::changeFolderColor);
      entry->setImage(imageNamed("folder_" + name));
      entry->setRepresentedObject(name);
    }
    colors->addItem(ui::MenuItem::separatorItem());
    // Takes the colour off: the folder is drawn as one that never had a colour.
    add(*colors, "None", cmd::changeFolderColor)->setRepresentedObject(std::string());
    menu->addItemWithTitle("Color", {})->setSubmenu(colors);
  }
  return menu;
}

void FoldersController::changeFolderColor(const std::string& color) {
  auto folder = selectedFolder();
  if (!folder) return;
  if (color.empty()) folder->setColor(std::nullopt);
  else folder->setColor(color);
  if (!folder->saveFolder()) {
    showError("The color could not be saved", "Kesto could not write the folder's color to its library.");
    return;
  }
  if (auto* item = itemForFolderID(folder->folderID())) {
    item->setIcon(imageNamed(folder->imageName()));
    list_->reloadItem(item);
  }
  ViewUpdater::updateSourceLists();
}

void FoldersController::emptyTrash() {
  fnd::RunLoop::main().performAfterDelay(0.1, lifetime_.whileAlive([this] { doEmptyTrash(); }), this);
}

void FoldersController::doEmptyTrash() {
  if (!emptyTrashRecordingTombstones(kestoData_))
    showError("The trash could not be emptied", "Kesto could not write to its library. The change is not kept.");
  updateView();
  ViewUpdater::updateTrash();
}

void FoldersController::fetchMissingImagesInCurrentFolder() { ViewUpdater::fetchMissingImagesInFolder(); }

// ---- Service rows ----------------------------------------------------------------------------

bool FoldersController::showServicePanel(const std::string& service) {
  if (serviceFactory()) {
    // The service's own account panel comes with its client.
    if (auto client = serviceClient(service)) client->import();
    return true;
  }
  // Shown without a modal loop of its own: this runs from a selection change, which a reload
  // or a hand-over can set off half-way through their work.
  ui::Alert alert;
  alert.setMessageText("Connecting to " + serviceTitle(service) + " is not available");
  alert.setInformativeText("This version of Kesto cannot sign in to " + serviceTitle(service) +
                           " yet. Your other bookmarks are not affected.");
  alert.addButtonWithTitle("OK");
  alert.beginSheetModalForWindow(window_, nullptr);
  return false;
}

void FoldersController::readFromService(const std::string& service, bool manual) {
  if (auto client = serviceClient(service)) {
    if (manual) client->manualImport();
    else client->import();
  }
}

void FoldersController::disconnectFromService(const std::string& service) {
  auto record = Service::fetchEntityWhereProperty("name", service);
  if (!record) return;
  // Exactly the service's collection, whatever list is shown meanwhile.
  auto marked = Bookmark::fetchEntitiesWithPredicate(store::Predicate::parse("ANY services.name == %@", {service}))
                    .value_or(Bookmark::List{});
  if (kestoData_) kestoData_->removeBookmarks(marked);
  Bookmark::deleteBookmarks(marked);
  record->deleteEntity();
  save("The account could not be removed");
  ViewUpdater::updateSidebar();
}

// ---- Commands ----------------------------------------------------------------------------------

void FoldersController::addActions(ui::ActionSet& set) {
  auto on = [this, &set](ui::Command command, void (FoldersController::*method)(), std::string title = {},
                   std::string key = {}) {
    set.add({command, std::move(title), std::move(key), ui::ModifierFlag::Command, nullptr,
             [this, method](ui::Responder*) { return (this->*method)(), true; }});
  };
  auto needsFolder = [this](ui::MenuItem&) { return selectedFolder() != nullptr; };
  on(cmd::newFolder, &FoldersController::addFolder, "New Folder", "N");
  on(cmd::addFolder, &FoldersController::addFolder);
  on(cmd::addSmartFolder, &FoldersController::addSmartFolder, "New Smart Folder…");
  on(cmd::addBookmark, &FoldersController::addBookmark);
  on(cmd::removeFolder, &FoldersController::removeFolder);
  on(cmd::shareFolder, &FoldersController::shareFolder);
  on(cmd::lockFolder, &FoldersController::lockFolder);
  on(cmd::unlockFolder, &FoldersController::unlockFolder);
  for (auto command : {cmd::removeFolder, cmd::shareFolder, cmd::lockFolder, cmd::unlockFolder}) {
    ui::Action action = *set.find(command);
    action.isEnabled = needsFolder;
    set.add(std::move(action));
  }
  on(cmd::emptyTrash, &FoldersController::emptyTrash);
  on(cmd::findFolder, &FoldersController::find, "Find Folder", "f");
  on(cmd::fetchMissingImagesInCurrentFolder, &FoldersController::fetchMissingImagesInCurrentFolder);
  // Ctrl+Alt+F: Ctrl+Shift+F is View > Search in List.
  {
    ui::Action find = *set.find(cmd::findFolder);
    find.modifierMask = ui::ModifierFlag::Command | ui::ModifierFlag::Option;
    set.add(std::move(find));
  }
  set.add({cmd::changeFolderColor, {}, {}, ui::ModifierFlag::Command, nullptr, [this](ui::Responder* sender) {
             auto* item = dynamic_cast<ui::MenuItem*>(sender);
             if (!item) return true;
             // The colour word the entry stands for ("None" stands for none); else its title.
             const auto* word = std::any_cast<std::string>(&item->representedObject());
             changeFolderColor(word ? *word : item->title());
             return true;
           }});
  auto canRename = [this] {
    return list_->numberOfSelectedRows() == 1 && list_->shouldEditItem(list_->itemAtRow(list_->selectedRow()));
  };
  set.add({cmd::renameFolder, {}, {}, ui::ModifierFlag::Command, [canRename](ui::MenuItem&) { return canRename(); },
           [this](ui::Responder*) { return list_->beginEditingRow(list_->selectedRow()), true; }});
  auto undoManager = [] {
    auto context = WrenEntity::defaultContext();
    return context ? context->undoManager() : nullptr;
  };
  // Undo and redo of the library's last change; declined when there is none, so the command goes
  // on along the chain.
  for (bool redo : {false, true}) {
    auto can = [undoManager, redo] {
      auto* undo = undoManager();
      return undo && (redo ? undo->canRedo() : undo->canUndo());
    };
    set.add({redo ? cmd::redo : cmd::undo, {}, {}, ui::ModifierFlag::Command, [can](ui::MenuItem&) { return can(); },
        [this, can, undoManager, redo](ui::Responder*) {
          if (!can()) return false;
          if (redo) undoManager()->redo();
          else undoManager()->undo();
          reloadAfterUndo();
          return true;
        }});
  }
  auto service = [this, &set](ui::Command command, bool manualRead, const char* id) {
    set.add({command, {}, {}, ui::ModifierFlag::Command, nullptr, [this, manualRead, id](ui::Responder*) {
               if (manualRead) readFromService(id, true);
               else disconnectFromService(id);
               return true;
             }});
  };
  service(cmd::manualReadFromPinboard, true, kPinboardItemID);
  service(cmd::manualReadFromDelicious, true, kDeliciousItemID);
  service(cmd::disconnectFromPinboard, false, kPinboardItemID);
  service(cmd::disconnectFromDelicious, false, kDeliciousItemID);
  set.add({cmd::pathbarAction, {}, {}, ui::ModifierFlag::Command, nullptr, [this](ui::Responder* sender) {
             if (auto* bar = dynamic_cast<Pathbar*>(sender))
               pathbarAction(bar->indexOfComponentCell(bar->clickedPathComponentCell()));
             return true;
           }});
}

void FoldersController::addMenuItems(ui::Menu& fileMenu) {
  // Kept together so that the File menu's owner sees every folder entry in one place.
  std::size_t index = 0;
  for (auto command : {cmd::newFolder, cmd::addSmartFolder, cmd::findFolder}) {
    auto item = actions().find(command)->makeMenuItem();
    item->setTarget(this);
    fileMenu.insertItem(item, index++);
  }
  fileMenu.insertItem(ui::MenuItem::separatorItem(), index);
}

}  // namespace kesto
