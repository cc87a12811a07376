#include "App/AppStartup.h"

#include "App/BookmarksController.h"
#include "App/MainInterface.h"
#include "App/TransferDialogs.h"
#include "App/UnsavedChanges.h"
#include "Model/Bookmark.h"
#include "Model/ModelNotifications.h"
#include "Model/WrenDataManager.h"
#include "Model/WrenEntity.h"
#include "Platform/Foundation/Assert.h"
#include "Platform/Foundation/DateFormatter.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/StandardPaths.h"
#include "Platform/Foundation/TimeZone.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/UndoManager.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Store/Coordinator.h"
#include "Platform/Store/Predicate.h"
#include "Platform/System/TrayIcon.h"
#include "Platform/UI/Application.h"
#include "Platform/UI/FilePanel.h"
#include "Support/AlertPresenter.h"
#include "Views/DialogAlertPresenter.h"
#include "Support/ConsoleLogger.h"
#include "Support/LogCenter.h"
#include "Support/RollingFileLogger.h"
#include "Synchronize/Backup.h"
#include "Synchronize/KestoappDataSource.h"
#include "Synchronize/SkyFolderDataSource.h"
#include "Synchronize/SyncSettings.h"

#include <string>
#include <sys/stat.h>
#include <utility>

namespace kesto {

namespace {

bool migrationDone(const char* key) { return fnd::UserDefaults::standard().hasValueForKey(key); }

void markMigrationDone(const char* key) {
  auto& defaults = fnd::UserDefaults::standard();
  defaults.setBool(true, key);
  defaults.synchronize();
}

void markLibraryMigrated(const char* key) {
  fnd::Error error;
  auto coordinator = WrenDataManager::sharedInstance().persistentStoreCoordinator();
  if (coordinator && !coordinator->setMetadataValue(key, "YES", &error))
    fnd::logError(std::string("The library could not be marked as migrated (") + key + "): " + error.localizedDescription());
}

// The one-time migrations change the library's records (the release-2.0 one unlocks every
// bookmark), so they are marked in its store too, under the same key: a library copied to an
// account with fresh settings never has them again. A library that had one under the settings
// flag alone is marked without migrating. True when the records are to be migrated now (never
// without a library).
bool libraryNeedsMigration(const char* key) {
  auto coordinator = WrenDataManager::sharedInstance().persistentStoreCoordinator();
  if (!coordinator) return false;
  if (coordinator->metadata().count(key)) return false;
  if (!migrationDone(key)) return true;
  markLibraryMigrated(key);
  return false;
}

}  // namespace

AppStartup::AppStartup() {
  KESTO_ASSERT_MAIN_THREAD();
  // A library found damaged by a read or a save while Kesto runs: the same way back as at a
  // start, offered from the main loop (the notification may come from inside a load).
  fnd::NotificationCenter::defaultCenter().addObserver(
      this,
      [this](const fnd::Notification& note) {
        auto it = note.userInfo.find("error");
        auto error = it != note.userInfo.end() ? it->second.objectAs<fnd::Error>() : nullptr;
        fnd::DispatchQueue::main().async(lifetime_.whileAlive([error] {
          AppStartup::presentDamageFound(error ? *error : fnd::Error::withDescription("Store", 259, "damaged"));
        }));
      },
      WrenDataManagerStoreDamagedNotification);
  fnd::NotificationCenter::defaultCenter().addObserver(
      this,
      [this](const fnd::Notification&) {
        fnd::NotificationCenter::defaultCenter().removeObserver(this, UpdateFoldersNotification);
        firstLoadFinished_ = true;
        if (automaticBackupRunning_) startAutomaticBackupSoon();
        // What the start itself did (the Inbox and Imported folders made, repairs) is no step a
        // user can undo: Edit > Undo begins with the user's first change.
        fnd::DispatchQueue::main().async(lifetime_.whileAlive([] {
          if (auto* undo = BookmarksController::undoManager()) undo->removeAllActions();
        }));
      },
      UpdateFoldersNotification);
}

AppStartup::~AppStartup() {
  lifetime_.end();
  fnd::NotificationCenter::defaultCenter().removeObserver(this);
}

bool AppStartup::startsInMenuBarMode() {
  // Without a tray there is nothing to start from: the main window shows.
  return fnd::UserDefaults::standard().boolForKey("useMenuBarMode") && sys::TrayIcon::isSystemTrayAvailable();
}

bool AppStartup::detectRetina(const std::vector<double>& screenScales) {
  double scale = 1.0;
  for (double s : screenScales)
    if (s > scale) scale = s;
  return scale > 1.0;
}

void AppStartup::scheduleAutomaticBackup(bool waitForFirstLoad) {
  // The copy reads the whole store: it waits until the first load has put the list on screen,
  // then runs on a thread of its own, so a start is held up by neither.
  if (!backup_) {
    backup_ = std::make_unique<Backup>();
    // A start stopped while copying leaves a hidden temporary file behind.
    Backup::removeStaleTemporaryFiles();
  }
  automaticBackupRunning_ = true;
  if (!waitForFirstLoad || firstLoadFinished_) startAutomaticBackupSoon();
}

void AppStartup::startAutomaticBackupSoon() {
  auto alive = lifetime_.watch();
  fnd::DispatchQueue::main().after(kAutomaticBackupDelay, [this, alive] {
    if (!alive || !backup_) return;
    // Opening looked at the library's first pages only; the rest is read now, beside the copy.
    WrenDataManager::sharedInstance().checkWholeStoreInBackground();
    backup_->autoBackupInBackground([this, alive](bool ok, const fnd::Error& error) {
      if (!alive) return;
      automaticBackupRunning_ = false;
      if (!ok) automaticBackupFailed(error);
    });
  });
}

void AppStartup::automaticBackupFailed(const fnd::Error& error) {
  std::string reason = error.localizedDescription();
  if (reason.empty()) reason = "the copy failed";
  // A library that does not copy whole is damaged: the same way back as for damage found anywhere.
  if (store::Coordinator::isDamageError(error)) {
    fnd::Error told = error;
    told.mutableUserInfo()[fnd::kLocalizedDescriptionKey] = "the automatic backup could not be made: " + reason;
    WrenDataManager::sharedInstance().noteFailure(told);
    return;
  }
  AlertPresenter::alert("Kesto Backup", "The automatic backup of the library could not be made: " + reason +
                                            ". The library itself was not changed. Kesto makes a backup at each start; "
                                            "File > Back Up Library… makes one now.");
}

void AppStartup::initializeLogging() {
  auto console = ConsoleLogger::sharedInstance();
  LogCenter::addLogger(console);
  console->setColorsEnabled(true);
  console->setForegroundColor(LogColor{0.0, 0.502, 0.251, 1.0}, std::nullopt, fnd::LogFlag::Info);
  // Kesto's cache folder is closed to others at each start, as its other folders are when first
  // used (the logs' folder just below), also when an older version or another program made it.
  fnd::StandardPaths::applicationCachesDirectory();
  auto file = std::make_shared<RollingFileLogger>();
  file->setMaximumFileSize(1048576);
  file->setRollingFrequency(86400);
  file->logFileManager()->setMaximumNumberOfLogFiles(7);
  LogCenter::addLogger(file);
}

void AppStartup::resetAppId(bool force) {
  // The identifier is the library's own (kept in its store); the setting follows it.
  if (force) syncsettings::renewLibraryIdentifier();
  else syncsettings::libraryIdentifier();
}

void AppStartup::setDefaultFindChecks() {
  auto& defaults = fnd::UserDefaults::standard();
  auto write = [&](const char* suffix) {
    const std::pair<const char*, bool> toggles[] = {{"SearchTitle", true},   {"SearchURL", true},
                                                    {"SearchNotes", true},   {"SearchFolders", true},
                                                    {"SearchContent", false}, {"SearchTags", true}};
    for (const auto& [key, value] : toggles) defaults.setBool(value, std::string(key) + suffix);
    defaults.synchronize();
  };
  if (!defaults.hasValueForKey("SearchSet")) write("");
  if (!defaults.hasValueForKey("SearchMenuSet")) write("Menu");
}

// A migration whose records could not be saved is tried again at the next start: neither the
// library nor the settings are marked.
void AppStartup::migrateToModelVersion4() {
  constexpr const char* key = "Version4MigratedV2";
  if (libraryNeedsMigration(key)) {
    auto unset = Bookmark::fetchEntitiesWithPredicate(store::Predicate::parse("blocked == nil"));
    for (const auto& b : unset.value_or(Bookmark::List{})) b->setBlocked(0);
    if (!unset || !WrenEntity::saveContext()) return;
    markLibraryMigrated(key);
  }
  if (!migrationDone(key)) markMigrationDone(key);
}

void AppStartup::migrateToKesto20() {
  constexpr const char* key = "KestoMigratedToVersion2";
  const bool settingsDone = migrationDone(key);
  if (libraryNeedsMigration(key)) {
    auto all = Bookmark::fetchEntities();
    for (const auto& b : all.value_or(Bookmark::List{})) {
      b->setBlocked(0);
      if (b->thumbnailManuallySet() < 1) {
        for (const char* image : {"thumbnail", "favicon", "pinboardImage", "deliciousImage", "brokenImage"})
          b->setValueForKey(image, fnd::Value());
      }
      b->setContent(std::string());
    }
    if (!all || !WrenEntity::saveContext()) return;
    markLibraryMigrated(key);
  }
  if (settingsDone) return;
  auto& defaults = fnd::UserDefaults::standard();
  std::string method;
  if (defaults.objectForKey(syncsettings::kEmailKey).isString()) method = KestoappDataSource::kMethod;
  else if (defaults.boolForKey(SkyFolderDataSource::kUsingSkyfolderKey)) method = SkyFolderDataSource::kMethod;
  defaults.setString(method, "CurrentSyncMethod");
  markMigrationDone(key);
}

void AppStartup::migrateToModelVersion2() {
  constexpr const char* key = "Version2Migrated";
  if (libraryNeedsMigration(key)) {
    auto lost = Bookmark::fetchEntitiesWhereProperty("title", fnd::Value("No Title (cannot find server)"));
    if (!lost) return;
    for (const auto& b : *lost) {
      b->setBroken(1);
      b->updateBrokenImage();
      b->saveBookmark();
    }
    markLibraryMigrated(key);
  }
  if (!migrationDone(key)) markMigrationDone(key);
}

// ---- a library that cannot be opened ----

namespace {

using StoreProblem = WrenDataManager::StoreProblem;

constexpr const char* kStoreFailureTitle = "The library cannot be opened";
constexpr const char* kRestoreButton = "Restore Backup";
constexpr const char* kChooseButton = "Choose Backup…";
constexpr const char* kNewLibraryButton = "Start a New Library";
constexpr const char* kOpenAnotherButton = "Open Another Library…";
constexpr const char* kOpenWithThisButton = "Open with This Version";
constexpr const char* kRestartText =
    "Kesto needs to be restarted and will now close. Please reopen Kesto from your applications menu or your taskbar.";

void quitWithoutLibrary() { ui::Application::shared().terminate(); }

// How a recovery goes on once the library opens: `opened` builds the interface at a start; a
// library found damaged while Kesto runs has its interface already, over the old file, so
// Kesto restarts instead (`opened` is empty).
struct Recovery {
  StoreProblem problem;
  std::function<void()> opened;
};

void offerRecovery(const std::string& failure, const Recovery& recovery);

// Puts `backup` (or, when empty, nothing: a new library) in place of the store and opens it; a
// failure is shown with the choices again. The store is kept beside it under a dated name.
void recoverStore(const std::string& backup, const Recovery& recovery, const std::string& keptText = {});

// A library found damaged while Kesto runs: what Kesto holds only in memory is written where it
// can be brought back, as a quit does, before another library takes its place (which drops it),
// and the notice after says where. When some of it could go in no file, the user decides.
void keepUnsavedThenRecover(const std::string& failure, const std::string& backup, const Recovery& recovery) {
  if (recovery.opened || !UnsavedChanges::any()) return recoverStore(backup, recovery);
  const UnsavedChanges::Kept kept = UnsavedChanges::keep();
  const std::string keptText = "Kesto kept what it held that the damaged library did not take. " + kept.message();
  fnd::logInfo(keptText);
  if (kept.whole()) return recoverStore(backup, recovery, keptText + " ");
  AlertPresenter::ask("Some changes are in no file",
                      keptText + "\n\nPutting another library in place drops them. Keep Kesto running with them, or go on?",
                      {"Keep Kesto Running", "Go On"}, [failure, backup, recovery, keptText](int choice) {
                        if (choice != 1) return;
                        fnd::DispatchQueue::main().async([backup, recovery, keptText] { recoverStore(backup, recovery, keptText + " "); });
                      });
}

void recoverStore(const std::string& backup, const Recovery& recovery, const std::string& keptText) {
  fnd::Error error;
  std::size_t cleaned = 0;
  const bool newer = recovery.problem == StoreProblem::NewerVersion || recovery.problem == StoreProblem::UnknownModel;
  auto kept = Backup::replaceDamagedStore(backup, &cleaned, &error, newer ? Backup::kNewerSuffix : Backup::kDamagedSuffix);
  auto& stack = WrenDataManager::sharedInstance();
  if (!kept) {
    const std::string what = backup.empty() ? std::string("A new library could not be started")
                                            : "“" + fnd::FileManager::lastPathComponent(backup) + "” could not be restored";
    offerRecovery(what + ": " + error.localizedDescription() + ". Nothing was changed.", recovery);
    return;
  }
  if (!stack.managedObjectContext()) {
    offerRecovery("The library still cannot be opened. The previous file was kept as " + *kept + ".",
                  Recovery{stack.lastProblem(), recovery.opened});
    return;
  }
  if (recovery.opened) recovery.opened();
  std::string text = backup.empty() ? std::string("Kesto started a new, empty library. ")
                                    : "The library was restored from “" + fnd::FileManager::lastPathComponent(backup) +
                                          "”. " + Backup::cleanedRowsMessage(cleaned);
  if (newer) {
    text += "The library made by the other version of Kesto was kept unchanged as " + *kept +
            "; that version opens it again once it is named data.sqlite. ";
  } else {
    text += "The damaged library was kept as " + *kept + "; nothing was deleted. ";
    if (!backup.empty()) text += Backup::keptLibraryMessage(*kept, stack.persistentStorePath());
  }
  text += keptText;
  const char* title = backup.empty() ? "New Library" : "Kesto Restore";
  text.pop_back();
  fnd::logInfo(text);  // where a user looks later for what was kept
  if (recovery.opened) {
    AlertPresenter::inform(title, text);
    return;
  }
  AlertPresenter::ask(title, text + " " + kRestartText, {"OK"}, [](int) { quitWithoutLibrary(); });
}

void chooseBackup(const std::string& failure, const Recovery& recovery) {
  ui::OpenPanel panel = TransferDialogs::restorePanel();
  panel.setDirectory(WrenDataManager::sharedInstance().applicationSupportDirectory());
  panel.beginSheetModalForWindow(nullptr, [panel, failure, recovery](int response) {
    auto paths = panel.paths();
    fnd::DispatchQueue::main().async([failure, recovery, path = paths.empty() ? std::string() : paths.front(), response] {
      // No file chosen: the choices again.
      if (response != ui::ModalResponse::OK || path.empty()) {
        offerRecovery(failure, recovery);
        return;
      }
      keepUnsavedThenRecover(failure, path, recovery);
    });
  });
}

// The choices for a library another version of Kesto made: it is never set aside unasked, and
// never called damaged.
void offerForOtherVersion(const std::string& failure, const Recovery& recovery) {
  const std::string store = WrenDataManager::sharedInstance().persistentStorePath();
  std::vector<std::string> buttons{"Quit"};
  std::string text;
  if (recovery.problem == StoreProblem::NewerVersion) {
    text = "The library at " + store +
           " was made by a newer version of Kesto, which keeps records this version does not know. Open it with that "
           "version. Nothing in it was changed.";
  } else {
    text = "The library at " + store +
           " was made by a version of Kesto this one does not know, perhaps a newer one. Its tables are the ones this "
           "version reads: it can open it, and then marks it as its own (a newer version may then have to bring it "
           "up to date again). Nothing in it was changed.";
    buttons.push_back(kOpenWithThisButton);
  }
  text += "\n\nOpening another library (a backup) keeps this one unchanged beside it under a dated name.";
  buttons.push_back(kOpenAnotherButton);
  AlertPresenter::ask(kStoreFailureTitle, text, buttons, [failure, buttons, recovery](int choice) {
    const std::string pick =
        choice >= 0 && static_cast<std::size_t>(choice) < buttons.size() ? buttons[static_cast<std::size_t>(choice)] : "Quit";
    fnd::DispatchQueue::main().async([failure, pick, recovery] {
      auto& stack = WrenDataManager::sharedInstance();
      if (pick == kOpenWithThisButton) {
        stack.acceptUnknownModelOnce();
        if (stack.managedObjectContext()) {
          if (recovery.opened) recovery.opened();
        } else {
          offerRecovery(MainInterface::storeFailureMessage(stack.lastError()), Recovery{stack.lastProblem(), recovery.opened});
        }
      } else if (pick == kOpenAnotherButton) {
        chooseBackup(failure, recovery);
      } else {
        quitWithoutLibrary();
      }
    });
  });
}

void offerRecovery(const std::string& failure, const Recovery& recovery) {
  const std::string store = WrenDataManager::sharedInstance().persistentStorePath();
  struct stat st {};
  // Only a store file that is there can be set aside; a missing folder or one Kesto may not
  // enter is the system's to mend.
  if (recovery.problem == StoreProblem::Unavailable || ::stat(store.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    AlertPresenter::ask(kStoreFailureTitle, failure, {"Quit"}, [](int) { quitWithoutLibrary(); });
    return;
  }
  if (recovery.problem == StoreProblem::NewerVersion || recovery.problem == StoreProblem::UnknownModel) {
    offerForOtherVersion(failure, recovery);
    return;
  }
  const auto newest = Backup::newestUsableAutomaticBackup();
  std::string text = failure + "\n\n";
  std::vector<std::string> buttons;
  if (newest) {
    buttons.push_back(kRestoreButton);
    const auto date = Backup::dateFromBackupName(fnd::FileManager::lastPathComponent(*newest));
    text += "The newest automatic backup that opens is from " +
            (date ? fnd::DateFormatter::fixed("yyyy-MM-dd HH:mm", fnd::TimeZone::local()).stringFromDate(*date)
                  : fnd::FileManager::lastPathComponent(*newest)) +
            ". ";
  } else {
    text += "No automatic backup beside it opens. ";
  }
  text += "Restoring a backup or starting a new library keeps the damaged file beside it under a dated name; nothing "
          "is deleted.";
  buttons.insert(buttons.end(), {kChooseButton, kNewLibraryButton, "Quit"});
  AlertPresenter::ask(kStoreFailureTitle, text, buttons, [failure, buttons, newest, recovery](int choice) {
    const std::string pick =
        choice >= 0 && static_cast<std::size_t>(choice) < buttons.size() ? buttons[static_cast<std::size_t>(choice)] : "Quit";
    // From the main loop, not from inside the alert's answer: what follows opens panels and windows.
    fnd::DispatchQueue::main().async([failure, pick, newest, recovery] {
      if (pick == kRestoreButton) keepUnsavedThenRecover(failure, *newest, recovery);
      else if (pick == kChooseButton) chooseBackup(failure, recovery);
      else if (pick == kNewLibraryButton) keepUnsavedThenRecover(failure, std::string(), recovery);
      else quitWithoutLibrary();
    });
  });
}

}  // namespace

void AppStartup::presentStoreFailure(const std::string& failure, std::function<void()> opened) {
  // Without a way to go on (`opened`), the only answer is to quit.
  const auto problem = opened ? WrenDataManager::sharedInstance().lastProblem() : StoreProblem::Unavailable;
  offerRecovery(failure, Recovery{problem, std::move(opened)});
}

void AppStartup::presentDamageFound(const fnd::Error& error) {
  const std::string failure = "Kesto cannot read its library at " + WrenDataManager::sharedInstance().persistentStorePath() +
                              ": the file is damaged (" + error.localizedDescription() +
                              "). What Kesto shows may be only part of the library, and changes may not be saved.";
  offerRecovery(failure, Recovery{StoreProblem::Damaged, {}});
}

void AppStartup::presentLibraryHeldElsewhere(const std::string& store, long owner, bool handedSomething) {
  const std::string process = owner > 0 ? " (process " + std::to_string(owner) + ")" : "";
  std::string text = "Another Kesto" + process + " has the library at " + store +
                     " open and does not answer this one, so this Kesto does not open it: a library is open in one "
                     "Kesto at a time. That Kesto may run in another account or on another computer using the same "
                     "library folder (a home folder on a network drive), or it may have stopped answering.\n\n"
                     "Quit that Kesto (Ctrl+Q in its window), then start Kesto again. One that does not answer can "
                     "be ended from the system monitor" +
                     (owner > 0 ? " or with “kill " + std::to_string(owner) + "” in a terminal" : std::string()) + ".";
  if (handedSomething) text += " What this launch was given was not added to the library.";
  // No interface is built for this launch: the dialogs' presenter is set up here.
  if (!AlertPresenter::shared()) AlertPresenter::setShared(std::make_shared<DialogAlertPresenter>());
  AlertPresenter::ask("The library is open in another Kesto", text, {"Quit"}, [](int) { quitWithoutLibrary(); });
}

}  // namespace kesto
