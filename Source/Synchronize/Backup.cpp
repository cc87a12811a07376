#include "Synchronize/Backup.h"

#include "Support/AlertPresenter.h"
#include "Synchronize/SyncSettings.h"

#include "Model/Bookmark.h"
#include "Model/Folder.h"
#include "Model/StoredText.h"
#include "Model/Tag.h"
#include "Model/WrenDataManager.h"
#include "Model/WrenEntity.h"

#include "Platform/Foundation/DateFormatter.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/Strings.h"
#include "Platform/Foundation/TimeZone.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Store/Context.h"
#include "Platform/Store/Coordinator.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <charconv>
#include <limits>
#include <map>
#include <unordered_map>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

namespace kesto {

namespace {

constexpr const char* kOldNamePattern = "yyyy-M-dd-hh-mm-ss";
constexpr const char* kBackupErrorDomain = "KestoBackupErrorDomain";

std::mutex gTerminateMutex;
std::function<void()> gTerminate;

fnd::Error backupError(long code, const std::string& text) { return fnd::Error::withDescription(kBackupErrorDomain, code, text); }

// The error with the SQLite result code that caused it, as the store's own errors carry theirs:
// a damaged file's ("malformed", "not a database") is then told from the others.
fnd::Error withSQLiteCode(fnd::Error error, int code) {
  error.mutableUserInfo()["NSSQLiteErrorDomain"] = code;
  return error;
}

struct Db {
  sqlite3* db = nullptr;
  ~Db() {
    if (db) sqlite3_close_v2(db);
  }
  std::string message() const { return db ? sqlite3_errmsg(db) : "out of memory"; }
};

// Copies the database at `from` into a new file at `to` with SQLite's online backup: a
// consistent snapshot, whatever writes are in flight, in one self-contained file.
bool copyDatabase(const std::string& from, const std::string& to, fnd::Error* error) {
  // The library is the user's alone: the copy starts as an empty file only they can read, which
  // SQLite then fills (it keeps the mode of a file it finds).
  if (int fd = fnd::FileManager::createPrivateFile(to); fd >= 0) ::close(fd);
  Db source, destination;
  if (sqlite3_open_v2(from.c_str(), &source.db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    if (error) *error = backupError(1, "Could not open " + from + ": " + source.message());
    return false;
  }
  sqlite3_busy_timeout(source.db, 5000);
  if (sqlite3_open_v2(to.c_str(), &destination.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
    if (error) *error = backupError(2, "Could not create " + to + ": " + destination.message());
    return false;
  }
  sqlite3_backup* backup = sqlite3_backup_init(destination.db, "main", source.db, "main");
  if (!backup) {
    if (error) *error = backupError(3, "Could not copy " + from + ": " + destination.message());
    return false;
  }
  // The copy goes a few pages at a time and lets go of the library between steps, so a save of
  // the running program waits for one step, never for the whole copy. A save in between makes
  // SQLite start the copy over; after a few such restarts the rest goes in one step.
  constexpr int kPagesPerStep = 256;
  constexpr int kRestartsBeforeOneStep = 3;
  int rc;
  int attempts = 0, restarts = 0, remaining = -1;
  for (;;) {
    rc = sqlite3_backup_step(backup, restarts < kRestartsBeforeOneStep ? kPagesPerStep : -1);
    if (rc == SQLITE_OK) {
      const int left = sqlite3_backup_remaining(backup);
      if (remaining >= 0 && left >= remaining) ++restarts;  // else fewer pages are left
      remaining = left;
      continue;
    }
    if ((rc != SQLITE_BUSY && rc != SQLITE_LOCKED) || ++attempts > 100) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  sqlite3_backup_finish(backup);
  if (rc != SQLITE_DONE) {
    if (error) *error = withSQLiteCode(backupError(4, "Could not copy " + from + ": " + std::string(sqlite3_errstr(rc))), rc);
    return false;
  }
  // The copy stands alone: no write-ahead log to carry with it.
  sqlite3_exec(destination.db, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
  return true;
}

bool setLibraryIdentifierInFile(const std::string& path, const std::string& identifier, fnd::Error* error) {
  sqlite3* db = nullptr;
  bool ok = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK;
  sqlite3_stmt* put = nullptr;
  ok = ok && sqlite3_prepare_v2(db, "INSERT OR REPLACE INTO Z_METADATA (Z_KEY, Z_VALUE) VALUES (?, ?)", -1, &put,
                                nullptr) == SQLITE_OK;
  if (ok) {
    sqlite3_bind_text(put, 1, syncsettings::kLibraryIdentifierKey, -1, SQLITE_STATIC);
    sqlite3_bind_text(put, 2, identifier.c_str(), -1, SQLITE_TRANSIENT);
    ok = sqlite3_step(put) == SQLITE_DONE;
  }
  if (!ok && error)
    *error = fnd::Error::withDescription("Backup", 1, std::string("the restored library could not be given a new identity: ") +
                                                          (db ? sqlite3_errmsg(db) : "no database"));
  sqlite3_finalize(put);
  sqlite3_close(db);
  return ok;
}

std::string temporaryPathBeside(const std::string& path) {
  return fnd::FileManager::deletingLastPathComponent(path) + "/." + fnd::FileManager::lastPathComponent(path) + "." +
         fnd::FileManager::uniqueName() + ".tmp";
}

// What a check pragma ("PRAGMA quick_check(1)", "PRAGMA integrity_check(1)") says of the open
// file: "ok" when it is sound.
std::string checkResult(sqlite3* db, const char* pragma) {
  std::string check;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, pragma, -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW)
    if (auto text = sqlite3_column_text(stmt, 0)) check = reinterpret_cast<const char*>(text);
  sqlite3_finalize(stmt);
  return check;
}

// How many of the library's own tables the open file has: a Kesto store has all three.
constexpr int kLibraryTables = 3;
int libraryTableCount(sqlite3* db) {
  int tables = 0;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db,
                         "SELECT count(*) FROM sqlite_master WHERE type='table' AND name IN "
                         "('ZBOOKMARK','ZFOLDER','Z_METADATA')",
                         -1, &stmt, nullptr) == SQLITE_OK &&
      sqlite3_step(stmt) == SQLITE_ROW)
    tables = sqlite3_column_int(stmt, 0);
  sqlite3_finalize(stmt);
  return tables;
}

// A copy the online backup just made is a consistent snapshot: the quick check and the library's
// tables are enough to trust it (a full integrity check reads every index and takes seconds).
bool isSoundCopy(const std::string& path, fnd::Error* error) {
  Db file;
  std::string check;
  int tables = 0;
  if (sqlite3_open_v2(path.c_str(), &file.db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    check = checkResult(file.db, "PRAGMA quick_check(1)");
    tables = libraryTableCount(file.db);
  }
  if (check == "ok" && tables == kLibraryTables) return true;
  if (error) {
    *error = backupError(5, "The copy of the library did not read back whole");
    // The online backup copies the pages as they are: a copy SQLite finds fault with comes from
    // a library it would find fault with too.
    if (!check.empty() && check != "ok") *error = withSQLiteCode(*error, SQLITE_CORRUPT);
  }
  return false;
}

// Copy to a temporary file in the destination's folder, then rename over the destination.
bool copyDatabaseReplacing(const std::string& from, const std::string& to, fnd::Error* error) {
  const std::string temp = temporaryPathBeside(to);
  if (!copyDatabase(from, temp, error) || !isSoundCopy(temp, error) ||
      !fnd::FileManager::renameItem(temp, to, error)) {
    fnd::FileManager::removeItem(temp);
    return false;
  }
  return true;
}

std::string storePath() { return WrenDataManager::sharedInstance().persistentStorePath(); }

// Peers must see a library put back from a backup (or started anew) as a new one: one that
// kept the old identity would take the sync file for its own and overwrite it unmerged. The
// identifier belongs to the store, so it goes into the incoming store file (none for a library
// started anew, which makes its own), and the settings follow.
bool giveNewSyncIdentity(const std::string& incomingStore, fnd::Error* error) {
  const std::string identity = "kesto-" + WrenEntity::uniqueID();
  if (!incomingStore.empty() && !setLibraryIdentifierInFile(incomingStore, identity, error)) return false;
  auto& defaults = fnd::UserDefaults::standard();
  defaults.setString(identity, syncsettings::kLibraryIdentifierKey);
  defaults.synchronize();
  return true;
}

// Removes a store file made here and the side files SQLite may have left beside it.
void removeStoreFile(const std::string& path) {
  for (const char* side : {"", "-wal", "-shm", "-journal"}) fnd::FileManager::removeItem(path + side);
}

}  // namespace

struct Backup::Impl {
  std::string fromPath;
  bool isAutoBackup = false;
};

Backup::Backup() : d_(std::make_shared<Impl>()) {}
Backup::~Backup() = default;

bool Backup::isAutoBackup() const { return d_->isAutoBackup; }
const std::string& Backup::fromPath() const { return d_->fromPath; }
void Backup::setFromPath(const std::string& path) { d_->fromPath = path; }

void Backup::setTerminateHandler(std::function<void()> handler) {
  std::lock_guard lock(gTerminateMutex);
  gTerminate = std::move(handler);
}

std::string Backup::applicationSupportDirectory() const {
  return WrenDataManager::sharedInstance().applicationSupportDirectory();
}

bool Backup::isValidBackupFile(const std::string& path, fnd::Error* error) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (error) *error = backupError(10, "There is no backup file at " + path);
    return false;
  }
  // Opening a pipe or a device would wait for a writer that never comes.
  if (!S_ISREG(st.st_mode)) {
    if (error) *error = backupError(15, "The file is not a regular file");
    return false;
  }
  Db file;
  // Read-only and without creating anything: a foreign file is looked at, never changed.
  if (sqlite3_open_v2(path.c_str(), &file.db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    if (error) *error = backupError(11, "The file cannot be opened as a Kesto backup");
    return false;
  }
  sqlite3_db_config(file.db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  sqlite3_db_config(file.db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
  if (checkResult(file.db, "PRAGMA integrity_check(1)") != "ok") {
    if (error) *error = backupError(12, "The file is not a Kesto backup or is damaged");
    return false;
  }
  if (libraryTableCount(file.db) != kLibraryTables) {
    if (error) *error = backupError(13, "The file is not a Kesto backup");
    return false;
  }
  // Right table names are not enough: the store must be able to open what is swapped in.
  auto model = WrenDataManager::sharedInstance().managedObjectModel();
  fnd::Error storeError;
  if (!model || !store::Coordinator::checkStoreFile(path, *model, &storeError)) {
    if (error)
      *error = backupError(14, "The file is not a backup this version of Kesto can open (" +
                                   storeError.localizedDescription() + ")");
    return false;
  }
  return true;
}

namespace {

// The copy behind every backup; logs a failure. Touches no shared state, so it runs on any thread.
bool copyStore(const std::string& source, const std::string& path, fnd::Error& error) {
  bool ok = false;
  if (path.empty() || path == source)
    error = backupError(20, "A backup cannot replace the library itself");
  else if (!fnd::FileManager::fileExists(source))
    error = backupError(21, "There is no library to back up");
  else
    ok = copyDatabaseReplacing(source, path, &error);
  if (!ok) fnd::logError("Could not save backup file : " + error.localizedDescription());
  return ok;
}

}  // namespace

bool Backup::backupToFile(const std::string& path) {
  const bool automatic = d_->isAutoBackup;
  d_->isAutoBackup = false;
  fnd::Error error;
  if (!copyStore(storePath(), path, error)) {
    if (!automatic) AlertPresenter::alert("Kesto Backup", "The backup could not be saved: " + error.localizedDescription());
    return false;
  }
  if (!automatic) AlertPresenter::inform("Kesto Backup", "Backup successfully completed", "OK");
  return true;
}

namespace {

// Writes into `to` (a context over a copy of the store `from` works on) every change `from`
// holds unsaved. Both stores share one identifier, so an ID of `from` names the same row in `to`.
// Values are set first and deletions made last: a deletion cascading in the copy must not take
// a record the unsaved changes moved out of the deleted one.
void copyUnsavedChanges(store::Context& from, store::Context& to) {
  std::unordered_map<const store::ManagedObject*, store::ManagedObjectRef> made;
  auto counterpart = [&](const store::ManagedObjectRef& o) -> store::ManagedObjectRef {
    if (!o) return nullptr;
    if (auto it = made.find(o.get()); it != made.end()) return it->second;
    store::ManagedObjectRef copy;
    if (o->isInserted()) copy = to.insertNewObject(o->entity()->name());
    else if (auto id = o->objectID(); id && !id->isTemporaryID()) copy = to.objectWithID(id);
    made.emplace(o.get(), copy);
    return copy;
  };
  auto copyValues = [&](const store::ManagedObjectRef& o) {
    auto copy = counterpart(o);
    if (!copy) return;
    const store::EntityDescription& entity = *o->entity();
    const fnd::Dictionary changed = o->changedValues();  // every value of a new record
    for (std::size_t i = 0; i < entity.attributes().size(); ++i) {
      const auto& attribute = entity.attributes()[i];
      if (!attribute.transient && changed.count(attribute.name)) copy->setValue(static_cast<int>(i), o->value(static_cast<int>(i)));
    }
    for (std::size_t i = 0; i < entity.relationships().size(); ++i) {
      const auto& relationship = entity.relationships()[i];
      const int index = static_cast<int>(i);
      if (!changed.count(relationship.name)) continue;
      if (!relationship.toMany) {
        copy->setToOne(index, counterpart(o->toOne(index)));
        continue;
      }
      // A set whose members each point back with a to-one is carried by those members' own
      // changes; only sets on both sides (tags) are copied as sets.
      const auto* destination = entity.destination(index);
      const int inverse = entity.inverseIndex(index);
      if (!destination || inverse < 0 || !destination->relationships()[static_cast<std::size_t>(inverse)].toMany) continue;
      std::vector<store::ManagedObjectRef> members;
      for (const auto& member : o->toMany(index))
        if (auto m = counterpart(member)) members.push_back(std::move(m));
      copy->setToMany(index, members);
    }
  };
  const auto inserted = from.insertedObjects();
  for (const auto& o : inserted) counterpart(o);
  for (const auto& o : inserted) copyValues(o);
  for (const auto& o : from.updatedObjects()) copyValues(o);
  for (const auto& o : from.deletedObjects())
    if (auto copy = counterpart(o)) to.deleteObject(copy);
}

}  // namespace

bool Backup::backupWithUnsavedChanges(const std::shared_ptr<store::Context>& context, const std::string& path,
                                      fnd::Error* error) {
  fnd::Error failure;
  auto model = WrenDataManager::sharedInstance().managedObjectModel();
  auto library = context ? context->coordinator() : nullptr;
  if (!model || !library || library->storePath().empty()) {
    if (error) *error = backupError(22, "There is no library to back up");
    return false;
  }
  const std::string temp = temporaryPathBeside(path);
  bool ok = copyDatabase(library->storePath(), temp, &failure);
  // A fresh copy that does not read back whole, or lacks the library's tables (a file emptied
  // under Kesto), comes from a damaged library.
  if (ok && !isSoundCopy(temp, &failure)) {
    failure = withSQLiteCode(backupError(5, "The library file is damaged"), SQLITE_CORRUPT);
    ok = false;
  }
  if (ok) {
    auto coordinator = store::Coordinator::make(model);
    ok = coordinator->addStore(store::kSQLiteStoreType, temp, {}, &failure);
    if (ok && coordinator->storeIdentifier() != library->storeIdentifier()) {
      failure = backupError(23, "The copy is not of the library in use");
      ok = false;
    }
    if (ok) {
      auto copy = store::Context::make(store::ConcurrencyType::Confinement);
      copy->setCoordinator(coordinator);
      // The copy is this function's alone: what it writes is what the context holds.
      copy->setMergePolicy(store::MergePolicy::Overwrite);
      copyUnsavedChanges(*context, *copy);
      ok = copy->save(&failure);
      copy->reset();
    }
    coordinator->removeStore();
  }
  ok = ok && isSoundCopy(temp, &failure) && fnd::FileManager::renameItem(temp, path, &failure);
  if (!ok) {
    removeStoreFile(temp);
    fnd::logError("Could not save backup file : " + failure.localizedDescription());
    if (error) *error = failure;
  }
  return ok;
}

std::string Backup::backupNameForDate(fnd::Date date) {
  return fnd::DateFormatter::fixed(kNamePattern, fnd::TimeZone::local()).stringFromDate(date) + "." + kExtension;
}

std::optional<fnd::Date> Backup::dateFromBackupName(const std::string& fileName) {
  std::string stem = fileName;
  const std::string suffix = std::string(".") + kExtension;
  if (stem.size() > suffix.size() && stem.compare(stem.size() - suffix.size(), suffix.size(), suffix) == 0)
    stem.resize(stem.size() - suffix.size());
  for (const char* pattern : {kNamePattern, kOldNamePattern})
    if (auto date = fnd::DateFormatter::fixed(pattern, fnd::TimeZone::local()).dateFromString(stem)) return date;
  return std::nullopt;
}

bool Backup::autoBackup() {
  d_->isAutoBackup = true;
  const std::string path = applicationSupportDirectory() + "/" + backupNameForDate(fnd::Date::now());
  checkAndDeleteBackups();
  return backupToFile(path);
}

void Backup::autoBackupInBackground(std::function<void(bool)> done) {
  if (!done) return autoBackupInBackground(std::function<void(bool, const fnd::Error&)>());
  autoBackupInBackground([done = std::move(done)](bool ok, const fnd::Error&) { done(ok); });
}

void Backup::autoBackupInBackground(std::function<void(bool ok, const fnd::Error& error)> done) {
  // Everything the job needs is read here, on the main thread; the job itself shares nothing.
  const std::string folder = applicationSupportDirectory();
  const std::string source = storePath();
  const std::string path = folder + "/" + backupNameForDate(fnd::Date::now());
  fnd::DispatchQueue::global(fnd::DispatchQueue::Priority::Background).async([folder, source, path, done] {
    thinAutomaticBackups(folder);
    fnd::Error error;
    const bool ok = copyStore(source, path, error);
    if (done) fnd::DispatchQueue::main().async([done, ok, error] { done(ok, error); });
  });
}

namespace {

// The process that names a temporary copy ".<file>.<pid>-<salt>-<count>.tmp" (SQLite's side files
// add "-journal", "-wal" or "-shm"); nothing when the name is not such a copy's.
std::optional<long long> copyingProcess(std::string_view name) {
  for (std::string_view side : {"-journal", "-wal", "-shm"})
    if (name.size() > side.size() && name.substr(name.size() - side.size()) == side) {
      name.remove_suffix(side.size());
      break;
    }
  constexpr std::string_view tmp = ".tmp";
  if (name.size() < 2 || name[0] != '.' || name.substr(name.size() - std::min(name.size(), tmp.size())) != tmp)
    return std::nullopt;
  name.remove_suffix(tmp.size());
  const auto dot = name.rfind('.');
  if (dot == std::string_view::npos || dot < 2) return std::nullopt;
  std::string_view unique = name.substr(dot + 1);
  auto isDigits = [](std::string_view t, bool hex) {
    return !t.empty() && std::all_of(t.begin(), t.end(), [hex](char c) {
      return (c >= '0' && c <= '9') || (hex && c >= 'a' && c <= 'f');
    });
  };
  const auto first = unique.find('-'), second = unique.find('-', first == std::string_view::npos ? first : first + 1);
  if (first == std::string_view::npos || second == std::string_view::npos) return std::nullopt;
  std::string_view pid = unique.substr(0, first), salt = unique.substr(first + 1, second - first - 1),
                   count = unique.substr(second + 1);
  if (!isDigits(pid, false) || !isDigits(salt, true) || !isDigits(count, false)) return std::nullopt;
  long long value = 0;
  // A number too large to be a process is no process: the copy is stale.
  if (std::from_chars(pid.data(), pid.data() + pid.size(), value).ec != std::errc()) return -1;
  return value;
}

// Whether `pid` is a running Kesto (the number of a stopped one may since have been reused).
bool isRunningKesto(long long pid) {
  if (pid <= 0 || pid > std::numeric_limits<pid_t>::max()) return false;
  if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM) return false;
  auto comm = [](const std::string& who) {
    return fnd::FileManager::readFile("/proc/" + who + "/comm", 256).value_or(std::string());
  };
  return comm(std::to_string(pid)) == comm("self");
}

}  // namespace

std::size_t Backup::removeStaleTemporaryFiles() {
  const std::string folder = WrenDataManager::sharedInstance().applicationSupportDirectory();
  auto names = fnd::FileManager::contentsOfDirectory(folder);
  if (!names) return 0;
  std::size_t removed = 0;
  for (const auto& name : *names) {
    auto pid = copyingProcess(name);
    // A copy still being made by a running Kesto is left to it.
    if (!pid || *pid == ::getpid() || isRunningKesto(*pid)) continue;
    bool isDirectory = false;
    const std::string path = folder + "/" + name;
    if (fnd::FileManager::fileExists(path, &isDirectory) && !isDirectory && fnd::FileManager::removeItem(path)) ++removed;
  }
  if (removed) fnd::logInfo("Removed " + std::to_string(removed) + " unfinished backup copies");
  return removed;
}

std::string Backup::leftOutRowsMessage(std::size_t leftOut) {
  stored::LeftOutCounts counts;
  counts.noAddress = leftOut;
  return stored::leftOutMessage(counts);
}

std::string Backup::cleanedRowsMessage(std::size_t cleaned, std::size_t leftOut) {
  if (!cleaned && !leftOut) return {};
  std::string message;
  if (cleaned)
    message = std::to_string(cleaned) + (cleaned == 1 ? " entry" : " entries") +
              " of the backup did not have the form the library keeps (control characters, overlong texts) and " +
              (cleaned == 1 ? "was" : "were") + " cleaned. ";
  return message + leftOutRowsMessage(leftOut) + "The backup file itself is unchanged. ";
}

void Backup::checkAndDeleteBackups() { thinAutomaticBackups(applicationSupportDirectory()); }

std::vector<std::string> Backup::automaticBackups(const std::string& folder) {
  auto names = fnd::FileManager::contentsOfDirectory(folder, true);
  if (!names) return {};
  struct Entry {
    std::string path;
    double time;
  };
  std::vector<Entry> backups;
  for (const auto& name : *names) {
    if (fnd::FileManager::pathExtension(name) != kExtension) continue;
    const std::string path = folder + "/" + name;
    double time = 0;
    if (auto date = dateFromBackupName(name))
      time = date->timeIntervalSince1970();
    else if (auto attributes = fnd::FileManager::attributesOfItem(path))
      time = attributes->modificationDate.timeIntervalSince1970();
    backups.push_back({path, time});
  }
  // By the time the name stands for, newest first: text order would put "2015-9" after
  // "2015-10" in the older names.
  std::stable_sort(backups.begin(), backups.end(), [](const Entry& a, const Entry& b) { return a.time > b.time; });
  std::vector<std::string> paths;
  for (auto& b : backups) paths.push_back(std::move(b.path));
  return paths;
}

void Backup::thinAutomaticBackups(const std::string& folder) {
  auto backups = automaticBackups(folder);
  for (std::size_t i = 2; i < backups.size(); ++i) fnd::FileManager::removeItem(backups[i]);
}

std::optional<std::string> Backup::newestUsableAutomaticBackup() {
  for (const auto& path : automaticBackups(WrenDataManager::sharedInstance().applicationSupportDirectory()))
    if (isValidBackupFile(path)) return path;
  return std::nullopt;
}

std::optional<std::size_t> Backup::applyStoredForms(const std::string& path, fnd::Error* error,
                                                    std::size_t* leftOut) {
  auto model = WrenDataManager::sharedInstance().managedObjectModel();
  auto coordinator = model ? store::Coordinator::make(model) : nullptr;
  // An older model's store is brought up to this one first, as the library's own is when it opens.
  // The copy is the one the user chose to restore: a model this version does not know, with the
  // tables it reads, is taken as agreed.
  const fnd::Dictionary options{{store::kMigratePersistentStoresAutomaticallyOption, true},
                                {store::kInferMappingModelAutomaticallyOption, true},
                                {store::kMigrateUnknownModelOption, true}};
  if (!coordinator || !coordinator->addStore(store::kSQLiteStoreType, path, options, error)) return std::nullopt;
  auto context = store::Context::make(store::ConcurrencyType::Confinement);
  context->setCoordinator(coordinator);
  auto bookmarks = Bookmark::fetchEntities(context);
  auto folders = Folder::fetchEntities(context);
  auto tags = Tag::fetchEntities(context);
  if (!bookmarks || !folders || !tags) {
    if (error) *error = backupError(30, "The library's records could not be read");
    return std::nullopt;
  }
  std::size_t changed = 0, removed = 0;
  // A text in its stored form (cleaned and bounded, as the setters keep it); true when it was not.
  auto differs = [](const std::optional<std::string>& held, std::string (*form)(std::string_view)) {
    return held && form(*held) != *held;
  };
  for (const auto& b : *bookmarks) {
    const auto url = b->url();
    // A bookmark whose address a library cannot hold (none, no scheme, longer than the bound) is
    // left out of the restored library; the backup file still holds it. Whatever the add sheet
    // stores is kept.
    if (!url || !stored::isLibraryAddress(stored::withoutForbiddenCharacters(*url))) {
      context->deleteObject(b);
      ++removed;
      continue;
    }
    const auto title = b->title(), notes = b->notes();
    if (!differs(url, stored::address) && !differs(title, stored::title) && !differs(notes, stored::note)) continue;
    b->setUrl(url);
    if (title) b->setTitle(title);
    if (notes) b->setNotes(notes);
    ++changed;
  }
  for (const auto& f : *folders)
    if (differs(f->name(), stored::title)) {
      f->setName(f->name());
      ++changed;
    }
  for (const auto& t : *tags)
    if (differs(t->name(), stored::tagName)) {
      t->setName(t->name());
      ++changed;
    }
  if ((changed || removed) && !context->save(error)) return std::nullopt;
  coordinator->removeStore();
  if (removed) fnd::logInfo("Restore: " + leftOutRowsMessage(removed));
  if (leftOut) *leftOut = removed;
  return leftOut ? changed : changed + removed;
}

namespace {

// The first free name "<prefix>yyyy-MM-dd-HH-mm-ss" for `date` (then "-2", "-3", …).
std::string freeDatedName(const std::string& prefix, fnd::Date date) {
  const std::string dated = prefix + fnd::DateFormatter::fixed(Backup::kNamePattern, fnd::TimeZone::local()).stringFromDate(date);
  std::string name = dated;
  for (int n = 2; fnd::FileManager::fileExists(name); ++n) name = dated + "-" + std::to_string(n);
  return name;
}

// Moves the SQLite file at `path` (closed) and its side files to freeDatedName(`prefix`, `date`).
// Answers the kept name; absent, with everything where it was, on failure.
std::optional<std::string> keepAside(const std::string& path, const std::string& prefix, fnd::Date date,
                                     fnd::Error* error) {
  const std::string kept = freeDatedName(prefix, date);
  std::vector<std::string> moved;
  for (const char* side : {"", "-wal", "-shm", "-journal"}) {
    if (!fnd::FileManager::fileExists(path + side)) continue;
    if (!fnd::FileManager::renameItem(path + side, kept + side, error)) {
      for (const auto& back : moved) fnd::FileManager::renameItem(kept + back, path + back);
      return std::nullopt;
    }
    moved.push_back(side);
  }
  return kept;
}

// The library an earlier restore kept as "<store>.before-restore" is never replaced: the next
// restore moves it to "<store>.before-restore-<date>", dated when it was kept (the time of that
// restore), so the question before the restore and the move after it name the same file.
std::string earlierKeptPrefix(const std::string& store) { return store + Backup::kBeforeRestoreSuffix + "-"; }
fnd::Date keptDate(const std::string& path) {
  auto attributes = fnd::FileManager::attributesOfItem(path);
  return attributes ? attributes->modificationDate : fnd::Date::now();
}

// Puts what keepAside moved back in place.
void putStoreBack(const std::string& kept, const std::string& store) {
  for (const char* side : {"", "-wal", "-shm", "-journal"})
    if (fnd::FileManager::fileExists(kept + side)) fnd::FileManager::renameItem(kept + side, store + side);
}

// Whether the SQLite file at `path` is damaged (SQLite's quick check finds fault with it, or it
// does not open as a database at all).
bool isDamagedFile(const std::string& path) {
  Db file;
  if (sqlite3_open_v2(path.c_str(), &file.db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) return true;
  return checkResult(file.db, "PRAGMA quick_check(1)") != "ok";
}

}  // namespace

std::optional<std::string> Backup::replaceDamagedStore(const std::string& backupPath, std::size_t* cleaned,
                                                       fnd::Error* error, const std::string& keptSuffix) {
  const std::string store = storePath();
  std::string incoming;
  if (!backupPath.empty()) {
    if (!isValidBackupFile(backupPath, error)) return std::nullopt;
    // The copy is made whole (and in the stored forms) before anything is moved.
    incoming = temporaryPathBeside(store);
    std::optional<std::size_t> changed;
    if (!copyDatabase(backupPath, incoming, error) || !(changed = applyStoredForms(incoming, error))) {
      removeStoreFile(incoming);
      return std::nullopt;
    }
    if (cleaned) *cleaned = *changed;
  }
  if (!giveNewSyncIdentity(incoming, error)) {
    removeStoreFile(incoming);
    return std::nullopt;
  }
  WrenDataManager::sharedInstance().reset();
  // Nothing is deleted: the file and its side files keep a dated name beside the store.
  auto kept = keepAside(store, store + keptSuffix, fnd::Date::now(), error);
  if (kept && !incoming.empty() && !fnd::FileManager::renameItem(incoming, store, error)) {
    putStoreBack(*kept, store);
    kept.reset();
  }
  if (!kept) {
    if (!incoming.empty()) removeStoreFile(incoming);
    return std::nullopt;
  }
  fnd::logInfo("The library was kept as " + *kept);
  return kept;
}

namespace {

// The bookmarks of the library at `laterPath` that the one at `earlierPath` lacks (added) or holds
// at a lower version (changed since): from the later one's rows, or, when its pages are lost,
// the identifiers alone from their index (`changesCounted` false). Absent when neither reads.
struct LaterBookmarks {
  std::size_t added = 0, changed = 0;
  bool changesCounted = true;
};
std::optional<LaterBookmarks> bookmarksOnlyIn(const std::string& laterPath, const std::string& earlierPath) {
  // Each bookmark's version as the earlier library has it, by identifier (the highest, should
  // two rows share one).
  std::unordered_map<std::string, sqlite3_int64> earlier;
  Db then, later;
  sqlite3_stmt* st = nullptr;
  if (!earlierPath.empty() && sqlite3_open_v2(earlierPath.c_str(), &then.db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
      sqlite3_prepare_v2(then.db, "SELECT ZUNIQUEID, ZVERSION FROM ZBOOKMARK", -1, &st, nullptr) == SQLITE_OK) {
    while (sqlite3_step(st) == SQLITE_ROW)
      if (auto id = sqlite3_column_text(st, 0)) {
        auto [it, added] = earlier.emplace(reinterpret_cast<const char*>(id), sqlite3_column_int64(st, 1));
        if (!added) it->second = std::max(it->second, sqlite3_column_int64(st, 1));
      }
  }
  sqlite3_finalize(st);
  auto read = [&](const char* sql, bool withVersions) -> std::optional<LaterBookmarks> {
    sqlite3_stmt* rows = nullptr;
    std::optional<LaterBookmarks> counts;
    if (sqlite3_prepare_v2(later.db, sql, -1, &rows, nullptr) == SQLITE_OK) {
      LaterBookmarks c;
      c.changesCounted = withVersions;
      int rc;
      while ((rc = sqlite3_step(rows)) == SQLITE_ROW) {
        auto id = sqlite3_column_text(rows, 0);
        auto it = id ? earlier.find(reinterpret_cast<const char*>(id)) : earlier.end();
        if (it == earlier.end()) ++c.added;
        else if (withVersions && sqlite3_column_int64(rows, 1) > it->second) ++c.changed;
      }
      if (rc == SQLITE_DONE) counts = c;
    }
    sqlite3_finalize(rows);
    return counts;
  };
  std::optional<LaterBookmarks> counts;
  if (sqlite3_open_v2(laterPath.c_str(), &later.db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_db_config(later.db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(later.db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    counts = read("SELECT ZUNIQUEID, ZVERSION FROM ZBOOKMARK NOT INDEXED", true);
    if (!counts)
      counts = read("SELECT ZUNIQUEID FROM ZBOOKMARK INDEXED BY ZBOOKMARK_ZUNIQUEID_INDEX WHERE ZUNIQUEID IS NOT NULL", false);
  }
  return counts;
}

std::string bookmarksCount(std::size_t n) { return std::to_string(n) + (n == 1 ? " bookmark" : " bookmarks"); }

// "2 bookmarks added after the backup and 1 bookmark changed after it exist only in " + `where`
// + ". " ("1 bookmark changed after the backup exists …" alone); empty when there are none.
std::string onlyInSentence(const LaterBookmarks& counts, const std::string& where) {
  std::string text;
  if (counts.added) text = bookmarksCount(counts.added) + " added after the backup";
  if (counts.changed)
    text += (text.empty() ? "" : " and ") + bookmarksCount(counts.changed) + " changed after " +
            (text.empty() ? "the backup" : "it");
  if (text.empty()) return text;
  return text + (counts.added + counts.changed == 1 ? " exists" : " exist") + " only in " + where + ". ";
}

// " in the folder “…”": the folder of the store, where every file a restore keeps lies.
std::string inStoreFolder() {
  return " in the folder “" + fnd::FileManager::deletingLastPathComponent(storePath()) + "”";
}

// Where the library an earlier restore kept goes (`movedTo`; the file is read at `keptPath`, where
// it is now), and what it holds that `other` (the library it is compared with, at `otherPath`)
// lacks. When the message has already given the name it was kept under (for the library kept
// now) and the folder, the earlier library is not called by that name again. A sentence and a
// space.
std::string earlierKeptSentence(const std::string& keptPath, const std::string& movedTo, const std::string& verb,
                                const std::string& otherPath, const std::string& other, bool nameTold) {
  const std::string moved = "“" + fnd::FileManager::lastPathComponent(movedTo) + "”";
  std::string text = nameTold ? "The library an earlier restore kept under that name " + verb + " " + moved +
                                    " in the same folder"
                              : "The library an earlier restore kept as “" +
                                    fnd::FileManager::lastPathComponent(storePath()) + Backup::kBeforeRestoreSuffix +
                                    "”" + inStoreFolder() + " " + verb + " " + moved;
  const auto counts = bookmarksOnlyIn(keptPath, otherPath);
  if (!counts || !counts->changesCounted) return text + ". ";
  if (!counts->added && !counts->changed) return text + "; it holds no bookmark that " + other + " lacks. ";
  text += "; it holds ";
  if (counts->added) text += bookmarksCount(counts->added) + " that " + other + " lacks";
  if (counts->changed)
    text += (counts->added ? " and " : "") + bookmarksCount(counts->changed) + " in a later version than " + other + " has";
  return text + ". ";
}

// What the kept library at `keptPath` holds that the restored one (at `restoredPath`) lacks, the
// kept file called `where` ("the kept file “…”", or "that file" once the message named it).
std::string keptLibrarySentences(const std::string& keptPath, const std::string& restoredPath,
                                 const std::string& where) {
  const auto counts = bookmarksOnlyIn(keptPath, restoredPath);
  if (!counts)
    return "Bookmarks added or changed after the backup exist only in " + where +
           ", which is too damaged to count them. ";
  std::string text = onlyInSentence(*counts, where);
  if (!counts->changesCounted)
    text += "Changes made after the backup to the other bookmarks are only in " + where +
            " too; it is too damaged to count them. ";
  else if (text.empty())
    text = fnd::uppercaseFirst(where) + " holds no bookmark that the restored library lacks. ";
  return text;
}

}  // namespace

std::string Backup::keptLibraryMessage(const std::string& keptPath, const std::string& restoredPath) {
  const std::string name = "“" + fnd::FileManager::lastPathComponent(keptPath) + "”";
  return keptLibrarySentences(keptPath, restoredPath, "the kept file " + name);
}

std::string Backup::restoreQuestionMessage(const std::string& backupPath) {
  const std::string store = storePath();
  const std::string before = store + kBeforeRestoreSuffix;
  const std::string kept = "“" + fnd::FileManager::lastPathComponent(before) + "”";
  // The library is moved aside, never deleted (replaceDamagedStore): the question says so.
  std::string text =
      "Attention. This operation replaces the current Kesto library with the content of the file being restored; "
      "the current library is set aside, not erased. ";
  const auto counts = bookmarksOnlyIn(store, backupPath);
  // A library that cannot be read whole is kept under a dated name of its own, and the file an
  // earlier restore kept stays as it is.
  if (!counts || !counts->changesCounted)
    return text + "The current library is kept beside the restored one, but it cannot be read whole: bookmarks added "
                  "or changed after the backup will exist only there. Continue?";
  const std::string only = onlyInSentence(*counts, "the current library, which is kept as " + kept + inStoreFolder());
  text += only.empty() ? "The backup holds every bookmark of the current library as it is now. " : only;
  if (fnd::FileManager::fileExists(before))
    text += earlierKeptSentence(before, freeDatedName(earlierKeptPrefix(store), keptDate(before)), "moves to", store,
                                "the current library", !only.empty());
  return text + "Continue?";
}

void Backup::restoreFromFile(const std::string& path, const std::optional<std::string>& question) {
  d_->fromPath = path;
  auto impl = d_;
  AlertPresenter::ask("Kesto Restore", question ? *question : restoreQuestionMessage(path), {"Yes", "No"}, [impl](int choice) {
    if (choice != 0) return;
    fnd::DispatchQueue::main().after(0.5, [impl] {
      Backup backup;
      backup.d_ = impl;
      backup.doStartRestore();
    });
  });
}

bool Backup::doStartRestore() {
  const std::string from = d_->fromPath;
  const std::string store = storePath();
  auto fail = [&](const std::string& text) {
    fnd::logError("Error restoring: " + text);
    AlertPresenter::alert("Kesto Restore", "The library was not restored: " + text + ". Nothing was changed.");
    return false;
  };

  fnd::Error error;
  if (!isValidBackupFile(from, &error)) return fail(error.localizedDescription());
  if (from == store) return fail("the file is the library itself");

  // The new store is made complete beside the old one before anything is touched.
  const std::string incoming = temporaryPathBeside(store);
  std::optional<std::size_t> cleaned;
  std::size_t leftOut = 0;
  if (!copyDatabase(from, incoming, &error) || !(cleaned = applyStoredForms(incoming, &error, &leftOut))) {
    removeStoreFile(incoming);
    return fail(error.localizedDescription());
  }
  // The previous store stays on disk, so a restore can be undone by hand; the one an earlier
  // restore kept is never replaced, but moves to a dated name first. A damaged store cannot be
  // copied whole: it is kept as it is, under a dated name, and the restore goes on.
  const std::string before = store + kBeforeRestoreSuffix;
  bool damaged = false, keptBefore = false;
  std::optional<std::string> earlier;
  if (fnd::FileManager::fileExists(store)) {
    if (fnd::FileManager::fileExists(before) &&
        !(earlier = keepAside(before, earlierKeptPrefix(store), keptDate(before), &error))) {
      removeStoreFile(incoming);
      return fail("the library an earlier restore kept could not be moved: " + error.localizedDescription());
    }
    keptBefore = copyDatabaseReplacing(store, before, &error);
    if (!keptBefore && earlier) {
      putStoreBack(*earlier, before);
      earlier.reset();
    }
    if (!keptBefore && !isDamagedFile(store)) {
      removeStoreFile(incoming);
      return fail("the current library could not be kept: " + error.localizedDescription());
    }
    damaged = !keptBefore;
  }

  if (!giveNewSyncIdentity(incoming, &error)) {
    fnd::FileManager::removeItem(incoming);
    return fail(error.localizedDescription());
  }

  // Swap while the store is closed; a stale log must not be replayed into the new file.
  WrenDataManager::sharedInstance().reset();
  std::optional<std::string> kept;
  if (damaged && !(kept = keepAside(store, store + kDamagedSuffix, fnd::Date::now(), &error))) {
    fnd::FileManager::removeItem(incoming);
    return fail("the damaged library could not be kept: " + error.localizedDescription());
  }
  fnd::FileManager::removeItem(store + "-wal");
  fnd::FileManager::removeItem(store + "-shm");
  fnd::FileManager::removeItem(store + "-journal");
  if (!fnd::FileManager::renameItem(incoming, store, &error)) {
    fnd::FileManager::removeItem(incoming);
    if (kept) putStoreBack(*kept, store);
    return fail(error.localizedDescription());
  }
  // What only the library before the restore holds (compared with the backup itself, before the
  // restored copy left anything out) is told, and logged, where a user looks later. The folder
  // is named once, and each file: the library kept now takes the name the earlier one had.
  std::string keptText;
  if (kept) {
    keptText = "The damaged library was kept as “" + fnd::FileManager::lastPathComponent(*kept) + "”" +
               inStoreFolder() + ". " + keptLibrarySentences(*kept, from, "that file");
  } else if (keptBefore) {
    keptText = "The library before the restore was kept as “" + fnd::FileManager::lastPathComponent(before) + "”" +
               inStoreFolder() + ". " + keptLibrarySentences(before, from, "that file");
    if (earlier)
      keptText +=
          earlierKeptSentence(*earlier, *earlier, "was moved to", before, "the library before this restore", true);
  }
  if (!keptText.empty()) fnd::logInfo("Restore: " + keptText.substr(0, keptText.size() - 1));

  AlertPresenter::ask("Kesto Restore",
                      cleanedRowsMessage(*cleaned, leftOut) + keptText +
                          "Kesto needs to be restarted and will now close. Please reopen Kesto from your applications "
                          "menu or your taskbar.",
                      {"OK"}, [](int) {
                        std::function<void()> terminate;
                        {
                          std::lock_guard lock(gTerminateMutex);
                          terminate = gTerminate;
                        }
                        if (terminate) terminate();
                      });
  return true;
}

}  // namespace kesto
