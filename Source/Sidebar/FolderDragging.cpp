// Drag and drop on the folder list: folders are moved and reordered, bookmarks moved or copied
// into folders, into a new folder, or marked for an online service.
#include "Sidebar/FoldersController.h"

#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/DataModel.h"
#include "Model/Folder.h"
#include "Model/Service.h"
#include "Model/ViewUpdater.h"
#include "Platform/Foundation/Date.h"
#include "Platform/UI/Alert.h"
#include "Views/ImageNamed.h"
#include "Views/SourceList.h"

#include <algorithm>
#include <unordered_set>

namespace kesto {

namespace {

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string::size_type start = 0;
  while (true) {
    auto end = text.find('\n', start);
    lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// Drags name records by identifier; one that has gone meanwhile (a sync, another window) is
// skipped, never made anew.
Bookmark::Ref existingBookmark(const std::string& uniqueID) {
  if (uniqueID.empty()) return nullptr;
  return Bookmark::fetchEntityWhereProperty("uniqueID", uniqueID);
}

// Whether `folder` is `ancestor` or lies below it.
bool isWithin(const Folder& folder, const Folder& ancestor) {
  if (folder.folderID() == ancestor.folderID()) return true;
  for (auto& a : folder.parentFolders())
    if (a->folderID() == ancestor.folderID()) return true;
  return false;
}

void markMoved(Bookmark& b, const Folder::Ref& destination) {
  b.setFolder(destination);
  b.setTrashed(0);
  // A bookmark is locked exactly when its folder is.
  b.setBlocked(destination && destination->blocked() > 0 ? 1 : 0);
  b.incrementVersionNumber();
  b.setUpdatedDate(fnd::Date::now());
}

Bookmark::Ref copyOf(const Bookmark& source, const Folder::Ref& destination) {
  auto copy = Bookmark::newBookmark();
  if (!copy) return nullptr;
  const auto now = fnd::Date::now();
  copy->setAddedDate(now);
  copy->setUpdatedDate(now);
  copy->setNeedsUpdate(1);
  copy->setTrashed(0);
  copy->setTitle(source.title());
  copy->setFavicon(source.favicon());
  copy->setUrl(source.url());
  copy->setBaseURL(source.baseURL());
  for (auto& tag : source.tags()) copy->addTag(tag);
  copy->setFolder(destination);
  copy->setBlocked(destination && destination->blocked() > 0 ? 1 : 0);
  return copy;
}

}  // namespace

bool FoldersController::sourceListWriteItemsToPasteboard(SourceList& list, const std::vector<SourceListItemPtr>& items,
                                                         ui::DragPayload& pasteboard) {
  if (items.empty()) return false;
  for (auto* i : items) {
    auto* item = dynamic_cast<SourceListItem*>(i);
    if (!item || item->identifier() == Folder::kInboxID || item->identifier() == Folder::kImportedID) return false;
  }
  auto* first = dynamic_cast<SourceListItem*>(items.front());
  if (first->identifier() != selectedIdentifier()) return false;
  auto folder = Folder::existingFolderWithFolderID(first->identifier());
  pasteboard.setString(ui::DragPayload::PlainText,
                       folder ? std::string(kFolderDragPrefix) + folder->folderID() : std::string(kInvalidDragText));
  return true;
}

std::uint64_t FoldersController::sourceListValidateDropProposedItemProposedChildIndex(SourceList&,
                                                                                      const ui::OutlineDraggingInfo& info,
                                                                                      SourceListItemPtr proposedItem,
                                                                                      long) {
  auto* item = dynamic_cast<SourceListItem*>(proposedItem);
  if (!item || item->identifier().empty() || item->identifier() == kLibraryItemID) return ui::DragOperation::None;
  auto folder = Folder::existingFolderWithFolderID(item->identifier());
  if (folder && folder->blocked() > 0) return ui::DragOperation::None;
  const std::string text = info.payload.string(ui::DragPayload::PlainText).value_or("");
  if (startsWith(text, kFolderDragPrefix)) {
    const std::string& id = item->identifier();
    if (id == Folder::kInboxID || id == kDeliciousItemID || id == kPinboardItemID) return ui::DragOperation::None;
  }
  const bool copy = (kestoData_ && kestoData_->shouldCopyDuringDrag()) || info.sourceOperationMask == ui::DragOperation::Copy;
  return copy ? ui::DragOperation::Copy : ui::DragOperation::Generic;
}

bool FoldersController::sourceListAcceptDropItemChildIndex(SourceList&, const ui::OutlineDraggingInfo& info,
                                                           SourceListItemPtr item, long childIndex) {
  auto* target = dynamic_cast<SourceListItem*>(item);
  if (!target) return false;
  auto text = info.payload.string(ui::DragPayload::PlainText);
  if (!text) return false;
  const bool copy = (kestoData_ && kestoData_->shouldCopyDuringDrag()) || info.sourceOperationMask == ui::DragOperation::Copy;
  return acceptDrop(*text, target->identifier(), childIndex, copy);
}

bool FoldersController::acceptDrop(const std::string& text, const std::string& targetID, long childIndex, bool copy) {
  const auto lines = splitLines(text);
  const bool folderDrag = startsWith(text, kFolderDragPrefix);
  bool done = false;
  if (targetID == kDeliciousItemID || targetID == kPinboardItemID) {
    if (folderDrag) return false;
    return serviceDrop(lines, targetID, copy);
  }
  if (targetID == kHomeItemID) {
    done = folderDrag ? folderDrop(lines, targetID, childIndex) : newFolderDrop(lines);
  } else if (targetID == Folder::kInboxID) {
    if (folderDrag) return false;
    done = bookmarkDrop(lines, targetID, copy);
  } else if (Folder::existingFolderWithFolderID(targetID)) {
    done = folderDrag ? folderDrop(lines, targetID, childIndex) : bookmarkDrop(lines, targetID, copy);
  } else {
    return false;
  }
  if (!done) return false;
  save("The move could not be saved");
  loadBadges();
  updateView();
  return true;
}

bool FoldersController::folderDrop(const std::vector<std::string>& lines, const std::string& targetID, long childIndex) {
  if (!isUserSorted_) {
    ui::Alert alert;
    alert.setMessageText("Kesto");
    alert.setInformativeText(
        "Folders cannot be moved while alphabetically sorted. Please select manual sorting to drag and drop folders.");
    alert.addButtonWithTitle("OK");
    // Without a modal loop of its own inside the drag's.
    alert.beginSheetModalForWindow(nullptr, nullptr);
    return false;
  }
  auto target = targetID == kHomeItemID ? nullptr : Folder::existingFolderWithFolderID(targetID);
  if (targetID != kHomeItemID && !target) return false;
  bool moved = false;
  for (const auto& line : lines) {
    if (line.empty()) continue;
    if (!startsWith(line, kFolderDragPrefix)) return false;
    auto dragged = Folder::existingFolderWithFolderID(line.substr(std::char_traits<char>::length(kFolderDragPrefix)));
    if (!dragged) continue;
    if (dragged->blocked() > 0 || dragged->folderID() == Folder::kInboxID || dragged->folderID() == Folder::kImportedID)
      return false;
    // Never into itself or its own subtree: the tree would lose the whole branch.
    if (target && isWithin(*target, *dragged)) return false;
    reorderFoldersWithDraggedFolder(dragged, target, childIndex);
    moved = true;
  }
  return moved;
}

bool FoldersController::bookmarkDrop(const std::vector<std::string>& lines, const std::string& targetID, bool copy) {
  auto destination = Folder::existingFolderWithFolderID(targetID);
  if (!destination) return false;
  DataManager::BookmarkList changed;
  bool lostPinboard = false, lostDelicious = false;
  for (const auto& line : lines) {
    if (line.empty()) continue;
    if (!startsWith(line, kBookmarkDragPrefix)) return false;
    auto b = existingBookmark(line.substr(std::char_traits<char>::length(kBookmarkDragPrefix)));
    if (!b) continue;
    if (!copy || b->trashed() > 0) {
      for (auto& service : b->toMany(bookmark_rel::services)) {
        const std::string name = service->value(service_attr::name).string();
        if (name == kPinboardItemID) lostPinboard = true;
        if (name == kDeliciousItemID) lostDelicious = true;
        b->removeFromMany(bookmark_rel::services, service);
      }
      markMoved(*b, destination);
      changed.push_back(b);
    } else if (auto c = copyOf(*b, destination)) {
      changed.push_back(c);
    }
  }
  if (lostDelicious) ViewUpdater::showMessage("Removed from Delicious", 300, 100, 2);
  if (lostPinboard) ViewUpdater::showMessage("Removed from Pinboard", 300, 100, 2);
  if (!save("The bookmarks could not be moved")) return false;
  if (kestoData_ && !changed.empty()) kestoData_->addBookmarks(changed);
  if (kestoData_) kestoData_->loadBookmarks();
  return true;
}

bool FoldersController::newFolderDrop(const std::vector<std::string>& lines) {
  Folder::Ref folder;
  if (Folder::countWithPredicate(store::Predicate::parse("parentFolderID == %@", {std::string(Folder::kRootID)})) < 3) {
    folder = Folder::initEntity();
    if (folder) {
      folder->setName("New Folder");
      if (!folder->saveFolder()) return false;
      if (kestoData_) kestoData_->addFolders({folder});
    }
  }
  if (!folder) return false;
  DataManager::BookmarkList changed;
  for (const auto& line : lines) {
    if (line.empty()) continue;
    if (!startsWith(line, kBookmarkDragPrefix)) return false;
    auto b = existingBookmark(line.substr(std::char_traits<char>::length(kBookmarkDragPrefix)));
    if (!b) continue;
    markMoved(*b, folder);
    changed.push_back(b);
  }
  if (!save("The bookmarks could not be moved")) return false;
  if (kestoData_ && !changed.empty()) kestoData_->addBookmarks(changed);
  reloadFolders(folder->parentFolderID());
  return true;
}

bool FoldersController::serviceDrop(const std::vector<std::string>& lines, const std::string& service, bool copy) {
  auto record = Service::fetchEntityWhereProperty("name", service);
  if (!record) return false;
  const std::string other = service == kPinboardItemID ? kDeliciousItemID : kPinboardItemID;
  DataManager::BookmarkList changed;
  int added = 0;
  for (const auto& line : lines) {
    if (!startsWith(line, kBookmarkDragPrefix)) continue;
    auto b = existingBookmark(line.substr(std::char_traits<char>::length(kBookmarkDragPrefix)));
    if (!b) continue;
    const auto url = b->url().value_or("");
    if (Bookmark::checkIfEntityExistsWithPredicate(
            store::Predicate::parse("url == %@ AND ANY services.name == %@", {url, service})))
      continue;
    ++added;
    if (copy) {
      auto c = copyOf(*b, nullptr);
      if (!c) continue;
      c->addService(record);
      // Saving is what posts the newly marked bookmark to the service.
      c->saveBookmark();
      changed.push_back(c);
    } else {
      for (auto& s : b->toMany(bookmark_rel::services))
        if (s->value(service_attr::name).string() == other) b->removeFromMany(bookmark_rel::services, s);
      b->addService(record);
      b->setFolder(nullptr);
      b->saveBookmark();
      changed.push_back(b);
    }
  }
  if (!save("The bookmarks could not be marked")) return false;
  if (kestoData_) kestoData_->addBookmarks(changed);
  if (added < 1)
    ViewUpdater::showMessage("Cannot duplicate bookmarks on Delicious or Pinboard", 500, 100, 2);
  else
    ViewUpdater::showMessage(service == kPinboardItemID ? "Added to Pinboard" : "Added to Delicious", 300, 100, 2);
  loadBadges();
  return true;
}

void FoldersController::reorderFoldersWithDraggedFolder(const std::shared_ptr<Folder>& dragged,
                                                        const std::shared_ptr<Folder>& target, long toIndex) {
  if (!dragged) return;
  const std::string oldParent = dragged->parentFolderID();
  const std::string newParent = target ? target->folderID() : std::string(Folder::kRootID);
  long index = toIndex;
  // Under the Library row the fixed rows come first and are no positions.
  if (!target && index >= 0) index -= static_cast<long>(fixedRows().size());
  if (index < 0) index = 0;

  std::vector<store::SortDescriptor> sorts{store::SortDescriptor("orderIndex", true)};
  auto siblings = Folder::fetchEntitiesWithPredicate(store::Predicate::parse("parentFolderID == %@", {newParent}), &sorts)
                      .value_or(Folder::List{});
  std::erase_if(siblings, [](const Folder::Ref& f) {
    return f->folderID() == Folder::kInboxID || f->folderID() == Folder::kImportedID;
  });
  // Within the same parent the index counts the dragged folder's own row; it goes.
  if (oldParent == newParent) {
    auto it = std::find_if(siblings.begin(), siblings.end(),
                           [&](const Folder::Ref& f) { return f->folderID() == dragged->folderID(); });
    if (it != siblings.end()) {
      if (it - siblings.begin() < index) --index;
      siblings.erase(it);
    }
  }
  if (index > static_cast<long>(siblings.size())) return;
  siblings.insert(siblings.begin() + index, dragged);
  std::int64_t n = 1;
  for (auto& f : siblings) {
    f->setOrderIndex(n++);
    f->setParentFolderID(newParent);
    f->incrementVersionNumber();
  }
  save("The folder could not be moved");
  if (oldParent != Folder::kRootID) reloadFolders(oldParent);
  reloadFolders(Folder::kRootID);
  if (newParent != Folder::kRootID) reloadFolders(newParent);
  if (target) {
    if (auto* item = itemForFolderID(target->folderID())) list_->expandItem(item);
  }
}

}  // namespace kesto
