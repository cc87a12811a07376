// What the user does with bookmarks in the list: adding, deleting, opening, the context menu,
// the clipboard and undo.

#include "App/BookmarksController.h"

#include "App/AppCommands.h"
#include "App/PaneControllers.h"
#include "App/PreferencesController.h"
#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/Folder.h"
#include "Model/ViewUpdater.h"
#include "Model/WrenDataManager.h"
#include "Platform/Foundation/Assert.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/PercentEncoding.h"
#include "Platform/Foundation/UndoManager.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Store/Context.h"
#include "Platform/System/Workspace.h"
#include "Platform/UI/Button.h"
#include "Platform/UI/Dragging.h"
#include "Platform/UI/Event.h"
#include "Platform/UI/Image.h"
#include "Platform/UI/Label.h"
#include "Platform/UI/Menu.h"
#include "Platform/UI/Pasteboard.h"
#include "Platform/UI/TextField.h"
#include "Platform/UI/Window.h"
#include "Synchronize/SyncTombstones.h"
#include "Support/AlertPresenter.h"
#include "Views/KestoPanel.h"
#include "Views/PushButton.h"
#include "Views/TextLabel.h"
#include "Views/TileCollectionView.h"
#include "Views/TileCollectionViewCell.h"

#include <algorithm>
#include <unordered_set>

namespace kesto {

namespace {

struct KnownBrowser {
  ui::Command action;
  const char* identifier;
  const char* title;
  const char* image;
};
// The "Open with" items name their browser's desktop entry id as their represented object.
constexpr ui::Command kOpenWithBrowserAction = cmd::openSelectedBookmarksWith;
constexpr KnownBrowser kBrowsers[] = {
    {cmd::openSelectedBookmarksInCamino, "org.mozilla.camino", "Camino", "camino"},
    {cmd::openSelectedBookmarksInChrome, "com.google.Chrome", "Chrome", "chrome"},
    {cmd::openSelectedBookmarksInFirefox, "org.mozilla.firefox", "Firefox", "firefox"},
    {cmd::openSelectedBookmarksInOpera, "com.operasoftware.Opera", "Opera", "opera"},
    {cmd::openSelectedBookmarksInSafari, "com.apple.Safari", "Safari", "safari"},
};

std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (;;) {
    auto at = text.find(separator, start);
    out.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) return out;
    start = at + 1;
  }
}

// The address a browser is given: everything a URL may not hold escaped, "#" and "%" kept.
std::string browserAddress(const std::string& stored) {
  std::string escaped = fnd::addPercentEscapes(stored);
  auto replaceAll = [&](const std::string& from, const std::string& to) {
    for (std::size_t at = 0; (at = escaped.find(from, at)) != std::string::npos; at += to.size())
      escaped.replace(at, from.size(), to);
  };
  replaceAll("%23", "#");
  replaceAll("%25", "%");
  return escaped;
}

bool isService(const Bookmark& b) { return b.isDelicious() || b.isPinboard(); }

// Registers with the library's undo manager a step whose undo runs `undo` and whose redo runs
// `redo`, alternating for as long as the user goes back and forth.
void registerReversible(std::function<void()> undo, std::function<void()> redo) {
  struct Pair {
    std::function<void()> undo, redo;
  };
  auto pair = std::make_shared<Pair>(Pair{std::move(undo), std::move(redo)});
  auto step = std::make_shared<std::function<void(bool)>>();
  std::weak_ptr<std::function<void(bool)>> weakStep = step;
  *step = [pair, weakStep](bool undoing) {
    auto* manager = BookmarksController::undoManager();
    auto self = weakStep.lock();
    if (!manager || !self) return;
    manager->registerUndoWithTarget(nullptr, [pair, self, undoing] {
      (undoing ? pair->undo : pair->redo)();
      (*self)(!undoing);
    });
  };
  // The registered actions hold the step; it lives as long as they do.
  (*step)(true);
}

}  // namespace

void BookmarksController::observeEditCommands() {
  auto& center = fnd::NotificationCenter::defaultCenter();
  // Copy, cut, paste, undo and redo reach the list as commands along the responder chain.
  center.addObserver(this, [this](const fnd::Notification&) { add(); }, AddBookmarkNotification);
  // Undo and redo reach the library from the window too; the list follows either way.
  for (auto name : {fnd::kUndoManagerDidUndoChangeNotification, fnd::kUndoManagerDidRedoChangeNotification})
    center.addObserver(this, [this](const fnd::Notification& n) {
      if (n.object && n.object == undoManager()) afterUndoOrRedo();
    }, name);
}

// ---- adding ----

void BookmarksController::add() {
  KESTO_ASSERT_MAIN_THREAD();
  showAddBookmarkMessageSheet();
}

void BookmarksController::buildAddSheet() {
  auto sheet = std::make_shared<KestoPanel>(fnd::Rect(0, 0, 460, 150));
  sheet->setTitle("New Bookmark");
  auto content = sheet->contentView();
  auto caption = [&](double y, const std::string& text) {
    auto label = std::make_shared<ui::Label>(fnd::Rect(16, y, 80, 22), text);
    content->addSubview(label);
  };
  caption(106, "Address:");
  caption(72, "Title:");
  addBookmarkSheetURLField_ = std::make_shared<ui::TextField>(fnd::Rect(100, 104, 344, 26));
  addBookmarkSheetURLField_->setPlaceholderString("https://example.com, https://example.org");
  content->addSubview(addBookmarkSheetURLField_);
  addBookmarkSheetTitleField_ = std::make_shared<ui::TextField>(fnd::Rect(100, 70, 344, 26));
  addBookmarkSheetTitleField_->setPlaceholderString("Optional, for a single address");
  content->addSubview(addBookmarkSheetTitleField_);
  auto cancel = std::make_shared<ui::Button>(fnd::Rect(256, 14, 90, 30));
  cancel->setTitle("Cancel");
  cancel->setAction([this] { closeAddBookmarkFolderSheet(); });
  content->addSubview(cancel);
  auto save = std::make_shared<ui::Button>(fnd::Rect(354, 14, 90, 30));
  save->setTitle("Add");
  save->setAction([this] { addBookmarkSaveFromSheet(); });
  content->addSubview(save);
  // Return in either field saves, as the sheet's default button would.
  addBookmarkSheetURLField_->setAction([this] { addBookmarkSaveFromSheet(); });
  addBookmarkSheetTitleField_->setAction([this] { addBookmarkSaveFromSheet(); });
  addSheet_ = sheet;
}

void BookmarksController::showAddBookmarkMessageSheet() {
  if (!addSheet_) buildAddSheet();
  addBookmarkSheetURLField_->setStringValue("");
  addBookmarkSheetTitleField_->setStringValue("");
  ui::Window* window = views_.collectionView ? views_.collectionView->window() : nullptr;
  if (!window || addSheet_->isSheet()) return;
  window->beginSheet(*addSheet_);
  addSheet_->makeFirstResponder(addBookmarkSheetURLField_.get());
}

void BookmarksController::closeAddBookmarkFolderSheet() {
  if (!addSheet_ || !addSheet_->isSheet()) return;
  if (auto* parent = views_.collectionView ? views_.collectionView->window() : nullptr) parent->endSheet(*addSheet_);
}

void BookmarksController::addBookmarkSaveFromSheet() {
  if (!addBookmarkSheetURLField_) return;
  auto pieces = split(addBookmarkSheetURLField_->stringValue(), ',');
  const std::string title = trimmed(addBookmarkSheetTitleField_->stringValue());
  closeAddBookmarkFolderSheet();
  // After the sheet has gone, so that a duplicate question is not stacked on it.
  auto alive = lifetime_.watch();
  fnd::DispatchQueue::main().after(addDelay_, [this, alive, pieces, title] {
    if (alive) doAddBookmarks(pieces, title);
  });
}

std::shared_ptr<Bookmark> BookmarksController::addOne(const std::string& url, bool useTags) {
  if (!kestoData_) return nullptr;
  const char* service = kestoData_->loadingFromDelicious()  ? "delicious"
                        : kestoData_->loadingFromPinboard() ? "pinboard"
                                                            : nullptr;
  if (service) {
    // A service holds an address once: a stored bookmark of that service with it refuses it.
    auto stored = Bookmark::fetchEntitiesWhereProperty("url", fnd::Value(fnd::removePercentEscapesOrKeep(url)))
                      .value_or(Bookmark::List{});
    for (const auto& b : stored)
      if (service == std::string("delicious") ? b->isDelicious() : b->isPinboard()) {
        ViewUpdater::showMessage("Cannot duplicate bookmarks on Delicious or Pinboard", 500, 100, 2);
        return nullptr;
      }
    return Bookmark::addBookmarWithURL(url, service);
  }
  if (useTags && !kestoData_->currentlySelectedTags().empty())
    return Bookmark::addBookmarkWithURL(url, kestoData_->currentlySelectedTags());
  return Bookmark::addBookmarkWithURL(url, kestoData_->currentFolder());
}

void BookmarksController::finishAdding(const std::vector<std::shared_ptr<Bookmark>>& made, const char* message) {
  if (made.empty()) return;
  ViewUpdater::updateSourceLists();
  updateBookmarks(made);
  ViewUpdater::showMessage(message, 300, 100, 2);
}

void BookmarksController::doAddBookmarks(const std::vector<std::string>& pieces, const std::string& title) {
  if (!kestoData_) return;
  const bool checking = kestoPreferences_ ? kestoPreferences_->checkDuplicates() : true;
  std::vector<std::string> urls;
  for (const auto& piece : pieces) {
    std::string url = trimmed(piece);
    if (url.empty()) continue;
    if (url.rfind("http", 0) != 0) url = "http://" + url;
    urls.push_back(url);
  }
  std::vector<std::shared_ptr<Bookmark>> made;
  std::vector<std::string> duplicates;
  for (const auto& url : urls) {
    // Addresses are stored decoded: an escaped form of a stored address is the same address.
    if (checking && Bookmark::checkIfEntityExistsWhereProperty("url", fnd::Value(fnd::removePercentEscapesOrKeep(url)))) {
      duplicates.push_back(url);
      continue;
    }
    if (auto b = addOne(url, checking)) made.push_back(b);
  }
  // A title typed for one address names it.
  if (!title.empty() && urls.size() == 1 && made.size() == 1) {
    made.front()->setTitle(title);
    // Settled: a fetched page title (or "no internet connection") never replaces it.
    made.front()->setTitleUpdated(1);
    made.front()->saveBookmark();
  }
  finishAdding(made, "Bookmark added");
  if (!duplicates.empty()) {
    std::string message;
    for (const auto& url : duplicates) message += url + " is already present.\r";
    const std::string question = duplicates.size() > 1 ? "Do you still want to add these bookmarks?"
                                                       : "Do you still want to add this bookmark?";
    auto alive = lifetime_.watch();
    AlertPresenter::ask(message, question, {"Yes", "No"}, [this, alive, duplicates, title](int answer) {
      if (!alive || answer != 0) return;
      std::vector<std::shared_ptr<Bookmark>> confirmed;
      for (const auto& url : duplicates)
        if (auto b = addOne(url, false)) confirmed.push_back(b);
      if (!title.empty() && duplicates.size() == 1 && confirmed.size() == 1) {
        confirmed.front()->setTitle(title);
        confirmed.front()->setTitleUpdated(1);
        confirmed.front()->saveBookmark();
      }
      finishAdding(confirmed, "Bookmarks added");
    });
  }
  ViewUpdater::updateSourceLists();
  ViewUpdater::updateBookmarks();
}

// ---- deleting ----

void BookmarksController::deleteBookmarks() {
  if (!kestoData_) return;
  const auto selection = kestoData_->selectedBookmarks();
  if (selection.empty()) return;
  auto run = [this, selection] {
    auto* undo = undoManager();
    if (undo) undo->beginUndoGrouping();
    std::vector<SyncTombstone> tombstones;
    std::vector<std::shared_ptr<Bookmark>> gone;
    std::vector<std::pair<std::shared_ptr<Bookmark>, std::string>> online;
    for (const auto& b : selection) {
      if (!b) continue;
      if (b->trashed() >= 1 || isService(*b)) {
        // Every deletion for good leaves a tombstone, or sync brings the bookmark back.
        tombstones.push_back(SyncTombstone{b->uniqueIDValue().value_or(""), b->version(), "b"});
        if (b->trashed() < 1) online.emplace_back(b, b->url().value_or(""));
        gone.push_back(b);
      } else {
        b->setTrashed(1);
        b->setVersion(b->version() + 1);
      }
    }
    // Online deletes go out from here, before the objects are deleted, each address once.
    for (const auto& [b, url] : online)
      if (!url.empty()) b->deleteFromServices(url);
    if (!gone.empty()) {
      kestoData_->removeBookmarks(gone);
      Bookmark::deleteBookmarks(gone);
    }
    WrenEntity::saveContext();
    SyncTombstones::add(tombstones);
    // Undoing brings the bookmarks back without their tombstones; a redo writes them again.
    if (undo && !tombstones.empty())
      registerReversible([tombstones] { SyncTombstones::remove(tombstones); },
                         [tombstones] { SyncTombstones::add(tombstones); });
    if (undo) {
      undo->setActionName("Delete");
      undo->endUndoGrouping();
    }
    kestoData_->setSelectedBookmarks({});
    // Nothing is selected any more: the inspector lets go of what it showed.
    forgetUnselectedInInspector({});
    if (kestoData_->isSearching()) {
      // The search runs again, so what was just trashed leaves its results.
      if (views_.searchField) views_.searchField->sendAction();
      else ViewUpdater::updateBookmarks();
    } else {
      if (views_.folderSearchOnlyButton) views_.folderSearchOnlyButton->setHidden(true);
      if (views_.folderSearchOnlyLabel) views_.folderSearchOnlyLabel->setHidden(true);
      kestoData_->loadBookmarks();
      ViewUpdater::updateSourceLists();
    }
    if (!gone.empty()) ViewUpdater::updateSidebar();
  };
  const bool anyService = std::any_of(selection.begin(), selection.end(),
                                      [](const auto& b) { return b && b->trashed() < 1 && isService(*b); });
  if (!anyService) return run();
  auto alive = lifetime_.watch();
  AlertPresenter::ask("One or more selected bookmarks are either from Pinboard or Delicious. These bookmarks will "
                      "instantly be deleted online as well. Continue deleting?",
                      "", {"Yes", "No"}, [alive, run](int answer) {
                        if (alive && answer == 0) run();
                      });
}

void BookmarksController::putBackFromTrash() {
  if (!kestoData_ || kestoData_->selectedBookmarks().empty()) return;
  for (const auto& b : kestoData_->selectedBookmarks()) {
    b->setTrashed(0);
    b->setVersion(b->version() + 1);
  }
  WrenEntity::saveContext();
  if (auto* undo = undoManager()) undo->setActionName("Put Back");
  kestoData_->loadBookmarks();
  ViewUpdater::updateSourceLists();
  ViewUpdater::updateTrash();
}

// ---- opening ----

void BookmarksController::recordVisit(Bookmark& bookmark) {
  bookmark.setLastOpened(fnd::Date::now());
  bookmark.setTimesOpened(bookmark.timesOpened() + 1);
  bookmark.saveBookmark();
}

void BookmarksController::openSelectedBookmarks() {
  KESTO_ASSERT_MAIN_THREAD();
  // The page replaces its preview.
  if (quickLookPanel_ && quickLookPanel_->isVisible()) togglePreview();
  if (!kestoData_) return;
  const auto selection = kestoData_->selectedBookmarks();
  if (selection.empty()) return;
  const std::string browser = kestoPreferences_ ? kestoPreferences_->favoriteBrowser() : "Default";
  // A chosen browser that has been removed: the pages still open, and the user learns why
  // they open elsewhere.
  if (auto missing = kestoPreferences_ ? kestoPreferences_->missingBrowserName() : std::nullopt)
    ViewUpdater::showMessage(*missing + " is no longer installed: opened in the default browser", 520, 100, 3);
  for (const auto& b : selection) {
    if (!b) continue;
    auto url = b->url();
    if (!url) continue;
    recordVisit(*b);
    // Only web pages go to a named browser; other schemes keep the desktop's question.
    if (browser != "Default" && sys::Workspace::policyForURL(*url) == sys::Workspace::OpenPolicy::Browser &&
        sys::Workspace::openURLs({browserAddress(*url)}, browser))
      continue;
    openBookmarkAddress(sys::Workspace::policyForURL(*url) == sys::Workspace::OpenPolicy::Browser ? browserAddress(*url)
                                                                                                   : *url);
  }
  ViewUpdater::updateHistory();
  ViewUpdater::updateInspector();
}

void BookmarksController::openSelectedBookmarkInBrowser(const std::string& browserIdentifier) {
  if (!kestoData_) return;
  clearSearchField();
  std::vector<std::string> urls;
  for (const auto& b : kestoData_->selectedBookmarks()) {
    auto url = b ? b->url() : std::nullopt;
    if (!url || sys::Workspace::policyForURL(*url) != sys::Workspace::OpenPolicy::Browser) continue;
    recordVisit(*b);
    urls.push_back(browserAddress(*url));
  }
  if (urls.empty()) return;
  sys::Workspace::openURLs(urls, browserIdentifier);
  ViewUpdater::updateHistory();
  ViewUpdater::updateInspector();
}

void BookmarksController::openSelectedBookmarkFolder() {
  fnd::NotificationCenter::defaultCenter().postNotificationName(BRWGoToCurrentFolder, nullptr);
}

std::shared_ptr<ui::Menu> BookmarksController::bookmarkMenu() {
  if (!kestoData_) return nullptr;
  const auto selection = kestoData_->selectedBookmarks();
  if (selection.empty()) return nullptr;
  auto menu = std::make_shared<ui::Menu>();
  menu->setAutoenablesItems(false);
  auto item = [&](const std::string& title, ui::Command action) {
    auto i = menu->addItemWithTitle(title, action);
    i->setTarget(this);
    return i;
  };
  item("Open", cmd::openSelectedBookmarks);
  auto with = std::make_shared<ui::Menu>("Open with");
  with->setAutoenablesItems(false);
  // The browsers installed here, by their desktop entries' names and icons.
  for (const auto& browser : sys::Workspace::installedBrowsers()) {
    auto i = with->addItemWithTitle(browser.name, kOpenWithBrowserAction);
    i->setTarget(this);
    i->setRepresentedObject(browser.identifier);
    i->setImage(ui::Image::iconNamed(browser.icon));
  }
  auto withItem = menu->addItemWithTitle("Open with", {});
  withItem->setSubmenu(with);
  withItem->setEnabled(!with->items().empty());
  item("Quick Look", cmd::togglePreviewPanel);
  menu->addItem(ui::MenuItem::separatorItem());
  item("Go To Folder", cmd::openSelectedBookmarkFolder);
  menu->addItem(ui::MenuItem::separatorItem());
  item("Delete", cmd::deleteBookmarks);
  if (selection.front()->trashed() > 0) item("Put back from trash", cmd::putBackFromTrash);
  menu->addItem(ui::MenuItem::separatorItem());
  item(selection.size() > 1 ? "Copy links" : "Copy link", cmd::copyBookmarkAddress);
  menu->addItem(ui::MenuItem::separatorItem());
  // Sharing takes one bookmark at a time, to what the desktop offers.
  if (selection.size() == 1 && !sharingServices_.empty()) {
    auto share = std::make_shared<ui::Menu>("Share");
    share->setAutoenablesItems(false);
    for (std::size_t i = 0; i < sharingServices_.size(); ++i) {
      auto s = share->addItemWithTitle(sharingServices_[i].title, cmd::shareBookmarks);
      s->setTarget(this);
      s->setTag(static_cast<std::int64_t>(i));
      s->setImage(ui::Image::named(sharingServices_[i].imageName));
    }
    menu->addItemWithTitle("Share", {})->setSubmenu(share);
  }
  item("Email links", cmd::emailLinks);
  menu->addItem(ui::MenuItem::separatorItem());
  item("Update from web", cmd::updateWebContentForSelectedBookmarks);
  if (selection.size() == 1) item("Set thumbnail from file", cmd::updateThumbnailManually);
  return menu;
}

void BookmarksController::openBookmarkMenu(const ui::Event* event) {
  auto menu = bookmarkMenu();
  if (!menu || !views_.collectionView) return;
  shownMenu_ = menu;
  if (event) return ui::Menu::popUpContextMenu(menu, *event, *views_.collectionView);
  // From the keyboard: beside the first selected cell, else the list's middle.
  fnd::Point at{views_.collectionView->bounds().midX(), views_.collectionView->bounds().midY()};
  auto paths = indexPathsOfBookmarks({kestoData_->selectedBookmarks().front()});
  if (!paths.empty())
    if (auto cell = views_.collectionView->cellForItemAtIndexPath(paths.front()))
      at = cell->convertPointToView(fnd::Point{cell->bounds().midX(), cell->bounds().midY()},
                                    views_.collectionView.get());
  menu->popUpAtLocation(at, *views_.collectionView);
}

// ---- dragging out ----

std::vector<ui::PasteboardItem> BookmarksController::draggedItems() const {
  // What the list shows selected now: the data manager hears of a click only a moment later,
  // and a drag can start before that.
  auto selection = currentlySelectedBookmarks();
  if (selection.empty() && kestoData_) selection = kestoData_->selectedBookmarks();
  std::vector<ui::PasteboardItem> items;
  std::string lines;
  for (const auto& b : selection) {
    if (!b) continue;
    lines += "bm:" + b->uniqueIDValue().value_or("") + "\n";
    ui::PasteboardItem item;
    if (auto url = b->url()) item.setURL(*url, b->title().value_or(""));
    items.push_back(std::move(item));
  }
  if (!items.empty()) items.front().setString(lines);
  return items;
}

void BookmarksController::mouseDragged(const ui::Event& event) {
  if (!kestoData_ || !views_.collectionView || dragging_) return;
  kestoData_->setShouldCopyDuringDrag(event.hasModifier(ui::ModifierFlag::Option) ||
                                      event.hasModifier(ui::ModifierFlag::Command));
  auto items = draggedItems();
  if (items.empty()) return;
  dragging_ = true;
  ui::beginDraggingSession(*views_.collectionView, items, ui::Image::named("drag_thumbnail"), fnd::Point{32, 24},
                           ui::DragOperation::Copy | ui::DragOperation::Move | ui::DragOperation::Generic);
  dragging_ = false;
  // The next plain click starts a new selection.
  kestoData_->setDoubleClickedOrDragging(true);
}

// ---- clipboard and undo ----

void BookmarksController::copy() {
  std::string text;
  if (kestoData_)
    for (const auto& b : kestoData_->selectedBookmarks()) text += b->url().value_or("") + "\n";
  auto& pasteboard = ui::Pasteboard::general();
  pasteboard.clearContents();
  pasteboard.setString(text, BookmarkCopyType);
}

void BookmarksController::cut() {
  copy();
  deleteBookmarks();
}

void BookmarksController::paste() {
  auto text = ui::Pasteboard::general().stringForType(BookmarkCopyType);
  auto pieces = text ? split(*text, '\n') : std::vector<std::string>{};
  auto alive = lifetime_.watch();
  fnd::DispatchQueue::main().after(addDelay_, [this, alive, pieces] {
    if (alive) doAddBookmarks(pieces);
  });
}

void BookmarksController::copyBookmarkAddress() {
  // Plain text for editors, one line per link, and each link as a URL for browsers and file
  // managers.
  std::vector<ui::PasteboardItem> items;
  std::string text;
  if (kestoData_)
    for (const auto& b : kestoData_->selectedBookmarks()) {
      const std::string url = b->url().value_or("");
      if (!text.empty() || !items.empty()) text += "\n";
      text += url;
      ui::PasteboardItem item;
      item.setURL(url, b->title().value_or(""));
      items.push_back(std::move(item));
    }
  if (items.empty()) items.emplace_back();
  items.front().setString(text);
  ui::Pasteboard::general().writeObjects(items);
}

fnd::UndoManager* BookmarksController::undoManager() {
  auto context = WrenDataManager::sharedInstance().managedObjectContext();
  return context ? context->undoManager() : nullptr;
}

void BookmarksController::afterUndoOrRedo() {
  if (inUndoRefresh_) return;
  inUndoRefresh_ = true;
  // What the undo changed is saved like any other change, so a quit keeps it. The save is no
  // new change: recording it would throw the redo steps away.
  auto* manager = undoManager();
  if (manager) manager->disableUndoRegistration();
  WrenEntity::saveContext();
  if (manager) manager->enableUndoRegistration();
  if (kestoData_) {
    // An undo can bring back or take away any bookmark (an add, a delete, a merge), so the
    // library in memory is read again from the store rather than patched.
    kestoData_->setSelectedBookmarks({});
    kestoData_->fetchAllBookmarksFromCoreData();
  }
  ViewUpdater::updateSidebar();
  ViewUpdater::updateInspector();
  inUndoRefresh_ = false;
}

void BookmarksController::undo() {
  auto* manager = undoManager();
  if (!manager || !manager->canUndo()) return;
  manager->undo();
}

void BookmarksController::redo() {
  auto* manager = undoManager();
  if (!manager || !manager->canRedo()) return;
  manager->redo();
}

// ---- actions ----

void BookmarksController::addActions(ui::ActionSet& set) {
  std::function<bool(ui::MenuItem&)> hasSelection = [this](ui::MenuItem&) {
    return kestoData_ && !kestoData_->selectedBookmarks().empty();
  };
  auto on = [&](ui::Command command, void (BookmarksController::*method)(), bool needsSelection) {
    set.add({command, {}, {}, ui::ModifierFlag::Command, needsSelection ? hasSelection : std::function<bool(ui::MenuItem&)>(),
             [this, method](ui::Responder*) { return (this->*method)(), true; }});
  };
  on(cmd::selectThumbnailView, &BookmarksController::selectThumbnailView, false);
  on(cmd::selectExtendedView, &BookmarksController::selectExtendedView, false);
  on(cmd::selectListView, &BookmarksController::selectListView, false);
  on(cmd::openSelectedBookmarks, &BookmarksController::openSelectedBookmarks, true);
  on(cmd::add, &BookmarksController::add, false);
  on(cmd::deleteBookmarks, &BookmarksController::deleteBookmarks, true);
  on(ui::cmd::delete_, &BookmarksController::deleteBookmarks, true);
  on(cmd::putBackFromTrash, &BookmarksController::putBackFromTrash, true);
  on(cmd::openSelectedBookmarkFolder, &BookmarksController::openSelectedBookmarkFolder, true);
  on(ui::cmd::copy, &BookmarksController::copy, true);
  on(ui::cmd::cut, &BookmarksController::cut, true);
  on(ui::cmd::paste, &BookmarksController::paste, false);
  on(cmd::copyBookmarkAddress, &BookmarksController::copyBookmarkAddress, true);
  on(ui::cmd::undo, &BookmarksController::undo, false);
  on(ui::cmd::redo, &BookmarksController::redo, false);
  on(cmd::togglePreviewPanel, &BookmarksController::togglePreview, true);
  on(cmd::emailLinks, &BookmarksController::emailLinks, false);
  on(cmd::updateWebContentForSelectedBookmarks, &BookmarksController::updateWebContentForSelectedBookmarks, true);
  on(cmd::updateThumbnailManually, &BookmarksController::updateThumbnailManually, true);
  // The enabled rules beyond "needs a selection".
  auto answer = [&](ui::Command command, std::function<bool(ui::MenuItem&)> isEnabled) {
    ui::Action action = *set.find(command);
    action.isEnabled = std::move(isEnabled);
    set.add(std::move(action));
  };
  answer(ui::cmd::undo, [this](ui::MenuItem& item) {
    auto* manager = undoManager();
    item.setTitle(manager ? manager->undoMenuItemTitle() : "Undo");
    return manager && manager->canUndo();
  });
  answer(ui::cmd::redo, [this](ui::MenuItem& item) {
    auto* manager = undoManager();
    item.setTitle(manager ? manager->redoMenuItemTitle() : "Redo");
    return manager && manager->canRedo();
  });
  answer(ui::cmd::paste,
         [](ui::MenuItem&) { return ui::Pasteboard::general().stringForType(BookmarkCopyType).has_value(); });
  // An open preview can always be closed.
  answer(cmd::togglePreviewPanel, [this, hasSelection](ui::MenuItem& item) {
    return (quickLookPanel_ && quickLookPanel_->isVisible()) || hasSelection(item);
  });
  answer(cmd::putBackFromTrash, [this](ui::MenuItem&) {
    if (!kestoData_) return false;
    const auto& selected = kestoData_->selectedBookmarks();
    return std::any_of(selected.begin(), selected.end(), [](const auto& b) { return b && b->trashed() > 0; });
  });
  // The Share menu's items name their service by tag.
  set.add({cmd::shareBookmarks, {}, {}, ui::ModifierFlag::Command, nullptr, [this](ui::Responder* sender) {
             auto* item = dynamic_cast<ui::MenuItem*>(sender);
             if (item && item->tag() >= 0 && static_cast<std::size_t>(item->tag()) < sharingServices_.size())
               shareBookmarks(sharingServices_[static_cast<std::size_t>(item->tag())]);
             return true;
           }});
  set.add({kOpenWithBrowserAction, {}, {}, ui::ModifierFlag::Command, nullptr, [this](ui::Responder* sender) {
             auto* item = dynamic_cast<ui::MenuItem*>(sender);
             const auto* identifier = item ? std::any_cast<std::string>(&item->representedObject()) : nullptr;
             if (identifier) openSelectedBookmarkInBrowser(*identifier);
             return identifier != nullptr;
           }});
  for (const auto& b : kBrowsers) {
    const char* identifier = b.identifier;
    set.add({b.action, {}, {}, ui::ModifierFlag::Command, nullptr, [this, identifier](ui::Responder*) {
               return openSelectedBookmarkInBrowser(identifier), true;
             }});
  }
}

}  // namespace kesto
