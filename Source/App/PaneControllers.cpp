#include "App/PaneControllers.h"

#include "App/EditorController.h"
#include "Model/DataManager.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/UI/View.h"

namespace kesto {

namespace {

class EmptySidebarPane : public SidebarPane {
 public:
  EmptySidebarPane() : view_(std::make_shared<ui::View>()) {
    view_->setBackgroundColor(ui::Color::white(0.93));
  }
  ~EmptySidebarPane() override { fnd::NotificationCenter::defaultCenter().removeObserver(this); }
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

std::unique_ptr<SidebarPane> makeEmptySidebarPane() { return std::make_unique<EmptySidebarPane>(); }
std::unique_ptr<InspectorController> makeEmptyInspectorController() {
  return std::make_unique<EmptyInspectorController>();
}

namespace {
std::function<std::unique_ptr<SidebarPane>()>& sidebarFactory() {
  static std::function<std::unique_ptr<SidebarPane>()> factory;
  return factory;
}
std::function<std::unique_ptr<InspectorController>()>& inspectorFactory() {
  static std::function<std::unique_ptr<InspectorController>()> factory;
  return factory;
}
}  // namespace

void registerSidebarPaneFactory(std::function<std::unique_ptr<SidebarPane>()> factory) {
  sidebarFactory() = std::move(factory);
}

void registerInspectorControllerFactory(std::function<std::unique_ptr<InspectorController>()> factory) {
  inspectorFactory() = std::move(factory);
}

std::unique_ptr<SidebarPane> makeSidebarPane() {
  auto made = sidebarFactory() ? sidebarFactory()() : nullptr;
  return made ? std::move(made) : makeEmptySidebarPane();
}

bool hasSidebarPaneFactory() { return static_cast<bool>(sidebarFactory()); }

std::unique_ptr<InspectorController> makeInspectorController() {
  auto made = inspectorFactory() ? inspectorFactory()() : nullptr;
  return made ? std::move(made) : std::make_unique<EditorController>();
}

}  // namespace kesto
