#include "Synchronize/SyncMerge.h"

#include "Model/Bookmark.h"
#include "Model/Config.h"
#include "Model/DataModel.h"
#include "Model/Folder.h"
#include "Model/Service.h"
#include "Model/Tag.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Store/Context.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <unordered_set>

namespace kesto {

namespace {

std::string str(const fnd::Value& v) { return v.isString() ? v.string() : std::string(); }
std::optional<std::string> optStr(const fnd::Value& v) {
  if (v.isString()) return v.string();
  return std::nullopt;
}
std::optional<fnd::Date> optDate(const fnd::Value& v) {
  if (v.isDate()) return v.date();
  return std::nullopt;
}

using FolderIndex = std::unordered_map<std::string, Folder::Ref>;

// Every folder of the context by identifier, fetched once: a lookup per incoming record would
// make a merge quadratic in the number of folders.
std::optional<FolderIndex> indexFolders(const ContextRef& ctx) {
  auto all = Folder::fetchEntities(ctx);
  if (!all) return std::nullopt;
  FolderIndex index;
  index.reserve(all->size());
  for (auto& f : *all) index.emplace(f->folderID(), f);
  return index;
}

using FolderChildren = std::unordered_map<std::string, Folder::List>;

FolderChildren childrenByParent(const FolderIndex& folders) {
  FolderChildren children;
  for (const auto& [id, f] : folders)
    if (f && !f->isDeleted()) children[f->parentFolderID()].push_back(f);
  return children;
}

// Folders a tombstone can never name: the fixed rows and the top of the tree.
bool isUndeletable(const std::string& id) {
  return id.empty() || id == Folder::kInboxID || id == Folder::kImportedID || id == Folder::kRootID ||
         id == Folder::kHomeID || id == Folder::kLibraryID;
}

// The folder `topID` (`top`, when here) and everything below it, each once whatever cycles the
// tree holds. Its children are found by identifier, so they go even when the folder itself does
// not exist here (a peer moved them into it before the deletion reached it).
std::vector<Folder::Ref> folderTree(const std::string& topID, const Folder::Ref& top, const FolderChildren& children) {
  std::vector<Folder::Ref> doomed;
  if (top && !top->isDeleted()) doomed.push_back(top);
  std::vector<std::string> pending{topID};
  std::unordered_set<std::string> visited{topID};
  for (std::size_t i = 0; i < pending.size(); ++i) {
    auto it = children.find(pending[i]);
    if (it == children.end()) continue;
    for (const auto& c : it->second)
      if (!c->isDeleted() && !isUndeletable(c->folderID()) && visited.insert(c->folderID()).second) {
        doomed.push_back(c);
        pending.push_back(c->folderID());
      }
  }
  return doomed;
}

// Deletes the folders; their bookmarks go to `inbox`, trashed. Versions and dates stay: the
// deletion was counted where it was made, and a bump here would outrank an edit made elsewhere
// at the same version.
void deleteFolders(const std::vector<Folder::Ref>& doomed, const Folder::Ref& inbox, const ContextRef& context) {
  for (const auto& f : doomed) {
    for (auto& object : f->toMany(folder_rel::bookmarks)) {
      auto b = std::dynamic_pointer_cast<Bookmark>(object);
      if (!b) continue;
      b->setFolder(inbox);
      b->setTrashed(1);
    }
    f->deleteEntityInContext(context);
  }
}

// The synced content of a record as one text that orders the same on every library. Separated
// by NUL, which no text in a sync file holds.
class ContentKey {
 public:
  ContentKey& operator<<(const std::string& text) {
    key_ += text;
    key_ += '\0';
    return *this;
  }
  ContentKey& operator<<(std::int64_t number) { return *this << std::to_string(number); }
  ContentKey& operator<<(std::vector<std::string> list) {
    std::sort(list.begin(), list.end());
    list.erase(std::unique(list.begin(), list.end()), list.end());
    for (const auto& item : list) key_ += item + '\x01';
    return *this << std::string();
  }
  const std::string& text() const { return key_; }

 private:
  std::string key_;
};

std::string contentKey(const BookmarkDummy& r) {
  ContentKey key;
  key << str(r.title) << str(r.url) << str(r.folderID) << r.tagStrings << r.trashed.intValue() << str(r.notes)
      << r.rating.intValue() << r.isFavorite.intValue() << str(r.color) << r.blocked.intValue() << r.broken.intValue()
      << str(r.login) << str(r.password) << r.serviceStrings;
  return key.text();
}

std::string contentKey(const FolderDummy& r) {
  ContentKey key;
  key << str(r.name) << str(r.parentFolderID) << r.orderIndex.intValue() << str(r.color) << r.blocked.intValue();
  return key.text();
}

// An updated date in the whole seconds the file carries (none ranks lowest).
double fileSeconds(const fnd::Value& date) {
  return date.isDate() ? std::floor(date.date().timeIntervalSince1970()) : -1e300;
}

// Between two records of one bookmark at the same version: the later update, in the whole
// seconds the file carries, then the larger content.
bool outranks(const BookmarkDummy& incoming, const BookmarkDummy& local) {
  const double a = fileSeconds(incoming.updatedDate), b = fileSeconds(local.updatedDate);
  if (a != b) return a > b;
  return contentKey(incoming) > contentKey(local);
}

// The local bookmark's updated date as the file would carry it (the added date when it has
// none).
fnd::Value syncedUpdatedDate(const Bookmark& b) {
  auto date = b.updatedDate();
  if (!date) date = b.addedDate();
  return date ? fnd::Value(*date) : fnd::Value();
}

class MergeState {
 public:
  MergeState(const ContextRef& ctx, const SyncMerge::Options& options, FolderIndex& folders)
      : ctx_(ctx), options_(options), folders_(folders) {
    for (auto& b : Bookmark::fetchEntities(ctx).value_or(Bookmark::List{}))
      if (auto id = b->uniqueIDValue()) bookmarks_.emplace(*id, b);
    for (auto& t : Tag::fetchEntities(ctx).value_or(Tag::List{})) tags_.emplace(t->name(), t);
    for (auto& s : Service::fetchEntities(ctx).value_or(Service::List{})) services_.emplace(s->name(), s);
  }

  Folder::Ref folderFor(const std::string& id) {
    auto it = folders_.find(id);
    if (it != folders_.end()) return it->second;
    // The index holds every folder of the context, so a missing one is made, not fetched.
    auto f = Folder::newFolderWithFolderID(id, ctx_);
    if (!f) return id == Folder::kInboxID ? nullptr : folderFor(Folder::kInboxID);
    folders_.emplace(id, f);
    return f;
  }

  Tag::Ref tagNamed(const std::string& name) {
    auto it = tags_.find(name);
    if (it != tags_.end()) return it->second;
    auto t = Tag::initEntityInContext(ctx_);
    if (!t) return nullptr;
    t->setName(name);
    tags_.emplace(name, t);
    return t;
  }

  Service::Ref serviceNamed(const std::string& name, bool create) {
    auto it = services_.find(name);
    if (it != services_.end()) return it->second;
    if (!create) return nullptr;
    auto s = Service::initEntityInContext(ctx_);
    if (!s) return nullptr;
    s->setName(name);
    services_.emplace(name, s);
    return s;
  }

  // A folder of the context not deleted yet; null for none.
  Folder::Ref existingFolder(const std::string& id) const {
    auto it = folders_.find(id);
    return it == folders_.end() || !it->second || it->second->isDeleted() ? nullptr : it->second;
  }

  // Children by parent identifier, made when the first folder is deleted (parents no longer
  // change then); deleted folders stay listed and are skipped by the walk.
  const FolderChildren& children() {
    if (!children_) children_ = childrenByParent(folders_);
    return *children_;
  }

  Bookmark::Ref existingBookmark(const std::string& id) {
    auto it = bookmarks_.find(id);
    return it == bookmarks_.end() ? nullptr : it->second;
  }

  void forget(const Bookmark::Ref& b) {
    if (auto id = b->uniqueIDValue()) bookmarks_.erase(*id);
  }

  void importBookmark(const BookmarkDummy& r, SyncMerge::Result& result);

  const ContextRef& ctx() const { return ctx_; }
  const SyncMerge::Options& options() const { return options_; }

 private:
  bool differs(const Bookmark& b, const BookmarkDummy& r, const Folder::Ref& folder) const;
  void fill(Bookmark& b, const BookmarkDummy& r, const Folder::Ref& folder, bool isSync);

  ContextRef ctx_;
  const SyncMerge::Options& options_;
  std::unordered_map<std::string, Bookmark::Ref> bookmarks_;
  std::unordered_map<std::string, Tag::Ref> tags_;
  std::unordered_map<std::string, Service::Ref> services_;
  FolderIndex& folders_;
  std::optional<FolderChildren> children_;
};

bool MergeState::differs(const Bookmark& b, const BookmarkDummy& r, const Folder::Ref& folder) const {
  if (b.title().value_or("") != str(r.title) || b.url().value_or("") != str(r.url) ||
      b.notes().value_or("") != str(r.notes))
    return true;
  if (b.trashed() != r.trashed.intValue() || b.isFavorite() != r.isFavorite.intValue() ||
      b.blocked() != r.blocked.intValue() || b.broken() != r.broken.intValue())
    return true;
  if (static_cast<std::int64_t>(b.rating().value_or(0)) != r.rating.intValue()) return true;
  if (b.color().value_or("") != str(r.color) || b.login().value_or("") != str(r.login) ||
      b.password().value_or("") != str(r.password))
    return true;
  if (b.folder() != folder) return true;
  auto incoming = r.tagStrings;
  std::sort(incoming.begin(), incoming.end());
  incoming.erase(std::unique(incoming.begin(), incoming.end()), incoming.end());
  auto local = b.sortedTagNames();
  local.erase(std::unique(local.begin(), local.end()), local.end());
  return incoming != local;
}

void MergeState::fill(Bookmark& b, const BookmarkDummy& r, const Folder::Ref& folder, bool isSync) {
  const auto url = str(r.url);
  b.setBaseURL(Bookmark::baseURLForAddress(url));
  b.setUrl(url);
  b.setAddedDate(optDate(r.addedDate));
  b.setTitle(str(r.title));
  b.setRating(static_cast<double>(r.rating.intValue()));
  b.setNotes(optStr(r.notes));
  b.setUniqueID(str(r.uniqueID));
  b.setVersion(r.version.intValue());
  b.setFolder(folder);
  b.setUpdatedDate(optDate(r.updatedDate));
  b.setImportDate(optDate(r.importDate));
  if (r.importedFrom.isString()) b.setImportedFrom(r.importedFrom.string());
  b.setShowImported(1);
  b.setLastOpened(optDate(r.lastOpened));
  b.setTimesOpened(r.timesOpened.intValue());
  b.setBroken(r.broken.intValue());
  b.setLogin(optStr(r.login));
  b.setPassword(optStr(r.password));
  for (const auto& t : b.tags()) b.removeTag(t);
  std::unordered_set<std::string> seen;
  for (const auto& name : r.tagStrings)
    if (seen.insert(name).second)
      if (auto tag = tagNamed(name)) b.addTag(tag);
  if (isSync) {
    b.setTrashed(r.trashed.intValue());
    b.setColor(optStr(r.color));
    b.setIsFavorite(r.isFavorite.intValue());
    b.setBlocked(r.blocked.intValue());
    b.setTitleUpdated(1);
    b.setValue(bookmark_attr::isInLibrary, fnd::Value(1));
    // Replace the service marks with the incoming ones; unknown service names are skipped.
    b.setToMany(bookmark_rel::services, {});
    for (const auto& name : r.serviceStrings)
      if (auto s = serviceNamed(name, false)) b.addService(s);
  } else {
    b.setValue(bookmark_attr::isInLibrary, fnd::Value(0));
  }
}

void MergeState::importBookmark(const BookmarkDummy& r, SyncMerge::Result& result) {
  auto folder = folderFor(r.folderID.isString() ? r.folderID.string() : std::string(Folder::kInboxID));
  if (!options_.isSync) {
    auto b = Bookmark::newBookmark(ctx_);
    if (!b) return;
    fill(*b, r, folder, false);
    ++result.bookmarksCreated;
    return;
  }
  const auto id = str(r.uniqueID);
  if (id.empty()) return;
  auto b = existingBookmark(id);
  bool take = false;
  if (!b) {
    // Unknown here: created and always filled, keeping the record's identifier so the next run
    // matches it (a version of 0 must not leave an empty "New bookmark" behind).
    b = Bookmark::newBookmark(ctx_);
    if (!b) return;
    bookmarks_.emplace(id, b);
    take = true;
    ++result.bookmarksCreated;
  } else {
    const auto incoming = r.version.intValue();
    if (incoming > b->version()) {
      take = true;
    } else if (incoming == b->version() &&
               (differs(*b, r, folder) || fileSeconds(r.updatedDate) != fileSeconds(syncedUpdatedDate(*b)))) {
      // Both sides edited the same version: compared as the file carries both, so every
      // library picks the same one whoever relayed it. The same content under a later date is
      // taken too: a folder deletion changes a record without a new version or date, so one
      // content can be held under two dates, and libraries holding it under different dates
      // would otherwise rank it apart from a third record for ever.
      if (auto local = SyncFile::syncedRecord(*b)) take = outranks(r, *local);
    }
    if (take) ++result.bookmarksUpdated;
  }
  if (take) fill(*b, r, folder, true);
}

// A quick look before the exact comparison: most folders of a file equal their local copy.
bool folderDiffers(const Folder& local, const FolderDummy& r) {
  return local.name() != str(r.name) || local.parentFolderID() != str(r.parentFolderID) ||
         local.orderIndex() != r.orderIndex.intValue() || local.color() != optStr(r.color) ||
         local.blocked() != r.blocked.intValue();
}

void applyTombstone(MergeState& state, const SyncTombstone& t, SyncMerge::Result& result) {
  if (t.type == "b") {
    auto b = state.existingBookmark(t.objectID);
    if (!b || b->version() > t.version) return;
    state.forget(b);
    b->deleteBookmarkInContext(state.ctx());
    ++result.bookmarksDeleted;
  } else if (t.type == "f") {
    // No version test: a folder deleted anywhere goes everywhere, with everything below it.
    // Looked up in the merge's own index: a fetch per tombstone would scan every change the
    // merge has made so far, which is quadratic in a large file.
    if (isUndeletable(t.objectID)) return;
    auto doomed = folderTree(t.objectID, state.existingFolder(t.objectID), state.children());
    if (doomed.empty()) return;
    deleteFolders(doomed, state.folderFor(Folder::kInboxID), state.ctx());
    result.foldersDeleted += static_cast<int>(doomed.size());
    for (const auto& f : doomed) result.folderTombstones.push_back({f->folderID(), f->version(), "f"});
  } else {
    fnd::logError("Exception trying to read XML file value");
  }
}

}  // namespace

int SyncMerge::deleteFolderDuringImport(const std::string& folderID, const ContextRef& context) {
  if (isUndeletable(folderID)) return 0;
  auto index = indexFolders(context);
  if (!index) return 0;
  auto top = index->find(folderID);
  auto doomed = folderTree(folderID, top == index->end() ? nullptr : top->second, childrenByParent(*index));
  if (doomed.empty()) return 0;
  deleteFolders(doomed, Folder::folderWithFolderID(Folder::kInboxID, context), context);
  return static_cast<int>(doomed.size());
}

void SyncMerge::preload(const ContextRef& ctx) {
  if (!ctx) return;
  Folder::fetchEntities(ctx);
  Tag::fetchEntities(ctx);
  Service::fetchEntities(ctx);
  // Walking the sets loads them for every bookmark at once after the first few.
  for (const auto& b : Bookmark::fetchEntities(ctx).value_or(Bookmark::List{})) {
    b->tags();
    b->toMany(bookmark_rel::services);
  }
}

SyncMerge::Result SyncMerge::processImport(const SyncDocument& doc, const ContextRef& ctx, const Options& options) {
  Result result;
  if (!ctx) return result;

  if (options.isSync) {
    if (!doc.password) {
      // A file without the lock password (a first sync's empty library) is normal: no error.
      fnd::logInfo("Exception trying to read kesto Password. Bailing out.");
    } else if (!doc.password->empty()) {
      auto config = Config::fetchEntityWhereProperty("kestoKey", std::string(Config::kPasswordKey), ctx);
      if (!config) {
        config = Config::initEntityInContext(ctx);
        if (config) config->setKestoKey(Config::kPasswordKey);
      }
      if (config) config->setKestoValue(*doc.password);
    }
  }

  auto index = indexFolders(ctx);
  if (!index) {
    // Without the folders every record would look new and be duplicated.
    fnd::logError("Sync: could not read the folders; nothing merged.");
    return result;
  }
  FolderIndex& folders = *index;
  for (const auto& f : doc.folders) {
    const auto id = str(f.folderID);
    if (id.empty() || id == Folder::kRootID || id == Folder::kHomeID || id == Folder::kLibraryID) continue;
    auto it = folders.find(id);
    Folder::Ref local = it == folders.end() ? nullptr : it->second;
    if (options.isSync && local && local->version() == f.version.intValue()) {
      // Both sides changed the same version: the larger synced content wins on every library.
      auto mine = folderDiffers(*local, f) ? SyncFile::syncedRecord(*local) : std::nullopt;
      if (mine && contentKey(f) > contentKey(*mine)) {
        local->setValue(folder_attr::name, f.name);
        local->setValue(folder_attr::parentFolderID, f.parentFolderID);
        local->setOrderIndex(f.orderIndex.intValue());
        local->setValue(folder_attr::color, f.color);
        local->setValue(folder_attr::blocked, f.blocked);
      }
      continue;
    }
    const bool isNew = !local;
    if (isNew) {
      local = Folder::newFolderWithFolderID(id, ctx);
      if (!local) continue;
      folders.emplace(id, local);
    }
    local->takeRecord(f, options.isSync, isNew);
  }

  if (options.isSync) {
    for (const auto& s : doc.services) {
      auto service = Service::serviceNamed(s.name, ctx);
      if (!service) {
        service = Service::initEntityInContext(ctx);
        if (!service) continue;
        service->setName(s.name);
      }
      service->setLogin(s.login);
      service->setPassword(s.password);
      service->setValue(service_attr::url, fnd::Value(std::string()));
    }
  }

  MergeState state(ctx, options, folders);
  for (const auto& b : doc.bookmarks) state.importBookmark(b, result);

  if (options.isSync) {
    for (const auto& t : doc.deletions) applyTombstone(state, t, result);
    for (const auto& t : options.localTombstones) applyTombstone(state, t, result);
  }

  Folder::settleFolderTree(ctx);
  result.cyclesBroken = Folder::breakParentCycles(options.cycleParent, ctx);
  result.saved = ctx->save(&result.saveError);
  if (!result.saved)
    fnd::logFormat(fnd::LogFlag::Error, "Sync: Error saving temporary context:%s", result.saveError.description().c_str());
  return result;
}

}  // namespace kesto
