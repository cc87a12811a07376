// Giving the selected bookmarks a bookmark service's mark, and taking it away.

#include "App/BookmarksController.h"

#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/DataModel.h"
#include "Model/Folder.h"
#include "Model/Service.h"
#include "Model/ViewUpdater.h"

namespace kesto {

namespace {

std::string serviceTitle(const std::string& service) { return service == Service::kPinboard ? "Pinboard" : "Delicious"; }

}  // namespace

bool BookmarksController::hasServiceAccount(const std::string& service) {
  return Service::serviceNamed(service) != nullptr;
}

void BookmarksController::addToService(const std::string& service) {
  if (!kestoData_) return;
  const auto selection = kestoData_->selectedBookmarks();
  bool changed = false;
  for (const auto& b : selection) {
    if (!b) continue;
    auto record = Service::serviceNamed(service);
    // Without the account nothing more is marked; the bookmarks handled so far stay marked.
    if (!record) break;
    b->addService(record);
    // A marked bookmark lives in the service's collection, in no folder of the library.
    b->setFolder(nullptr);
    // Saving posts it to the service.
    b->saveBookmark();
    changed = true;
    ViewUpdater::showMessage("Added to " + serviceTitle(service), 300, 100, 2);
  }
  if (changed) ViewUpdater::updateSourceLists();
}

void BookmarksController::removeFromService(const std::string& service) {
  if (!kestoData_) return;
  const auto selection = kestoData_->selectedBookmarks();
  if (selection.empty()) return;
  auto record = Service::serviceNamed(service);
  if (!record) return;
  for (const auto& b : selection) {
    if (!b) continue;
    b->removeFromMany(bookmark_rel::services, record);
    if (service == Service::kPinboard) b->updatePinboardImage();
    else b->updateDeliciousImage();
    // Back in the library's Inbox; the copy on the service is kept.
    b->setFolder(Folder::inboxFolder());
    b->saveBookmark();
    ViewUpdater::showMessage("Removed from " + serviceTitle(service), 300, 100, 2);
  }
  ViewUpdater::updateSourceLists();
}

}  // namespace kesto
