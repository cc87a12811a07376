#pragma once

#include "Platform/UI/UIForward.h"

#include <functional>
#include <memory>
#include <string>

namespace kesto {

class DataManager;
class FoldersController;

// The sidebar pane of the main window. The main interface fills it with the library's lists
// unless another pane is registered; the empty one shows the whole library once a load has
// finished without a collection chosen.
class SidebarPane {
 public:
  virtual ~SidebarPane() = default;
  virtual std::shared_ptr<ui::View> view() = 0;
  virtual void setDataManager(DataManager* dataManager) = 0;
  virtual void awakeFromNib() {}
};

// The inspector pane on the right: the bookmark editor unless another is registered.
class InspectorController {
 public:
  virtual ~InspectorController() = default;
  virtual std::shared_ptr<ui::View> view() = 0;
  virtual void setDataManager(DataManager*) {}
  // The folder list that going to a bookmark's folder selects in.
  virtual void setFoldersController(FoldersController*) {}
  // What its thumbnail buttons do: choose a file for the current bookmark, remove its thumbnail.
  virtual void setThumbnailActions(std::function<void()> choose, std::function<void()> remove) {}
  virtual void awakeFromNib() {}
};

std::unique_ptr<SidebarPane> makeEmptySidebarPane();
std::unique_ptr<InspectorController> makeEmptyInspectorController();

// The controllers the main interface builds its side panes with; the subsystems that fill the
// panes register theirs before the interface is built. Null restores the empty ones.
void registerSidebarPaneFactory(std::function<std::unique_ptr<SidebarPane>()> factory);
void registerInspectorControllerFactory(std::function<std::unique_ptr<InspectorController>()> factory);
std::unique_ptr<SidebarPane> makeSidebarPane();
bool hasSidebarPaneFactory();
std::unique_ptr<InspectorController> makeInspectorController();

}  // namespace kesto
