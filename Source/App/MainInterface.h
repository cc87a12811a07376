#pragma once

#include "App/BookmarksController.h"
#include "Platform/Foundation/FoundationForward.h"
#include "Platform/UI/UIForward.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kesto {

class AlertPresenter;
class AppDelegate;
class BookmarkSearch;
class BookmarksController;
class DataManager;
class FlexSplitView;
class InspectorController;
class MenuBarWindow;
class MenuBookmarksController;
class BookmarkSearchIndex;
class KestoSplitViewVerticalSecondaryRight;
class MainWindowDropView;
class PushButton;
class PreferencesController;
class PreviewPanel;
class TutorialPopovers;
class SyncWizard;
class PasswordRecovery;
class SkyFolderDataSource;
class UpdateController;
class Pathbar;
class FoldersController;
class SidebarPane;
class TileCollectionView;
class SpinningIndicator;
class Toolbar;

// The main interface, built in code in the phases an interface file loads in: every object is
// made, outlets and actions are connected, each controller wakes (the data manager last, since
// its awake starts the first library load), and the caller then starts the event loop, which
// delivers launching-finished to the application delegate.
class MainInterface {
 public:
  // Builds and wakes everything; the main window is not shown yet. Registers the cell builders.
  // `beforeLoading` runs once everything else is awake, just before the data manager starts the
  // first load (the program shows the window's first frame there).
  static std::unique_ptr<MainInterface> build(const std::function<void(MainInterface&)>& beforeLoading = {});
  ~MainInterface();
  MainInterface(const MainInterface&) = delete;
  MainInterface& operator=(const MainInterface&) = delete;

  // When the store cannot be opened the application does not run without it: the error is
  // shown with the ways back a damaged library has (a backup, a new library); `opened` runs
  // once one of them gives a library that opens, and quitting is the other answer. Answers
  // whether the store is missing.
  static bool presentStoreFailureIfAny(std::function<void()> opened = {});
  // The text shown for a store that failed to open.
  static std::string storeFailureMessage(const std::optional<fnd::Error>& error);
  // Closes the alert windows still open and drops the shared presenter: windows must go while
  // the toolkit still exists, not at process exit. Called once the event loop has ended.
  static void closeAlerts();

  ui::Window& window() const { return *window_; }
  AppDelegate& appDelegate() const { return *appDelegate_; }
  BookmarksController& bookmarksController() const { return *bookmarksController_; }
  DataManager& dataManager() const { return *dataManager_; }
  const std::shared_ptr<TileCollectionView>& collectionView() const { return collectionView_; }
  // Folder list | the rest; the rest splits into the bookmark list | the inspector's split view.
  const std::shared_ptr<ui::SplitView>& splitView() const { return splitView_; }
  const std::shared_ptr<KestoSplitViewVerticalSecondaryRight>& listSplitView() const { return listSplitView_; }
  const std::shared_ptr<FlexSplitView>& inspectorSplitView() const { return inspectorSplitView_; }
  // The window's content view, which takes dropped text and links.
  const std::shared_ptr<MainWindowDropView>& dropView() const { return dropView_; }
  const std::shared_ptr<PushButton>& foldersCollapseButton() const { return foldersCollapseButton_; }
  const std::shared_ptr<PushButton>& editorCollapseButton() const { return editorCollapseButton_; }
  const std::shared_ptr<PreviewPanel>& quickLookPanel() const { return quickLookPanel_; }
  TutorialPopovers& tutorials() const { return *tutorials_; }
  const std::shared_ptr<Toolbar>& toolbar() const { return toolbar_; }
  const std::shared_ptr<ui::View>& bottomBar() const { return bottomBar_; }
  // The toolbar's activity indicator.
  const std::shared_ptr<SpinningIndicator>& activityIndicator() const { return progress_; }
  SidebarPane& sidebarPane() const { return *sidebar_; }
  // The folder list of the library's sidebar; none when another sidebar pane was registered.
  FoldersController* foldersController() const;
  // The path of the folder shown, above the bookmark list.
  const std::shared_ptr<Pathbar>& pathbar() const { return pathbar_; }
  // The application's menus, shown as the main window's menu bar.
  const std::shared_ptr<ui::Menu>& mainMenu() const { return mainMenu_; }
  InspectorController& inspectorController() const { return *inspector_; }
  PreferencesController& preferencesController() const { return *preferences_; }
  UpdateController& updateController() const { return *updateController_; }
  BookmarkSearch& bookmarkSearch() const { return *search_; }
  // The toolbar's sync button and the sync set-up wizard.
  const std::shared_ptr<PushButton>& syncButton() const { return syncButton_; }
  SyncWizard& syncWizard() const { return *syncWizard_; }
  PasswordRecovery& passwordRecovery() const { return *passwordRecovery_; }
  // The Skyfolder link button's server (the wizard's Skyfolder stage).
  SkyFolderDataSource& skyfolderLink() const { return *skyfolderLink_; }
  MenuBarWindow& menuBarWindow() const { return *menuWindow_; }
  MenuBookmarksController& menuBookmarksController() const { return *menuBookmarks_; }

  // The bottom border of the main window, in points.
  static constexpr double kBottomBarHeight = 30.0;

 private:
  MainInterface();
  void construct();
  void connect();
  // The View menu's search items: Ctrl+F focuses the library search, Ctrl+Shift+F the same
  // limited to the current list.
  void addSearchItems(ui::Menu& view);
  void addPreviewItems(ui::Menu& view);
  void awake(const std::function<void(MainInterface&)>& beforeLoading);
  void buildMainMenu();
  // The bookmark commands of the File and Edit menus.
  void addBookmarkFileItems(ui::Menu& file);
  void addBookmarkEditItems(ui::Menu& edit);
  void addSettingsItems(ui::Menu& edit, ui::Menu& help);
  static void addLibraryTransferItems(ui::Menu& file);
  void addSyncItems(ui::Menu& file);
  static void addHelpLinkItems(ui::Menu& help);
  void buildPanes(const std::shared_ptr<ui::View>& content, const std::shared_ptr<ui::View>& sidebar,
                  const std::shared_ptr<ui::View>& list, const std::shared_ptr<ui::View>& inspector, double height);

  std::unique_ptr<ui::Window> window_;
  std::unique_ptr<DataManager> dataManager_;
  std::unique_ptr<PreferencesController> preferences_;
  std::unique_ptr<BookmarksController> bookmarksController_;
  std::unique_ptr<BookmarkSearch> search_;
  std::unique_ptr<AppDelegate> appDelegate_;
  std::unique_ptr<SidebarPane> sidebar_;
  std::shared_ptr<Pathbar> pathbar_;
  std::unique_ptr<InspectorController> inspector_;
  std::shared_ptr<ui::SplitView> splitView_;
  std::shared_ptr<KestoSplitViewVerticalSecondaryRight> listSplitView_;
  std::shared_ptr<FlexSplitView> inspectorSplitView_;
  std::shared_ptr<MainWindowDropView> dropView_;
  std::shared_ptr<PushButton> foldersCollapseButton_, editorCollapseButton_;
  std::shared_ptr<PreviewPanel> quickLookPanel_;
  std::unique_ptr<TutorialPopovers> tutorials_;
  std::shared_ptr<TileCollectionView> collectionView_;
  // The list's views, built here and handed to its controller.
  BookmarkListViews listViews_;
  std::shared_ptr<Toolbar> toolbar_;
  std::shared_ptr<ui::View> bottomBar_;
  std::shared_ptr<SpinningIndicator> progress_;
  std::shared_ptr<ui::Menu> mainMenu_;
  std::unique_ptr<ui::MenuDelegate> viewMenuDelegate_, editMenuDelegate_;
  std::unique_ptr<UpdateController> updateController_;
  std::unique_ptr<ui::ActionResponder> settingsMenuTarget_;
  std::shared_ptr<PushButton> syncButton_;
  std::unique_ptr<SyncWizard> syncWizard_;
  std::unique_ptr<PasswordRecovery> passwordRecovery_;
  std::unique_ptr<SkyFolderDataSource> skyfolderLink_;
  std::unique_ptr<ui::ActionResponder> syncMenuTarget_;
  std::unique_ptr<BookmarkSearchIndex> menuSearchIndex_;
  std::unique_ptr<MenuBookmarksController> menuBookmarks_;
  std::unique_ptr<MenuBarWindow> menuWindow_;
};

}  // namespace kesto
