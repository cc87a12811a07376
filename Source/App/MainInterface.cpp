#include "App/MainInterface.h"

#include "App/AppDelegate.h"
#include "App/BookmarksController.h"
#include "App/PaneControllers.h"
#include "App/TilePinView.h"
#include "Model/DataManager.h"
#include "Model/WrenDataManager.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/UI/Application.h"
#include "Platform/UI/Menu.h"
#include "Platform/UI/Screen.h"
#include "Platform/UI/SplitView.h"
#include "Platform/UI/Window.h"
#include "Views/DialogAlertPresenter.h"
#include "Views/PrioritySplitViewDelegate.h"
#include "Views/PushButton.h"
#include "Views/SpinningIndicator.h"
#include "Views/TextLabel.h"
#include "Views/TileCollectionView.h"
#include "Views/WebImageView.h"

#include <algorithm>

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
    auto mark = [&](const char* action, bool on) {
      for (const auto& item : menu.items())
        if (item->action() == action) item->setState(on ? ui::ControlState::On : ui::ControlState::Off);
    };
    mark("selectThumbnailView:", controller_.thumbnailViewMenuItem.on);
    mark("selectExtendedView:", controller_.extendedViewMenuItem.on);
    mark("selectListView:", controller_.listViewMenuItem.on);
  }

 private:
  BookmarksController& controller_;
};

}  // namespace

MainInterface::MainInterface() = default;

MainInterface::~MainInterface() {
  auto& app = ui::Application::shared();
  if (app.delegate() == appDelegate_.get()) app.setDelegate(nullptr);
  if (window_) window_->setDelegate(nullptr);
  if (splitView_) splitView_->setDelegate(nullptr);
  // The controllers go before the views they observe.
  if (mainMenu_)
    if (auto view = mainMenu_->itemWithTitle("View"); view && view->submenu()) view->submenu()->setDelegate(nullptr);
  appDelegate_.reset();
  bookmarksController_.reset();
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

bool MainInterface::presentStoreFailureIfAny() {
  auto& stack = WrenDataManager::sharedInstance();
  if (stack.managedObjectContext()) return false;
  if (!AlertPresenter::shared()) AlertPresenter::setShared(std::make_shared<DialogAlertPresenter>());
  AlertPresenter::ask("The library cannot be opened", storeFailureMessage(stack.lastError()), {"Quit"},
                      [](int) { ui::Application::shared().terminate(); });
  return true;
}

void MainInterface::construct() {
  // Centred on the screen's visible area; the layout below is for the full size and the
  // autoresizing masks take it to the size that fits.
  window_ = std::make_unique<ui::Window>(fnd::Rect(0, 0, kWindowWidth, kWindowHeight));
  window_->setTitle("Kesto");
  window_->setMinSize(fnd::Size{900, 500});
  auto content = std::make_shared<View>(fnd::Rect(0, 0, kWindowWidth, kWindowHeight));
  content->setBackgroundColor(ui::Color::white(0.9));
  window_->setContentView(content);

  dataManager_ = std::make_unique<DataManager>();
  preferences_ = std::make_unique<PreferencesController>();
  bookmarksController_ = std::make_unique<BookmarksController>();
  appDelegate_ = std::make_unique<AppDelegate>();
  sidebar_ = makeSidebarController();
  inspector_ = makeInspectorController();

  // Toolbar along the top.
  toolbar_ = std::make_shared<Toolbar>(fnd::Rect(0, kWindowHeight - kToolbarHeight, kWindowWidth, kToolbarHeight));
  toolbar_->setAutoresizingMask(View::WidthSizable | View::MinYMargin);
  content->addSubview(toolbar_);
  auto& bc = *bookmarksController_;
  bc.mainToolBar = toolbar_;
  bc.mainToolBarActivityIndicator = std::make_shared<View>(fnd::Rect(0, 0, 135, 40));
  auto progress = std::make_shared<SpinningIndicator>(fnd::Rect(10, 4, 32, 32));
  bc.mainToolBarActivityIndicator->addSubview(progress);
  appDelegate_->progress = progress;
  bc.mainToolbarButtonSet = std::make_shared<View>(fnd::Rect(0, 0, 200, 40));
  bc.addButton = button(bc.mainToolbarButtonSet, fnd::Rect(0, 4, 38, 32), "toolbar_add", "Add a bookmark");
  bc.openButton = button(bc.mainToolbarButtonSet, fnd::Rect(40, 4, 38, 32), "toolbar_open_in_browser", "Open");
  bc.quicklookButton = button(bc.mainToolbarButtonSet, fnd::Rect(80, 4, 38, 32), "toolbar_quicklook", "Quick Look");
  bc.updateButton = button(bc.mainToolbarButtonSet, fnd::Rect(120, 4, 38, 32), "toolbar_update", "Update");
  bc.trashButton = button(bc.mainToolbarButtonSet, fnd::Rect(160, 4, 38, 32), "toolbar_trash", "Move to Trash");
  bc.mainToolBarSearchView = std::make_shared<View>(fnd::Rect(0, 0, 460, 40));
  bc.searchField = std::make_shared<TextLabel>(fnd::Rect(0, 8, 300, 24));
  bc.searchField->setBackgroundColor(ui::Color::white(1.0));
  bc.searchField->setCornerRadius(4);
  bc.mainToolBarSearchView->addSubview(bc.searchField);
  bc.searchInScopeField = std::make_shared<TextLabel>(fnd::Rect(308, 8, 150, 24));
  bc.searchInScopeField->setBackgroundColor(ui::Color::white(1.0));
  bc.searchInScopeField->setCornerRadius(4);
  bc.mainToolBarSearchView->addSubview(bc.searchInScopeField);
  bc.mainToolbarEditInfo = std::make_shared<View>(fnd::Rect(0, 0, 185, 40));
  bc.editButton = button(bc.mainToolbarEditInfo, fnd::Rect(140, 4, 40, 32), "toolbar_info", "Edit");
  bc.foundBookmarksLabel = std::make_shared<TextLabel>(fnd::Rect(0, 10, 135, 20));
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
  bc.folderSearchOnlyLabel = std::make_shared<TextLabel>(fnd::Rect(kWindowWidth - 120, 6, 110, 18));
  bc.folderSearchOnlyLabel->setAutoresizingMask(View::MinXMargin);
  bottomBar_->addSubview(bc.folderSearchOnlyLabel);
  bc.folderSearchOnlyButton = button(bottomBar_, fnd::Rect(kWindowWidth - 150, 3, 26, 24), "folder_search", "");
  bc.folderSearchOnlyButton->setAutoresizingMask(View::MinXMargin);

  // The three panes between them.
  const double splitHeight = kWindowHeight - kToolbarHeight - kBottomBarHeight;
  splitView_ = std::make_shared<ui::SplitView>(fnd::Rect(0, kBottomBarHeight, kWindowWidth, splitHeight));
  splitView_->setVertical(true);
  splitView_->setDividerStyle(ui::SplitView::DividerStyle::Thin);
  splitView_->setAutoresizingMask(View::WidthSizable | View::HeightSizable);
  content->addSubview(splitView_);
  auto sidebar = sidebar_->view();
  sidebar->setFrame(fnd::Rect(0, 0, kSidebarWidth, splitHeight));
  auto middle = std::make_shared<View>(fnd::Rect(0, 0, kWindowWidth - kSidebarWidth - kInspectorWidth, splitHeight));
  collectionView_ = std::make_shared<TileCollectionView>(middle->bounds());
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
  splitView_->addSubview(sidebar);
  splitView_->addSubview(middle);
  splitView_->addSubview(inspector);
  splitViewDelegate_ = std::make_unique<PrioritySplitViewDelegate>();
  // The list takes every change of width; the side panes keep theirs.
  splitViewDelegate_->setPriority(0, 1);
  splitViewDelegate_->setPriority(1, 2);
  splitViewDelegate_->setPriority(2, 0);
  splitViewDelegate_->setMinimumLength(160, 0);
  splitViewDelegate_->setMinimumLength(300, 1);
  splitViewDelegate_->setMinimumLength(200, 2);
  splitView_->setDelegate(splitViewDelegate_.get());
  splitView_->adjustSubviews();

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
    mainMenu_->addItemWithTitle(title, "")->setSubmenu(menu);
    return menu;
  };
  auto file = submenu("File");
  addBookmarkFileItems(*file);
  file->addItemWithTitle("Close Window", "performClose:", "w");
  file->addItem(ui::MenuItem::separatorItem());
  file->addItemWithTitle("Quit Kesto", "terminate:", "q");
  auto edit = submenu("Edit");
  edit->addItemWithTitle("Undo", "undo:", "z");
  edit->addItemWithTitle("Redo", "redo:", "Z");
  edit->addItem(ui::MenuItem::separatorItem());
  edit->addItemWithTitle("Cut", "cut:", "x");
  edit->addItemWithTitle("Copy", "copy:", "c");
  edit->addItemWithTitle("Paste", "paste:", "v");
  edit->addItemWithTitle("Select All", "selectAll:", "a");
  addBookmarkEditItems(*edit);
  auto view = submenu("View");
  view->addItemWithTitle("Thumbnails", "selectThumbnailView:", "1");
  view->addItemWithTitle("Extended List", "selectExtendedView:", "2");
  view->addItemWithTitle("Compact List", "selectListView:", "3");
  viewMenuDelegate_ = std::make_unique<ModeMenuState>(*bookmarksController_);
  view->setDelegate(viewMenuDelegate_.get());
  auto windowMenu = submenu("Window");
  windowMenu->addItemWithTitle("Minimize", "performMiniaturize:", "m");
  auto help = submenu("Help");
  help->addItemWithTitle("About Kesto", "orderFrontStandardAboutPanel:");

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
  file.addItemWithTitle("New Bookmark…", "add:", "n");
  file.addItem(ui::MenuItem::separatorItem());
}

void MainInterface::addBookmarkEditItems(ui::Menu& edit) {
  edit.addItem(ui::MenuItem::separatorItem());
  edit.addItemWithTitle("Copy Link", "copyBookmarkAddress:");
  edit.addItemWithTitle("Delete", "deleteBookmarks:");
  edit.addItemWithTitle("Put Back from Trash", "putBackFromTrash:");
}

void MainInterface::connect() {
  auto& bc = *bookmarksController_;
  bc.kestoCollectionView = collectionView_;
  bc.kestoData = dataManager_.get();
  bc.kestoPreferences = preferences_.get();
  bc.thumbnailViewButton->setAction([&bc] { bc.selectThumbnailView(); });
  bc.listViewButton->setAction([&bc] { bc.selectExtendedView(); });
  bc.textOnlyListViewButton->setAction([&bc] { bc.selectListView(); });
  bc.openButton->setAction([&bc] { bc.openSelectedBookmarks(); });
  bc.addButton->setAction([&bc] { bc.add(); });
  bc.trashButton->setAction([&bc] { bc.deleteBookmarks(); });
  sidebar_->setDataManager(dataManager_.get());
  auto& app = *appDelegate_;
  app.window = window_.get();
  app.bookmarksController = bookmarksController_.get();
  app.kestoData = dataManager_.get();
  app.kestoPreferences = preferences_.get();
  app.bottomBar = bottomBar_;
  window_->setDelegate(appDelegate_.get());
  ui::Application::shared().setDelegate(appDelegate_.get());
}

void MainInterface::awake(const std::function<void(MainInterface&)>& beforeLoading) {
  sidebar_->awakeFromNib();
  inspector_->awakeFromNib();
  bookmarksController_->awakeFromNib();
  window_->makeFirstResponder(collectionView_.get());
  if (beforeLoading) beforeLoading(*this);
  // Last: this starts the first load, whose notifications the controllers above now observe.
  dataManager_->awakeFromNib();
}

}  // namespace kesto
