// Deleting bookmarks from the list, and putting trashed ones back; each one undo step.

#include "App/BookmarksController.h"

#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/ViewUpdater.h"
#include "Platform/Foundation/UndoManager.h"
#include "Platform/Store/Context.h"
#include "Platform/UI/Button.h"
#include "Synchronize/SyncTombstones.h"
#include "Support/AlertPresenter.h"
#include "Views/PushButton.h"
#include "Views/TextLabel.h"

#include <algorithm>

namespace kesto {

namespace {

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
  AlertPresenter::ask("One or more selected bookmarks are either from Pinboard or Delicious. These bookmarks will "
                      "instantly be deleted online as well. Continue deleting?",
                      "", {"Yes", "No"}, lifetime_.whileAlive([run](int answer) {
                        if (answer == 0) run();
                      }));
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

}  // namespace kesto
