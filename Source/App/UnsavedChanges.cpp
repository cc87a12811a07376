#include "App/UnsavedChanges.h"

#include "Model/Bookmark.h"
#include "Model/WrenDataManager.h"
#include "Model/WrenEntity.h"
#include "Platform/Foundation/DateFormatter.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/StandardPaths.h"
#include "Platform/Foundation/TimeZone.h"
#include "Platform/Store/Context.h"
#include "Platform/Store/Coordinator.h"
#include "Synchronize/Backup.h"
#include "Synchronize/HTMLExport.h"

#include <algorithm>
#include <utility>

namespace kesto {

namespace {

std::vector<std::shared_ptr<Bookmark>> unsavedBookmarks() {
  std::vector<std::shared_ptr<Bookmark>> out;
  auto context = WrenEntity::defaultContext();
  if (!context) return out;
  for (const auto& list : {context->insertedObjects(), context->updatedObjects()})
    for (const auto& o : list)
      if (auto b = std::dynamic_pointer_cast<Bookmark>(o); b && !b->isDeleted()) out.push_back(std::move(b));
  return out;
}

// Whether `o` changed more than the sets its members' own changes carry (a folder whose
// bookmarks set changed because a bookmark moved in or out).
bool changedOfItsOwn(const store::ManagedObject& o) {
  if (o.isInserted()) return true;
  const store::EntityDescription& entity = *o.entity();
  for (const auto& [key, value] : o.changedValues()) {
    const int index = entity.relationshipIndex(key);
    if (index < 0 || !entity.relationships()[static_cast<std::size_t>(index)].toMany) return true;
    const auto* destination = entity.destination(index);
    const int inverse = entity.inverseIndex(index);
    if (!destination || inverse < 0 || destination->relationships()[static_cast<std::size_t>(inverse)].toMany) return true;
  }
  return false;
}

// Changes other than to bookmarks (and to the tags they carry): deletions, folders, accounts.
bool otherChanges() {
  auto context = WrenEntity::defaultContext();
  if (!context) return false;
  if (!context->deletedObjects().empty()) return true;
  for (const auto& list : {context->insertedObjects(), context->updatedObjects()})
    for (const auto& o : list)
      if (!std::dynamic_pointer_cast<Bookmark>(o) && o->entity()->name() != "Tag" && changedOfItsOwn(*o)) return true;
  return false;
}

std::string joined(const std::vector<std::string>& parts) {
  std::string text;
  for (std::size_t i = 0; i < parts.size(); ++i)
    text += (i == 0 ? "" : i + 1 == parts.size() ? " and " : ", ") + parts[i];
  return text;
}

std::string bookmarksCount(std::size_t n) {
  return std::to_string(n) + (n == 1 ? " new or changed bookmark" : " new or changed bookmarks");
}

// What a bookmark file (titles and addresses in a folder of their own) cannot bring back of the
// unsaved changes: the other fields of the new bookmarks, any change to a bookmark the library
// holds already (importing adds it again), deletions and changes to folders.
std::vector<std::string> notInBookmarkFile(const std::vector<std::shared_ptr<Bookmark>>& unsaved) {
  static const std::pair<const char*, const char*> fields[] = {
      {"notes", "notes"},          {"tags", "tags"},
      {"rating", "ratings"},       {"color", "colour labels"},
      {"isFavorite", "favourites"}, {"login", "logins and passwords"},
      {"password", "logins and passwords"}, {"trashed", "moves to the trash"}};
  std::vector<std::string> missing;
  auto add = [&](const std::string& what) {
    if (std::find(missing.begin(), missing.end(), what) == missing.end()) missing.push_back(what);
  };
  std::size_t changed = 0;
  for (const auto& b : unsaved) {
    if (!b->isInserted()) {
      ++changed;
      continue;
    }
    const fnd::Dictionary values = b->changedValues();
    for (const auto& [key, what] : fields) {
      auto it = values.find(key);
      if (it == values.end()) continue;
      const fnd::Value& v = it->second;
      const bool set = v.isString() ? !v.string().empty() : v.isArray() ? v.size() > 0 : v.isNumber() && v.doubleValue() != 0;
      if (set) add(what);
    }
  }
  if (changed)
    add("the changes to " + std::to_string(changed) + (changed == 1 ? " bookmark" : " bookmarks") +
        " the library holds already");
  if (otherChanges()) add("deletions and changes to folders");
  return missing;
}

std::string stamp() {
  return fnd::DateFormatter::fixed("yyyy-MM-dd-HH-mm-ss", fnd::TimeZone::local()).stringFromDate(fnd::Date::now());
}

// Keeps the exporter's outcome to itself: the next folder is tried before anything is said.
class QuietExport : public HTMLExportDelegate {
 public:
  void exportSucces(const std::string&) override {}
  void exportFailed(const std::string&) override {}
};

std::string quoted(const std::string& path) { return "“" + path + "”"; }

}  // namespace

bool UnsavedChanges::any() {
  auto context = WrenEntity::defaultContext();
  return context && context->hasChanges();
}

std::string UnsavedChanges::summary() {
  const auto n = unsavedBookmarks().size();
  const bool other = otherChanges();
  if (!n) return other ? "Deletions and changes to folders" : "Changes";
  return bookmarksCount(n) + (other ? " and other changes" : "");
}

std::vector<std::string> UnsavedChanges::exportFolders() {
  std::vector<std::string> writable, other;
  for (const auto& folder :
       {fnd::FileManager::deletingLastPathComponent(WrenDataManager::sharedInstance().persistentStorePath()),
        fnd::StandardPaths::documentsDirectory(), fnd::StandardPaths::homeDirectory()}) {
    if (folder.empty() || std::find(writable.begin(), writable.end(), folder) != writable.end() ||
        std::find(other.begin(), other.end(), folder) != other.end())
      continue;
    (fnd::FileManager::isWritable(folder) ? writable : other).push_back(folder);
  }
  writable.insert(writable.end(), other.begin(), other.end());
  return writable;
}

UnsavedChanges::Kept UnsavedChanges::keep() {
  Kept kept;
  const std::string when = stamp();
  std::vector<std::string> folders = exportFolders();
  auto context = WrenEntity::defaultContext();
  for (const auto& folder : folders) {
    fnd::Error error;
    const std::string path = folder + "/Unsaved changes " + when + "." + Backup::kExtension;
    if (Backup::backupWithUnsavedChanges(context, path, &error)) {
      kept.backup = path;
      // The bookmark file goes beside it.
      std::stable_partition(folders.begin(), folders.end(), [&](const std::string& f) { return f == folder; });
      break;
    }
    if (kept.backupFailure.empty())
      kept.backupFailure = store::Coordinator::isDamageError(error)
                               ? std::string("the library file is damaged, so it cannot be copied")
                               : WrenEntity::causeOfSaveFailure(error);
  }
  const auto unsaved = unsavedBookmarks();
  kept.bookmarkCount = unsaved.size();
  if (!unsaved.empty()) {
    QuietExport quiet;
    HTMLExport exporter;
    exporter.setDelegate(&quiet);
    for (const auto& folder : folders) {
      const std::string path = folder + "/Unsaved bookmarks " + when + ".html";
      if (exporter.exportBookmarks(unsaved, "Not saved", path)) {
        kept.bookmarks = path;
        break;
      }
    }
  }
  if (kept.backup.empty()) kept.missing = notInBookmarkFile(unsaved);
  return kept;
}

std::string UnsavedChanges::Kept::message() const {
  std::string text;
  if (!backup.empty()) {
    text = "Every change that could not be saved is in " + quoted(backup) +
           ", a backup of the library as Kesto holds it now, with all their notes, tags, ratings, colour labels, "
           "favourites, logins and passwords. To bring them back once the library can be written again, choose "
           "File > Restore Library… and that file.";
    if (!bookmarks.empty())
      text += " The titles and addresses of the " + bookmarksCount(bookmarkCount) + " are also in " +
              quoted(bookmarks) + ", a bookmark file any browser imports.";
    return text;
  }
  if (!bookmarks.empty()) {
    text = "The titles and addresses of the " + bookmarksCount(bookmarkCount) + " are in " + quoted(bookmarks) +
           "; File > Import Bookmarks… adds them as new bookmarks.";
    if (missing.empty()) return text + " They hold nothing else that was not saved.";
  } else {
    text = "No file could be written beside the library, to the documents folder or to the home folder.";
  }
  if (!backupFailure.empty()) text += " A backup with every change could not be written: " + backupFailure + ".";
  if (!missing.empty()) {
    std::string what = joined(missing);
    text += " " + std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(what[0])))) + what.substr(1) +
            (bookmarks.empty() ? " are" : " are in no file and") + " kept only while Kesto runs.";
  }
  return text;
}

}  // namespace kesto
