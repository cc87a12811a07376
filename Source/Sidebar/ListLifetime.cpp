#include "Sidebar/ListLifetime.h"

#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/RunLoop.h"
#include "Views/SourceList.h"

namespace kesto {

void endListController(const void* controller, fnd::Lifetime& lifetime, SourceList* list) {
  lifetime.end();
  fnd::RunLoop::cancelPreviousPerformRequests(controller);
  fnd::NotificationCenter::defaultCenter().removeObserver(controller);
  if (!list) return;
  list->setDelegate(nullptr);
  list->setDataSource(nullptr);
}

}  // namespace kesto
