#include "Views/WrenSearchField.h"

#include "Model/ViewUpdater.h"
#include "Platform/Foundation/NotificationCenter.h"

namespace kesto {

void WrenSearchField::mouseDown(const ui::Event& event) {
  ui::SearchField::mouseDown(event);
  fnd::NotificationCenter::defaultCenter().postNotificationName(MouseDownInWrenSearchField);
}

bool SearchInScopeDelegate::controlTextViewDoCommandBySelector(ui::Control&, std::string_view selector) {
  if (selector != "moveUp:" && selector != "insertTab:") return false;
  ViewUpdater::selectBookmarksView();
  return true;
}

}  // namespace kesto
