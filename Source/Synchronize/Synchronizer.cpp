#include "Synchronize/Synchronizer.h"

#include "Support/AlertPresenter.h"
#include "Synchronize/ICloudDataSource.h"
#include "Synchronize/KestoappDataSource.h"
#include "Synchronize/SkyFolderDataSource.h"
#include "Synchronize/SyncMerge.h"
#include "Synchronize/SyncSettings.h"
#include "Synchronize/SyncTombstones.h"

#include "Model/DataManager.h"
#include "Model/ViewUpdater.h"
#include "Model/WrenDataManager.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Store/Context.h"

#include <atomic>

namespace kesto {

namespace {

using syncsettings::stringDefault;

std::atomic<bool>& jobFlag() {
  static std::atomic<bool> flag{false};
  return flag;
}

// Wide enough for the longest transport label ("[Synced folder]") in the overlay's type.
constexpr double kMessageWidth = 440, kMessageHeight = 100;
constexpr int kMessageSeconds = 2;

}  // namespace

enum class Phase { Loading, Merging, Sending, Ended };

struct Synchronizer::Run {
  std::string kestoID;
  Phase phase = Phase::Loading;
  std::vector<SyncTombstone> sentDeletions;
};

Synchronizer::Synchronizer() {
  registerSource(ICloudDataSource::kMethod, ICloudDataSource::kLabel,
                 [] { return std::make_unique<ICloudDataSource>(); });
  registerSource(KestoappDataSource::kMethod, KestoappDataSource::kLabel,
                 [] { return std::make_unique<KestoappDataSource>(); });
  registerSource(SkyFolderDataSource::kMethod, SkyFolderDataSource::kLabel,
                 [] { return std::make_unique<SkyFolderDataSource>(); });
}

Synchronizer::~Synchronizer() {
  fnd::NotificationCenter::defaultCenter().removeObserver(this);
  if (run_) endExclusiveJob();
}

Synchronizer& Synchronizer::shared() {
  static Synchronizer* engine = new Synchronizer();
  return *engine;
}

void Synchronizer::sleep() { fnd::NotificationCenter::defaultCenter().removeObserver(this); }

void Synchronizer::awakeFromNib() {
  isBusy_ = false;
  auto& center = fnd::NotificationCenter::defaultCenter();
  center.removeObserver(this);
  center.addObserver(this, [this](const fnd::Notification&) { syncFromNotification(); }, kStartSyncNotification);
  center.addObserver(this, [this](const fnd::Notification&) { syncFromNotification(); },
                     kStartSynchingWithSkyfolderNotification);
}

void Synchronizer::registerSource(const std::string& method, const std::string& label, SourceFactory factory) {
  for (auto& s : sources_)
    if (s.method == method) {
      s.label = label;
      s.factory = std::move(factory);
      return;
    }
  sources_.push_back({method, label, std::move(factory)});
}

void Synchronizer::setTimeouts(double loadSeconds, double sendSeconds) {
  loadTimeout_ = loadSeconds;
  sendTimeout_ = sendSeconds;
}

bool Synchronizer::beginExclusiveJob() {
  bool expected = false;
  return jobFlag().compare_exchange_strong(expected, true);
}
void Synchronizer::endExclusiveJob() { jobFlag().store(false); }
bool Synchronizer::isExclusiveJobRunning() { return jobFlag().load(); }

bool Synchronizer::isRunning() const { return run_ != nullptr; }

void Synchronizer::syncFromNotification() {
  if (isBusy_) return;
  sync();
}

void Synchronizer::syncFromButton() {
  wasSyncManuallyStarted_ = true;
  sync();
}

void Synchronizer::runWizard() {
  if (host_) host_->openWizard();
}

void Synchronizer::sync() {
  const auto method = stringDefault(kCurrentSyncMethodKey);
  if (method.empty()) {
    wasSyncManuallyStarted_ = false;
    runWizard();
    return;
  }
  for (const auto& s : sources_)
    if (s.method == method) return startWith(method);
  // A method this program does not know: the button leads to the wizard, where a known one is
  // chosen, rather than doing nothing at all.
  const bool manual = wasSyncManuallyStarted_;
  wasSyncManuallyStarted_ = false;
  if (host_) host_->setAppCanQuit(true);
  if (manual) runWizard();
}

void Synchronizer::setSyncButton(std::function<void(bool syncing)> showSyncing) {
  showSyncing_ = std::move(showSyncing);
  if (showSyncing_) showSyncing_(run_ != nullptr);
}

void Synchronizer::showUISyncStarted() {
  ViewUpdater::startActivity();
  if (showSyncing_) showSyncing_(true);
}

void Synchronizer::showUISyncEnded() {
  ViewUpdater::stopActivity();
  if (showSyncing_) showSyncing_(false);
}

bool Synchronizer::prepareCommonSyncSettings(bool settingsComplete) {
  showUISyncStarted();
  if (settingsComplete) {
    wasSyncManuallyStarted_ = false;
    return true;
  }
  showUISyncEnded();
  if (host_) host_->setAppCanQuit(true);
  if (wasSyncManuallyStarted_) runWizard();
  wasSyncManuallyStarted_ = false;
  return false;
}

void Synchronizer::startWith(const std::string& method) {
  const Source* source = nullptr;
  for (const auto& s : sources_)
    if (s.method == method) source = &s;
  if (!source || !source->factory) return;
  if (method == ICloudDataSource::kMethod && isBusy_) return;
  if (run_ || !beginExclusiveJob()) {
    // Another sync, share or archive import is running: refuse rather than share its state.
    fnd::logInfo("Sync not started: another sync or import is running");
    ViewUpdater::showMessage("Sync already running", kMessageWidth, kMessageHeight, kMessageSeconds);
    wasSyncManuallyStarted_ = false;
    return;
  }
  bool complete = true;
  auto& defaults = fnd::UserDefaults::standard();
  if (method == "skyfolder") complete = defaults.boolForKey("syncUsingSkyfolder");
  if (method == "kestoapp") complete = !stringDefault("SyncEmail").empty() && !stringDefault("SyncPassword").empty();
  if (method == ICloudDataSource::kMethod && host_) host_->setAppCanQuit(false);
  label_ = source->label;
  if (!prepareCommonSyncSettings(complete)) {
    endExclusiveJob();
    return;
  }
  run_ = std::make_shared<Run>();
  run_->kestoID = stringDefault(kKestoIDKey);
  ViewUpdater::showMessage("Sync started " + label_, kMessageWidth, kMessageHeight, kMessageSeconds);
  datasource_.reset();
  datasource_ = source->factory();
  if (!datasource_) return endRun(false, "This sync method is not available");
  datasource_->setDelegate(this);
  armTimeout(loadTimeout_, "The synced copy did not arrive in time");
  datasource_->load();
}

void Synchronizer::armTimeout(double seconds, const char* what) {
  if (!run_ || seconds <= 0) return;
  std::weak_ptr<Run> weakRun = run_;
  auto alive = lifetime_.watch();
  const Phase phase = run_->phase;
  std::string message = what;
  fnd::DispatchQueue::main().after(seconds, [this, weakRun, alive, phase, message] {
    if (!alive) return;
    auto run = weakRun.lock();
    if (!run || run != run_ || run->phase != phase) return;
    endRun(false, message);
  });
}

void Synchronizer::retrievedXML(const std::string& xml) {
  if (!run_ || run_->phase != Phase::Loading) {
    fnd::logInfo("Sync: a document arrived outside a run's loading step and was ignored");
    return;
  }
  run_->phase = Phase::Merging;
  mergeAndWrite(run_, xml);
}

void Synchronizer::mergeAndWrite(const std::shared_ptr<Run>& run, const std::string& xml) {
  if (xml.empty()) return endRun(false, "The synced copy could not be read");
  auto context = WrenDataManager::sharedInstance().secondaryObjectContext();
  if (!context) return endRun(false, "The library is not available");
  auto localTombstones = SyncTombstones::tombstones();
  auto alive = lifetime_.watch();
  context->perform([this, alive, run, context, xml, localTombstones] {
    // From this queue a failure ends the run on the main thread, if it is still the current one.
    auto fail = [this, alive, run](std::string why) {
      fnd::DispatchQueue::main().async([this, alive, run, why = std::move(why)] {
        if (alive && run == run_) endRun(false, why);
      });
    };
    fnd::Error error;
    auto doc = SyncFile::read(xml, true, &error);
    if (!doc || doc->rootName != kSyncFileRoot) {
      // An unreadable download is never an empty remote: it is kept aside before anything is sent.
      std::string why = doc ? "it is not a sync file" : error.localizedDescription();
      fnd::DispatchQueue::main().async([this, alive, run, why = std::move(why)] {
        if (alive && run == run_) remoteUnreadable(why);
      });
      return;
    }
    const std::string remoteID = doc->kestoID.value_or("");
    const bool merged = remoteID != run->kestoID || remoteID.empty();
    // Tombstones this library learns: the peer's, and one for each folder a folder tombstone
    // took away here (it may have been moved below the deleted folder here only).
    std::vector<SyncTombstone> remote;
    if (merged) {
      fnd::DispatchQueue::main().async(
          [] { ViewUpdater::showMessage("Synching...", kMessageWidth, kMessageHeight, kMessageSeconds); });
      SyncMerge::Options options;
      options.isSync = true;
      options.localTombstones = localTombstones;
      auto result = SyncMerge::processImport(*doc, context, options);
      if (!result.saved) return fail("The synced changes could not be stored");
      remote = SyncTombstones::unite(doc->deletions, result.folderTombstones);
    }
    // The outgoing tombstones: ours plus every one learnt, so none is lost on the way.
    std::vector<SyncTombstone> deletions = SyncTombstones::unite(localTombstones, remote);
    fnd::DispatchQueue::main().async([this, alive, run, deletions, remote, merged]() mutable {
      if (!alive || run != run_) return;
      storeAndWrite(run, std::move(deletions), std::move(remote), merged);
    });
  });
}

void Synchronizer::storeAndWrite(const std::shared_ptr<Run>& run, std::vector<SyncTombstone> deletions,
                                 std::vector<SyncTombstone> remoteDeletions, bool merged) {
  // A merge that changed nothing (the steady state of two libraries in step) leaves the lists
  // as they are: reloading 50,000 bookmarks on the main thread would only show the same.
  bool changed = merged;
  auto& stack = WrenDataManager::sharedInstance();
  if (auto main = stack.managedObjectContext()) {
    changed = merged && main->hasChanges();
    fnd::Error error;
    if (!main->save(&error)) {
      fnd::logFormat(fnd::LogFlag::Error, "%s [Line %d] Sync: Error saving main context:%s", __func__, __LINE__,
                     error.description().c_str());
      // What the library could not store must not go out: the next run would take the uploaded
      // file for its own and skip the peer's changes for good.
      return endRun(false, "The synced changes could not be stored: " + error.localizedDescription());
    }
  }
  // Tombstones a peer sent live on here, so this library passes them on too.
  SyncTombstones::add(remoteDeletions);
  if (changed) {
    if (dataManager_) dataManager_->fetchAllBookmarksFromCoreData();
    ViewUpdater::updateFoldersCompletely();
  }
  // The library is stored now: the outgoing file is read straight from the store on a queue of
  // its own. A child of the main context would fetch every row through the main thread.
  std::shared_ptr<store::Context> reader;
  if (auto coordinator = stack.persistentStoreCoordinator()) {
    reader = store::Context::make(store::ConcurrencyType::PrivateQueue);
    reader->setCoordinator(coordinator);
  } else {
    reader = stack.secondaryObjectContext();
  }
  if (!reader) return endRun(false, "The library is not available");
  auto alive = lifetime_.watch();
  reader->perform([this, alive, run, reader, deletions = std::move(deletions)]() mutable {
    auto outgoing = SyncFile::writeSyncFile(reader, run->kestoID, deletions);
    fnd::DispatchQueue::main().async(
        [this, alive, run, outgoing = std::move(outgoing), deletions = std::move(deletions)]() mutable {
          if (!alive || run != run_) return;
          handOver(run, std::move(outgoing), std::move(deletions));
        });
  });
}

void Synchronizer::handOver(const std::shared_ptr<Run>& run, std::string xml, std::vector<SyncTombstone> deletions) {
  run->phase = Phase::Sending;
  run->sentDeletions = std::move(deletions);
  lastOutgoing_ = xml;
  armTimeout(sendTimeout_, "The sync file could not be uploaded in time");
  datasource_->send(xml);
}

void Synchronizer::sentSyncData(bool success, const std::string& message) {
  if (!run_ || run_->phase != Phase::Sending) return;
  if (!success) return endRun(false, message.empty() ? "The sync file could not be uploaded" : message);
  SyncTombstones::confirmUploaded(run_->sentDeletions);
  endRun(true, {});
}

void Synchronizer::abortSyncWithError(const std::string& message) {
  if (!run_) return;
  AlertPresenter::alert("Connection error", message.empty() ? "Could not connect to the server" : message, "OK");
  endRun(false, {});
}

void Synchronizer::openRegistration() {
  if (!run_) return;
  AlertPresenter::alert("Incorrect Login", "Your username and password are either incorrect or not set", "OK");
  endRun(false, {});
  runWizard();
}

void Synchronizer::remoteUnreadable(const std::string& why) {
  if (!run_ || !datasource_ || (run_->phase != Phase::Loading && run_->phase != Phase::Merging)) return;
  // No load time-out while the source keeps the file aside.
  run_->phase = Phase::Merging;
  fnd::logError("Sync: the synced copy could not be read: " + why);
  auto run = run_;
  auto alive = lifetime_.watch();
  datasource_->setAsideUnreadable([this, alive, run, why](bool kept, const std::string& where) {
    if (!alive || run != run_) return;
    if (!kept) return endRun(false, "The synced copy could not be read: " + why);
    fnd::logInfo("Sync: the unreadable synced copy was kept as " + where);
    AlertPresenter::alert("Sync file kept aside",
                          "The synced copy of your library could not be read (" + why + "). It was kept as \"" +
                              where + "\", and this library is uploaded in its place.",
                          "OK");
    mergeAndWrite(run, kEmptyLibraryMarker);
  });
}

void Synchronizer::needsSetUp() {
  if (!run_) return;
  endRun(false, {});
  runWizard();
}

void Synchronizer::resetAccount() {
  auto& defaults = fnd::UserDefaults::standard();
  defaults.removeObject("SyncEmail");
  defaults.removeObject("SyncPassword");
}

void Synchronizer::endRun(bool success, const std::string& message) {
  if (!run_) return;
  run_->phase = Phase::Ended;
  run_.reset();
  endExclusiveJob();
  // A transport that failed mid-transfer may not have cleared its busy flag; a later start
  // must not be ignored because of it.
  isBusy_ = false;
  if (success) {
    fnd::logInfo("Sync Complete " + label_);
    ViewUpdater::showMessage("Sync Complete " + label_, kMessageWidth, kMessageHeight, kMessageSeconds);
  } else {
    fnd::logInfo("Sync Failed " + label_ + (message.empty() ? "" : ": " + message));
    ViewUpdater::showMessage("Sync Failed " + label_, kMessageWidth, kMessageHeight, kMessageSeconds);
    if (!message.empty()) AlertPresenter::alert("Sync failed", message, "OK");
  }
  showUISyncEnded();
  fnd::Dictionary info;
  info["success"] = fnd::Value(success);
  info["message"] = fnd::Value(message);
  fnd::NotificationCenter::defaultCenter().postNotificationName(kSyncEndedNotification, this, std::move(info));
  // The run no longer holds up a quit, whether or not one is waiting.
  if (host_) host_->setAppCanQuit(true);
  if (quitPending_ || (host_ && host_->appMustQuit())) {
    quitPending_ = false;
    if (host_) host_->terminate();
  }
}

bool Synchronizer::requestQuit() {
  if (!run_) return true;
  quitPending_ = true;
  auto alive = lifetime_.watch();
  fnd::DispatchQueue::main().after(kQuitWaitSeconds, [this, alive] {
    if (!alive || !quitPending_) return;
    quitPending_ = false;
    if (host_) {
      host_->setAppCanQuit(true);
      host_->terminate();
    }
  });
  return false;
}

}  // namespace kesto
