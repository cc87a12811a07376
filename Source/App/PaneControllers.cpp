#include "App/PaneControllers.h"

#include "Model/DataManager.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/UI/View.h"

namespace kesto {

namespace {

class EmptySidebarController : public SidebarController {
 public:
  EmptySidebarController() : view_(std::make_shared<ui::View>()) {
    view_->setBackgroundColor(ui::Color::white(0.93));
  }
  ~EmptySidebarController() override { fnd::NotificationCenter::defaultCenter().removeObserver(this); }
  std::shared_ptr<ui::View> view() override { return view_; }
  void setDataManager(DataManager* dataManager) override { dataManager_ = dataManager; }
  void awakeFromNib() override {
    // With no lists to choose from, the library is the collection shown.
    fnd::NotificationCenter::defaultCenter().addObserver(
        this,
        [this](const fnd::Notification&) {
          if (!dataManager_ || dataManager_->currentFolder() || dataManager_->loadingFromTags() ||
              dataManager_->isSearching())
            return;
          dataManager_->loadAllBookmarksInLibrary();
        },
        UpdateFoldersNotification);
  }

 private:
  std::shared_ptr<ui::View> view_;
  DataManager* dataManager_ = nullptr;
};

class EmptyInspectorController : public InspectorController {
 public:
  EmptyInspectorController() : view_(std::make_shared<ui::View>()) {
    view_->setBackgroundColor(ui::Color::white(0.96));
  }
  std::shared_ptr<ui::View> view() override { return view_; }

 private:
  std::shared_ptr<ui::View> view_;
};

}  // namespace

std::unique_ptr<SidebarController> makeEmptySidebarController() { return std::make_unique<EmptySidebarController>(); }
std::unique_ptr<InspectorController> makeEmptyInspectorController() {
  return std::make_unique<EmptyInspectorController>();
}

namespace {
std::function<std::unique_ptr<SidebarController>()>& sidebarFactory() {
  static std::function<std::unique_ptr<SidebarController>()> factory;
  return factory;
}
std::function<std::unique_ptr<InspectorController>()>& inspectorFactory() {
  static std::function<std::unique_ptr<InspectorController>()> factory;
  return factory;
}
}  // namespace

void registerSidebarControllerFactory(std::function<std::unique_ptr<SidebarController>()> factory) {
  sidebarFactory() = std::move(factory);
}

void registerInspectorControllerFactory(std::function<std::unique_ptr<InspectorController>()> factory) {
  inspectorFactory() = std::move(factory);
}

std::unique_ptr<SidebarController> makeSidebarController() {
  auto made = sidebarFactory() ? sidebarFactory()() : nullptr;
  return made ? std::move(made) : makeEmptySidebarController();
}

std::unique_ptr<InspectorController> makeInspectorController() {
  auto made = inspectorFactory() ? inspectorFactory()() : nullptr;
  return made ? std::move(made) : makeEmptyInspectorController();
}

bool PreferencesController::skipDuplicates() const { return fnd::UserDefaults::standard().boolForKey("skipDuplicates"); }

bool PreferencesController::checkDuplicates() const {
  auto& defaults = fnd::UserDefaults::standard();
  return defaults.hasValueForKey("CheckDuplicates") ? defaults.boolForKey("CheckDuplicates") : true;
}

bool PreferencesController::useInboxForBookmarks() const {
  auto& defaults = fnd::UserDefaults::standard();
  return defaults.hasValueForKey("UseInboxForBookmarks") ? defaults.boolForKey("UseInboxForBookmarks") : true;
}

std::string PreferencesController::favoriteBrowser() const {
  return fnd::UserDefaults::standard().stringForKey("favoriteBrowser").value_or("Default");
}

}  // namespace kesto
