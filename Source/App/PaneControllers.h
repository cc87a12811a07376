#pragma once

#include <functional>
#include <memory>
#include <string>

namespace kesto {

namespace ui {
class View;
}
class DataManager;

// The sidebar pane of the main window. Its lists (folders, tags, history, smart lists) come
// with their own controller; until one is registered the pane is an empty view whose controller
// shows the whole library once a load has finished without a collection chosen.
class SidebarController {
 public:
  virtual ~SidebarController() = default;
  virtual std::shared_ptr<ui::View> view() = 0;
  virtual void setDataManager(DataManager* dataManager) = 0;
  virtual void awakeFromNib() {}
};

// The inspector pane on the right.
class InspectorController {
 public:
  virtual ~InspectorController() = default;
  virtual std::shared_ptr<ui::View> view() = 0;
  virtual void awakeFromNib() {}
};

std::unique_ptr<SidebarController> makeEmptySidebarController();
std::unique_ptr<InspectorController> makeEmptyInspectorController();

// The controllers the main interface builds its side panes with; the subsystems that fill the
// panes register theirs before the interface is built. Null restores the empty ones.
void registerSidebarControllerFactory(std::function<std::unique_ptr<SidebarController>()> factory);
void registerInspectorControllerFactory(std::function<std::unique_ptr<InspectorController>()> factory);
std::unique_ptr<SidebarController> makeSidebarController();
std::unique_ptr<InspectorController> makeInspectorController();

// The preference values the shell reads, straight from user defaults.
class PreferencesController {
 public:
  virtual ~PreferencesController() = default;
  // "skipDuplicates": a bookmark that comes in from outside is skipped when already stored.
  virtual bool skipDuplicates() const;
  // "CheckDuplicates": adding an address that is already stored asks first; absent reads as YES.
  virtual bool checkDuplicates() const;
  // "UseInboxForBookmarks": bookmarks from outside go to the Inbox; absent reads as YES.
  virtual bool useInboxForBookmarks() const;
  // "favoriteBrowser": "Default" or a browser's bundle identifier.
  virtual std::string favoriteBrowser() const;
  // Refreshes the preferences panel; there is no panel yet.
  virtual void updatePreferencesPanelValues() {}
};

}  // namespace kesto
