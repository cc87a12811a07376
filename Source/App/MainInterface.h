#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kesto {

namespace fnd {
class Error;
}
namespace ui {
class Menu;
class MenuDelegate;
class SplitView;
class View;
class Window;
}  // namespace ui
class AlertPresenter;
class AppDelegate;
class BookmarksController;
class DataManager;
class InspectorController;
class PreferencesController;
class PrioritySplitViewDelegate;
class SidebarController;
class TileCollectionView;
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
  // shown, and answering it quits. Answers whether the store is missing.
  static bool presentStoreFailureIfAny();
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
  const std::shared_ptr<ui::SplitView>& splitView() const { return splitView_; }
  const std::shared_ptr<Toolbar>& toolbar() const { return toolbar_; }
  const std::shared_ptr<ui::View>& bottomBar() const { return bottomBar_; }
  SidebarController& sidebarController() const { return *sidebar_; }
  // The application's menus, shown as the main window's menu bar.
  const std::shared_ptr<ui::Menu>& mainMenu() const { return mainMenu_; }
  InspectorController& inspectorController() const { return *inspector_; }

  // The bottom border of the main window, in points.
  static constexpr double kBottomBarHeight = 30.0;

 private:
  MainInterface();
  void construct();
  void connect();
  void awake(const std::function<void(MainInterface&)>& beforeLoading);
  void buildMainMenu();
  // The bookmark commands of the File and Edit menus.
  void addBookmarkFileItems(ui::Menu& file);
  void addBookmarkEditItems(ui::Menu& edit);

  std::unique_ptr<ui::Window> window_;
  std::unique_ptr<DataManager> dataManager_;
  std::unique_ptr<PreferencesController> preferences_;
  std::unique_ptr<BookmarksController> bookmarksController_;
  std::unique_ptr<AppDelegate> appDelegate_;
  std::unique_ptr<SidebarController> sidebar_;
  std::unique_ptr<InspectorController> inspector_;
  std::unique_ptr<PrioritySplitViewDelegate> splitViewDelegate_;
  std::shared_ptr<ui::SplitView> splitView_;
  std::shared_ptr<TileCollectionView> collectionView_;
  std::shared_ptr<Toolbar> toolbar_;
  std::shared_ptr<ui::View> bottomBar_;
  std::shared_ptr<ui::Menu> mainMenu_;
  std::unique_ptr<ui::MenuDelegate> viewMenuDelegate_;
};

}  // namespace kesto
