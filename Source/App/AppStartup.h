#pragma once

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Lifetime.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kesto {

class Backup;

// Seconds between the first load and the start of the automatic backup, for the list to be drawn.
inline constexpr double kAutomaticBackupDelay = 0.5;

// The steps of a start that are not about windows: the one-time migrations of stored data, the
// defaults a first start writes, logging, and the automatic backup each start makes once the
// first list is shown. Main thread only.
class AppStartup {
 public:
  // Watches for the end of the first load from here on: it may end before launching does.
  AppStartup();
  ~AppStartup();
  AppStartup(const AppStartup&) = delete;
  AppStartup& operator=(const AppStartup&) = delete;

  static void initializeLogging();
  // A new installation id unless one is stored (or `force`).
  static void resetAppId(bool force);
  // The search options' defaults, for the library search and the menu-bar search, once.
  static void setDefaultFindChecks();
  static void migrateToModelVersion2();
  static void migrateToModelVersion4();
  static void migrateToKesto20();
  // Largest backing scale over the screens (1.0 when none answers) above 1.
  static bool detectRetina(const std::vector<double>& screenScales);
  // The stored preference, where the desktop has a tray to start from.
  static bool startsInMenuBarMode();

  // The alert for a library that cannot be opened, with `failure` (why) as its text. Where the
  // store file is there but damaged, it offers to restore the newest automatic backup that
  // opens, to choose another backup file, or to start a new library; each keeps the damaged
  // file beside the store under a dated name, so nothing is deleted, and `opened` runs once the
  // library opens. A library another version of Kesto made is said to be so and left as it is
  // unless the user opens another one (or, when this version can read it, opens it with this
  // version). Otherwise, and on Quit or closing the alert, the application quits.
  static void presentStoreFailure(const std::string& failure, std::function<void()> opened);
  // The same choices for the open library when a read or a save found its file damaged; once
  // another library is in place, Kesto restarts.
  static void presentDamageFound(const fnd::Error& error);

  // Says in a window that another Kesto, which does not answer this one, holds the library at
  // `store` (the lock's process `owner`, 0 when unknown), what the user can do, and quits when
  // it is closed. `handedSomething`: this launch had addresses or a file to hand over.
  static void presentLibraryHeldElsewhere(const std::string& store, long owner, bool handedSomething);

  // The automatic backup: made off the main thread once the first list is shown, or soon when
  // there is no library list to wait for; the check of the whole library for damage starts
  // beside it. A backup that fails is told; one that fails because the library is damaged leads
  // to the choices presentDamageFound offers.
  void scheduleAutomaticBackup(bool waitForFirstLoad);
  bool automaticBackupRunning() const { return automaticBackupRunning_; }

 private:
  void startAutomaticBackupSoon();
  void automaticBackupFailed(const fnd::Error& error);

  bool automaticBackupRunning_ = false;
  bool firstLoadFinished_ = false;
  std::unique_ptr<Backup> backup_;
  fnd::Lifetime lifetime_{fnd::Lifetime::Affinity::MainThread};
};

}  // namespace kesto
