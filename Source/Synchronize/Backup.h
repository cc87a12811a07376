#pragma once

#include "Platform/Foundation/Date.h"
#include "Platform/Foundation/FoundationForward.h"
#include "Platform/Store/StoreForward.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kesto {

// Backups of the library store. A backup is a consistent, self-contained copy of "data.sqlite"
// made with SQLite's online backup into a temporary file that is then renamed into place, so
// a backup is never torn and never misses recent commits. Automatic backups live beside the
// store as "yyyy-MM-dd-HH-mm-ss.kestobck" (names sort by time); three remain after a start.
// A restore checks the file first, keeps the previous store as "data.sqlite.before-restore" (a
// damaged one, which cannot be copied, as it is under "data.sqlite.damaged-<date>"), swaps while
// the store is closed, gives the library a new sync identity and asks to restart. The file an
// earlier restore kept is never replaced: it moves to "data.sqlite.before-restore-<date>", dated
// when it was kept.
class Backup {
 public:
  static constexpr const char* kExtension = "kestobck";
  static constexpr const char* kNamePattern = "yyyy-MM-dd-HH-mm-ss";
  static constexpr const char* kBeforeRestoreSuffix = ".before-restore";

  Backup();
  ~Backup();

  // The application's folder, which holds the store.
  std::string applicationSupportDirectory() const;

  // Copies the store to `path`, replacing what stands there. Confirms a manual backup with an
  // alert; a failure is logged and, for a manual backup, shown.
  bool backupToFile(const std::string& path);
  // A backup at `path` of the library as `context` holds it: the store file as it is, with every
  // change of the context that the store did not take (new, changed and deleted records, all
  // their fields) written into the copy. A file to restore once the library can be written
  // again. Written beside `path` first and renamed into place, so a failure (a full disk) leaves
  // nothing; false, with `error`, when the library cannot be copied whole (a damaged file).
  static bool backupWithUnsavedChanges(const std::shared_ptr<store::Context>& context, const std::string& path,
                                       fnd::Error* error = nullptr);
  // Thins the automatic backups, then makes a new one. Shows nothing, so it may run off the main
  // thread (a large store takes seconds to copy).
  bool autoBackup();
  // The same on a background thread, so a start is not held up by it (a large store takes a
  // while to copy); `done` runs on the main queue with the outcome, and with why it failed: a
  // library whose copy does not read back whole is damaged, and its error says so
  // (store::Coordinator::isDamageError).
  void autoBackupInBackground(std::function<void(bool ok, const fnd::Error& error)> done);
  void autoBackupInBackground(std::function<void(bool)> done = {});
  // Deletes all automatic backups but the two newest (by the time in their names).
  void checkAndDeleteBackups();
  // Removes from the application's folder the temporary copies a Kesto that was stopped while
  // copying left behind (its process is gone). Answers how many went.
  static std::size_t removeStaleTemporaryFiles();

  // Asks for confirmation (`question`, else restoreQuestionMessage, which reads both libraries:
  // work for a worker thread); on "Yes" restores half a second later.
  void restoreFromFile(const std::string& path, const std::optional<std::string>& question = std::nullopt);
  // Restores `fromPath` now. False (and nothing changed) when the file is not a backup or the
  // swap could not be made.
  bool doStartRestore();

  // Automatic backups in `folder`, newest first by the time in their names.
  static std::vector<std::string> automaticBackups(const std::string& folder);
  // The newest automatic backup beside the store that passes isValidBackupFile.
  static std::optional<std::string> newestUsableAutomaticBackup();
  // Brings the SQLite store at `path` (closed, not the library in use) to the form every door
  // keeps: texts cleaned and bounded, bookmarks whose address a library cannot hold
  // (stored::isLibraryAddress) removed. Answers how many rows were cleaned, and puts how many
  // bookmarks were removed in `leftOut` (without it, they count among the rows answered); absent
  // (with `error`) when it could not be read or saved.
  static std::optional<std::size_t> applyStoredForms(const std::string& path, fnd::Error* error = nullptr,
                                                     std::size_t* leftOut = nullptr);
  // For a library that cannot be opened: keeps the store file (and its side files) under the
  // dated name "data.sqlite.damaged-yyyy-MM-dd-HH-mm-ss" beside it and puts a checked copy of
  // `backupPath` in its place (in the stored forms; `cleaned` gets the rows that changed), or
  // nothing, for a new library, when `backupPath` is empty. Nothing is deleted, and the library
  // gets a new sync identity. Answers the kept name; absent (with `error`, nothing moved) on
  // failure.
  // `keptSuffix` names what the kept file is: ".damaged-", or ".newer-" for a library a newer
  // Kesto made, which is kept whole for it and never called damaged.
  static std::optional<std::string> replaceDamagedStore(const std::string& backupPath, std::size_t* cleaned = nullptr,
                                                        fnd::Error* error = nullptr,
                                                        const std::string& keptSuffix = kDamagedSuffix);
  static constexpr const char* kDamagedSuffix = ".damaged-";
  static constexpr const char* kNewerSuffix = ".newer-";

  // What the user is told of the library kept beside a restored one: bookmarks added or changed
  // after the backup are only in the kept file, with their numbers when it can still be read
  // (compared with the backup, or the library restored from it, at `restoredPath`). A sentence
  // and a space.
  static std::string keptLibraryMessage(const std::string& keptPath, const std::string& restoredPath);

  // The question before a restore from `backupPath`: what it replaces, the bookmarks added or
  // changed since the backup, which then exist only in the library kept beside the restored one,
  // and where the library an earlier restore kept goes, with what it holds that the current lacks.
  static std::string restoreQuestionMessage(const std::string& backupPath);

  // What a restore tells of the rows applyStoredForms cleaned and the bookmarks it left out
  // (sentences ending in a space); empty for none.
  static std::string cleanedRowsMessage(std::size_t cleaned, std::size_t leftOut = 0);
  static std::string leftOutRowsMessage(std::size_t leftOut);

  bool isAutoBackup() const;
  const std::string& fromPath() const;
  void setFromPath(const std::string& path);

  // A readable SQLite file that passes the integrity check and holds the library's tables.
  static bool isValidBackupFile(const std::string& path, fnd::Error* error = nullptr);
  // The local time an automatic backup's name stands for (the current pattern, and the older
  // "yyyy-M-dd-hh-mm-ss").
  static std::optional<fnd::Date> dateFromBackupName(const std::string& fileName);
  static std::string backupNameForDate(fnd::Date date);

  // Quits every running copy of the application after a restore (the application installs it;
  // without one nothing quits).
  static void setTerminateHandler(std::function<void()> handler);

 private:
  static void thinAutomaticBackups(const std::string& folder);
  struct Impl;
  std::shared_ptr<Impl> d_;
};

}  // namespace kesto
