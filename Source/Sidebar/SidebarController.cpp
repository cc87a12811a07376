#include "Sidebar/SidebarController.h"

#include "Platform/UI/ApplicationMain.h"

#include "Sidebar/TutorialPopovers.h"

#include "Model/ViewUpdater.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/RunLoop.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/UI/Button.h"
#include "Platform/UI/Label.h"
#include "Platform/UI/View.h"
#include "Sidebar/FoldersController.h"
#include "Sidebar/SidebarKeys.h"
#include "Sidebar/ViewManager.h"
#include "Views/ImageNamed.h"

namespace kesto {

namespace {

struct TabSpec {
  const char* identifier;
  const char* selectedView;
  const char* title;
  const char* image;
};

const std::array<TabSpec, SidebarController::kTabCount>& tabs() {
  static const std::array<TabSpec, SidebarController::kTabCount> specs{{
      {"foldersTab", SelectedLibraryView, "Folders", "folder_library"},
      {"tagsTab", SelectedTagsView, "Tags", "sourcelist_tags"},
      {"historyTab", SelectedHistoryView, "History", "sourcelist_week"},
      {"popularTab", SelectedPopularView, "Popular", "sourcelist_top25"},
      {"maintenanceTab", SelectedMaintenanceView, "Maintenance", "sourcelist_broken"},
      {"trashTab", SelectedTrashView, "Trash", "sourcelist_empty_trash"},
  }};
  return specs;
}

std::array<SidebarTabFactory, SidebarController::kTabCount>& tabFactories() {
  static std::array<SidebarTabFactory, SidebarController::kTabCount> factories;
  return factories;
}

// Stands in for a list whose controller is not registered: says which list it is, nothing more.
class PlaceholderTab : public SidebarTabContent {
 public:
  explicit PlaceholderTab(const std::string& title) : view_(std::make_shared<ui::View>(fnd::Rect(0, 0, 220, 400))) {
    view_->setBackgroundColor(ui::Color::white(0.93));
    auto label = std::make_shared<ui::Label>(fnd::Rect(10, 360, 200, 20), title);
    label->setTextColor(ui::Color::white(0.5));
    label->setAutoresizingMask(ui::View::WidthSizable | ui::View::MinYMargin);
    view_->addSubview(label);
  }
  std::shared_ptr<ui::View> view() override { return view_; }

 private:
  std::shared_ptr<ui::View> view_;
};

}  // namespace

void registerSidebarTab(int index, SidebarTabFactory factory) {
  if (index < 1 || index >= SidebarController::kTabCount) return;
  tabFactories()[static_cast<size_t>(index)] = std::move(factory);
}

const std::array<const char*, SidebarController::kTabCount>& SidebarController::tabIdentifiers() {
  static const std::array<const char*, kTabCount> ids = [] {
    std::array<const char*, kTabCount> out{};
    for (size_t i = 0; i < out.size(); ++i) out[i] = tabs()[i].identifier;
    return out;
  }();
  return ids;
}

SidebarController::SidebarController() {
  const double w = 220, h = 600;
  view_ = std::make_shared<ui::View>(fnd::Rect(0, 0, w, h));
  view_->setBackgroundColor(ui::Color::white(0.93));
  folders_ = std::make_unique<FoldersController>();
  tabViews_[0] = folders_->view();
  for (size_t i = 1; i < kTabCount; ++i) {
    auto& factory = tabFactories()[i];
    contents_[i] = factory ? factory() : nullptr;
    if (!contents_[i]) contents_[i] = std::make_unique<PlaceholderTab>(tabs()[i].title);
    tabViews_[i] = contents_[i]->view();
  }
  for (size_t i = 0; i < kTabCount; ++i) {
    auto& spec = tabs()[i];
    auto button = std::make_shared<ui::Button>(fnd::Rect(), ui::Button::Kind::OnOff);
    button->setImage(imageNamed(spec.image));
    button->setToolTip(spec.title);
    button->setTag(static_cast<int>(i) + 1);
    ui::Button* raw = button.get();
    button->setAction([this, raw] { toggleSelection(*raw); });
    buttons_[i] = button;
    view_->addSubview(button);
    tabViews_[i]->setHidden(true);
    view_->addSubview(tabViews_[i]);
  }
  layout();
}

SidebarController::~SidebarController() {
  fnd::RunLoop::cancelPreviousPerformRequests(this);
  fnd::NotificationCenter::defaultCenter().removeObserver(this);
}

void SidebarController::layout() {
  const auto size = view_->frame().size;
  const double buttonWidth = size.width / kTabCount;
  for (size_t i = 0; i < kTabCount; ++i) {
    buttons_[i]->setFrame(fnd::Rect(i * buttonWidth + 1, size.height - kTabBarHeight + 2, buttonWidth - 2, kTabBarHeight - 4));
    buttons_[i]->setAutoresizingMask(ui::View::MinYMargin | ui::View::MinXMargin | ui::View::MaxXMargin);
    tabViews_[i]->setFrame(fnd::Rect(0, 0, size.width, size.height - kTabBarHeight));
    tabViews_[i]->setAutoresizingMask(ui::View::WidthSizable | ui::View::HeightSizable);
  }
}

std::shared_ptr<ui::View> SidebarController::folderSearchView() const { return folders_->searchView(); }

void SidebarController::setDataManager(DataManager* dataManager) {
  dataManager_ = dataManager;
  folders_->setDataManager(dataManager);
  for (auto& c : contents_)
    if (c) c->setDataManager(dataManager);
}

void SidebarController::setWindow(ui::Window* window) { folders_->setWindow(window); }

void SidebarController::awakeFromNib() {
  auto& center = fnd::NotificationCenter::defaultCenter();
  center.addObserver(this, [this](const fnd::Notification&) { selectFolders(); }, SelectFoldersViewNotification);
  center.addObserver(this, [this](const fnd::Notification&) { selectStartupView(); }, SelectCurrentSidebarViewNotification);
  folders_->awakeFromNib();
  for (auto& c : contents_)
    if (c) c->awakeFromNib();
  restoreStartupViewWhenLoaded();
}

void SidebarController::restoreStartupViewWhenLoaded() {
  // Once the interface is loaded: on the main loop's first turn after the window's first frame
  // (not while the start waits for that frame), when the first load has begun. A fixed wait only
  // held the first list back.
  fnd::RunLoop::main().performAfterDelay(ui::isWaitingForFirstFrame() ? 0.01 : 0, [this] {
    if (ui::isWaitingForFirstFrame()) return restoreStartupViewWhenLoaded();
    selectStartupView();
  }, this);
}

void SidebarController::selectStartupView() {
  const std::string stored = fnd::UserDefaults::standard().stringForKey(SelectedView).value_or(SelectedLibraryView);
  for (size_t i = 1; i < kTabCount; ++i)
    if (stored == tabs()[i].selectedView) {
      buttons_[i]->performClick();
      return;
    }
  selectFolders();
}

void SidebarController::selectFolders() { buttons_[0]->performClick(); }
void SidebarController::selectTags() { buttons_[1]->performClick(); }
void SidebarController::selectHistory() { buttons_[2]->performClick(); }
void SidebarController::selectPopulars() { buttons_[3]->performClick(); }
void SidebarController::selectMaintenance() { buttons_[4]->performClick(); }
void SidebarController::selectTrash() { buttons_[5]->performClick(); }

void SidebarController::setAllStatesOff() {
  for (auto& b : buttons_) b->setState(0);
}

void SidebarController::toggleSelection(ui::Button& sender) {
  setAllStatesOff();
  sender.setState(1);
  // Choosing the tags list explains it until its tutorial is closed, before the list fills. It
  // opens beside the sidebar, at the height of the tab, so it hides none of the sidebar's rows.
  if (sender.tag() == 2 && tutorials_) {
    fnd::Rect tab = sender.convertRectToView(sender.bounds(), view_.get());
    tutorials_->placeOpened(TutorialPopovers::Tutorial::Tags,
                            {view_.get(), fnd::Rect(0, tab.origin.y, view_->bounds().size.width, tab.size.height),
                             PopoverArrow::Right});
  }
  executeSelection(sender.tag());
}

void SidebarController::setTutorials(TutorialPopovers* tutorials) {
  tutorials_ = tutorials;
  folders_->setTutorials(tutorials);
}

void SidebarController::clearUIStuff() {
  ViewUpdater::hideMessage();
  ViewUpdater::clearBookmarks();
  ViewUpdater::clearSearchField();
}

void SidebarController::executeSelection(int tag) {
  clearUIStuff();
  if (tag < 1 || tag > kTabCount) return;
  const size_t index = static_cast<size_t>(tag - 1);
  for (size_t i = 0; i < kTabCount; ++i) tabViews_[i]->setHidden(i != index);
  selectedTab_ = tabs()[index].identifier;
  ViewManager::sharedInstance().setCurrentView(static_cast<std::int64_t>(index));
  // Stored before the refresh: each list refreshes only while SelectedView names it.
  fnd::UserDefaults::standard().setString(tabs()[index].selectedView, SelectedView);
  // The path bar names folders only: the other lists show no folder.
  if (index != 0) ViewUpdater::clearPathBar();
  switch (index) {
    case 0: ViewUpdater::updateFoldersCompletely(); break;
    case 1:
      ViewUpdater::resetTags();
      ViewUpdater::updateTags();
      break;
    case 2: ViewUpdater::updateHistory(); break;
    case 3: ViewUpdater::updatePopulars(); break;
    case 4: ViewUpdater::updateMaintenance(); break;
    default: ViewUpdater::updateTrash(); break;
  }
  folderSearchView()->setHidden(index != 0);
}

}  // namespace kesto
