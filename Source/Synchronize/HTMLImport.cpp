#include "Synchronize/HTMLImport.h"

#include "Model/StoredText.h"

#include "Synchronize/HTMLImportReader.h"
#include "Synchronize/KnownAddresses.h"
#include "Support/AlertPresenter.h"

#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/WrenEntity.h"
#include "Model/Folder.h"
#include "Model/Tag.h"
#include "Model/ViewUpdater.h"
#include "Model/WrenDataManager.h"

#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Strings.h"
#include "Platform/Foundation/PercentEncoding.h"
#include "Platform/Foundation/Uuid.h"
#include "Platform/Store/BulkInsert.h"
#include "Platform/Store/Context.h"
#include "Platform/Store/Coordinator.h"
#include "Platform/Store/DetachedFetch.h"
#include "Platform/Store/FetchRequest.h"
#include "Platform/Store/Predicate.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <cstdio>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <variant>

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

// Why entries went unread, as the end of an import tells it.
std::string whyUnread(const HTMLImport::Report& report) {
  if (report.notHandedOn) return ": the reading stopped before the end of the file.";
  if (!report.inUnendedText) return ".";
  const bool one = report.unread == 1;
  const std::string stand = one ? ": it stands in " : ": they stand in ";
  if (report.unendedTextElement == "#comment") return stand + "a comment that the file never closes.";
  // Element names are ASCII: upper-cased as such, whatever the language (a Turkish i keeps no dot).
  const std::string name = fnd::asciiUppercase(report.unendedTextElement);
  // (No angle brackets: a message box would take the tag for markup and hide the rest.)
  if (name == "PLAINTEXT")
    return std::string(one ? ": it follows" : ": they follow") + " a PLAINTEXT element, after which the file is read as text.";
  // Said as letters, XMP takes "an" as IFRAME does.
  const std::string element = (name[0] == 'I' || name[0] == 'X' ? "an " : "a ") + name + " element that the file never closes";
  if (name == "TEMPLATE") return stand + element + ", whose contents are no part of the page.";
  return stand + element + ", which is read as text to its end.";
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
  KnownAddresses known;
  for (const auto& url : skipURLs) known.insert(url);
  HTMLImportReader::Options options;
  options.skipDuplicates = skipDuplicates;
  options.isKnown = [&](const std::string& address) { return known.contains(address); };
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
  parsed.leftOut = records->leftOut;
  parsed.unread = records->unread;
  return parsed;
}

namespace {

constexpr std::size_t kHandoverBatch = 512;

// Drafts on their way from the reading thread to the storing one, in the order read.
class Handover {
 public:
  using Draft = std::variant<HTMLImportDraftFolder, HTMLImportDraftBookmark>;

  // Reading thread.
  void add(Draft draft) {
    pending_.push_back(std::move(draft));
    if (pending_.size() >= kHandoverBatch) flush();
  }
  void finish(std::optional<HTMLImportRecords> records) {
    flush();
    std::lock_guard lock(mutex_);
    records_ = std::move(records);
    done_ = true;
    ready_.notify_one();
  }

  // Storing thread: the next batch, or empty once the reading is over and all is taken.
  std::vector<Draft> take() {
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [&] { return !batches_.empty() || done_; });
    if (batches_.empty()) return {};
    auto batch = std::move(batches_.front());
    batches_.pop_front();
    return batch;
  }
  std::optional<HTMLImportRecords>& records() { return records_; }

 private:
  void flush() {
    if (pending_.empty()) return;
    std::lock_guard lock(mutex_);
    batches_.push_back(std::move(pending_));
    pending_.clear();
    ready_.notify_one();
  }

  std::vector<Draft> pending_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::vector<Draft>> batches_;
  std::optional<HTMLImportRecords> records_;
  bool done_ = false;
};

// Stores drafts as they come, then settles them against what the whole file says: renames and
// orders folders, takes back what is not kept and adds what was held back.
class DraftWriter {
 public:
  DraftWriter(store::BulkInsert& bulk, const HTMLImport::ReceivingFolder& root, bool skipDuplicates,
              const std::function<bool(const std::string&)>& isKnown)
      : bulk_(bulk), root_(root), skip_(skipDuplicates), isKnown_(isKnown) {}

  bool start() {
    folderShape_ = bulk_.shape(Folder::entityName(),
                               {"folderID", "parentFolderID", "name", "orderIndex", "version", "isExpanded"});
    tagShape_ = bulk_.shape(Tag::entityName(), {"name"});
    bookmarkShape_ = bulk_.shape(Bookmark::entityName(),
                                 {"uniqueID", "url", "baseURL", "title", "notes", "addedDate", "updatedDate",
                                  "importDate", "importedFrom", "needsUpdate", "titleUpdated", "version", "trashed"},
                                 {"folder"});
    if (!folderShape_ || !tagShape_ || !bookmarkShape_) return false;
    rootKey_ = bulk_.insert(*folderShape_, {root_.folderID, root_.parentFolderID, root_.name, root_.orderIndex,
                                            std::int64_t{1}, std::int64_t{0}});
    // Tags already in the store are reused; the first of a name wins, as lookups by name do.
    for (auto& [name, key] : bulk_.keysByText(Tag::entityName(), "name")) tagKeys_.emplace(std::move(name), key);
    return rootKey_ != 0;
  }

  bool folder(const HTMLImportDraftFolder& f) {
    if (static_cast<std::size_t>(f.draft) >= folders_.size()) folders_.resize(static_cast<std::size_t>(f.draft) + 1);
    Written& w = folders_[static_cast<std::size_t>(f.draft)];
    w.id = uuids_.nextString();
    w.name = f.name;
    w.order = ++children_[f.parentDraft];
    const std::string& parent =
        f.parentDraft == HTMLImportRecords::kReceivingFolder ? root_.folderID : folders_[static_cast<std::size_t>(f.parentDraft)].id;
    w.key = bulk_.insert(*folderShape_, {w.id, parent, w.name, w.order, std::int64_t{1}, std::int64_t{0}});
    return w.key != 0;
  }

  bool bookmark(const HTMLImportDraftBookmark& b) {
    if (static_cast<std::size_t>(b.draft) >= bookmarkKeys_.size()) bookmarkKeys_.resize(static_cast<std::size_t>(b.draft) + 1, 0);
    // Repeats are left out as they come; the settling below puts right what the whole file
    // decides otherwise.
    if (skip_ && ((isKnown_ && isKnown_(b.url)) || !processed_.insert(b.url).second)) {
      held_.emplace(b.draft, b);
      return true;
    }
    const std::int64_t key = write(b.url, b.baseURL, b.title, b.notes, folderKey(b.folderDraft), b.tags);
    bookmarkKeys_[static_cast<std::size_t>(b.draft)] = key;
    if (key) written_.emplace(b.draft, Kept{lastID_, key});
    return key != 0;
  }

  bool settle(const HTMLImportRecords& records) {
    std::vector<bool> keptFolder(folders_.size(), false);
    for (const auto& f : records.folders) {
      keptFolder[static_cast<std::size_t>(f.draft)] = true;
      const Written& w = folders_[static_cast<std::size_t>(f.draft)];
      if ((w.name != f.name || w.order != f.orderIndex) &&
          !bulk_.update(Folder::entityName(), w.key, {"name", "orderIndex"}, {f.name, f.orderIndex}))
        return false;
    }
    for (std::size_t d = 0; d < folders_.size(); ++d)
      if (!keptFolder[d] && folders_[d].key && !bulk_.remove(Folder::entityName(), folders_[d].key)) return false;

    std::vector<bool> keptBookmark(bookmarkKeys_.size(), false);
    for (const auto& b : records.bookmarks) {
      keptBookmark[static_cast<std::size_t>(b.draft)] = true;
      if (bookmarkKeys_[static_cast<std::size_t>(b.draft)]) continue;
      // A repeat held back that the whole file keeps after all (the first of its address was
      // not kept): its texts were in the draft.
      auto held = held_.find(b.draft);
      if (held == held_.end()) return false;
      const HTMLImportDraftBookmark& d = held->second;
      const int folderDraft = b.folder == HTMLImportRecords::kReceivingFolder
                                  ? HTMLImportRecords::kReceivingFolder
                                  : records.folders[static_cast<std::size_t>(b.folder)].draft;
      const std::int64_t key = write(d.url, d.baseURL, d.title, d.notes, folderKey(folderDraft), d.tags);
      if (!key) return false;
      written_.emplace(b.draft, Kept{lastID_, key});
    }
    for (std::size_t d = 0; d < bookmarkKeys_.size(); ++d)
      if (!keptBookmark[d] && bookmarkKeys_[d] && !bulk_.remove(Bookmark::entityName(), bookmarkKeys_[d])) return false;

    // Every tag the kept records name exists (those of skipped repeats too); tags made only for
    // records that were not kept go again.
    std::unordered_set<std::string> named(records.tags.begin(), records.tags.end());
    for (const auto& name : records.tags)
      if (!tagKey(name)) return false;
    for (const auto& [name, key] : createdTags_)
      if (!named.count(name) && !bulk_.remove(Tag::entityName(), key)) return false;
    return true;
  }

  // The unique identifiers of the bookmarks kept and their rows' keys, in file order (once
  // settled).
  void kept(const HTMLImportRecords& records, std::vector<std::string>& ids, std::vector<std::int64_t>& keys) const {
    ids.reserve(records.bookmarks.size());
    keys.reserve(records.bookmarks.size());
    for (const auto& b : records.bookmarks)
      if (auto it = written_.find(b.draft); it != written_.end()) {
        ids.push_back(it->second.id);
        keys.push_back(it->second.key);
      }
  }

 private:
  struct Written {
    std::string id, name;
    std::int64_t order = 0, key = 0;
  };
  struct Kept {
    std::string id;
    std::int64_t key = 0;
  };

  std::int64_t folderKey(int draft) const {
    return draft == HTMLImportRecords::kReceivingFolder ? rootKey_ : folders_[static_cast<std::size_t>(draft)].key;
  }

  std::int64_t tagKey(const std::string& name) {
    if (name.empty()) return 0;
    auto it = tagKeys_.find(name);
    if (it != tagKeys_.end()) return it->second;
    const std::int64_t key = bulk_.insert(*tagShape_, {name});
    if (key) tagKeys_.emplace(name, key), createdTags_.emplace(name, key);
    return key;
  }

  std::int64_t write(const std::string& url, const std::string& baseURL, const std::string& title,
                     const std::string& notes, std::int64_t folder, const std::vector<std::string>& tags) {
    lastID_ = uuids_.nextString();
    const std::string& id = lastID_;
    cells_.assign({id, url, baseURL, title, notes.empty() ? store::BulkInsert::Cell() : store::BulkInsert::Cell(notes), now_,
                   now_, now_, kImportedFrom, std::int64_t{1}, std::int64_t{1}, std::int64_t{1}, std::int64_t{0}, folder});
    const std::int64_t key = bulk_.insert(*bookmarkShape_, cells_);
    if (!key) return 0;
    for (const auto& name : tags) {
      const std::int64_t tag = tagKey(name);
      if (tag && !bulk_.relate(Bookmark::entityName(), "tags", key, tag)) return 0;
    }
    return key;
  }

  store::BulkInsert& bulk_;
  const HTMLImport::ReceivingFolder& root_;
  bool skip_;
  const std::function<bool(const std::string&)>& isKnown_;
  const store::BulkInsert::Shape *folderShape_ = nullptr, *tagShape_ = nullptr, *bookmarkShape_ = nullptr;
  std::int64_t rootKey_ = 0;
  fnd::UuidGenerator uuids_;
  const fnd::Date now_ = fnd::Date::now();
  std::vector<Written> folders_;
  std::unordered_map<int, std::int64_t> children_;
  std::vector<std::int64_t> bookmarkKeys_;
  std::unordered_set<std::string> processed_;
  std::unordered_map<int, HTMLImportDraftBookmark> held_;
  std::string lastID_;
  std::unordered_map<int, Kept> written_;  // draft -> what was stored for it
  std::unordered_map<std::string, std::int64_t> tagKeys_, createdTags_;
  std::vector<store::BulkInsert::Cell> cells_;
};

}  // namespace

HTMLImport::Report HTMLImport::importFile(const std::string& path, const ReceivingFolder& root, bool skipDuplicates,
                                          const std::shared_ptr<store::Context>& context) {
  Report report;
  FileSource file(path);
  bool directory = false;
  if (!context || !file.isOpen() || !fnd::FileManager::fileExists(path, &directory) || directory) {
    fnd::logError("Unable to read bookmark file '" + path + "' for import");
    return report;
  }
  // The file's addresses are in the compared form already.
  const KnownAddresses existing = skipDuplicates ? KnownAddresses::read(context) : KnownAddresses();
  const std::function<bool(const std::string&)> isKnown = [&](const std::string& address) {
    return existing.contains(address);
  };

  fnd::Error error;
  auto bulk = store::BulkInsert::begin(context, &error);
  if (!bulk) {
    fnd::logError("Import: the store cannot be written: " + error.localizedDescription());
    report.outcome = Outcome::NotStored;
    report.notStoredCause = WrenEntity::causeOfSaveFailure(error);
    return report;
  }
  // A large file into a small library: some indexes are cheaper to build again than to keep.
  constexpr std::int64_t kLargeLoad = 10000, kBytesPerBookmark = 300;
  const auto expected = static_cast<std::int64_t>(fnd::FileManager::sizeOfItem(path)) / kBytesPerBookmark;
  // Only the indexes whose new keys land all over them: the others (dates of now, flags of 0,
  // folders in file order) grow at one end and cost little to keep while the file is read.
  if (expected >= kLargeLoad && expected >= bulk->rowCount(Bookmark::entityName()))
    bulk->deferIndexes(Bookmark::entityName(), {"uniqueID", "url"});
  DraftWriter writer(*bulk, root, skipDuplicates, isKnown);
  bool stored = writer.start();

  // The file is read on a thread of its own while this one stores what it has read so far.
  Handover handover;
  bool readFailed = false;
  std::thread reading([&] {
    HTMLImportReader::Options options;
    options.skipDuplicates = skipDuplicates;
    options.isKnown = isKnown;
    options.onFolder = [&](const HTMLImportDraftFolder& f) { handover.add(f); };
    options.onBookmark = [&](const HTMLImportDraftBookmark& b) { handover.add(b); };
    auto records = HTMLImportReader::read([&](char* buffer, std::size_t size) { return file.read(buffer, size); }, options);
    readFailed = file.failed();
    handover.finish(std::move(records));
  });
  for (auto batch = handover.take(); !batch.empty(); batch = handover.take())
    for (const auto& draft : batch) {
      if (!stored) continue;
      if (const auto* f = std::get_if<HTMLImportDraftFolder>(&draft))
        stored = writer.folder(*f);
      else
        stored = writer.bookmark(std::get<HTMLImportDraftBookmark>(draft));
    }
  reading.join();

  auto& records = handover.records();
  if (!records || readFailed) {
    fnd::logError("Unable to read bookmark file '" + path + "' for import");
    return report;  // the insert rolls back
  }
  report.folders = records->folders.size();
  report.bookmarks = records->bookmarks.size();
  report.flattenedFolders = records->flattenedFolders;
  report.leftOut = records->leftOut;
  report.unread = records->unread;
  report.notHandedOn = records->notHandedOn;
  report.inUnendedText = records->inUnendedText;
  report.unendedTextElement = records->unendedTextElement;
  report.alreadyHeld = records->alreadyHeld;
  report.repeated = records->repeated;
  if (records->flattenedFolders)
    fnd::logInfo("Import: " + std::to_string(records->flattenedFolders) +
                 " folders nested too deep were read into the deepest kept folder");
  stored = stored && writer.settle(*records) && bulk->commit(&error);
  if (!stored) {
    bulk->failed(&error);  // a step before the commit that failed says why
    fnd::logError("Import: the bookmarks could not be stored: " + error.localizedDescription());
    report.notStoredCause = WrenEntity::causeOfSaveFailure(error);
  }
  if (stored) writer.kept(*records, report.bookmarkIDs, report.bookmarkKeys);
  report.outcome = stored ? Outcome::Imported : Outcome::NotStored;
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
  std::vector<std::string> importedBookmarkIDs;
  std::vector<std::int64_t> importedBookmarkKeys;  // their rows' keys, in the same order

  // Imported bookmarks read apart per part, each part taken into the main context in a turn of
  // the main loop.
  static constexpr std::size_t kRowsPerPart = 500, kPartsForTwoReaders = 20;
  std::shared_ptr<fnd::DispatchQueue> rowReader;

  // Main thread. The main context takes the new rows in over several turns of the main loop (a
  // slice of the merge, then of the rows, at a time), so that a large import never holds the
  // window up in one piece; the library in memory and the views follow once, at the end.
  void finish(Report report, store::SaveNotification saved) {
    importedBookmarkIDs = report.outcome == Outcome::Imported ? std::move(report.bookmarkIDs) : std::vector<std::string>{};
    importedBookmarkKeys = report.outcome == Outcome::Imported ? std::move(report.bookmarkKeys) : std::vector<std::int64_t>{};
    auto main = WrenDataManager::sharedInstance().managedObjectContext();
    if (report.outcome != Outcome::Imported || !main) return conclude(report, saved);
    std::weak_ptr<Impl> weak = weak_from_this();
    auto kept = std::make_shared<const store::SaveNotification>(std::move(saved));
    main->mergeChangesFromSaveInSlices(*kept, [weak, report, kept] {
      if (auto self = weak.lock()) self->readRows(report, kept);
    });
  }

  // Reads the imported bookmarks on a queue of their own over a connection of its own, then
  // takes them into the main context a part per turn: the library in memory then takes them in
  // without a row to load, and the main thread never waits for the store to read them. Each part
  // is read by the keys its rows were written under (the import wrote them one after another), so
  // a part passes over its own rows only, never the whole table.
  void readRows(const Report& report, const std::shared_ptr<const store::SaveNotification>& saved) {
    auto main = WrenDataManager::sharedInstance().managedObjectContext();
    auto coordinator = WrenDataManager::sharedInstance().persistentStoreCoordinator();
    if (!main || !coordinator || importedBookmarkIDs.empty() || importedBookmarkKeys.size() != importedBookmarkIDs.size())
      return conclude(report, *saved);
    std::vector<std::size_t> byKey(importedBookmarkIDs.size());
    for (std::size_t i = 0; i < byKey.size(); ++i) byKey[i] = i;
    std::sort(byKey.begin(), byKey.end(),
              [&](std::size_t a, std::size_t b) { return importedBookmarkKeys[a] < importedBookmarkKeys[b]; });
    using Parts = std::vector<std::shared_ptr<store::DetachedFetch>>;
    auto parts = std::make_shared<Parts>();
    for (std::size_t from = 0; from < byKey.size(); from += kRowsPerPart) {
      fnd::Array ids;
      const std::size_t to = std::min(byKey.size(), from + kRowsPerPart);
      for (std::size_t i = from; i < to; ++i) ids.push_back(fnd::Value(importedBookmarkIDs[byKey[i]]));
      store::FetchRequest request(Bookmark::entityName());
      request.predicate = store::Predicate::parse("uniqueID IN %@", {fnd::Value(std::move(ids))});
      if (!request.predicate) continue;
      auto part = store::DetachedFetch::make(main, std::move(request));
      part->restrictToKeys(importedBookmarkKeys[byKey[from]] - 1, importedBookmarkKeys[byKey[to - 1]]);
      parts->push_back(std::move(part));
    }
    if (!rowReader) rowReader = fnd::DispatchQueue::create("Imported rows");
    std::weak_ptr<Impl> weak = weak_from_this();
    rowReader->async([weak, report, saved, parts, coordinator] {
      // Over the main connection where the store has no file to open again.
      std::shared_ptr<store::Coordinator> connection = coordinator->openSecondConnection();
      if (!connection) connection = coordinator;
      // A part that cannot be read here is fetched in the main context when taken in. Many parts
      // are read in two halves side by side, the upper over a connection of its own: making the
      // objects is most of the read.
      const std::size_t half = parts->size() >= kPartsForTwoReaders ? parts->size() / 2 : parts->size();
      std::shared_ptr<store::Coordinator> second = half < parts->size() ? coordinator->openSecondConnection() : nullptr;
      std::thread upper;
      if (second)
        upper = std::thread([&] {
          for (std::size_t i = half; i < parts->size(); ++i) (*parts)[i]->read(*second);
        });
      for (std::size_t i = 0; i < (second ? half : parts->size()); ++i) (*parts)[i]->read(*connection);
      if (upper.joinable()) upper.join();
      fnd::DispatchQueue::main().async([weak, report, saved, parts] {
        if (auto self = weak.lock()) self->takeRows(report, saved, parts, 0);
      });
    });
  }

  void takeRows(const Report& report, const std::shared_ptr<const store::SaveNotification>& saved,
                const std::shared_ptr<std::vector<std::shared_ptr<store::DetachedFetch>>>& parts, std::size_t next) {
    if (next < parts->size()) (*parts)[next]->adopt();
    if (next + 1 >= parts->size()) return conclude(report, *saved);
    std::weak_ptr<Impl> weak = weak_from_this();
    fnd::DispatchQueue::main().async([weak, report, saved, parts, next] {
      if (auto self = weak.lock()) self->takeRows(report, saved, parts, next + 1);
    });
  }

  void conclude(const Report& report, const store::SaveNotification& saved) {
    if (report.outcome != Outcome::Imported) return tell(report);
    // The library in memory takes in the new rows, it is not read again, and refreshes the
    // views once; the end is told in the next turn, apart from that work.
    if (dataManager)
      dataManager->followMergedSave(saved);
    else
      ViewUpdater::updateFoldersCompletely();
    ViewUpdater::updateTags();
    std::weak_ptr<Impl> weak = weak_from_this();
    fnd::DispatchQueue::main().async([weak, report] {
      if (auto self = weak.lock()) self->tell(report);
    });
  }

  // The sheet goes and the user is told how the import ended.
  void tell(const Report& report) {
    const bool imported = report.outcome == Outcome::Imported;
    if (sheet) sheet(false);
    ViewUpdater::stopActivity();
    running = false;
    const std::string file = fnd::FileManager::lastPathComponent(importFilePath);
    stored::ImportTally tally;
    tally.imported = report.bookmarks;
    tally.alreadyHeld = report.alreadyHeld;
    tally.repeated = report.repeated;
    tally.leftOut = report.leftOut;
    tally.flattenedFolders = report.flattenedFolders;
    if (imported && report.unread)
      // What was read is stored, but the import is not complete.
      AlertPresenter::alert("Import incomplete", stored::importMessage(file, tally) + " " +
                                                     std::to_string(report.unread) +
                                                     (report.unread == 1 ? " entry" : " entries") +
                                                     " of the file could not be read" + whyUnread(report));
    else if (imported && tally.hasNews())
      // What was not taken as it stood is told, not only logged: every entry is accounted for.
      AlertPresenter::inform("Import complete", stored::importMessage(file, tally));
    else if (imported)
      ViewUpdater::showMessage("Import complete", 250, 100);
    else if (report.outcome == Outcome::NotStored)
      AlertPresenter::alert("Import failed", "The bookmarks from '" + file + "' could not be stored" +
                                                 (report.notStoredCause.empty() ? "" : ": " + report.notStoredCause) +
                                                 ". Nothing was imported.");
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
const std::vector<std::string>& HTMLImport::importedBookmarkIDs() const { return d_->importedBookmarkIDs; }

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

  // The thread holds the import's state weakly: the last hold on it, and so its end, is the main
  // thread's (what it holds is the main thread's: the caller's blocks, the row reader's queue).
  std::thread([weak = std::weak_ptr<Impl>(d_), path, root, skip = d_->skipDuplicates] {
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
    fnd::DispatchQueue::main().async([weak, report = std::move(report), saved = std::move(saved)]() mutable {
      if (auto strong = weak.lock()) strong->finish(std::move(report), std::move(saved));
    });
  }).detach();
  return true;
}

}  // namespace kesto
