#include "App/MainInterface.h"

#include "App/AppCommands.h"
#include "App/AppDelegate.h"
#include "App/AppStartup.h"
#include "App/BookmarkSearch.h"
#include "App/BookmarksController.h"
#include "App/MainWindowDropView.h"
#include "App/MenuBarActions.h"
#include "App/PaneControllers.h"
#include "App/PreferencesController.h"
#include "App/PreviewPanel.h"
#include "App/ServiceAccounts.h"
#include "App/UpdateController.h"
#include "App/WebRemoteImageView.h"
#include "App/BookmarkSearchIndex.h"
#include "MenuBar/MenuBarWindow.h"
#include "MenuBar/MenuBookmarksController.h"
#include "App/TilePinView.h"
#include "Model/DataManager.h"
#include "Model/Service.h"
#include "Model/ViewUpdater.h"
#include "Model/WrenDataManager.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/UI/Action.h"
#include "Platform/UI/Application.h"
#include "Platform/UI/Button.h"
#include "Platform/UI/Menu.h"
#include "Platform/UI/Screen.h"
#include "Platform/UI/SplitView.h"
#include "Platform/UI/Window.h"
#include "Sidebar/FoldersController.h"
#include "Sidebar/SidebarController.h"
#include "Sidebar/SidebarLists.h"
#include "Sidebar/TutorialPopovers.h"
#include "Synchronize/Setup/PasswordRecovery.h"
#include "Synchronize/SkyFolderDataSource.h"
#include "Synchronize/Setup/SyncSetupStages.h"
#include "Synchronize/Setup/SyncWizard.h"
#include "Synchronize/Synchronizer.h"
#include "Views/DialogAlertPresenter.h"
#include "Views/FlexSplitView.h"
#include "Views/LinkLabel.h"
#include "Views/Pathbar.h"
#include "Views/PushButton.h"
#include "Views/SpinningIndicator.h"
#include "Views/TextLabel.h"
#include "Views/TileCollectionView.h"
#include "Views/TwoPaneSplitView.h"
#include "Views/WrenSearchField.h"

#include <algorithm>
#include <tuple>

namespace kesto {

using ui::View;

namespace {

constexpr double kWindowWidth = 1200, kWindowHeight = 760, kToolbarHeight = 52;
constexpr double kSidebarWidth = 220, kInspectorWidth = 260;

std::shared_ptr<PushButton> button(const std::shared_ptr<View>& parent, const fnd::Rect& frame,
                                   const std::string& image, const std::string& tip) {
  auto b = std::make_shared<PushButton>(frame);
  b->setImageNamed(image);
  b->setToolTip(tip);
  parent->addSubview(b);
  return b;
}

// The View menu's mode items show the list controller's mode each time the menu opens.
class ModeMenuState : public ui::MenuDelegate {
 public:
  explicit ModeMenuState(BookmarksController& controller) : controller_(controller) {}
  void menuNeedsUpdate(ui::Menu& menu) override {
    auto mark = [&](ui::Command action, bool on) {
      for (const auto& item : menu.items())
        if (item->action() == action) item->setState(on ? ui::ControlState::On : ui::ControlState::Off);
    };
    mark(cmd::selectThumbnailView, controller_.isThumbnailView());
    mark(cmd::selectExtendedView, controller_.isExtendedView());
    mark(cmd::selectListView, controller_.isListView());
  }

 private:
  BookmarksController& controller_;
};

// The Edit menu shows a bookmark service's mark commands only while its account exists.
class ServiceMarksMenuState : public ui::MenuDelegate {
 public:
  void menuNeedsUpdate(ui::Menu& menu) override {
    bool any = false;
    for (const auto& item : menu.items()) {
      const char* service = nullptr;
      if (item->action() == cmd::addToPinboard || item->action() == cmd::removeFromPinboard) service = Service::kPinboard;
      if (item->action() == cmd::addToDelicious || item->action() == cmd::removeFromDelicious) service = Service::kDelicious;
      if (!service) continue;
      const bool shown = BookmarksController::hasServiceAccount(service);
      item->setHidden(!shown);
      any = any || shown;
    }
    if (separator) separator->setHidden(!any);
  }
  std::shared_ptr<ui::MenuItem> separator;
};

// The library's lists: folders with the other five tabs.
class LibrarySidebarPane : public SidebarPane {
 public:
  LibrarySidebarPane() : sidebar_(std::make_unique<SidebarController>()) {}
  std::shared_ptr<View> view() override { return sidebar_->view(); }
  void setDataManager(DataManager* dataManager) override { sidebar_->setDataManager(dataManager); }
  void awakeFromNib() override { sidebar_->awakeFromNib(); }
  SidebarController& sidebar() { return *sidebar_; }

 private:
  std::unique_ptr<SidebarController> sidebar_;
};

constexpr double kPathbarHeight = 24;

}  // namespace

MainInterface::MainInterface() = default;

MainInterface::~MainInterface() {
  auto& app = ui::Application::shared();
  if (app.delegate() == appDelegate_.get()) app.setDelegate(nullptr);
  if (window_) window_->setDelegate(nullptr);
  if (splitView_) splitView_->setDelegate(nullptr);
  if (listSplitView_) listSplitView_->setDelegate(nullptr);
  if (inspectorSplitView_) inspectorSplitView_->setEventsDelegate(nullptr);
  if (dropView_) dropView_->setIntake(nullptr);
  // The controllers go before the views they observe.
  if (mainMenu_)
    if (auto view = mainMenu_->itemWithTitle("View"); view && view->submenu()) view->submenu()->setDelegate(nullptr);
  // The engine outlives this interface: it lets go of everything it was given here.
  auto& sync = Synchronizer::shared();
  sync.setSyncButton({});
  sync.setDataManager(nullptr);
  sync.setHost(nullptr);
  sync.sleep();
  syncWizard_.reset();
  passwordRecovery_.reset();
  skyfolderLink_.reset();
  appDelegate_.reset();
  menuWindow_.reset();
  menuBookmarks_.reset();
  search_.reset();
  bookmarksController_.reset();
  // The popovers and the preview are windows of their own: gone before the main window.
  quickLookPanel_.reset();
  tutorials_.reset();
  // Only now: taking the menu bar away lays the window out again, and the list must not load
  // cells for controllers on their way out.
  if (mainMenu_ && app.mainMenu() == mainMenu_) app.setMainMenu(nullptr);
  closeAlerts();
}

void MainInterface::closeAlerts() {
  if (std::dynamic_pointer_cast<DialogAlertPresenter>(AlertPresenter::shared())) AlertPresenter::setShared(nullptr);
}

std::unique_ptr<MainInterface> MainInterface::build(const std::function<void(MainInterface&)>& beforeLoading) {
  registerTilePinViewBuilders();
  registerWebImageViews();
  registerSidebarLists();
  if (!AlertPresenter::shared()) AlertPresenter::setShared(std::make_shared<DialogAlertPresenter>());
  std::unique_ptr<MainInterface> ui(new MainInterface());
  ui->construct();
  ui->connect();
  ui->awake(beforeLoading);
  return ui;
}

std::string MainInterface::storeFailureMessage(const std::optional<fnd::Error>& error) {
  std::string text = "Kesto cannot open its library at " + WrenDataManager::sharedInstance().persistentStorePath() + ".";
  if (error) {
    std::string reason = error->localizedDescription();
    if (!reason.empty()) text += " " + reason + ".";
    // The cause says what is wrong with the file (damaged, not a store, no permission).
    if (auto cause = error->underlyingError()) {
      std::string detail = cause->localizedDescription();
      if (!detail.empty() && detail != reason) text += " " + detail + ".";
    }
  }
  return text;
}

FoldersController* MainInterface::foldersController() const {
  auto* library = dynamic_cast<LibrarySidebarPane*>(sidebar_.get());
  return library ? &library->sidebar().foldersController() : nullptr;
}

bool MainInterface::presentStoreFailureIfAny(std::function<void()> opened) {
  auto& stack = WrenDataManager::sharedInstance();
  if (stack.managedObjectContext()) return false;
  if (!AlertPresenter::shared()) AlertPresenter::setShared(std::make_shared<DialogAlertPresenter>());
  AppStartup::presentStoreFailure(storeFailureMessage(stack.lastError()), std::move(opened));
  return true;
}

void MainInterface::construct() {
  // Centred on the screen's visible area; the layout below is for the full size and the
  // autoresizing masks take it to the size that fits.
  window_ = std::make_unique<ui::Window>(fnd::Rect(0, 0, kWindowWidth, kWindowHeight));
  window_->setTitle("Kesto");
  window_->setMinSize(fnd::Size{900, 500});
  auto content = std::make_shared<MainWindowDropView>(fnd::Rect(0, 0, kWindowWidth, kWindowHeight));
  dropView_ = content;
  content->setBackgroundColor(ui::Color::white(0.9));
  window_->setContentView(content);

  dataManager_ = std::make_unique<DataManager>();
  preferences_ = std::make_unique<PreferencesController>();
  // The menu-bar window, with the bookmark list as its content.
  menuSearchIndex_ = std::make_unique<BookmarkSearchIndex>();
  menuBookmarks_ = std::make_unique<MenuBookmarksController>();
  menuWindow_ = std::make_unique<MenuBarWindow>();
  menuWindow_->setTitle("Kesto Bookmarks");
  // The list comes laid out at the least size that shows every control of both its tabs whole:
  // narrower cuts off Open Kesto and Edit…, lower hides the quick edit's first rows.
  menuWindow_->setContentMinSize(menuBookmarks_->view()->frame().size);
  menuWindow_->setMenuContentView(menuBookmarks_->view());
  bookmarksController_ = std::make_unique<BookmarksController>();
  appDelegate_ = std::make_unique<AppDelegate>();
  sidebar_ = hasSidebarPaneFactory() ? makeSidebarPane() : std::make_unique<LibrarySidebarPane>();
  inspector_ = makeInspectorController();
  tutorials_ = std::make_unique<TutorialPopovers>();
  quickLookPanel_ = std::make_shared<PreviewPanel>();

  // Toolbar along the top.
  toolbar_ = std::make_shared<Toolbar>(fnd::Rect(0, kWindowHeight - kToolbarHeight, kWindowWidth, kToolbarHeight));
  toolbar_->setAutoresizingMask(View::WidthSizable | View::MinYMargin);
  toolbar_->awakeFromNib();
  content->addSubview(toolbar_);
  auto& bc = listViews_;
  bc.mainToolBar = toolbar_;
  bc.mainToolBarActivityIndicator = std::make_shared<View>(fnd::Rect(0, 0, 95, 40));
  auto progress = std::make_shared<SpinningIndicator>(fnd::Rect(10, 4, 32, 32));
  bc.mainToolBarActivityIndicator->addSubview(progress);
  // Sync sits beside the activity it starts.
  syncButton_ = button(bc.mainToolBarActivityIndicator, fnd::Rect(50, 4, 38, 32), "toolbar_sync", "Sync");
  syncWizard_ = std::make_unique<SyncWizard>();
  passwordRecovery_ = std::make_unique<PasswordRecovery>();
  skyfolderLink_ = std::make_unique<SkyFolderDataSource>();
  progress_ = progress;
  bc.mainToolbarButtonSet = std::make_shared<View>(fnd::Rect(0, 0, 200, 40));
  bc.addButton = button(bc.mainToolbarButtonSet, fnd::Rect(0, 4, 38, 32), "toolbar_add", "Add a bookmark");
  bc.openButton = button(bc.mainToolbarButtonSet, fnd::Rect(40, 4, 38, 32), "toolbar_open_in_browser", "Open");
  bc.quicklookButton = button(bc.mainToolbarButtonSet, fnd::Rect(80, 4, 38, 32), "toolbar_quicklook", "Preview");
  bc.updateButton = button(bc.mainToolbarButtonSet, fnd::Rect(120, 4, 38, 32), "toolbar_update", "Update");
  bc.trashButton = button(bc.mainToolbarButtonSet, fnd::Rect(160, 4, 38, 32), "toolbar_trash", "Move to Trash");
  bc.mainToolBarSearchView = std::make_shared<View>(fnd::Rect(0, 0, 460, 40));
  bc.searchField = std::make_shared<WrenSearchField>(fnd::Rect(0, 8, 300, 24));
  bc.mainToolBarSearchView->addSubview(bc.searchField);
  bc.searchInScopeField = std::make_shared<ui::SearchField>(fnd::Rect(308, 8, 150, 24));
  bc.mainToolBarSearchView->addSubview(bc.searchInScopeField);
  bc.mainToolbarEditInfo = std::make_shared<View>(fnd::Rect(0, 0, 225, 40));
  bc.editButton = button(bc.mainToolbarEditInfo, fnd::Rect(180, 4, 40, 32), "toolbar_info", "Edit");
  bc.foundBookmarksLabel = std::make_shared<LinkLabel>(fnd::Rect(0, 10, 175, 20));
  bc.mainToolbarEditInfo->addSubview(bc.foundBookmarksLabel);

  // The bottom border: counts and the mode buttons.
  bottomBar_ = std::make_shared<View>(fnd::Rect(0, 0, kWindowWidth, kBottomBarHeight));
  bottomBar_->setAutoresizingMask(View::WidthSizable | View::MaxYMargin);
  bottomBar_->setBackgroundColor(ui::Color::white(0.82));
  content->addSubview(bottomBar_);
  bc.thumbnailViewButton = button(bottomBar_, fnd::Rect(8, 3, 30, 24), "thumbnail_view", "Thumbnails");
  bc.listViewButton = button(bottomBar_, fnd::Rect(40, 3, 30, 24), "list_view", "Extended list");
  bc.textOnlyListViewButton = button(bottomBar_, fnd::Rect(72, 3, 30, 24), "new_list", "Compact list");
  bc.numberOfBookmarksLabel = std::make_shared<TextLabel>(fnd::Rect(kWindowWidth / 2 - 100, 6, 200, 18));
  bc.numberOfBookmarksLabel->setAlignment(ui::TextAlignment::Center);
  bc.numberOfBookmarksLabel->setAutoresizingMask(View::MinXMargin | View::MaxXMargin);
  bottomBar_->addSubview(bc.numberOfBookmarksLabel);
  bc.occurrencesLabel = std::make_shared<TextLabel>(fnd::Rect(kWindowWidth - 320, 6, 200, 18));
  bc.occurrencesLabel->setAutoresizingMask(View::MinXMargin);
  bottomBar_->addSubview(bc.occurrencesLabel);
  bc.folderSearchOnlyButton = std::make_shared<ui::Button>(fnd::Rect(kWindowWidth - 118, 3, 112, 24),
                                                          ui::Button::Kind::Checkbox);
  bc.folderSearchOnlyButton->setTitle("This list only");
  bc.folderSearchOnlyButton->setToolTip("Search only the bookmarks of the current list");
  bc.folderSearchOnlyButton->setAutoresizingMask(View::MinXMargin);
  bottomBar_->addSubview(bc.folderSearchOnlyButton);
  bc.folderSearchOnlyLabel = std::make_shared<TextLabel>(fnd::Rect(kWindowWidth - 118, 6, 0, 18));
  bc.folderSearchOnlyLabel->setAutoresizingMask(View::MinXMargin);
  bottomBar_->addSubview(bc.folderSearchOnlyLabel);
  search_ = std::make_unique<BookmarkSearch>();

  // The three panes between them.
  const double splitHeight = kWindowHeight - kToolbarHeight - kBottomBarHeight;
  auto sidebar = sidebar_->view();
  sidebar->setFrame(fnd::Rect(0, 0, kSidebarWidth, splitHeight));
  auto middle = std::make_shared<View>(fnd::Rect(0, 0, kWindowWidth - kSidebarWidth - kInspectorWidth, splitHeight));
  // The path of the folder shown, above the list.
  pathbar_ = std::make_shared<Pathbar>(
      fnd::Rect(0, splitHeight - kPathbarHeight, middle->frame().size.width, kPathbarHeight));
  pathbar_->setAutoresizingMask(View::WidthSizable | View::MinYMargin);
  middle->addSubview(pathbar_);
  collectionView_ = std::make_shared<TileCollectionView>(
      fnd::Rect(0, 0, middle->frame().size.width, splitHeight - kPathbarHeight));
  collectionView_->setAutoresizingMask(View::WidthSizable | View::HeightSizable);
  middle->addSubview(collectionView_);
  bc.noBookmarksLabel = std::make_shared<TextLabel>(fnd::Rect(0, splitHeight / 2 - 12, middle->frame().size.width, 24));
  bc.noBookmarksLabel->setAlignment(ui::TextAlignment::Center);
  bc.noBookmarksLabel->setTextColor(ui::Color::white(0.95));
  ui::Font big;
  big.pointSize = 16;
  bc.noBookmarksLabel->setFont(big);
  bc.noBookmarksLabel->setStringValue("No bookmarks");
  bc.noBookmarksLabel->setAutoresizingMask(View::WidthSizable | View::MinYMargin | View::MaxYMargin);
  bc.noBookmarksLabel->setHidden(true);
  middle->addSubview(bc.noBookmarksLabel);
  auto inspector = inspector_->view();
  inspector->setFrame(fnd::Rect(0, 0, kInspectorWidth, splitHeight));
  buildPanes(content, sidebar, middle, inspector, splitHeight);

  buildMainMenu();

  fnd::Rect visible = ui::Screen::main().isValid() ? ui::Screen::main().visibleFrame() : fnd::Rect();
  if (!visible.isEmpty()) {
    double w = std::min(kWindowWidth, visible.size.width - 40), h = std::min(kWindowHeight, visible.size.height - 60);
    window_->setFrame(fnd::Rect(visible.midX() - w / 2, visible.midY() - h / 2, w, h), false);
  }
}

void MainInterface::buildMainMenu() {
  // Items without a target go along the responder chain: the focused field or list, the
  // window, the list controller behind it, the application. Only what a receiver exists for is
  // enabled.
  mainMenu_ = std::make_shared<ui::Menu>();
  auto submenu = [&](const std::string& title) {
    auto menu = std::make_shared<ui::Menu>(title);
    mainMenu_->addItemWithTitle(title, {})->setSubmenu(menu);
    return menu;
  };
  auto file = submenu("File");
  addBookmarkFileItems(*file);
  if (auto* library = dynamic_cast<LibrarySidebarPane*>(sidebar_.get()))
    library->sidebar().foldersController().addMenuItems(*file);
  addSyncItems(*file);
  addLibraryTransferItems(*file);
  addMenuBarItem(*file, cmd::performClose);
  file->addItem(ui::MenuItem::separatorItem());
  addMenuBarItem(*file, cmd::terminate);
  auto edit = submenu("Edit");
  addMenuBarItem(*edit, cmd::undo);
  addMenuBarItem(*edit, cmd::redo);
  edit->addItem(ui::MenuItem::separatorItem());
  for (auto command : {cmd::cut, cmd::copy, cmd::paste, cmd::selectAll}) addMenuBarItem(*edit, command);
  addBookmarkEditItems(*edit);
  auto view = submenu("View");
  for (auto command : {cmd::selectThumbnailView, cmd::selectExtendedView, cmd::selectListView})
    addMenuBarItem(*view, command);
  viewMenuDelegate_ = std::make_unique<ModeMenuState>(*bookmarksController_);
  view->setDelegate(viewMenuDelegate_.get());
  addSearchItems(*view);
  addPreviewItems(*view);
  auto windowMenu = submenu("Window");
  addMenuBarItem(*windowMenu, cmd::performMiniaturize);
  auto help = submenu("Help");
  addHelpLinkItems(*help);
  addSettingsItems(*edit, *help);
  addMenuBarItem(*help, cmd::orderFrontStandardAboutPanel);

  ui::AboutPanelOptions about;
  about.applicationName = "Kesto";
#ifdef KESTO_VERSION
  about.version = KESTO_VERSION;
#endif
  about.iconName = "user-bookmarks";
  about.credits = "Your bookmarks, kept in one library.";
  auto& app = ui::Application::shared();
  app.setAboutPanelOptions(about);
  app.setMainMenu(mainMenu_);
  window_->setShowsMainMenu(true);
}

void MainInterface::addBookmarkFileItems(ui::Menu& file) {
  addMenuBarItem(file, cmd::add);
  file.addItem(ui::MenuItem::separatorItem());
}

void MainInterface::addBookmarkEditItems(ui::Menu& edit) {
  edit.addItem(ui::MenuItem::separatorItem());
  for (auto command : {cmd::copyBookmarkAddress, cmd::deleteBookmarks, cmd::putBackFromTrash})
    addMenuBarItem(edit, command);
  auto marks = std::make_unique<ServiceMarksMenuState>();
  marks->separator = ui::MenuItem::separatorItem();
  edit.addItem(marks->separator);
  for (auto command : {cmd::addToPinboard, cmd::removeFromPinboard, cmd::addToDelicious, cmd::removeFromDelicious})
    addMenuBarItem(edit, command);
  marks->menuNeedsUpdate(edit);
  edit.setDelegate(marks.get());
  editMenuDelegate_ = std::move(marks);
}

void MainInterface::addSettingsItems(ui::Menu& edit, ui::Menu& help) {
#ifdef KESTO_VERSION
  updateController_ = std::make_unique<UpdateController>(KESTO_VERSION);
#else
  updateController_ = std::make_unique<UpdateController>("0");
#endif
  updateController_->mainWindow = window_.get();
  // The preferences panel and the update check, sent to their controllers.
  settingsMenuTarget_ = std::make_unique<ui::ActionResponder>();
  auto* preferences = preferences_.get();
  auto* updates = updateController_.get();
  settingsMenuTarget_->actions()
      .add({cmd::showPreferences, {}, {}, ui::ModifierFlag::Command, nullptr,
            [preferences](ui::Responder*) { return preferences->showPreferencesPanel(), true; }})
      .add({cmd::checkForUpdates, {}, {}, ui::ModifierFlag::Command,
            [updates](ui::MenuItem&) { return !updates->isChecking(); },
            [updates](ui::Responder*) { return !updates->isChecking() && (updates->checkForUpdates(), true); }});
  edit.addItem(ui::MenuItem::separatorItem());
  addMenuBarItem(edit, cmd::showPreferences)->setTarget(settingsMenuTarget_.get());
  addMenuBarItem(help, cmd::checkForUpdates)->setTarget(settingsMenuTarget_.get());
}

void MainInterface::addLibraryTransferItems(ui::Menu& file) {
  // Answered by the application delegate at the end of the responder chain.
  addMenuBarItem(file, cmd::openImportDialog);
  addMenuBarItem(file, cmd::openExportDialog);
  file.addItem(ui::MenuItem::separatorItem());
  addMenuBarItem(file, cmd::openBackupDialog);
  addMenuBarItem(file, cmd::openRestoreDialog);
  file.addItem(ui::MenuItem::separatorItem());
}

void MainInterface::addSyncItems(ui::Menu& file) {
  // Sent to the engine; Sync Now waits while a run goes on.
  syncMenuTarget_ = std::make_unique<ui::ActionResponder>();
  syncMenuTarget_->actions()
      .add({cmd::syncFromButton, {}, {}, ui::ModifierFlag::Command,
            [](ui::MenuItem&) { return !Synchronizer::shared().isRunning(); },
            [](ui::Responder*) { return !Synchronizer::shared().isRunning() && (Synchronizer::shared().syncFromButton(), true); }})
      .add({cmd::openWizard, {}, {}, ui::ModifierFlag::Command, nullptr,
            [](ui::Responder*) { return Synchronizer::shared().runWizard(), true; }});
  addMenuBarItem(file, cmd::syncFromButton)->setTarget(syncMenuTarget_.get());
  addMenuBarItem(file, cmd::openWizard)->setTarget(syncMenuTarget_.get());
  file.addItem(ui::MenuItem::separatorItem());
}

void MainInterface::addHelpLinkItems(ui::Menu& help) {
  for (auto command : {cmd::showHelp, cmd::showImportMessageSheet, cmd::showExtensions, cmd::showYoutube,
                       cmd::showForum, cmd::showEULA})
    addMenuBarItem(help, command);
  help.addItem(ui::MenuItem::separatorItem());
  addMenuBarItem(help, cmd::turnOnTutorialPopups);
  help.addItem(ui::MenuItem::separatorItem());
}

void MainInterface::buildPanes(const std::shared_ptr<View>& content, const std::shared_ptr<View>& sidebar,
                               const std::shared_ptr<View>& list, const std::shared_ptr<View>& inspector,
                               double height) {
  // Folder list | (bookmark list | inspector). Each side pane keeps its width when the window
  // is resized, stays within its limits when its divider is dragged, and its width is kept in
  // user defaults for the next launch; the bookmark list takes the rest.
  auto folders = std::make_shared<KestoSplitViewVerticalSecondaryLeft>(
      fnd::Rect(0, kBottomBarHeight, kWindowWidth, height));
  folders->setDividerStyle(ui::SplitView::DividerStyle::Thin);
  folders->setAutoresizingMask(View::WidthSizable | View::HeightSizable);
  const double rightWidth = kWindowWidth - kSidebarWidth - folders->dividerThickness();
  listSplitView_ = std::make_shared<KestoSplitViewVerticalSecondaryRight>(fnd::Rect(0, 0, rightWidth, height));
  listSplitView_->setDividerStyle(ui::SplitView::DividerStyle::Thin);
  // The inspector's own split view: it holds the inspector pane, and the application delegate
  // hears its events.
  inspectorSplitView_ = std::make_shared<FlexSplitView>(fnd::Rect(0, 0, kInspectorWidth, height));
  inspectorSplitView_->setVertical(false);
  inspector->setFrame(inspectorSplitView_->bounds());
  inspector->setAutoresizingMask(View::WidthSizable | View::HeightSizable);
  inspectorSplitView_->addSubview(inspector);
  inspectorSplitView_->reset();
  list->setFrameSize(fnd::Size{rightWidth - kInspectorWidth - listSplitView_->dividerThickness(), height});
  listSplitView_->addSubview(list);
  listSplitView_->addSubview(inspectorSplitView_);
  folders->addSubview(sidebar);
  folders->addSubview(listSplitView_);
  content->addSubview(folders);
  splitView_ = folders;
  // The bottom bar's button folds the folder list away and brings it back at its width.
  foldersCollapseButton_ = button(bottomBar_, fnd::Rect(110, 3, 30, 24), "collapse_right", "Hide or show the folders");
  std::weak_ptr<KestoSplitViewVerticalSecondaryLeft> weakFolders = folders;
  std::weak_ptr<PushButton> weakButton = foldersCollapseButton_;
  foldersCollapseButton_->setAction([weakFolders, weakButton] {
    auto split = weakFolders.lock();
    if (!split) return;
    split->collapseSecondaryPane();
    if (auto b = weakButton.lock()) b->setImageNamed(split->collapsed() ? "collapse_left" : "collapse_right");
  });
  // The list's orders, as in the preferences: beside the pane buttons.
  SortBottomBarButtons sort;
  double x = 146;
  for (auto [slot, image, tip] : {std::tuple{&sort.ratingBottomBar, "rating_desc", "Highest rated first"},
                                  std::tuple{&sort.visitedBottomBar, "visited_desc", "Most visited first"},
                                  std::tuple{&sort.favoriteBottomBar, "favorite_desc", "Favorites first"},
                                  std::tuple{&sort.titleBottomBar, "title_asc", "By title"},
                                  std::tuple{&sort.dateAscBottomBar, "date_asc", "Oldest first"},
                                  std::tuple{&sort.dateDescBottomBar, "date_desc", "Newest first"}}) {
    *slot = button(bottomBar_, fnd::Rect(x, 3, 30, 24), image, tip);
    x += 32;
  }
  preferences_->setSortButtons(std::move(sort));
  // Its twin at the right end folds the inspector away and brings it back.
  editorCollapseButton_ = button(bottomBar_, fnd::Rect(kWindowWidth - 150, 3, 30, 24), "collapse_left",
                                 "Hide or show the inspector");
  editorCollapseButton_->setAutoresizingMask(View::MinXMargin);
  folders->setDidResizeHandler(
      [] { fnd::NotificationCenter::defaultCenter().postNotificationName(BRWResizedFoldersViewNotification); });
  // As an interface file's views wake once loaded: the remembered widths are applied here.
  folders->awakeFromNib();
  listSplitView_->awakeFromNib();
  // Laid out by their own rules (the side panes at their widths, the list taking the rest).
  folders->resizeSubviewsWithOldSize(folders->frame().size);
  listSplitView_->resizeSubviewsWithOldSize(listSplitView_->frame().size);
}

void MainInterface::addPreviewItems(ui::Menu& view) {
  view.addItem(ui::MenuItem::separatorItem());
  // The list answers with the selection; the application hides and shows the inspector.
  addMenuBarItem(view, cmd::togglePreviewPanel);
  addMenuBarItem(view, cmd::toggleInspector);
}

void MainInterface::addSearchItems(ui::Menu& view) {
  view.addItem(ui::MenuItem::separatorItem());
  addMenuBarItem(view, cmd::find)->setTarget(search_.get());
  addMenuBarItem(view, cmd::findInScope)->setTarget(search_.get());
}

void MainInterface::connect() {
  auto& bc = *bookmarksController_;
  listViews_.collectionView = collectionView_;
  bc.wire({dataManager_.get(), preferences_.get(), tutorials_.get(), quickLookPanel_, listViews_});
  // The toolbar and the bottom bar's buttons run the list's own actions, as its menu items do.
  const std::pair<std::shared_ptr<PushButton>&, ui::Command> buttons[] = {
      {listViews_.thumbnailViewButton, cmd::selectThumbnailView},
      {listViews_.listViewButton, cmd::selectExtendedView},
      {listViews_.textOnlyListViewButton, cmd::selectListView},
      {listViews_.openButton, cmd::openSelectedBookmarks},
      {listViews_.addButton, cmd::add},
      {listViews_.trashButton, cmd::deleteBookmarks},
      {listViews_.updateButton, cmd::updateWebContentForSelectedBookmarks},
      {listViews_.quicklookButton, cmd::togglePreviewPanel},
  };
  for (const auto& [b, command] : buttons) {
    auto* sender = b.get();
    b->setAction([&bc, command = command, sender] { bc.actions().perform(command, sender); });
  }
  sidebar_->setDataManager(dataManager_.get());
  if (auto* library = dynamic_cast<LibrarySidebarPane*>(sidebar_.get())) {
    library->sidebar().setWindow(window_.get());
    library->sidebar().setTutorials(tutorials_.get());
    library->sidebar().foldersController().setPathbar(pathbar_.get());
    inspector_->setFoldersController(&library->sidebar().foldersController());
  }
  inspector_->setDataManager(dataManager_.get());
  inspector_->setThumbnailActions([&bc] { bc.updateThumbnailManually(); }, [&bc] { bc.deleteManualThumbnail(); });
  search_->wire(&bc, dataManager_.get(), window_.get());
  search_->onLibraryWideSearch = [this](bool wholeLibrary) {
    if (auto* folders = foldersController()) folders->setLibraryWideSearch(wholeLibrary);
  };
  auto& app = *appDelegate_;
  auto* wizard = syncWizard_.get();
  app.wire({window_.get(), bookmarksController_.get(), dataManager_.get(), preferences_.get(), progress_, bottomBar_,
            menuWindow_.get(), menuBookmarks_.get(), nullptr, editorCollapseButton_, listSplitView_.get(),
            [wizard] { wizard->openWizard(); }});
  preferences_->wire(dataManager_.get(), appDelegate_.get());
  // The Services pane connects and disconnects as the folder list's service rows do.
  preferences_->setServiceAccountActions(
      {[](const std::string& service, const std::string& user, const std::string& password,
          std::function<void(bool)> done) {
         if (auto* accounts = ServiceAccounts::installed()) accounts->connect(service, user, password, std::move(done));
         else if (done) done(false);
       },
       [this](const std::string& service) {
         if (auto* folders = foldersController()) folders->disconnectFromService(service);
       }});
  auto& menu = *menuBookmarks_;
  menu.kestoData = dataManager_.get();
  // The library's prepared search answers each keystroke without a store query.
  menu.searchFunction = [this](const std::vector<std::string>& words, const MenuSearchFields& f, std::size_t limit) {
    return menuSearchIndex_->search(*dataManager_, words, SearchFields{f.title, f.url, f.notes, f.tags, f.folders}, limit);
  };
  menu.webSearchAddress = [](const std::string& text) { return webSearchAddress(text); };
  editorCollapseButton_->setAction([&app] { app.toggleInspector(); });
  // The toolbar's Edit button brings the inspector into view.
  listViews_.editButton->setAction([&app] {
    if (app.inspectorHidden()) app.setInspectorHidden(false);
  });
  // An inspector hidden at the last quit stays hidden.
  if (fnd::UserDefaults::standard().boolForKey("editorCollapsed")) app.setInspectorHidden(true);
  app.updateEditorCollapseButton();
  window_->setDelegate(appDelegate_.get());
  inspectorSplitView_->setEventsDelegate(appDelegate_.get());
  dropView_->setIntake([&app](const std::string& text) { app.addPinUrlFromString(text); });
  // Sync: the engine, its button, its wizard and what it asks of the application.
  auto* link = skyfolderLink_.get();
  wizard->skyfolderLinkButtonServer = [link](const std::shared_ptr<ui::Button>& b) {
    connectSkyfolderLinkButton(*link, b);
  };
  auto* preferences = preferences_.get();
  wizard->preferencesChanged = [preferences] {
    preferences->readPreferences();
    preferences->updatePreferencesPanelValues();
  };
  auto& sync = Synchronizer::shared();
  sync.setDataManager(dataManager_.get());
  sync.setHost(app.syncHost());
  sync.setSyncButton([button = std::weak_ptr<PushButton>(syncButton_)](bool syncing) {
    auto b = button.lock();
    if (!b) return;
    b->setEnabled(!syncing);
    b->setImageNamed(syncing ? "toolbar_sync_selected" : "toolbar_sync");
  });
  syncButton_->setAction([] { Synchronizer::shared().syncFromButton(); });
  ui::Application::shared().setDelegate(appDelegate_.get());
}

void MainInterface::awake(const std::function<void(MainInterface&)>& beforeLoading) {
  preferences_->awakeFromNib();
  sidebar_->awakeFromNib();
  inspector_->awakeFromNib();
  bookmarksController_->awakeFromNib();
  search_->awakeFromNib();
  Synchronizer::shared().awakeFromNib();
  passwordRecovery_->awakeFromNib();
  skyfolderLink_->initSkyFolder();
  menuBookmarks_->awakeFromNib();
  window_->makeFirstResponder(collectionView_.get());
  if (beforeLoading) beforeLoading(*this);
  // Last: this starts the first load, whose notifications the controllers above now observe.
  dataManager_->awakeFromNib();
}

}  // namespace kesto
