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
#include "Model/WrenEntity.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Store/Context.h"
#include "Platform/Store/Coordinator.h"

#include <algorithm>
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
  // The marks of this library's latest uploads: a file with its identifier is its own only with one.
  std::vector<std::string> ownUploads;
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
  if (method == SkyFolderDataSource::kMethod) complete = defaults.boolForKey(SkyFolderDataSource::kUsingSkyfolderKey);
  if (method == KestoappDataSource::kMethod)
    complete = !stringDefault(syncsettings::kEmailKey).empty() && !syncsettings::accountPassword().empty();
  if (method == ICloudDataSource::kMethod && host_) host_->setAppCanQuit(false);
  label_ = source->label;
  if (!prepareCommonSyncSettings(complete)) {
    endExclusiveJob();
    return;
  }
  run_ = std::make_shared<Run>();
  run_->kestoID = syncsettings::libraryIdentifier();
  run_->ownUploads = syncsettings::ownUploads();
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

void Synchronizer::retrievedXML(const std::string& xml) { retrievedXML(std::string(xml)); }

void Synchronizer::retrievedXML(std::string&& xml) {
  if (!run_ || run_->phase != Phase::Loading) {
    fnd::logInfo("Sync: a document arrived outside a run's loading step and was ignored");
    return;
  }
  run_->phase = Phase::Merging;
  mergeAndWrite(run_, std::move(xml));
}

const std::string& Synchronizer::lastOutgoingXML() const {
  static const std::string none;
  return lastOutgoing_ ? *lastOutgoing_ : none;
}

// What the merge queue hands back to the main thread.
struct Synchronizer::Merged {
  bool merged = false;
  // Set when another library wrote the file under this library's identifier: the identifier
  // this library takes from now on.
  std::string newKestoID;
  store::SaveNotification saved;  // IDs only
  std::vector<SyncTombstone> deletions, remoteDeletions;
  std::shared_ptr<const std::string> outgoing;
};

namespace {

// The merge's context: a private queue over a store connection of its own, so that neither its
// fetches nor its save wait for the main thread, nor the main thread for them. Over the main
// connection when the store has no file to open again.
std::shared_ptr<store::Context> makeMergeContext() {
  auto coordinator = WrenDataManager::sharedInstance().persistentStoreCoordinator();
  if (!coordinator) return nullptr;
  fnd::Error error;
  auto own = coordinator->openSecondConnection(&error);
  if (!own) fnd::logInfo("Sync: merging over the main store connection: " + error.localizedDescription());
  auto context = store::Context::make(store::ConcurrencyType::PrivateQueue);
  context->setCoordinator(own ? own : coordinator);
  // Edits saved from the main context while the merge runs keep what the merge does not change.
  context->setMergePolicy(store::MergePolicy::PropertyObjectTrump);
  context->setName("Sync");
  return context;
}

}  // namespace

void Synchronizer::mergeAndWrite(const std::shared_ptr<Run>& run, std::string xml) {
  if (xml.empty()) return endRun(false, "The synced copy could not be read");
  // The merge starts from the library as the user left it.
  if (auto main = WrenDataManager::sharedInstance().managedObjectContext()) {
    fnd::Error error;
    if (!main->save(&error)) {
      fnd::logFormat(fnd::LogFlag::Error, "%s [Line %d] Sync: Error saving main context:%s", __func__, __LINE__,
                     error.description().c_str());
      return endRun(false, "The library could not be stored before the sync: " + WrenEntity::causeOfSaveFailure(error));
    }
  }
  auto context = makeMergeContext();
  if (!context) return endRun(false, "The library is not available");
  auto localTombstones = SyncTombstones::tombstones();
  auto text = std::make_shared<std::string>(std::move(xml));
  auto alive = lifetime_.watch();
  // Only the queue holds the context from here, so its objects are freed there too.
  store::Context* queue = context.get();
  queue->perform([this, alive, run, context = std::move(context), text, localTombstones]() mutable {
    // From this queue a failure ends the run on the main thread, if it is still the current one.
    auto toMain = [this, alive, run](std::function<void()> step) {
      fnd::DispatchQueue::main().async([this, alive, run, step = std::move(step)] {
        if (alive && run == run_) step();
      });
    };
    auto fail = [this, toMain](std::string why) { toMain([this, why] { endRun(false, why); }); };
    // The file is read on another thread while this context loads the library it merges into.
    fnd::Error error;
    std::optional<SyncDocument> doc;
    fnd::DispatchGroup reading;
    reading.async(fnd::DispatchQueue::global(), [&doc, &error, text] { doc = SyncFile::read(*text, true, &error); });
    SyncMerge::preload(context);
    reading.wait();
    text.reset();
    if (!doc || doc->rootName != kSyncFileRoot) {
      // An unreadable download is never an empty remote: it is kept aside before anything is sent.
      std::string why = doc ? "it is not a sync file" : error.localizedDescription();
      return toMain([this, why] { remoteUnreadable(why); });
    }
    auto result = std::make_shared<Merged>();
    const std::string remoteID = doc->kestoID.value_or("");
    const bool ownFile = isOwnFile(*doc, run->kestoID, run->ownUploads);
    result->merged = !ownFile;
    if (!ownFile && !remoteID.empty() && remoteID == run->kestoID) {
      // Another library carries this one's identifier (a copy of its folder): its file is merged
      // as any other's, and this library takes an identifier of its own, so that each takes the
      // other's uploads in from now on.
      result->newKestoID = syncsettings::makeLibraryIdentifier();
      fnd::logInfo("Sync: the synced copy carries this library's identifier but another library wrote it; it is "
                   "merged and this library takes the new identifier " + result->newKestoID);
    }
    if (result->merged) {
      fnd::DispatchQueue::main().async(
          [] { ViewUpdater::showMessage("Synching...", kMessageWidth, kMessageHeight, kMessageSeconds); });
      SyncMerge::Options options;
      options.isSync = true;
      options.localTombstones = localTombstones;
      const int token = context->addSaveObserver([&result](const store::SaveNotification& n) {
        result->saved.insertedIDs = n.insertedIDs;
        result->saved.updatedIDs = n.updatedIDs;
        result->saved.deletedIDs = n.deletedIDs;
      });
      auto merge = SyncMerge::processImport(*doc, context, options);
      context->removeSaveObserver(token);
      if (!merge.saved) return fail("The synced changes could not be stored: " + WrenEntity::causeOfSaveFailure(merge.saveError));
      // Tombstones this library learns: the peer's, and one for each folder a folder tombstone
      // took away here (it may have been moved below the deleted folder here only).
      result->remoteDeletions = SyncTombstones::unite(doc->deletions, merge.folderTombstones);
    }
    doc.reset();
    // The outgoing tombstones: ours plus every one learnt, so none is lost on the way.
    result->deletions = SyncTombstones::unite(localTombstones, result->remoteDeletions);
    // The library as this context holds it now is what the store holds: it is written from here,
    // without reading every row again.
    const std::string uploadID = WrenEntity::uniqueID();
    result->outgoing = std::make_shared<const std::string>(SyncFile::writeSyncFile(
        context, result->newKestoID.empty() ? run->kestoID : result->newKestoID, result->deletions, uploadID));
    // Known as this library's own before it leaves (a file whose upload is never confirmed may
    // still have landed), and kept here, off the main thread: it waits for the disk.
    syncsettings::noteOwnUpload(uploadID, result->newKestoID);
    toMain([this, run, result] { storeAndHandOver(run, result); });
  });
}

bool Synchronizer::isOwnFile(const SyncDocument& document, const std::string& kestoID,
                              const std::vector<std::string>& ownUploads) {
  if (kestoID.empty() || document.kestoID != kestoID) return false;
  if (!document.uploadID) return false;
  return std::find(ownUploads.begin(), ownUploads.end(), *document.uploadID) != ownUploads.end();
}

void Synchronizer::storeAndHandOver(const std::shared_ptr<Run>& run, std::shared_ptr<Merged> merged) {
  auto main = WrenDataManager::sharedInstance().managedObjectContext();
  if (main) {
    // Edits made while the merge ran. The merge is stored already; the run stops all the same,
    // so that the user hears of it.
    fnd::Error error;
    if (!main->save(&error)) {
      fnd::logFormat(fnd::LogFlag::Error, "%s [Line %d] Sync: Error saving main context:%s", __func__, __LINE__,
                     error.description().c_str());
      return endRun(false, "Your latest changes could not be stored: " + WrenEntity::causeOfSaveFailure(error));
    }
  }
  // Tombstones a peer sent live on here, so this library passes them on too.
  SyncTombstones::add(merged->remoteDeletions);
  // The store holds the new identifier already; the setting follows it.
  if (!merged->newKestoID.empty()) run->kestoID = syncsettings::libraryIdentifier();
  const auto& saved = merged->saved;
  // A merge that changed nothing (the steady state of two libraries in step) leaves the lists
  // as they are: reloading 50,000 bookmarks would only show the same.
  const bool changed = !saved.insertedIDs.empty() || !saved.updatedIDs.empty() || !saved.deletedIDs.empty();
  auto alive = lifetime_.watch();
  auto proceed = [this, alive, run, merged, changed] {
    if (!alive || run != run_) return;
    if (changed) {
      if (dataManager_) dataManager_->fetchAllBookmarksFromCoreData();
      ViewUpdater::updateFoldersCompletely();
    }
    handOver(run, merged->outgoing, std::move(merged->deletions));
  };
  if (!main) return proceed();
  // Open objects learn of the merged rows a slice at a time.
  main->mergeChangesFromSaveInSlices(saved, std::move(proceed));
}

void Synchronizer::handOver(const std::shared_ptr<Run>& run, std::shared_ptr<const std::string> xml,
                            std::vector<SyncTombstone> deletions) {
  run->phase = Phase::Sending;
  run->sentDeletions = std::move(deletions);
  lastOutgoing_ = xml;
  armTimeout(sendTimeout_, "The sync file could not be uploaded in time");
  datasource_->sendShared(std::move(xml));
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

void Synchronizer::failLocally(const std::string& message) {
  if (!run_) return;
  endRun(false, message);
}

void Synchronizer::openRegistration() {
  if (!run_) return;
  endRun(false, {});
  // The assistant first, so that the alert saying why it opened comes above it.
  runWizard();
  AlertPresenter::alert("Incorrect Login", "Your username and password are either incorrect or not set", "OK");
}

void Synchronizer::remoteUnreadable(const std::string& why) {
  if (!run_ || !datasource_ || (run_->phase != Phase::Loading && run_->phase != Phase::Merging)) return;
  // No load time-out while the source keeps the file aside.
  run_->phase = Phase::Merging;
  fnd::logError("Sync: the synced copy could not be read: " + why);
  auto run = run_;
  datasource_->setAsideUnreadable(lifetime_.whileAlive([this, run, why](bool kept, const std::string& where) {
    if (run != run_) return;
    if (!kept) return endRun(false, "The synced copy could not be read: " + why);
    fnd::logInfo("Sync: the unreadable synced copy was kept as " + where);
    AlertPresenter::alert("Sync file kept aside",
                          "The synced copy of your library could not be read (" + why + "). It was kept as \"" +
                              where + "\", and this library is uploaded in its place.",
                          "OK");
    mergeAndWrite(run, kEmptyLibraryMarker);
  }));
}

void Synchronizer::needsSetUp() {
  if (!run_) return;
  endRun(false, {});
  runWizard();
}

void Synchronizer::resetAccount() {
  auto& defaults = fnd::UserDefaults::standard();
  defaults.removeObject(syncsettings::kEmailKey);
  defaults.synchronize();
  syncsettings::removeAccountPassword();
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
  fnd::DispatchQueue::main().after(kQuitWaitSeconds, lifetime_.whileAlive([this] {
    if (!quitPending_) return;
    quitPending_ = false;
    if (host_) {
      host_->setAppCanQuit(true);
      host_->terminate();
    }
  }));
  return false;
}

}  // namespace kesto
