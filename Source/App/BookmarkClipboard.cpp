// The list's clipboard (copy, cut, paste, the address) and undo.

#include "App/BookmarksController.h"

#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/ViewUpdater.h"
#include "Model/WrenDataManager.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/UndoManager.h"
#include "Platform/Foundation/Strings.h"
#include "Platform/Store/Context.h"
#include "Platform/UI/Pasteboard.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/UI/Window.h"
#include "Sidebar/SidebarKeys.h"


namespace kesto {

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

void BookmarksController::copy() {
  std::string text;
  if (kestoData_)
    for (const auto& b : kestoData_->selectedBookmarks()) text += b->url().value_or("") + "\n";
  // The contents replaced in one step, with our one type: nothing of what the clipboard held
  // before (read back from whoever holds it meanwhile) joins the copy.
  ui::PasteboardItem item;
  item.setString(text, BookmarkCopyType);
  ui::Pasteboard::general().writeObjects({item});
}

void BookmarksController::cut() {
  copy();
  deleteBookmarks();
}

void BookmarksController::paste() {
  auto text = ui::Pasteboard::general().stringForType(BookmarkCopyType);
  auto pieces = text ? fnd::split(*text, "\n") : std::vector<std::string>{};
  fnd::DispatchQueue::main().after(addDelay_, lifetime_.whileAlive([this, pieces] { doAddBookmarks(pieces); }));
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
  // The save first; the views catch up on the next turn of the event loop, so the user waits
  // twice briefly instead of once for both (as after a hand-over).
  auto oneRefresh = std::make_shared<ViewUpdater::Coalescing>();
  auto save = [manager] {
    if (manager) manager->disableUndoRegistration();
    WrenEntity::saveContext();
    if (manager) manager->enableUndoRegistration();
  };
  if (kestoData_) {
    // An undo can bring back or take away any bookmark (an add, a delete, a merge): the library
    // in memory follows what the save wrote.
    kestoData_->setSelectedBookmarks({});
    kestoData_->followSave(save);
  } else {
    save();
  }
  // Following the save refreshed the folder list, its badges and the list shown; the other
  // sidebar lists are chosen again to show what the undo changed.
  const bool foldersShown =
      kestoData_ && fnd::UserDefaults::standard().stringForKey(SelectedView).value_or(SelectedLibraryView) ==
                        SelectedLibraryView;
  if (!foldersShown) ViewUpdater::updateSidebar();
  ViewUpdater::updateInspector();
  fnd::DispatchQueue::main().async([hold = std::move(oneRefresh)]() mutable { hold.reset(); });
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

}  // namespace kesto
