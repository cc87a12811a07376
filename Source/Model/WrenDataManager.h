#pragma once

#include "Model/ModelNotifications.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Store/StoreForward.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace kesto {


// The one shared object stack: the library model, the SQLite store "data.sqlite" in the
// application's data folder, the main context, and new child and separate contexts on request.
class WrenDataManager {
 public:
  static WrenDataManager& sharedInstance();

  // Store folder name ("kesto") and file name ("data.sqlite"); the file name never changes, so a
  // retried open and the duplicates query always use the same file.
  std::string coreDataFolder() const;
  void setCoreDataFolder(const std::string& folder);
  std::string coreDataFilename() const;
  std::string managedObjectModelName() const;
  // Full path of the store file.
  std::string persistentStorePath() const;

  std::shared_ptr<const store::Model> managedObjectModel();
  // Built on first use and again on every request while it cannot be built.
  std::shared_ptr<store::Coordinator> persistentStoreCoordinator();
  // The main-queue context; null while the store cannot be opened.
  std::shared_ptr<store::Context> managedObjectContext();
  // A new private-queue child of the main context; null without a main context.
  std::shared_ptr<store::Context> secondaryObjectContext();
  // A new confinement context on the coordinator (overwrite policy), owned by the caller.
  std::shared_ptr<store::Context> newManagedObjectContext();

  // The store folder, the external-records folder (named, never created: nothing is kept there)
  // and the user's documents folder.
  std::string applicationSupportDirectory() const;
  std::string externalRecordsDirectory() const;
  std::string applicationDocumentsDirectory() const;

  // Folder and model named `name`, file "test_data.sqlite"; only before the first open.
  void setTestMode(const std::string& name);

  // Why the store is not available (absent while it is, or before the first attempt).
  std::optional<fnd::Error> lastError() const;
  // What was wrong with the store file at the last failed open.
  enum class StoreProblem {
    None,          // it opened, or nothing is known
    Unavailable,   // no file, or a folder or file the system keeps Kesto from
    Damaged,       // the file is there but damaged or not a library
    NewerVersion,  // made by a newer Kesto: it holds records this version does not know
    UnknownModel,  // made by a Kesto this version does not know, with the tables this one reads
  };
  StoreProblem lastProblem() const;
  // The next open brings a store of an unknown model to this version's (the user agreed).
  void acceptUnknownModelOnce();

  // A read or save of the open store failed with `error`: when it says the file is damaged,
  // WrenDataManagerStoreDamagedNotification goes out (once for this store). Any thread.
  void noteFailure(const fnd::Error& error);
  // When `error` is a failure that names none of SQLite's damage codes ("no such table") but
  // the open store's file no longer holds the library (emptied or cut short under Kesto): a
  // damage error that says so in words. Any thread.
  std::optional<fnd::Error> libraryGoneFromFile(const fnd::Error& error);
  // Opening reads only the first page of every table and index (a large library cannot wait
  // for more before its window shows). This reads the rest: SQLite's quick check of the whole
  // file, off the main thread on a connection of its own that gives way to every save. Damage it
  // finds in the store still open goes out as noteFailure's does. Once per open store; reset()
  // stops it. `done`, when given, runs on the main queue once the check has ended either way.
  void checkWholeStoreInBackground(std::function<void()> done = {});

  // Closes the store and forgets the contexts, so the next request opens it afresh (tests,
  // restore of a backup).
  void reset();

 private:
  WrenDataManager();
  bool openStoreLocked(fnd::Error* error);
  // noteFailure for what `check` found (null: the open store's own reads and saves); nothing
  // once that check's store has closed.
  void noteFailureFoundBy(const store::StoreFileCheck* check, const fnd::Error& error);
  void reportFailure(const fnd::Error& error);

  mutable std::recursive_mutex mutex_;
  std::string folder_;
  std::string filename_;
  std::string modelName_;
  std::shared_ptr<store::Coordinator> coordinator_;
  std::shared_ptr<store::Context> mainContext_;
  std::optional<fnd::Error> lastError_;
  bool acceptUnknownModel_ = false;
  bool damageNoted_ = false;
  std::shared_ptr<store::StoreFileCheck> wholeCheck_;
};

}  // namespace kesto
