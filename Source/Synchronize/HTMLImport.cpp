#include "Synchronize/HTMLImport.h"

#include "Synchronize/AlertPresenter.h"
#include "Synchronize/HTMLImportReader.h"

#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/Folder.h"
#include "Model/Tag.h"
#include "Model/ViewUpdater.h"
#include "Model/WrenDataManager.h"

#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/PercentEncoding.h"
#include "Platform/Foundation/Uuid.h"
#include "Platform/Store/BulkInsert.h"
#include "Platform/Store/Context.h"
#include "Platform/Store/FetchRequest.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace kesto {

namespace {

constexpr const char* kImportedFrom = "HTML File";

HTMLImport::FileKind kindOf(HTMLImportRecords::Kind kind) {
  switch (kind) {
    case HTMLImportRecords::Kind::Pocket: return HTMLImport::FileKind::Pocket;
    case HTMLImportRecords::Kind::Instapaper: return HTMLImport::FileKind::Instapaper;
    default: return HTMLImport::FileKind::Netscape;
  }
}

// Reads a file a block at a time.
class FileSource {
 public:
  explicit FileSource(const std::string& path) : file_(std::fopen(path.c_str(), "rb")) {}
  ~FileSource() {
    if (file_) std::fclose(file_);
  }
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;
  bool isOpen() const { return file_ != nullptr; }
  bool failed() const { return file_ && std::ferror(file_); }
  std::size_t read(char* buffer, std::size_t size) { return file_ ? std::fread(buffer, 1, size, file_) : 0; }

 private:
  std::FILE* file_;
};

}  // namespace

std::optional<HTMLImport::Parsed> HTMLImport::parseDocument(std::string_view bytes, const std::string& rootFolderID,
                                                            bool skipDuplicates,
                                                            const std::unordered_set<std::string>& skipURLs,
                                                            FileKind* kindOut) {
  std::unordered_set<std::string> known;
  for (const auto& url : skipURLs) known.insert(fnd::decodeHarmlessPercentEscapes(url));
  HTMLImportReader::Options options;
  options.skipDuplicates = skipDuplicates;
  options.isKnown = [&](const std::string& address) { return known.count(address) > 0; };
  auto records = HTMLImportReader::read(bytes, options);
  if (!records) return std::nullopt;
  if (kindOut) *kindOut = kindOf(records->kind);

  Parsed parsed;
  std::vector<std::string> ids;
  fnd::UuidGenerator uuids;
  for (const auto& f : records->folders) {
    ids.push_back(uuids.nextString());
    FolderDummy folder;
    folder.folderID = ids.back();
    folder.name = f.name;
    folder.parentFolderID = f.parent == HTMLImportRecords::kReceivingFolder ? rootFolderID : ids[static_cast<std::size_t>(f.parent)];
    folder.version = 1;
    folder.orderIndex = f.orderIndex;
    folder.isExpanded = 0;
    parsed.folders.push_back(std::move(folder));
  }
  for (const auto& b : records->bookmarks) {
    const std::string& folderID = b.folder == HTMLImportRecords::kReceivingFolder ? rootFolderID : ids[static_cast<std::size_t>(b.folder)];
    BookmarkDummy bookmark(b.url, folderID);
    bookmark.url = b.url;
    bookmark.baseURL = b.baseURL;
    bookmark.title = b.title;
    bookmark.notes = b.notes;
    for (int t : b.tags) bookmark.tagStrings.push_back(records->tags[static_cast<std::size_t>(t)]);
    parsed.bookmarks.push_back(std::move(bookmark));
  }
  parsed.tags = records->tags;
  parsed.flattenedFolders = records->flattenedFolders;
  return parsed;
}

bool HTMLImport::storeRecords(const HTMLImportRecords& records, const ReceivingFolder& root,
                              const std::shared_ptr<store::Context>& context) {
  fnd::Error error;
  auto bulk = store::BulkInsert::begin(context, &error);
  if (!bulk) {
    fnd::logError("Import: the store cannot be written: " + error.localizedDescription());
    return false;
  }
  // A large file into a small library: its indexes are cheaper to build again than to keep.
  constexpr std::size_t kLargeLoad = 10000;
  if (records.bookmarks.size() >= kLargeLoad &&
      static_cast<std::int64_t>(records.bookmarks.size()) >= bulk->rowCount(Bookmark::entityName()))
    bulk->deferIndexes(Bookmark::entityName());
  const auto* folderShape = bulk->shape(Folder::entityName(),
                                        {"folderID", "parentFolderID", "name", "orderIndex", "version", "isExpanded"});
  const auto* tagShape = bulk->shape(Tag::entityName(), {"name"});
  const auto* bookmarkShape = bulk->shape(
      Bookmark::entityName(),
      {"uniqueID", "url", "baseURL", "title", "notes", "addedDate", "updatedDate", "importDate", "importedFrom",
       "needsUpdate", "titleUpdated", "version", "trashed"},
      {"folder"});
  if (!folderShape || !tagShape || !bookmarkShape) return false;

  fnd::UuidGenerator uuids;
  std::vector<std::string> folderIDs;
  std::vector<std::int64_t> folderKeys;
  folderIDs.reserve(records.folders.size());
  folderKeys.reserve(records.folders.size());
  const std::int64_t rootKey = bulk->insert(
      *folderShape, {root.folderID, root.parentFolderID, root.name, root.orderIndex, std::int64_t{1}, std::int64_t{0}});
  if (!rootKey) return false;
  for (const auto& f : records.folders) {
    folderIDs.push_back(uuids.nextString());
    const bool top = f.parent == HTMLImportRecords::kReceivingFolder;
    const std::string& parent = top ? root.folderID : folderIDs[static_cast<std::size_t>(f.parent)];
    folderKeys.push_back(
        bulk->insert(*folderShape, {folderIDs.back(), parent, f.name, f.orderIndex, std::int64_t{1}, std::int64_t{0}}));
    if (!folderKeys.back()) return false;
  }

  // Tags already in the store are reused; the first of a name wins, as lookups by name do.
  std::unordered_map<std::string, std::int64_t> existing;
  for (auto& [name, key] : bulk->keysByText(Tag::entityName(), "name")) existing.emplace(std::move(name), key);
  std::vector<std::int64_t> tagKeys;
  tagKeys.reserve(records.tags.size());
  for (const auto& name : records.tags) {
    auto it = existing.find(name);
    std::int64_t key = it != existing.end() ? it->second : 0;
    if (!key && !name.empty()) {
      if (!(key = bulk->insert(*tagShape, {name}))) return false;
      existing.emplace(name, key);
    }
    tagKeys.push_back(key);
  }

  const fnd::Date now = fnd::Date::now();
  std::vector<store::BulkInsert::Cell> cells(14);
  for (const auto& b : records.bookmarks) {
    const std::string id = uuids.nextString();
    cells[0] = id;
    cells[1] = b.url;
    cells[2] = b.baseURL;
    cells[3] = b.title;
    cells[4] = b.notes.empty() ? store::BulkInsert::Cell() : store::BulkInsert::Cell(b.notes);
    cells[5] = now;
    cells[6] = now;
    cells[7] = now;
    cells[8] = kImportedFrom;
    cells[9] = std::int64_t{1};
    cells[10] = std::int64_t{1};
    cells[11] = std::int64_t{1};
    cells[12] = std::int64_t{0};
    cells[13] = b.folder == HTMLImportRecords::kReceivingFolder ? rootKey : folderKeys[static_cast<std::size_t>(b.folder)];
    const std::int64_t key = bulk->insert(*bookmarkShape, cells);
    if (!key) return false;
    for (int t : b.tags)
      if (const std::int64_t tag = tagKeys[static_cast<std::size_t>(t)])
        if (!bulk->relate(Bookmark::entityName(), "tags", key, tag)) return false;
  }
  if (!bulk->commit(&error)) {
    fnd::logError("Import: the bookmarks could not be stored: " + error.localizedDescription());
    return false;
  }
  return true;
}

HTMLImport::Report HTMLImport::importFile(const std::string& path, const ReceivingFolder& root, bool skipDuplicates,
                                          const std::shared_ptr<store::Context>& context) {
  Report report;
  FileSource file(path);
  bool directory = false;
  if (!context || !file.isOpen() || !fnd::FileManager::fileExists(path, &directory) || directory) {
    fnd::logError("Unable to read bookmark file '" + path + "' for import");
    return report;
  }
  // Duplicates are checked against one read of the store's addresses, in the form the file's
  // addresses are compared in, rather than one query per bookmark.
  std::unordered_set<std::string> existing;
  if (skipDuplicates) {
    store::FetchRequest request;
    request.entityName = Bookmark::entityName();
    request.resultType = store::FetchRequest::ResultType::Dictionaries;
    request.propertiesToFetch = {"url"};
    if (auto rows = context->fetchDictionaries(request)) {
      existing.reserve(rows->size());
      for (const auto& row : *rows)
        if (auto it = row.find("url"); it != row.end() && it->second.isString())
          existing.insert(fnd::decodeHarmlessPercentEscapes(it->second.string()));
    }
  }
  HTMLImportReader::Options options;
  options.skipDuplicates = skipDuplicates;
  options.isKnown = [&](const std::string& address) { return existing.count(address) > 0; };
  auto records = HTMLImportReader::read([&](char* buffer, std::size_t size) { return file.read(buffer, size); }, options);
  if (!records || file.failed()) {
    fnd::logError("Unable to read bookmark file '" + path + "' for import");
    return report;
  }
  existing = {};
  report.folders = records->folders.size();
  report.bookmarks = records->bookmarks.size();
  report.flattenedFolders = records->flattenedFolders;
  if (records->flattenedFolders)
    fnd::logInfo("Import: " + std::to_string(records->flattenedFolders) +
                 " folders nested too deep were read into the deepest kept folder");
  report.outcome = storeRecords(*records, root, context) ? Outcome::Imported : Outcome::NotStored;
  return report;
}

// ----------------------------------------------------------------------------------------------

struct HTMLImport::Impl : std::enable_shared_from_this<HTMLImport::Impl> {
  DataManager* dataManager = nullptr;
  std::function<void(bool)> sheet;
  std::function<void(bool)> completion;
  bool skipDuplicates = false;
  std::atomic<bool> running{false};
  std::string importFilePath;
  std::string importRootFolderID;

  // Main thread.
  void finish(const Report& report, const store::SaveNotification& saved) {
    const bool imported = report.outcome == Outcome::Imported;
    if (imported) {
      // Open objects learn of the new rows; the views are refreshed once.
      if (auto main = WrenDataManager::sharedInstance().managedObjectContext()) main->mergeChangesFromSave(saved);
      if (dataManager) dataManager->fetchAllBookmarksFromCoreData();
      ViewUpdater::updateTags();
      ViewUpdater::updateFoldersCompletely();
    }
    if (sheet) sheet(false);
    ViewUpdater::stopActivity();
    running = false;
    const std::string file = fnd::FileManager::lastPathComponent(importFilePath);
    if (imported && report.flattenedFolders)
      AlertPresenter::alert("Import complete",
                            "Folders in '" + file + "' were nested more than " +
                                std::to_string(HTMLImportReader::kMaxFolderDepth) + " levels deep. " +
                                std::to_string(report.flattenedFolders) +
                                (report.flattenedFolders == 1 ? " folder was" : " folders were") +
                                " flattened: their bookmarks are in the deepest folder kept.");
    else if (imported)
      ViewUpdater::showMessage("Import complete", 250, 100);
    else if (report.outcome == Outcome::NotStored)
      AlertPresenter::alert("Import failed", "The bookmarks from '" + file + "' could not be stored. Nothing was imported.");
    else
      AlertPresenter::alert("Import failed", "Unable to read bookmark file '" + file + "' for import.");
    if (completion) completion(imported);
  }
};

HTMLImport::HTMLImport() : d_(std::make_shared<Impl>()) {}
HTMLImport::~HTMLImport() = default;

void HTMLImport::setDataManager(DataManager* dataManager) { d_->dataManager = dataManager; }
void HTMLImport::setImportFolderSheet(std::function<void(bool)> sheet) { d_->sheet = std::move(sheet); }
void HTMLImport::setCompletionHandler(std::function<void(bool)> completion) { d_->completion = std::move(completion); }
bool HTMLImport::skipDuplicates() const { return d_->skipDuplicates; }
void HTMLImport::setSkipDuplicates(bool skip) { d_->skipDuplicates = skip; }
bool HTMLImport::isImporting() const { return d_->running; }
std::string HTMLImport::importRootFolderID() const { return d_->importRootFolderID; }

void HTMLImport::openDialog() {
  if (d_->sheet) d_->sheet(true);
}
void HTMLImport::closeDialog() {
  if (d_->sheet) d_->sheet(false);
}

bool HTMLImport::importFromFile(const std::string& path) {
  // A second import would otherwise start while the first is still writing.
  if (path.empty() || d_->running.exchange(true)) return false;
  ViewUpdater::startActivity();
  ViewUpdater::showMessage("Importing Bookmarks", 250, 100, 2);
  d_->importFilePath = path;
  openDialog();

  // The receiving folder is written with the rest, so a failed or interrupted import leaves
  // nothing behind.
  ReceivingFolder root;
  root.folderID = WrenEntity::uniqueID();
  root.name = fnd::FileManager::lastPathComponent(path);
  root.parentFolderID = Folder::kImportedID;
  auto last = Folder::fetchEntityWhithMaxValueForKey(
      "orderIndex", WrenEntity::propertyPredicate("parentFolderID", fnd::Value(root.parentFolderID)));
  root.orderIndex = (last ? last->orderIndex() : 0) + 1;
  d_->importRootFolderID = root.folderID;

  std::thread([impl = d_, path, root, skip = d_->skipDuplicates] {
    auto context = WrenDataManager::sharedInstance().newManagedObjectContext();
    store::SaveNotification saved;
    Report report;
    if (context) {
      const int token = context->addSaveObserver([&](const store::SaveNotification& n) {
        saved.insertedIDs = n.insertedIDs;
      });
      report = importFile(path, root, skip, context);
      context->removeSaveObserver(token);
    } else {
      fnd::logError("Unable to read bookmark file '" + path + "' for import: no store");
    }
    saved.context = nullptr;
    std::weak_ptr<Impl> weak = impl;
    fnd::DispatchQueue::main().async([weak, report, saved = std::move(saved)] {
      if (auto strong = weak.lock()) strong->finish(report, saved);
    });
  }).detach();
  return true;
}

}  // namespace kesto
