#include "App/AppDelegate.h"

#include "App/AppCommands.h"
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
#include "MenuBar/MenuBarWindow.h"
#include "MenuBar/MenubarController.h"
#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/Folder.h"
#include "Model/ViewUpdater.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/UndoManager.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/System/URLSchemeRegistration.h"
#include "Platform/UI/ApplicationMain.h"
#include "Platform/UI/Menu.h"
#include "Platform/UI/Screen.h"
#include "Platform/UI/View.h"
#include "Synchronize/Backup.h"
#include "Synchronize/HTMLImport.h"
#include "Views/OverlayController.h"
#include "Views/SpinningIndicator.h"

#include <algorithm>
#include <optional>
#include <string>

namespace kesto {

AppDelegate::AppDelegate() {
  KESTO_ASSERT_MAIN_THREAD();
  // The scheme handler is in place before launching finishes; its outcome is not looked at.
  sys::registerURLSchemeHandler("kesto");
}

AppDelegate::~AppDelegate() {
  lifetime_.end();
  Backup::setTerminateHandler(nullptr);
  fnd::NotificationCenter::defaultCenter().removeObserver(this);
  auto& center = sys::UserNotificationCenter::defaultCenter();
  if (center.delegate() == this) center.setDelegate(nullptr);
}

void AppDelegate::wire(AppDelegateWiring wiring) {
  wiring_ = std::move(wiring);
  hotKey_.wire({wiring_.window, wiring_.menuWindow, wiring_.menuBookmarksController, wiring_.preferences});
  intake_.wire(
      {wiring_.data, wiring_.preferences, wiring_.bookmarksController, [this] { return applicationIsActive_; }});
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

  if (wiring_.progress) {
    wiring_.progress->setNumberOfLines(10);
    wiring_.progress->setWidthOfLine(2.0);
    wiring_.progress->setLengthOfLine(8.0);
    wiring_.progress->setColor(ui::Color::white(0.482, 1.0));
    wiring_.progress->setHidden(true);
  }
  CrashReporter::startWithAPIKey(kCrashReporterAPIKey);
  initializeHotkey();
  initializeKesto();
  initializeLogging();
  reportReadOnlyStore();
  if (!menuBarMode_) showMainKestoWindowAndDock();
  if (wiring_.menuWindow) {
    wiring_.menuWindow->setHasMenuBarIcon(true);
    wiring_.menuWindow->setAttachedToMenuBar(true);
    wiring_.menuWindow->setIsDetachable(false);
  }

  std::vector<double> scales;
  for (const auto& screen : ui::Screen::screens()) scales.push_back(screen.backingScaleFactor());
  defaults.setBool(detectRetina(scales), "IsRetina");

  quit_.reset();
  Folder::cleanRogueFolders();
  if (wiring_.data) ViewUpdater::updateSourceLists();
}

void AppDelegate::initializeKesto() {
  resetAppId(false);
  setDefaultFindChecks();
  // The controller sits directly behind the window, so commands the window leaves reach it.
  if (wiring_.window && wiring_.bookmarksController) {
    wiring_.bookmarksController->setNextResponder(wiring_.window->nextResponder());
    wiring_.window->setNextResponder(wiring_.bookmarksController);
  }
  auto& center = fnd::NotificationCenter::defaultCenter();
  center.addObserver(this, [this](const fnd::Notification&) { showActivity(); }, BRWActivityStartedNotification);
  center.addObserver(this, [this](const fnd::Notification&) { hideActivity(); }, BRWActivityEndedNotification);
  if (wiring_.preferences) wiring_.preferences->updatePreferencesPanelValues();
  applicationIsActive_ = true;
  scheduleAutomaticBackup();
}

void AppDelegate::applicationDidBecomeActive() {
  KESTO_ASSERT_MAIN_THREAD();
  fnd::NotificationCenter::defaultCenter().postNotificationName(kApplicationDidBecomeActiveNotification);
  importSharedFolderFromDoubleClick();
  addUrlFromBrowserExtension();
  fnd::DispatchQueue::main().after(0.5, lifetime_.whileAlive([this] { migrateToModelVersion2(); }));
}

void AppDelegate::showMainKestoWindowAndDock() {
  menuBarMode_ = false;
  if (wiring_.window) ui::reopenWindow(*wiring_.window);
}

void AppDelegate::reopenKestoWindow() {
  if (wiring_.window) ui::reopenWindow(*wiring_.window);
}

bool AppDelegate::applicationShouldTerminateAfterLastWindowClosed() {
  autoSync();
  return false;
}

ui::TerminateReply AppDelegate::applicationShouldTerminate() {
  return quit_.applicationShouldTerminate(wiring_.openSyncWizard);
}

void AppDelegate::applicationWillTerminate() {
  if (quit_.hasTerminated()) return;
  // The page updates' own saves end first: the process must not go while one is half-written.
  if (wiring_.bookmarksController) wiring_.bookmarksController->finishBackgroundWrites();
  // So does an export the user started: its file is whole when the process goes.
  if (transferDialogs_) transferDialogs_->finishExportBeforeQuit();
  quit_.applicationWillTerminate();
  autoSync();
}

// ---- menu commands and sheets ----

TransferDialogs& AppDelegate::transferDialogs() {
  if (!transferDialogs_)
    transferDialogs_ = std::make_unique<TransferDialogs>(wiring_.data, wiring_.window, wiring_.bookmarksController);
  return *transferDialogs_;
}

ShellPanels& AppDelegate::panels() {
  if (!panels_) {
    panels_ = std::make_unique<ShellPanels>(wiring_.window);
    panels_->onImport = [this] { transferDialogs().openImportDialog(); };
    panels_->libraryIsEmpty = [] { return Bookmark::countWithPredicate(nullptr) == 0; };
    panels_->onCreateDefaultLibrary = [] {
      fnd::NotificationCenter::defaultCenter().postNotificationName(CreateDefaultBookmarks);
    };
  }
  return *panels_;
}

void AppDelegate::dismissSheetForWindow(ui::Window& sheet) { panels().dismissSheetForWindow(sheet); }

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
  for (const auto& [command, link] : links) on(command, [link = link] { ShellPanels::openHelpLink(link); });
  on(cmd::showPreferences, [this] {
    if (wiring_.preferences) wiring_.preferences->showPreferencesPanel();
  });
  on(cmd::toggleInspector, [this] { toggleInspector(); }, [this](ui::MenuItem& item) {
    item.setTitle(inspectorHidden() ? "Show Inspector" : "Hide Inspector");
    return wiring_.inspectorSplitView != nullptr;
  });
  on(cmd::turnOnTutorialPopups, [] { TutorialPopovers::turnOnTutorialPopups(); });
}

// ---- side panes ----

namespace {
constexpr const char* kEditorCollapsedKey = "editorCollapsed";
}  // namespace

bool AppDelegate::inspectorHidden() const {
  return wiring_.inspectorSplitView && wiring_.inspectorSplitView->collapsed();
}

void AppDelegate::setInspectorHidden(bool hidden) {
  if (!wiring_.inspectorSplitView) return;
  wiring_.inspectorSplitView->setSecondaryPaneHidden(hidden);
  auto& defaults = fnd::UserDefaults::standard();
  defaults.setBool(hidden, kEditorCollapsedKey);
  defaults.synchronize();
  updateEditorCollapseButton();
}

void AppDelegate::toggleInspector() { setInspectorHidden(!inspectorHidden()); }

void AppDelegate::updateEditorCollapseButton() {
  if (wiring_.editorCollapseButton)
    wiring_.editorCollapseButton->setImageNamed(
        fnd::UserDefaults::standard().boolForKey(kEditorCollapsedKey) ? "collapse_right" : "collapse_left");
}

bool AppDelegate::keyRecorderIsKeyCodeAndFlagsTaken(KRRecorderControl& recorder, long keyCode, std::uint64_t cocoaFlags,
                                                    std::string&) {
  if (!wiring_.preferences || &recorder != wiring_.preferences->panelViews().keyRecorder.get() ||
      !wiring_.disallowRecorder)
    return false;
  const KeyCombo& other = wiring_.disallowRecorder->keyCombo();
  return other.code == keyCode && other.flags == cocoaFlags;
}

void AppDelegate::keyRecorderKeyComboDidChange(KRRecorderControl& recorder, KeyCombo combo) {
  if (wiring_.preferences && &recorder == wiring_.preferences->panelViews().keyRecorder.get())
    toggleGlobalHotKey(combo);
}

// ---- activity and overlay ----

void AppDelegate::showActivity() {
  if (wiring_.progress) {
    wiring_.progress->setHidden(false);
    wiring_.progress->setAnimates(true);
  }
}

void AppDelegate::hideActivity() {
  if (wiring_.progress) wiring_.progress->setHidden(true);
}

void AppDelegate::showOverlayMessage(const std::string& message, double width, double height, double seconds) {
  if (!overlay_ || !wiring_.window || !wiring_.window->contentView()) return;
  overlay_->beginOverlayToView(*wiring_.window->contentView(), message, 10.0, fnd::Size{width, height});
  std::uint64_t generation = ++overlayGeneration_;
  fnd::DispatchQueue::main().after(seconds, lifetime_.whileAlive([this, generation] {
    // A later message keeps its own time on screen.
    if (generation == overlayGeneration_ && overlay_) overlay_->endOverlay();
  }));
}

fnd::UndoManager* AppDelegate::windowWillReturnUndoManager(ui::Window&) { return BookmarksController::undoManager(); }

// ---- the older status-item drop-down ----

PanelController& AppDelegate::panelController() {
  if (!panelController_) panelController_ = std::make_unique<PanelController>(this);
  return *panelController_;
}

void AppDelegate::togglePanel(const ui::Event* trigger) {
  if (menubarController) menubarController->setHasActiveIcon(!menubarController->hasActiveIcon());
  panelController().setHasActivePanel(menubarController && menubarController->hasActiveIcon(), trigger);
}

StatusItemView* AppDelegate::statusItemViewForPanelController(PanelController&) {
  return menubarController ? &menubarController->statusItemView() : nullptr;
}

}  // namespace kesto
