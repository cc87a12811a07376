#include "Sidebar/ViewManager.h"

namespace kesto {

ViewManager& ViewManager::sharedInstance() {
  static ViewManager instance;
  return instance;
}

}  // namespace kesto
