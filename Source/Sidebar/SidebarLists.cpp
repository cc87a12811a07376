#include "Sidebar/SidebarLists.h"

#include "Sidebar/HistoryController.h"
#include "Sidebar/MaintenanceController.h"
#include "Sidebar/PopularsController.h"
#include "Sidebar/SidebarController.h"
#include "Sidebar/TagsController.h"
#include "Sidebar/TrashController.h"

namespace kesto {

void registerSidebarLists() {
  registerSidebarTab(1, [] { return std::make_unique<TagsController>(); });
  registerSidebarTab(2, [] { return std::make_unique<HistoryController>(); });
  registerSidebarTab(3, [] { return std::make_unique<PopularsController>(); });
  registerSidebarTab(4, [] { return std::make_unique<MaintenanceController>(); });
  registerSidebarTab(5, [] { return std::make_unique<TrashController>(); });
}

}  // namespace kesto
