#pragma once

#include "Platform/UI/UIForward.h"

#include <array>
#include <functional>
#include <memory>
#include <string>

namespace kesto {

class DataManager;
class FoldersController;
class TutorialPopovers;

// The content of one sidebar tab other than the folders: the tags, history, popular,
// maintenance and trash lists register theirs by index before the main interface is built.
class SidebarTabContent {
 public:
  virtual ~SidebarTabContent() = default;
  virtual std::shared_ptr<ui::View> view() = 0;
  virtual void setDataManager(DataManager* dataManager) {}
  virtual void awakeFromNib() {}
};
using SidebarTabFactory = std::function<std::unique_ptr<SidebarTabContent>()>;
// `index` 1 (tags) to 5 (trash); null removes the registration.
void registerSidebarTab(int index, SidebarTabFactory factory);

// The left pane: six tab buttons over the six lists, one list shown at a time. The list shown is
// kept in the user default SelectedView and restored at start; every switch empties the bookmark
// list and asks the list shown to refresh.
class SidebarController {
 public:
  static constexpr int kTabCount = 6;
  static constexpr double kTabBarHeight = 32;
  // Tab item identifiers, by index.
  static const std::array<const char*, kTabCount>& tabIdentifiers();

  SidebarController();
  ~SidebarController();
  SidebarController(const SidebarController&) = delete;
  SidebarController& operator=(const SidebarController&) = delete;

  std::shared_ptr<ui::View> view() const { return view_; }
  FoldersController& foldersController() const { return *folders_; }
  void setDataManager(DataManager* dataManager);
  // The main window (for sheets and the list's focus).
  void setWindow(ui::Window* window);
  // The first-use popovers of the tags tab and the folder list's fixed rows.
  void setTutorials(TutorialPopovers* tutorials);

  // Observes the switch requests and shows the stored list 0.2 seconds later.
  void awakeFromNib();
  void selectStartupView();
  void selectFolders();
  void selectTags();
  void selectHistory();
  void selectPopulars();
  void selectMaintenance();
  void selectTrash();
  // The buttons' action: exactly the sender is on, then the switch to its tag (1 to 6).
  void toggleSelection(ui::Button& sender);
  void executeSelection(int tag);
  void clearUIStuff();

  const std::array<std::shared_ptr<ui::Button>, kTabCount>& buttons() const { return buttons_; }
  // The identifier of the tab shown ("foldersTab", ...).
  const std::string& selectedTabIdentifier() const { return selectedTab_; }
  std::shared_ptr<ui::View> tabView(int index) const { return tabViews_[index]; }
  // The view holding the folder search field, visible only with the folders list.
  std::shared_ptr<ui::View> folderSearchView() const;

 private:
  void restoreStartupViewWhenLoaded();
  void layout();
  void setAllStatesOff();

  std::shared_ptr<ui::View> view_;
  std::unique_ptr<FoldersController> folders_;
  TutorialPopovers* tutorials_ = nullptr;
  std::array<std::unique_ptr<SidebarTabContent>, kTabCount> contents_;
  std::array<std::shared_ptr<ui::View>, kTabCount> tabViews_;
  std::array<std::shared_ptr<ui::Button>, kTabCount> buttons_;
  std::string selectedTab_;
  DataManager* dataManager_ = nullptr;
};

}  // namespace kesto
