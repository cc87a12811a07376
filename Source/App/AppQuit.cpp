#include "App/AppQuit.h"

#include "App/UnsavedChanges.h"
#include "Model/WrenDataManager.h"
#include "Model/WrenEntity.h"
#include "Platform/Foundation/Assert.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/RunLoop.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Store/Context.h"
#include "Platform/Store/Coordinator.h"
#include "Support/AlertPresenter.h"
#include "Support/LogCenter.h"
#include "Synchronize/Synchronizer.h"

#include <algorithm>
#include <optional>

namespace kesto {

namespace {

// What the sync engine asks of the application: the set-up wizard, and quitting once a sync
// that held up a quit has ended.
class AppSyncHost : public SyncApplicationHost {
 public:
  void setAppCanQuit(bool canQuit) override { canQuit_ = canQuit; }
  bool appMustQuit() const override { return mustQuit; }
  void terminate() override { ui::Application::shared().replyToApplicationShouldTerminate(true); }
  void openWizard() override {
    if (wizard) wizard();
  }
  bool mustQuit = false;
  std::function<void()> wizard;

 private:
  bool canQuit_ = true;
};

constexpr const char* kSaveFailedTitle = "Kesto cannot save your library";
constexpr const char* kKeptInMemory =
    "What you add or change stays in Kesto while it runs, and saving is tried again with each change. "
    "When you quit, Kesto offers to export what could not be saved.";

bool storeIsReadOnly() {
  auto& data = WrenDataManager::sharedInstance();
  if (data.lastError()) return false;  // a store that did not open is reported where it failed
  auto coordinator = data.persistentStoreCoordinator();
  return coordinator && coordinator->isReadOnly();
}

void tellReadOnly(const std::string& storePath) {
  AlertPresenter::alert(
      "Kesto opened your library read-only",
      "The library at " + storePath + " cannot be written to, so nothing can be saved there.\n\n" + kKeptInMemory);
}

}  // namespace

AppQuit::AppQuit() {
  KESTO_ASSERT_MAIN_THREAD();
  auto alive = lifetime_.watch();
  WrenEntity::setSaveOutcomeHandler([this, alive](const std::optional<SaveFailure>& failure) {
    auto deliver = [this, alive, failure] {
      if (!alive) return;
      if (failure) storeSaveFailed(*failure);
      else toldOfSaveFailure_ = false;  // the store took everything: a new failure is news again
    };
    if (fnd::RunLoop::isMainThread()) deliver();
    else fnd::DispatchQueue::main().async(deliver);
  });
}

AppQuit::~AppQuit() {
  lifetime_.end();
  WrenEntity::setSaveOutcomeHandler(nullptr);
}

std::shared_ptr<SyncApplicationHost> AppQuit::syncHost(std::function<void()> openWizard) {
  if (!syncHost_) syncHost_ = std::make_shared<AppSyncHost>();
  static_cast<AppSyncHost&>(*syncHost_).wizard = std::move(openWizard);
  return syncHost_;
}

ui::TerminateReply AppQuit::applicationShouldTerminate(std::function<void()> openWizard) {
  KESTO_ASSERT_MAIN_THREAD();
  mustQuit_ = true;
  canQuit_ = true;
  // A running sync finishes (or times out) before the process goes, so no merge is cut short.
  auto& sync = Synchronizer::shared();
  if (sync.isRunning()) {
    auto host = std::static_pointer_cast<AppSyncHost>(syncHost(std::move(openWizard)));
    host->mustQuit = true;
    sync.setHost(host);
    if (!sync.requestQuit()) return ui::TerminateReply::Later;
  }
  if (offerToExportUnsavedChanges()) return ui::TerminateReply::Later;
  return mustQuit_ && canQuit_ ? ui::TerminateReply::Now : ui::TerminateReply::Cancel;
}

void AppQuit::applicationWillTerminate() {
  KESTO_ASSERT_MAIN_THREAD();
  if (terminated_) return;
  terminated_ = true;
  save();
}

void AppQuit::save() {
  KESTO_ASSERT_MAIN_THREAD();
  WrenEntity::saveContext();
  fnd::UserDefaults::standard().synchronize();
  LogCenter::flush();
}

void AppQuit::reportReadOnlyStore() {
  if (toldOfSaveFailure_ || !storeIsReadOnly()) return;  // a save made while loading may have said it
  toldOfSaveFailure_ = true;
  saveFailureCause_ = "The library file is read-only";
  tellReadOnly(WrenDataManager::sharedInstance().persistentStorePath());
}

void AppQuit::storeSaveFailed(const SaveFailure& failure) {
  saveFailureCause_ = failure.cause;
  if (toldOfSaveFailure_) return;
  toldOfSaveFailure_ = true;
  // A store that opened read-only is said as such, whichever comes first: this or the start.
  if (storeIsReadOnly()) return tellReadOnly(failure.storePath);
  AlertPresenter::alert(kSaveFailedTitle, failure.cause + ": the library at " + failure.storePath +
                                              " could not be saved.\n\n" + kKeptInMemory);
}

bool AppQuit::offerToExportUnsavedChanges() {
  // Saved now if the store takes it, so only what it refuses is asked about.
  if (WrenEntity::saveContext() || !UnsavedChanges::any()) return false;
  const std::vector<std::string> folders = UnsavedChanges::exportFolders();
  const std::string cause =
      saveFailureCause_.empty() ? std::string("The library could not be written") : saveFailureCause_;
  // A log-out waits for no question: the answer that keeps the most is taken, and the log tells
  // where the file went.
  if (ui::Application::shared().isEndingSession()) {
    const UnsavedChanges::Kept kept = UnsavedChanges::keep();
    if (kept.whole()) fnd::logWarning(cause + " as the session ended. " + kept.message());
    else fnd::logError(cause + " as the session ended. " + kept.message());
    return false;
  }
  auto alive = lifetime_.watch();
  AlertPresenter::ask(
      "Some changes could not be saved",
      cause + ". Not in the library at " + WrenDataManager::sharedInstance().persistentStorePath() + ": " +
          UnsavedChanges::summary() + ". Before it quits, Kesto can write them to a backup of the library in “" +
          folders.front() + "”, to restore once the library can be written again.",
      {"Export and Quit", "Quit Without Exporting", "Cancel"}, [alive](int answer) {
        if (!alive) return;
        auto reply = [](bool quit) { ui::Application::shared().replyToApplicationShouldTerminate(quit); };
        if (answer != 0) return reply(answer == 1);
        const UnsavedChanges::Kept kept = UnsavedChanges::keep();
        // Nothing is dropped without the user's word: when some changes are in no file, the
        // quit waits for it.
        if (!kept.written()) {
          AlertPresenter::alert("Export failed", kept.message() + " Kesto keeps running with every change.");
          return reply(false);
        }
        if (kept.whole())
          return AlertPresenter::ask("Unsaved changes kept", kept.message(), {"Quit"}, [reply](int) { reply(true); });
        AlertPresenter::ask("Some changes are in no file",
                            kept.message() + "\n\nKeep Kesto running with every change, or quit without them?",
                            {"Keep Kesto Running", "Quit Anyway"}, [reply](int choice) { reply(choice == 1); });
      });
  return true;
}

}  // namespace kesto
