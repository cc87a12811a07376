#pragma once

#include "App/AppHotKey.h"
#include "App/AppIntake.h"
#include "App/AppNotifications.h"
#include "App/AppQuit.h"
#include "App/AppStartup.h"
#include "MenuBar/KRRecorderControl.h"
#include "MenuBar/KeyCodeNames.h"
#include "MenuBar/PanelController.h"
#include "Platform/Foundation/Lifetime.h"
#include "Platform/System/UserNotifications.h"
#include "Platform/UI/Action.h"
#include "Platform/UI/Application.h"
#include "Platform/UI/Responder.h"
#include "Platform/UI/UIForward.h"
#include "Platform/UI/Window.h"
#include "Views/FlexSplitView.h"
#include "Platform/UI/SheetPresenter.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kesto {

class BookmarksController;
class KestoSplitViewVerticalSecondaryRight;
class PushButton;
class DataManager;
class MenuBarWindow;
class MenubarController;
class MenuBookmarksController;
class OverlayController;
class PreferencesController;
class ShellPanels;
class SpinningIndicator;
class SyncApplicationHost;
struct SaveFailure;
class TransferDialogs;

// What the application delegate works with, handed over once by the main interface.
struct AppDelegateWiring {
  ui::Window* window = nullptr;
  BookmarksController* bookmarksController = nullptr;
  DataManager* data = nullptr;
  PreferencesController* preferences = nullptr;
  // The toolbar's activity indicator.
  std::shared_ptr<SpinningIndicator> progress;
  std::shared_ptr<ui::View> bottomBar;
  MenuBarWindow* menuWindow = nullptr;
  MenuBookmarksController* menuBookmarksController = nullptr;
  // A recorder whose combination the preferences' recorder may not take (none by default).
  KRRecorderControl* disallowRecorder = nullptr;
  std::shared_ptr<PushButton> editorCollapseButton;
  KestoSplitViewVerticalSecondaryRight* inspectorSplitView = nullptr;
  // Opens the sync set-up wizard when the sync engine asks for it.
  std::function<void()> openSyncWizard;
};

// The one object that owns the application's life: the library window's set-up, activation,
// the inspector pane and the overlay messages. The steps of a start, the intake, the quit and the
// hot key are pieces it owns (AppStartup, AppIntake, AppQuit, AppHotKey); its methods of the
// same names forward to them. Main thread only.
class AppDelegate : public ui::ApplicationDelegate,
                    public ui::WindowDelegate,
                    public sys::UserNotificationCenterDelegate,
                    public ui::ActionResponder,
                    public ui::SheetPresenter,
                    public FlexSplitViewDelegate,
                    public KRRecorderDelegate,
                    public PanelControllerDelegate {
 public:
  static constexpr const char* kCrashReporterAPIKey = "7f3a9c0e5b21d84f6a0c93e7b2d5148f0e6a7c39";

  AppDelegate();
  ~AppDelegate() override;
  AppDelegate(const AppDelegate&) = delete;
  AppDelegate& operator=(const AppDelegate&) = delete;

  // Its dependencies and views; once, before launching finishes.
  void wire(AppDelegateWiring wiring);

  // The inspector pane: hidden or shown from its button and the View menu, the choice kept in
  // "editorCollapsed" for the next start.
  void toggleInspector();
  void setInspectorHidden(bool hidden);
  bool inspectorHidden() const;
  // The inspector's button shows the stored state.
  void updateEditorCollapseButton();

  // Start-up and shutdown.
  void applicationDidFinishLaunching() override;
  void applicationDidBecomeActive() override;
  ui::TerminateReply applicationShouldTerminate() override;
  void applicationWillTerminate() override;
  void applicationCommitData() override { quit_.save(); }
  bool applicationShouldTerminateAfterLastWindowClosed() override;
  void initializeKesto();
  void initializeLogging() { AppStartup::initializeLogging(); }
  void resetAppId(bool force) { AppStartup::resetAppId(force); }
  void setDefaultFindChecks() { AppStartup::setDefaultFindChecks(); }
  void migrateToModelVersion2() { AppStartup::migrateToModelVersion2(); }
  void migrateToModelVersion4() { AppStartup::migrateToModelVersion4(); }
  void migrateToKesto20() { AppStartup::migrateToKesto20(); }
  // The automatic backup of each start: made off the main thread once the first list is shown.
  void scheduleAutomaticBackup() { startup_.scheduleAutomaticBackup(wiring_.data != nullptr); }
  bool automaticBackupRunning() const { return startup_.automaticBackupRunning(); }
  void showMainKestoWindowAndDock();
  void reopenKestoWindow();
  void autoSync() {}
  // Largest backing scale over the screens (1.0 when none answers), stored as "IsRetina".
  static bool detectRetina(const std::vector<double>& screenScales) { return AppStartup::detectRetina(screenScales); }

  // The global hot key: the stored combination, or the default (control-option-command P) when
  // none is stored or it was reset (-1). Key code 0 is the A key, a combination like any other.
  static HotKeyCombo storedHotKeyCombo() { return AppHotKey::storedHotKeyCombo(); }
  void initializeHotkey() { hotKey_.initializeHotkey(); }
  static void setHotKeyRegistrar(std::shared_ptr<GlobalHotKeyRegistrar> registrar) {
    AppHotKey::setHotKeyRegistrar(std::move(registrar));
  }
  const std::optional<HotKeyCombo>& registeredHotKey() const { return hotKey_.registeredHotKey(); }
  // What the hot key does: shows the menu-bar window (the main window where there is none) and
  // reloads the menu-bar list.
  void hotkeyWithEvent() { hotKey_.hotkeyWithEvent(); }
  // Replaces the hot key by the preferences recorder's combination and stores it; a cleared
  // recorder puts back the default at once. A combination the desktop refuses keeps the old hot
  // key and nothing is stored; the user is told.
  void toggleGlobalHotKey(const KeyCombo& combo) { hotKey_.toggleGlobalHotKey(combo); }
  void showMenuBarWindow() { hotKey_.showMenuBarWindow(); }
  void hideMenuBarWindow() { hotKey_.hideMenuBarWindow(); }
  // The preferences recorder's questions.
  bool keyRecorderIsKeyCodeAndFlagsTaken(KRRecorderControl& recorder, long keyCode, std::uint64_t cocoaFlags,
                                         std::string& reason) override;
  void keyRecorderKeyComboDidChange(KRRecorderControl& recorder, KeyCombo combo) override;

  // The older status-item drop-down: its controller is made on first use. togglePanel flips the
  // status item's highlight and opens the panel with it; without a menubarController (nothing in
  // the application makes one) it only keeps the panel closed.
  PanelController& panelController();
  void togglePanel(const ui::Event* trigger = nullptr);
  MenubarController* menubarController = nullptr;
  StatusItemView* statusItemViewForPanelController(PanelController& controller) override;

  // Intake.
  void getUrl(const std::string& urlText) { intake_.getUrl(urlText); }
  void addPinUrlFromString(const std::string& text) { intake_.addPinUrlFromString(text); }
  bool openFile(const std::string& path) { return intake_.openFile(path); }
  bool openFiles(const std::vector<std::string>& paths) { return intake_.openFiles(paths); }
  void importSharedFolderFromDoubleClick() { intake_.importSharedFolderFromDoubleClick(); }
  void addUrlFromBrowserExtension() { intake_.addUrlFromBrowserExtension(); }
  // The program's arguments, from this launch or handed over by a later one: "kesto:" URLs,
  // "--add-text TEXT" and archive paths (only the first is imported). `saved` hears whether the
  // bookmarks they added are saved, once they are.
  void handleArguments(const std::vector<std::string>& arguments, AppIntake::Saved saved = {}) {
    intake_.handleArguments(arguments, std::move(saved));
  }
  const std::string& urlToBeAdded() const { return intake_.urlToBeAdded(); }
  void setUrlToBeAdded(const std::string& text) { intake_.setUrlToBeAdded(text); }
  bool applicationIsActive() const { return applicationIsActive_; }
  bool menuBarMode() const { return menuBarMode_; }
  // Whether this start is in the menu bar, without the main window: the stored preference, where
  // the desktop has a tray to start from.
  static bool startsInMenuBarMode() { return AppStartup::startsInMenuBarMode(); }

  // A store that cannot be written: said once (at start when it opened read-only, else at the
  // first failed save) until a save succeeds again; what is in memory stays, and a quit offers
  // to write what the store did not take to files Kesto can bring back (UnsavedChanges), and
  // says where.
  void reportReadOnlyStore() { quit_.reportReadOnlyStore(); }
  void storeSaveFailed(const SaveFailure& failure) { quit_.storeSaveFailed(failure); }

  // Activity and overlay messages.
  void showActivity();
  void hideActivity();
  OverlayController* overlay() const { return overlay_.get(); }

  TransferDialogs& transferDialogs();
  // Sheets on the library window, the first-run panel and the import sheet.
  ShellPanels& panels();
  ui::Window* libraryWindow() override { return wiring_.window; }
  void dismissSheetForWindow(ui::Window& sheet) override;
  void presentSheetWithWindow(ui::Window& sheet, std::function<void(int)> didEnd) override;
  // What the sync engine asks of the application (the wizard through openSyncWizard, quitting).
  std::shared_ptr<SyncApplicationHost> syncHost() { return quit_.syncHost(wiring_.openSyncWizard); }
  // Whether the quit has gone through (the library saved, settings written).
  bool hasTerminated() const { return quit_.hasTerminated(); }

  // Window and notification delegates.
  void windowDidMiniaturize() { autoSync(); }
  // The library window's Undo and Redo work on the library.
  fnd::UndoManager* windowWillReturnUndoManager(ui::Window& window) override;
  bool userNotificationCenterShouldPresentNotification(const sys::UserNotification&) override { return true; }
  // The inspector's split view reports divider moves; the panes keep their own widths, so
  // nothing more is done with them.
  unsigned implementedFlexSplitViewMethods() const override { return DividerMovedAt; }
  void splitViewDividerMovedAt(FlexSplitView&, long, double) override {}

 protected:
  // The File and Help menus' commands (import, export, backup, restore, help links, the
  // inspector) come here at the end of the responder chain. Import waits while an import is
  // still being stored.
  void addActions(ui::ActionSet& set) override;

 private:
  void showOverlayMessage(const std::string& message, double width, double height, double seconds);

  AppDelegateWiring wiring_;
  AppStartup startup_;
  AppIntake intake_;
  AppQuit quit_;
  AppHotKey hotKey_;
  bool applicationIsActive_ = false;
  bool menuBarMode_ = false;
  std::unique_ptr<OverlayController> overlay_;
  std::unique_ptr<TransferDialogs> transferDialogs_;
  std::unique_ptr<ShellPanels> panels_;
  std::unique_ptr<PanelController> panelController_;
  fnd::Lifetime lifetime_{fnd::Lifetime::Affinity::MainThread};
  std::uint64_t overlayGeneration_ = 0;
};

}  // namespace kesto
