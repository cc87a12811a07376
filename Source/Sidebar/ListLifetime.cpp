#include "Sidebar/ListLifetime.h"

#include "Model/DataManager.h"
#include "Model/ViewUpdater.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/RunLoop.h"
#include "Views/SourceList.h"

namespace kesto {

void endListController(const void* controller, fnd::Lifetime& lifetime, SourceList* list) {
  lifetime.end();
  fnd::RunLoop::cancelPreviousPerformRequests(controller);
  fnd::NotificationCenter::defaultCenter().removeObserver(controller);
  if (!list) return;
  list->setSelectedRowClickHandler(nullptr);
  list->setDelegate(nullptr);
  list->setDataSource(nullptr);
}

void endSearchOnClickInShownRow(SourceList& list, DataManager* const& data, std::function<void()> showRow) {
  list.setSelectedRowClickHandler([&data, showRow = std::move(showRow)](long) {
    if (!data || !data->isSearching()) return false;
    ViewUpdater::clearSearchField();
    showRow();
    return true;
  });
}

}  // namespace kesto
