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
#include "MenuBar/GlobalHotKey.h"
#include "MenuBar/KeyCodeNames.h"
#include "MenuBar/MenuBarWindow.h"
#include "MenuBar/MenuBookmarksController.h"
#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/Folder.h"
#include "Model/ViewUpdater.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/UndoManager.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/System/GlobalShortcuts.h"
#include "Platform/System/TrayIcon.h"
#include "Platform/System/URLSchemeRegistration.h"
#include "Platform/UI/Alert.h"
#include "Platform/UI/ApplicationMain.h"
#include "Platform/UI/Menu.h"
#include "Platform/UI/Screen.h"
#include "Platform/UI/View.h"
#include "Synchronize/Backup.h"
#include "Synchronize/HTMLImport.h"
#include "Views/OverlayController.h"
#include "Views/SpinningIndicator.h"

#include <algorithm>
#include <map>
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
  auto alive = lifetime_.watch();
  fnd::DispatchQueue::main().after(0.5, [this, alive] {
    if (alive) migrateToModelVersion2();
  });
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
  quit_.applicationWillTerminate();
  autoSync();
}

// ---- menu commands and sheets ----

TransferDialogs& AppDelegate::transferDialogs() {
  if (!transferDialogs_) transferDialogs_ = std::make_unique<TransferDialogs>(wiring_.data, wiring_.window);
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
  for (const auto& [command, link] : links) on(command, [link] { ShellPanels::openHelpLink(link); });
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
  if (wiring_.menuWindow) {
    showMenuBarWindow();
  } else {
    ui::Application::shared().activateIgnoringOtherApps();
    if (wiring_.window) ui::reopenWindow(*wiring_.window);
  }
  fnd::NotificationCenter::defaultCenter().postNotificationName(BRWUpdateMenuBookmarksViewNotification);
}

void AppDelegate::showMenuBarWindow() {
  if (!wiring_.menuWindow) return;
  if (wiring_.window) wiring_.window->makeFirstResponder(nullptr);
  // Without the icon's place the window hangs under the pointer.
  wiring_.menuWindow->setAnchorPoint(sys::TrayIcon::pointerLocation());
  wiring_.menuWindow->showWindow();
  if (wiring_.menuBookmarksController && wiring_.menuBookmarksController->showingFind())
    wiring_.menuBookmarksController->find();
}

void AppDelegate::hideMenuBarWindow() {
  if (!wiring_.menuWindow) return;
  wiring_.menuWindow->makeFirstResponder(nullptr);
  wiring_.menuWindow->hideWindow();
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
    if (wiring_.preferences) wiring_.preferences->updateKeyCombo();
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
  if (wiring_.preferences) wiring_.preferences->updateKeyCombo();
  if (reset) showAlertSoon("Success", "Shortcut reset to default", ui::AlertStyle::Informational);
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
  auto alive = lifetime_.watch();
  fnd::DispatchQueue::main().after(seconds, [this, alive, generation] {
    // A later message keeps its own time on screen.
    if (alive && generation == overlayGeneration_ && overlay_) overlay_->endOverlay();
  });
}

fnd::UndoManager* AppDelegate::windowWillReturnUndoManager(ui::Window&) { return BookmarksController::undoManager(); }

}  // namespace kesto
