#pragma once

#include "Synchronize/SyncNotifications.h"
#include "Synchronize/SyncDataSource.h"
#include "Synchronize/SyncFile.h"
#include "Synchronize/SyncSettings.h"
#include "Platform/Foundation/Lifetime.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kesto {

class DataManager;

// What the engine needs from the application: quitting, and the set-up wizard.
class SyncApplicationHost {
 public:
  virtual ~SyncApplicationHost() = default;
  virtual void setAppCanQuit(bool canQuit) {}
  // True when a quit is waiting for the sync to end.
  virtual bool appMustQuit() const { return false; }
  virtual void terminate() {}
  virtual void openWizard() {}
};

// The sync engine. A run loads the remote sync file through the transport chosen by the user
// default "CurrentSyncMethod", merges it unless this library wrote it, writes the library as a
// new sync file and hands it to the transport. Main thread only, except where noted.
//
// The merge and the writing of the outgoing file run on a private-queue context over a store
// connection of its own: the main thread only saves the main context before and after, and
// takes the merged rows in a slice at a time, so a large library never holds the interface up.
//
// Every run ends, with a message, on every path: a transport failure, an unreadable download, a
// failed upload or a transport that stops answering (time-outs) all end it. Each run has its own
// state; a start while any sync, share or archive import runs is refused. Tombstones leave the
// local list only after a confirmed upload (and only once 90 days old).
class Synchronizer {
 public:
  static constexpr fnd::NotificationName kStartSyncNotification = kesto::kStartSyncNotification;
  static constexpr fnd::NotificationName kStartSynchingWithSkyfolderNotification =
      kesto::kStartSynchingWithSkyfolderNotification;
  static constexpr fnd::NotificationName kSyncEndedNotification = kesto::kSyncEndedNotification;
  static constexpr const char* kCurrentSyncMethodKey = "CurrentSyncMethod";
  static constexpr const char* kKestoIDKey = syncsettings::kLibraryIdentifierKey;
  static constexpr double kQuitWaitSeconds = 30.0;

  using SourceFactory = std::function<std::unique_ptr<SyncDataSource>()>;

  Synchronizer();
  ~Synchronizer();
  Synchronizer(const Synchronizer&) = delete;
  Synchronizer& operator=(const Synchronizer&) = delete;

  // The one engine of the application (tests may make their own).
  static Synchronizer& shared();

  // Observes "StartSync" and "StartSynchingWithSkyfolder" (once, however often it wakes).
  void awakeFromNib();
  // Stops observing them (the interface that woke it goes).
  void sleep();
  void setDataManager(DataManager* dataManager) { dataManager_ = dataManager; }
  void setHost(std::shared_ptr<SyncApplicationHost> host) { host_ = std::move(host); }
  const std::shared_ptr<SyncApplicationHost>& host() const { return host_; }
  // The toolbar's sync button, wired by the application: told `syncing` (disabled, the busy
  // image) for the whole run, and told the current state at once. Empty lets go of it.
  void setSyncButton(std::function<void(bool syncing)> showSyncing);
  bool hasSyncButton() const { return static_cast<bool>(showSyncing_); }
  // The transport for a method ("icloud" is built in; "skyfolder" and "kestoapp" register here).
  void registerSource(const std::string& method, const std::string& label, SourceFactory factory);
  // Time-outs for a transport's answer to load() and to send().
  void setTimeouts(double loadSeconds, double sendSeconds);

  // Starts.
  void syncFromNotification();
  void syncFromButton();
  void sync();
  void runWizard();

  // Delegate operations of the data sources (main thread).
  void retrievedXML(const std::string& xml);
  void retrievedXML(std::string&& xml);
  void setIsBusy(bool busy) { isBusy_ = busy; }
  bool isBusy() const { return isBusy_; }
  void openRegistration();
  void abortSyncWithError(const std::string& message);
  // The run cannot go on for a cause on this computer (a full disk, a folder it may not write):
  // it ends with that message, not as a connection error.
  void failLocally(const std::string& message);
  void sentSyncData(bool success, const std::string& message = {});
  void resetAccount();
  // The remote sync file arrived but cannot be read: the source keeps it aside (a dated name
  // beside it), the user is told, and this library is uploaded in its place. When the source
  // cannot keep it, the run fails and nothing is uploaded.
  void remoteUnreadable(const std::string& why);
  // The transport is not set up (no linked account): the run ends and the wizard opens.
  void needsSetUp();

  // The run's face: the button and the activity indicator.
  void showUISyncStarted();
  void showUISyncEnded();

  // True from the start of a run to its end.
  bool isRunning() const;
  const std::string& syncUsedString() const { return label_; }
  // The outgoing document of the last run that wrote one.
  const std::string& lastOutgoingXML() const;

  // A quit asked while a run goes on: answers true when the application may quit now; otherwise
  // the application is terminated through the host when the run ends or after kQuitWaitSeconds.
  bool requestQuit();

  // Whether a sync file is this library's own last upload (then it is not merged): it carries
  // `kestoID` and one of the marks of the library's latest uploads. A file of another library
  // that shares the identifier (a copied library folder) carries neither mark.
  static bool isOwnFile(const SyncDocument& document, const std::string& kestoID,
                        const std::vector<std::string>& ownUploads);

  // One job at a time across sync runs, shared-folder exports and archive imports. begin answers
  // false while another job runs.
  static bool beginExclusiveJob();
  static void endExclusiveJob();
  static bool isExclusiveJobRunning();

 private:
  struct Run;
  bool prepareCommonSyncSettings(bool settingsComplete);
  void startWith(const std::string& method);
  struct Merged;
  void mergeAndWrite(const std::shared_ptr<Run>& run, std::string xml);
  // Main thread, after the merge and the writing: saves the main context, takes the merged rows
  // in, reloads what changed and hands the file over.
  void storeAndHandOver(const std::shared_ptr<Run>& run, std::shared_ptr<Merged> merged);
  void handOver(const std::shared_ptr<Run>& run, std::shared_ptr<const std::string> xml,
                std::vector<SyncTombstone> deletions);
  void endRun(bool success, const std::string& message);
  void armTimeout(double seconds, const char* what);

  struct Source {
    std::string method, label;
    SourceFactory factory;
  };
  std::vector<Source> sources_;
  std::shared_ptr<Run> run_;
  std::unique_ptr<SyncDataSource> datasource_;
  std::shared_ptr<SyncApplicationHost> host_;
  std::function<void(bool syncing)> showSyncing_;
  DataManager* dataManager_ = nullptr;
  std::string label_;
  std::shared_ptr<const std::string> lastOutgoing_;
  bool isBusy_ = false;
  bool wasSyncManuallyStarted_ = false;
  bool quitPending_ = false;
  double loadTimeout_ = 120.0;
  double sendTimeout_ = 300.0;
  fnd::Lifetime lifetime_{fnd::Lifetime::Affinity::MainThread};
};

}  // namespace kesto
