#include "App/AppDelegate.h"

#include "App/AppCommands.h"
#include "App/BookmarkIntake.h"
#include "App/BookmarksController.h"
#include "App/PaneControllers.h"
#include "App/PreferencesController.h"
#include "App/ShellPanels.h"
#include "App/TransferDialogs.h"
#include "Platform/Foundation/Assert.h"
#include "MenuBar/MenuBarNotifications.h"
#include "Sidebar/TutorialPopovers.h"
#include "Synchronize/SyncNotifications.h"
#include "Views/PushButton.h"
#include "Views/TwoPaneSplitView.h"
#include "CrashReporting/CrashReporter.h"
#include "MenuBar/GlobalHotKey.h"
#include "MenuBar/KeyCodeNames.h"
#include "MenuBar/MenuBarWindow.h"
#include "MenuBar/MenuBookmarksController.h"
#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/Folder.h"
#include "Model/ViewUpdater.h"
#include "Model/WrenDataManager.h"
#include "Model/WrenEntity.h"
#include "Platform/Foundation/DateFormatter.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/UndoManager.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/RunLoop.h"
#include "Platform/Foundation/StandardPaths.h"
#include "Platform/Foundation/TimeZone.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Store/Context.h"
#include "Platform/Store/Coordinator.h"
#include "Platform/Store/Predicate.h"
#include "Platform/System/GlobalShortcuts.h"
#include "Platform/System/TrayIcon.h"
#include "Platform/System/URLSchemeRegistration.h"
#include "Platform/UI/Alert.h"
#include "Platform/UI/ApplicationMain.h"
#include "Platform/UI/Menu.h"
#include "Platform/UI/Screen.h"
#include "Platform/UI/View.h"
#include "Support/ConsoleLogger.h"
#include "Support/LogCenter.h"
#include "Support/RollingFileLogger.h"
#include "Support/AlertPresenter.h"
#include "Synchronize/Backup.h"
#include "Synchronize/HTMLExport.h"
#include "Synchronize/HTMLImport.h"
#include "Synchronize/SharedFolderArchive.h"
#include "Synchronize/Synchronizer.h"
#include "Views/OverlayController.h"
#include "Views/SpinningIndicator.h"

#include <algorithm>
#include <map>
#include <optional>
#include <string>

namespace kesto {

namespace {

constexpr const char* kBookmarkAdded = "Bookmark added";
constexpr const char* kBookmarkSkipped = "Bookmark skipped (already present)";

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

bool flagSet(const char* key) { return fnd::UserDefaults::standard().hasValueForKey(key); }

void setFlag(const char* key) {
  auto& defaults = fnd::UserDefaults::standard();
  defaults.setBool(true, key);
  defaults.synchronize();
}

}  // namespace

AppDelegate::AppDelegate() {
  KESTO_ASSERT_MAIN_THREAD();
  // Saves fail on the thread that saves; the user hears of it on the main thread.
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
  // The scheme handler is in place before launching finishes; its outcome is not looked at.
  sys::registerURLSchemeHandler("kesto");
  // The first load starts before launching finishes, and may end before it too.
  fnd::NotificationCenter::defaultCenter().addObserver(
      &firstLoadFinished_,
      [this](const fnd::Notification&) {
        fnd::NotificationCenter::defaultCenter().removeObserver(&firstLoadFinished_);
        firstLoadFinished_ = true;
        if (automaticBackupRunning_) startAutomaticBackupSoon();
        // What the start itself did (the Inbox and Imported folders made, repairs) is no step a
        // user can undo: Edit > Undo begins with the user's first change.
        auto alive = lifetime_.watch();
        fnd::DispatchQueue::main().async([alive] {
          if (!alive) return;
          if (auto* undo = BookmarksController::undoManager()) undo->removeAllActions();
        });
      },
      UpdateFoldersNotification);
}

AppDelegate::~AppDelegate() {
  lifetime_.end();
  WrenEntity::setSaveOutcomeHandler(nullptr);
  Backup::setTerminateHandler(nullptr);
  fnd::NotificationCenter::defaultCenter().removeObserver(this);
  fnd::NotificationCenter::defaultCenter().removeObserver(&firstLoadFinished_);
  auto& center = sys::UserNotificationCenter::defaultCenter();
  if (center.delegate() == this) center.setDelegate(nullptr);
}

// ---- start-up ----

void AppDelegate::applicationDidFinishLaunching() {
  KESTO_ASSERT_MAIN_THREAD();
  sys::UserNotificationCenter::defaultCenter().setDelegate(this);
  migrateToModelVersion4();
  migrateToKesto20();
  auto& defaults = fnd::UserDefaults::standard();
  menuBarMode_ = startsInMenuBarMode();
  ViewUpdater::startActivity();

  auto& center = fnd::NotificationCenter::defaultCenter();
  center.addObserver(this, [this](const fnd::Notification&) { showMainKestoWindowAndDock(); },
                     ShowMainKestoWindowAndDockNotification);
  center.addObserver(this, [this](const fnd::Notification&) { autoSync(); }, KestoPerformAutoSync);
  // A load that finds the library empty offers the first-run panel; the default library is
  // made only when the user asks for it there.
  center.addObserver(this, [this](const fnd::Notification&) { panels().showInitialPopupAfterDelay(); },
                     ShowInitialPopup);
  center.addObserver(this, [this](const fnd::Notification&) { panels().hideInitialPopup(); }, HideInitialPopup);
  center.addObserver(this, [this](const fnd::Notification&) { hideMenuBarWindow(); }, CloseMenubarNotification);
  // A confirmed restore has swapped the store under the running program: it quits through the
  // normal path (so nothing is left half-done) and the user starts it again.
  Backup::setTerminateHandler([] { ui::Application::postToMain([] { ui::Application::shared().terminate(); }); });
  center.addObserver(
      this,
      [this](const fnd::Notification& n) {
        const auto& info = n.userInfo;
        auto number = [&](const char* key, double fallback) {
          auto it = info.find(key);
          return it == info.end() ? fallback : it->second.doubleValue(fallback);
        };
        auto it = info.find(kOverlayMessageKey);
        std::string message = it == info.end() ? std::string() : it->second.stringIfString().value_or("");
        showOverlayMessage(message, number(kOverlayWidthKey, 400), number(kOverlayHeightKey, 130),
                           number(kOverlaySecondsKey, 2));
      },
      ShowOverlayWithMessage);
  overlay_ = std::make_unique<OverlayController>();

  if (progress) {
    progress->setNumberOfLines(10);
    progress->setWidthOfLine(2.0);
    progress->setLengthOfLine(8.0);
    progress->setColor(ui::Color::white(0.482, 1.0));
    progress->setHidden(true);
  }
  CrashReporter::startWithAPIKey(kCrashReporterAPIKey);
  initializeHotkey();
  initializeKesto();
  initializeLogging();
  reportReadOnlyStore();
  if (!menuBarMode_) showMainKestoWindowAndDock();
  if (menuWindow) {
    menuWindow->setHasMenuBarIcon(true);
    menuWindow->setAttachedToMenuBar(true);
    menuWindow->setIsDetachable(false);
  }

  std::vector<double> scales;
  for (const auto& screen : ui::Screen::screens()) scales.push_back(screen.backingScaleFactor());
  defaults.setBool(detectRetina(scales), "IsRetina");

  appCanQuit_ = false;
  appMustQuit_ = false;
  Folder::cleanRogueFolders();
  if (kestoData) ViewUpdater::updateSourceLists();
}

bool AppDelegate::startsInMenuBarMode() {
  // Without a tray there is nothing to start from: the main window shows.
  return fnd::UserDefaults::standard().boolForKey("useMenuBarMode") && sys::TrayIcon::isSystemTrayAvailable();
}

bool AppDelegate::detectRetina(const std::vector<double>& screenScales) {
  double scale = 1.0;
  for (double s : screenScales)
    if (s > scale) scale = s;
  return scale > 1.0;
}

void AppDelegate::initializeKesto() {
  resetAppId(false);
  setDefaultFindChecks();
  // The controller sits directly behind the window, so commands the window leaves reach it.
  if (window && bookmarksController) {
    bookmarksController->setNextResponder(window->nextResponder());
    window->setNextResponder(bookmarksController);
  }
  auto& center = fnd::NotificationCenter::defaultCenter();
  center.addObserver(this, [this](const fnd::Notification&) { showActivity(); }, BRWActivityStartedNotification);
  center.addObserver(this, [this](const fnd::Notification&) { hideActivity(); }, BRWActivityEndedNotification);
  if (kestoPreferences) kestoPreferences->updatePreferencesPanelValues();
  applicationIsActive_ = true;
  backup_ = std::make_unique<Backup>();
  // A start stopped while copying leaves a hidden temporary file behind.
  Backup::removeStaleTemporaryFiles();
  scheduleAutomaticBackup();
}

void AppDelegate::scheduleAutomaticBackup() {
  // The copy reads the whole store: it waits until the first load has put the list on screen,
  // then runs on a thread of its own, so a start is held up by neither.
  automaticBackupRunning_ = true;
  if (!kestoData || firstLoadFinished_) startAutomaticBackupSoon();
}

void AppDelegate::startAutomaticBackupSoon() {
  auto alive = lifetime_.watch();
  fnd::DispatchQueue::main().after(kAutomaticBackupDelay, [this, alive] {
    if (!alive || !backup_) return;
    backup_->autoBackupInBackground([this, alive](bool) {
      if (alive) automaticBackupRunning_ = false;
    });
  });
}

void AppDelegate::initializeLogging() {
  auto console = ConsoleLogger::sharedInstance();
  LogCenter::addLogger(console);
  console->setColorsEnabled(true);
  console->setForegroundColor(LogColor{0.0, 0.502, 0.251, 1.0}, std::nullopt, fnd::LogFlag::Info);
  auto file = std::make_shared<RollingFileLogger>();
  file->setMaximumFileSize(1048576);
  file->setRollingFrequency(86400);
  file->logFileManager()->setMaximumNumberOfLogFiles(7);
  LogCenter::addLogger(file);
}

void AppDelegate::resetAppId(bool force) {
  auto& defaults = fnd::UserDefaults::standard();
  if (!force && defaults.hasValueForKey("KestoID")) return;
  defaults.setString("kesto-" + WrenEntity::uniqueID(), "KestoID");
  defaults.synchronize();
}

void AppDelegate::setDefaultFindChecks() {
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

void AppDelegate::migrateToModelVersion4() {
  if (flagSet("Version4MigratedV2")) return;
  auto unset = Bookmark::fetchEntitiesWithPredicate(store::Predicate::parse("blocked == nil"));
  for (const auto& b : unset.value_or(Bookmark::List{})) b->setBlocked(0);
  WrenEntity::saveContext();
  setFlag("Version4MigratedV2");
}

void AppDelegate::migrateToKesto20() {
  if (flagSet("KestoMigratedToVersion2")) return;
  for (const auto& b : Bookmark::fetchEntities().value_or(Bookmark::List{})) {
    b->setBlocked(0);
    if (b->thumbnailManuallySet() < 1) {
      for (const char* image : {"thumbnail", "favicon", "pinboardImage", "deliciousImage", "brokenImage"})
        b->setValueForKey(image, fnd::Value());
    }
    b->setContent(std::string());
  }
  WrenEntity::saveContext();
  auto& defaults = fnd::UserDefaults::standard();
  std::string method;
  if (defaults.objectForKey("SyncEmail").isString()) method = "kestoapp";
  else if (defaults.boolForKey("syncUsingSkyfolder")) method = "skyfolder";
  defaults.setString(method, "CurrentSyncMethod");
  setFlag("KestoMigratedToVersion2");
}

void AppDelegate::migrateToModelVersion2() {
  if (flagSet("Version2Migrated")) return;
  auto lost = Bookmark::fetchEntitiesWhereProperty("title", fnd::Value("No Title (cannot find server)"));
  for (const auto& b : lost.value_or(Bookmark::List{})) {
    b->setBroken(1);
    b->updateBrokenImage();
    b->saveBookmark();
  }
  setFlag("Version2Migrated");
}

void AppDelegate::applicationDidBecomeActive() {
  KESTO_ASSERT_MAIN_THREAD();
  fnd::NotificationCenter::defaultCenter().postNotificationName(kApplicationDidBecomeActiveNotification);
  importSharedFolderFromDoubleClick();
  addUrlFromBrowserExtension();
  auto alive = lifetime_.watch();
  fnd::DispatchQueue::main().after(0.5, [this, alive] {
    if (alive) migrateToModelVersion2();
  });
}

void AppDelegate::showMainKestoWindowAndDock() {
  menuBarMode_ = false;
  if (window) ui::reopenWindow(*window);
}

void AppDelegate::reopenKestoWindow() {
  if (window) ui::reopenWindow(*window);
}

bool AppDelegate::applicationShouldTerminateAfterLastWindowClosed() {
  autoSync();
  return false;
}

ui::TerminateReply AppDelegate::applicationShouldTerminate() {
  KESTO_ASSERT_MAIN_THREAD();
  appMustQuit_ = true;
  appCanQuit_ = true;
  // A running sync finishes (or times out) before the process goes, so no merge is cut short.
  auto& sync = Synchronizer::shared();
  if (sync.isRunning()) {
    auto host = std::static_pointer_cast<AppSyncHost>(syncHost());
    host->mustQuit = true;
    sync.setHost(host);
    if (!sync.requestQuit()) return ui::TerminateReply::Later;
  }
  if (offerToExportUnsavedChanges()) return ui::TerminateReply::Later;
  return appMustQuit_ && appCanQuit_ ? ui::TerminateReply::Now : ui::TerminateReply::Cancel;
}

void AppDelegate::applicationWillTerminate() {
  KESTO_ASSERT_MAIN_THREAD();
  if (terminated_) return;
  terminated_ = true;
  WrenEntity::saveContext();
  autoSync();
  fnd::UserDefaults::standard().synchronize();
  LogCenter::flush();
}

// ---- a store that cannot be written ----

namespace {

constexpr const char* kSaveFailedTitle = "Kesto cannot save your library";
constexpr const char* kKeptInMemory =
    "What you add or change stays in Kesto while it runs, and saving is tried again with each change. "
    "When you quit, Kesto offers to export what could not be saved.";

std::vector<std::shared_ptr<Bookmark>> unsavedBookmarks() {
  std::vector<std::shared_ptr<Bookmark>> out;
  auto context = WrenEntity::defaultContext();
  if (!context) return out;
  for (const auto& list : {context->insertedObjects(), context->updatedObjects()})
    for (const auto& o : list)
      if (auto b = std::dynamic_pointer_cast<Bookmark>(o); b && !b->isDeleted()) out.push_back(std::move(b));
  return out;
}

bool storeIsReadOnly() {
  auto& data = WrenDataManager::sharedInstance();
  if (data.lastError()) return false;  // a store that did not open is reported where it failed
  auto coordinator = data.persistentStoreCoordinator();
  return coordinator && coordinator->isReadOnly();
}

void tellReadOnly(const std::string& storePath) {
  AlertPresenter::alert("Kesto opened your library read-only",
                        "The library at " + storePath + " cannot be written to, so nothing can be saved there.\n\n" +
                            kKeptInMemory);
}

}  // namespace

void AppDelegate::reportReadOnlyStore() {
  if (toldOfSaveFailure_ || !storeIsReadOnly()) return;  // a save made while loading may have said it
  toldOfSaveFailure_ = true;
  saveFailureCause_ = "The library file is read-only";
  tellReadOnly(WrenDataManager::sharedInstance().persistentStorePath());
}

void AppDelegate::storeSaveFailed(const SaveFailure& failure) {
  saveFailureCause_ = failure.cause;
  if (toldOfSaveFailure_) return;
  toldOfSaveFailure_ = true;
  // A store that opened read-only is said as such, whichever comes first: this or the start.
  if (storeIsReadOnly()) return tellReadOnly(failure.storePath);
  AlertPresenter::alert(kSaveFailedTitle, failure.cause + ": the library at " + failure.storePath +
                                              " could not be saved.\n\n" + kKeptInMemory);
}

std::vector<std::string> AppDelegate::unsavedExportPaths() {
  // No save panel here: a fixed file named by the time of the quit, beside the library, else in
  // the documents folder, else in the home folder. A folder that takes no files goes last.
  const std::string name = "Unsaved bookmarks " +
                           fnd::DateFormatter::fixed("yyyy-MM-dd-HH-mm-ss", fnd::TimeZone::local()).stringFromDate(fnd::Date::now()) +
                           ".html";
  std::vector<std::string> writable, other;
  for (const auto& folder :
       {fnd::FileManager::deletingLastPathComponent(WrenDataManager::sharedInstance().persistentStorePath()),
        fnd::StandardPaths::documentsDirectory(), fnd::StandardPaths::homeDirectory()}) {
    if (folder.empty()) continue;
    const std::string path = folder + "/" + name;
    if (std::find(writable.begin(), writable.end(), path) != writable.end() ||
        std::find(other.begin(), other.end(), path) != other.end())
      continue;
    (fnd::FileManager::isWritable(folder) ? writable : other).push_back(path);
  }
  writable.insert(writable.end(), other.begin(), other.end());
  return writable;
}

namespace {

// Keeps the exporter's outcome to itself: the quit tries the next folder before saying anything.
class QuietExport : public HTMLExportDelegate {
 public:
  void exportSucces(const std::string&) override {}
  void exportFailed(const std::string&) override {}
};

// The first of `paths` that takes the file (a full disk, a folder gone or read-only fail alike);
// empty when none does.
std::string exportUnsaved(const std::vector<std::shared_ptr<Bookmark>>& unsaved, const std::vector<std::string>& paths) {
  QuietExport quiet;
  HTMLExport exporter;
  exporter.setDelegate(&quiet);
  for (const auto& path : paths)
    if (exporter.exportBookmarks(unsaved, "Not saved", path)) return path;
  return {};
}

}  // namespace

bool AppDelegate::offerToExportUnsavedChanges() {
  // Saved now if the store takes it, so only what it refuses is asked about.
  if (WrenEntity::saveContext()) return false;
  auto unsaved = unsavedBookmarks();
  if (unsaved.empty()) return false;
  const std::vector<std::string> paths = unsavedExportPaths();
  const std::string cause = saveFailureCause_.empty() ? std::string("The library could not be written") : saveFailureCause_;
  auto alive = lifetime_.watch();
  AlertPresenter::ask("Some changes could not be saved",
                      cause + ": " + std::to_string(unsaved.size()) +
                          " new or changed bookmarks are not in the library at " +
                          WrenDataManager::sharedInstance().persistentStorePath() +
                          ". Kesto can write them to \"" + paths.front() + "\" before it quits, to import later.",
                      {"Export and Quit", "Quit Without Exporting", "Cancel"},
                      [alive, unsaved, paths](int answer) {
                        if (!alive) return;
                        auto reply = [](bool quit) { ui::Application::shared().replyToApplicationShouldTerminate(quit); };
                        if (answer != 0) return reply(answer == 1);
                        const std::string written = exportUnsaved(unsaved, paths);
                        // Nothing is dropped without the user's word: when no folder took the
                        // file, the quit is called off.
                        if (written.empty()) {
                          AlertPresenter::alert("Export failed",
                                                "The unsaved bookmarks could not be written beside the library, to "
                                                "the documents folder or to the home folder. Kesto keeps running "
                                                "with them.");
                          return reply(false);
                        }
                        AlertPresenter::ask("Unsaved bookmarks exported",
                                            std::to_string(unsaved.size()) +
                                                " bookmarks that could not be saved are in \"" + written +
                                                "\". Import that file once the library can be written again.",
                                            {"Quit"}, [reply](int) { reply(true); });
                      });
  return true;
}

// ---- menu commands and sheets ----

TransferDialogs& AppDelegate::transferDialogs() {
  if (!transferDialogs_) transferDialogs_ = std::make_unique<TransferDialogs>(kestoData, window);
  return *transferDialogs_;
}

ShellPanels& AppDelegate::panels() {
  if (!panels_) {
    panels_ = std::make_unique<ShellPanels>(window);
    panels_->onImport = [this] { transferDialogs().openImportDialog(); };
    panels_->libraryIsEmpty = [] { return Bookmark::countWithPredicate(nullptr) == 0; };
    panels_->onCreateDefaultLibrary = [] {
      fnd::NotificationCenter::defaultCenter().postNotificationName(CreateDefaultBookmarks);
    };
  }
  return *panels_;
}

void AppDelegate::dismissSheetForWindow(ui::Window& sheet) { panels().dismissSheetForWindow(sheet); }

std::shared_ptr<SyncApplicationHost> AppDelegate::syncHost() {
  if (!syncHost_) syncHost_ = std::make_shared<AppSyncHost>();
  static_cast<AppSyncHost&>(*syncHost_).wizard = openSyncWizard;
  return syncHost_;
}

void AppDelegate::presentSheetWithWindow(ui::Window& sheet, std::function<void(int)> didEnd) {
  panels().presentSheetWithWindow(sheet, std::move(didEnd));
}

void AppDelegate::addActions(ui::ActionSet& set) {
  auto on = [&set](ui::Command command, std::function<void()> run,
                   std::function<bool(ui::MenuItem&)> isEnabled = nullptr) {
    set.add({command, {}, {}, ui::ModifierFlag::Command, std::move(isEnabled), [run = std::move(run)](ui::Responder*) {
               run();
               return true;
             }});
  };
  on(cmd::openImportDialog, [this] { transferDialogs().openImportDialog(); },
     [this](ui::MenuItem&) { return !transferDialogs_ || !transferDialogs_->htmlImport().isImporting(); });
  on(cmd::openExportDialog, [this] { transferDialogs().openExportDialog(); });
  on(cmd::openBackupDialog, [this] { transferDialogs().openBackupDialog(); });
  on(cmd::openRestoreDialog, [this] { transferDialogs().openRestoreDialog(); });
  on(cmd::showImportMessageSheet, [this] { panels().showImportMessageSheet(); });
  const std::pair<ui::Command, const char*> links[] = {
      {cmd::showHelp, helplinks::kHelp},
      {cmd::showEULA, helplinks::kEULA},
      {cmd::showExtensions, helplinks::kExtensions},
      {cmd::showForum, helplinks::kForum},
      {cmd::showYoutube, helplinks::kVideos},
      {cmd::showSafariExportHelp, helplinks::kSafariExport},
      {cmd::showChromeExportHelp, helplinks::kChromeExport},
      {cmd::showFirefoxExportHelp, helplinks::kFirefoxExport},
  };
  for (const auto& [command, link] : links) on(command, [link] { ShellPanels::openHelpLink(link); });
  on(cmd::showPreferences, [this] {
    if (kestoPreferences) kestoPreferences->showPreferencesPanel();
  });
  on(cmd::toggleInspector, [this] { toggleInspector(); }, [this](ui::MenuItem& item) {
    item.setTitle(inspectorHidden() ? "Show Inspector" : "Hide Inspector");
    return inspectorSplitView != nullptr;
  });
  on(cmd::turnOnTutorialPopups, [] { TutorialPopovers::turnOnTutorialPopups(); });
}

// ---- side panes ----

namespace {
constexpr const char* kEditorCollapsedKey = "editorCollapsed";
}  // namespace

bool AppDelegate::inspectorHidden() const { return inspectorSplitView && inspectorSplitView->collapsed(); }

void AppDelegate::setInspectorHidden(bool hidden) {
  if (!inspectorSplitView) return;
  inspectorSplitView->setSecondaryPaneHidden(hidden);
  auto& defaults = fnd::UserDefaults::standard();
  defaults.setBool(hidden, kEditorCollapsedKey);
  defaults.synchronize();
  updateEditorCollapseButton();
}

void AppDelegate::toggleInspector() { setInspectorHidden(!inspectorHidden()); }

void AppDelegate::updateEditorCollapseButton() {
  if (editorCollapseButton)
    editorCollapseButton->setImageNamed(fnd::UserDefaults::standard().boolForKey(kEditorCollapsedKey) ? "collapse_right"
                                                                                                     : "collapse_left");
}

// ---- global hot key ----

namespace {

// The desktop's global hot keys through the hot-key centre.
class HotKeyCenterRegistrar : public GlobalHotKeyRegistrar {
 public:
  bool registerHotKey(const std::string& identifier, const HotKeyCombo& combo, std::function<void()> action) override {
    unregisterHotKey(identifier);
    auto hotKey = std::make_shared<GlobalHotKey>(identifier, GlobalKeyCombo::keyComboWithKeyCode(
                                                                 combo.keyCode, std::uint64_t(combo.flags)));
    hotKey->setAction([action](GlobalHotKey&) { action(); });
    if (!GlobalHotKeyCenter::sharedCenter().registerHotKey(hotKey) || !hotKey->carbonHotKeyID()) return false;
    hotKeys_[identifier] = hotKey;
    return true;
  }
  void unregisterHotKey(const std::string& identifier) override {
    auto it = hotKeys_.find(identifier);
    if (it == hotKeys_.end()) return;
    GlobalHotKeyCenter::sharedCenter().unregisterHotKey(it->second);
    hotKeys_.erase(it);
  }

 private:
  std::map<std::string, std::shared_ptr<GlobalHotKey>> hotKeys_;
};

std::shared_ptr<GlobalHotKeyRegistrar>& hotKeyRegistrar() {
  static std::shared_ptr<GlobalHotKeyRegistrar> registrar;
  // Where the desktop offers global hot keys (X11), the centre registers them.
  if (!registrar && sys::GlobalShortcuts::isAvailable()) registrar = std::make_shared<HotKeyCenterRegistrar>();
  return registrar;
}

void showAlertSoon(const std::string& message, const std::string& information, ui::AlertStyle style) {
  // Never inside the event that asked for it: the alert's loop would run inside that callback.
  ui::Application::postToMain([message, information, style] {
    ui::Alert alert;
    alert.setMessageText(message);
    alert.setInformativeText(information);
    alert.setAlertStyle(style);
    alert.addButtonWithTitle("OK");
    alert.runModal();
  });
}

}  // namespace

void AppDelegate::setHotKeyRegistrar(std::shared_ptr<GlobalHotKeyRegistrar> registrar) {
  hotKeyRegistrar() = std::move(registrar);
}

HotKeyCombo AppDelegate::storedHotKeyCombo() {
  auto& defaults = fnd::UserDefaults::standard();
  auto code = defaults.objectForKey("kComboCode");
  // Only an absent value or -1 means the default: 0 is the A key.
  if (!code.isNumber() || code.intValue() < 0) return HotKeyCombo{};
  return HotKeyCombo{static_cast<std::int32_t>(code.intValue()), static_cast<std::int32_t>(defaults.integerForKey("kComboFlags"))};
}

void AppDelegate::initializeHotkey() {
  auto registrar = hotKeyRegistrar();
  if (!registrar) return;  // no global hot keys on this desktop session
  HotKeyCombo combo = storedHotKeyCombo();
  auto alive = lifetime_.watch();
  bool taken = registrar->registerHotKey("KestoLightSearch", combo, [this, alive] {
    if (alive) hotkeyWithEvent();
  });
  if (taken) {
    registeredHotKey_ = combo;
  } else {
    fnd::logWarning("The global shortcut could not be registered; another program may hold it");
  }
}

void AppDelegate::hotkeyWithEvent() {
  if (menuWindow) {
    showMenuBarWindow();
  } else {
    ui::Application::shared().activateIgnoringOtherApps();
    if (window) ui::reopenWindow(*window);
  }
  fnd::NotificationCenter::defaultCenter().postNotificationName(BRWUpdateMenuBookmarksViewNotification);
}

void AppDelegate::showMenuBarWindow() {
  if (!menuWindow) return;
  if (window) window->makeFirstResponder(nullptr);
  // Without the icon's place the window hangs under the pointer.
  menuWindow->setAnchorPoint(sys::TrayIcon::pointerLocation());
  menuWindow->showWindow();
  if (menuBookmarksController && menuBookmarksController->showingFind()) menuBookmarksController->find();
}

void AppDelegate::hideMenuBarWindow() {
  if (!menuWindow) return;
  menuWindow->makeFirstResponder(nullptr);
  menuWindow->hideWindow();
}

void AppDelegate::toggleGlobalHotKey(const KeyCombo& combo) {
  auto registrar = hotKeyRegistrar();
  const bool reset = combo.code == -1;
  const HotKeyCombo next = reset ? HotKeyCombo{} : HotKeyCombo{combo.code, std::int64_t(KRCocoaFlagsToCarbon(combo.flags))};
  const std::optional<HotKeyCombo> previous = registeredHotKey_;
  if (registrar) registrar->unregisterHotKey("KestoLightSearch");
  registeredHotKey_.reset();
  auto alive = lifetime_.watch();
  auto action = [this, alive] {
    if (alive) hotkeyWithEvent();
  };
  if (registrar && !registrar->registerHotKey("KestoLightSearch", next, action)) {
    // Refused (another program holds it): the old hot key stays and nothing is stored.
    if (previous && registrar->registerHotKey("KestoLightSearch", *previous, action)) registeredHotKey_ = previous;
    if (kestoPreferences) kestoPreferences->updateKeyCombo();
    const std::string keys = KRCarbonShortcutWords(std::uint32_t(next.flags), long(next.keyCode));
    showAlertSoon("The key combination " + KRCarbonShortcutString(std::uint32_t(next.flags), long(next.keyCode)) +
                      " can't be used!",
                  "The key combination \"" + keys +
                      "\" can't be used because another program holds it. The previous shortcut stays in use.",
                  ui::AlertStyle::Critical);
    return;
  }
  if (registrar) registeredHotKey_ = next;
  auto& defaults = fnd::UserDefaults::standard();
  defaults.setInteger(reset ? -1 : next.keyCode, "kComboCode");
  defaults.setInteger(reset ? -1 : next.flags, "kComboFlags");
  defaults.synchronize();
  if (kestoPreferences) kestoPreferences->updateKeyCombo();
  if (reset) showAlertSoon("Success", "Shortcut reset to default", ui::AlertStyle::Informational);
}

bool AppDelegate::keyRecorderIsKeyCodeAndFlagsTaken(KRRecorderControl& recorder, long keyCode, std::uint64_t cocoaFlags,
                                                    std::string&) {
  if (!kestoPreferences || &recorder != kestoPreferences->keyRecorder.get() || !delegateDisallowRecorder) return false;
  const KeyCombo& other = delegateDisallowRecorder->keyCombo();
  return other.code == keyCode && other.flags == cocoaFlags;
}

void AppDelegate::keyRecorderKeyComboDidChange(KRRecorderControl& recorder, KeyCombo combo) {
  if (kestoPreferences && &recorder == kestoPreferences->keyRecorder.get()) toggleGlobalHotKey(combo);
}

// ---- activity and overlay ----

void AppDelegate::showActivity() {
  if (progress) {
    progress->setHidden(false);
    progress->setAnimates(true);
  }
}

void AppDelegate::hideActivity() {
  if (progress) progress->setHidden(true);
}

void AppDelegate::showOverlayMessage(const std::string& message, double width, double height, double seconds) {
  if (!overlay_ || !window || !window->contentView()) return;
  overlay_->beginOverlayToView(*window->contentView(), message, 10.0, fnd::Size{width, height});
  std::uint64_t generation = ++overlayGeneration_;
  auto alive = lifetime_.watch();
  fnd::DispatchQueue::main().after(seconds, [this, alive, generation] {
    // A later message keeps its own time on screen.
    if (alive && generation == overlayGeneration_ && overlay_) overlay_->endOverlay();
  });
}

// ---- intake ----

void AppDelegate::getUrl(const std::string& urlText) {
  KESTO_ASSERT_MAIN_THREAD();
  auto text = intake::textFromSchemeURL(urlText);
  if (!text) return;  // not ours, or the menu-bar payload: nothing to add
  urlToBeAdded_ = *text;
  addUrlFromBrowserExtension();
}

void AppDelegate::addPinUrlFromString(const std::string& text) {
  urlToBeAdded_ = text;
  addUrlFromBrowserExtension();
}

bool AppDelegate::openFile(const std::string& path) {
  fileToBeImported_ = path;
  importSharedFolderFromDoubleClick();
  return true;
}

bool AppDelegate::openFiles(const std::vector<std::string>& paths) {
  KESTO_ASSERT_MAIN_THREAD();
  if (paths.empty()) return false;
  return openFile(paths.front());
}

void AppDelegate::importSharedFolderFromDoubleClick() {
  if (fileToBeImported_.empty()) return;
  std::string path = std::move(fileToBeImported_);
  fileToBeImported_.clear();
  if (!archive_) archive_ = std::make_unique<SharedFolderArchive>();
  archive_->setDataManager(kestoData);
  if (!archive_->importSharedFolderFromPath(path)) fnd::logWarning("Could not import the shared folder " + path);
}

void AppDelegate::addUrlFromBrowserExtension() {
  if (urlToBeAdded_.empty()) return;
  const std::string text = std::move(urlToBeAdded_);
  urlToBeAdded_.clear();
  if (text.size() > intake::kMaximumIntakeBytes) {
    fnd::logWarning("Refused a text of " + std::to_string(text.size()) + " bytes handed in to add bookmarks");
    return;
  }
  // A hand-over is one change however many lines it holds: one save and one refresh of each
  // view. The batch saves first; the list and the views catch up on the next turn of the event
  // loop, so the user waits twice briefly instead of once for both.
  auto oneRefresh = std::make_shared<ViewUpdater::Coalescing>();
  std::optional<WrenEntity::SaveBatch> oneSave(std::in_place);
  std::size_t addresses = 0;
  PreferencesController fallback;
  const PreferencesController& prefs = kestoPreferences ? *kestoPreferences : fallback;
  const bool fromDelicious = kestoData && kestoData->loadingFromDelicious();
  const bool fromPinboard = kestoData && kestoData->loadingFromPinboard();
  Folder::Ref target;
  std::vector<std::shared_ptr<Bookmark>> made;
  for (const auto& line : intake::splitLines(text)) {
    ViewUpdater::updateBookmarks();
    auto address = intake::addressFromLine(line);
    if (!address) continue;
    if (++addresses > intake::kMaximumAddressesPerIntake) {
      fnd::logWarning("Only the first " + std::to_string(intake::kMaximumAddressesPerIntake) +
                      " addresses of a handed-in text were added");
      break;
    }
    if (!target) {
      target = Folder::inboxFolder();
      if (!prefs.useInboxForBookmarks() && applicationIsActive_ && kestoData && kestoData->currentFolder())
        target = kestoData->currentFolder();
    }
    std::string message = kBookmarkAdded;
    // Addresses are stored decoded, so the comparison uses the decoded form; each check is one
    // indexed look-up by address.
    const std::string stored = intake::storedFormOfAddress(*address);
    auto presentInService = [&](const char* service) {
      for (const auto& b : Bookmark::fetchEntitiesWhereProperty("url", fnd::Value(stored)).value_or(Bookmark::List{})) {
        auto names = b->serviceNames();
        if (std::find(names.begin(), names.end(), service) != names.end()) return true;
      }
      return false;
    };
    std::shared_ptr<Bookmark> bookmark;
    if (prefs.skipDuplicates()) {
      if (Bookmark::checkIfEntityExistsWhereProperty("url", fnd::Value(stored))) {
        message = kBookmarkSkipped;
      } else if (fromDelicious) {
        bookmark = Bookmark::addBookmarWithURL(*address, "delicious");
      } else if (fromPinboard) {
        bookmark = Bookmark::addBookmarWithURL(*address, "pinboard");
      } else {
        bookmark = Bookmark::addBookmarkWithURL(*address, target);
      }
    } else if (fromDelicious || fromPinboard) {
      const char* service = fromDelicious ? "delicious" : "pinboard";
      if (presentInService(service)) message = kBookmarkSkipped;
      else bookmark = Bookmark::addBookmarWithURL(*address, service);
    } else {
      bookmark = Bookmark::addBookmarkWithURL(*address, target);
    }
    if (bookmark) made.push_back(std::move(bookmark));
    ViewUpdater::updateSourceLists();
    sys::UserNotificationCenter::defaultCenter().deliverNotification(
        {message, *address, sys::kUserNotificationDefaultSoundName});
  }
  oneSave.reset();
  auto alive = lifetime_.watch();
  fnd::DispatchQueue::main().async([this, alive, hold = std::move(oneRefresh), made = std::move(made)]() mutable {
    if (alive && bookmarksController) bookmarksController->updateBookmarks(made);
    hold.reset();
  });
}

void AppDelegate::handleArguments(const std::vector<std::string>& arguments) {
  KESTO_ASSERT_MAIN_THREAD();
  // One launch's texts are one intake, so its bounds hold however many arguments it carries.
  std::string text;
  bool anyText = false;
  auto append = [&](const std::string& piece) {
    if (anyText) text += '\n';
    text += piece;
    anyText = true;
  };
  std::vector<std::string> paths;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& arg = arguments[i];
    if (arg == "--add-text") {
      if (i + 1 < arguments.size()) append(arguments[++i]);
    } else if (arg.compare(0, 6, intake::kSchemePrefix) == 0) {
      if (auto decoded = intake::textFromSchemeURL(arg)) append(*decoded);
    } else if (!arg.empty() && arg[0] != '-') {
      paths.push_back(arg);
    }
  }
  if (anyText) addPinUrlFromString(text);
  if (!paths.empty()) openFiles(paths);
}

fnd::UndoManager* AppDelegate::windowWillReturnUndoManager(ui::Window&) { return BookmarksController::undoManager(); }

}  // namespace kesto
