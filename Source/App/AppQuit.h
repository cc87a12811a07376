#pragma once

#include "Platform/Foundation/Lifetime.h"
#include "Platform/UI/Application.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kesto {

class SyncApplicationHost;
struct SaveFailure;

// The end of a run and what can stand in its way: a sync still running, and changes a store
// that cannot be written did not take. Also tells the user once when saving starts failing.
// Main thread only.
class AppQuit {
 public:
  // Hears of every save from here on (saves fail on the thread that saves; the user is told on
  // the main thread).
  AppQuit();
  ~AppQuit();
  AppQuit(const AppQuit&) = delete;
  AppQuit& operator=(const AppQuit&) = delete;

  // What the sync engine asks of the application; `openWizard` opens the set-up wizard.
  std::shared_ptr<SyncApplicationHost> syncHost(std::function<void()> openWizard);
  // Waits for a running sync, then offers to export what the store would not take.
  ui::TerminateReply applicationShouldTerminate(std::function<void()> openWizard);
  // Saves the library and the settings, once.
  void applicationWillTerminate();
  // Saves the library and the settings (the session manager's save request).
  void save();
  bool hasTerminated() const { return terminated_; }
  // A new run can quit only once asked to again.
  void reset() { canQuit_ = mustQuit_ = false; }

  void reportReadOnlyStore();
  void storeSaveFailed(const SaveFailure& failure);

 private:
  // Asks what to do with changes the store would not take (UnsavedChanges writes them); true
  // when the question decides the quit (its answer replies to the application).
  bool offerToExportUnsavedChanges();

  bool canQuit_ = false, mustQuit_ = false;
  bool terminated_ = false;
  bool toldOfSaveFailure_ = false;
  std::string saveFailureCause_;
  std::shared_ptr<SyncApplicationHost> syncHost_;
  fnd::Lifetime lifetime_{fnd::Lifetime::Affinity::MainThread};
};

}  // namespace kesto
