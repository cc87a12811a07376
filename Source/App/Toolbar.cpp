#include "App/Toolbar.h"

#include <algorithm>

namespace kesto {

Toolbar::Toolbar(const fnd::Rect& frame) : KSTRoundedToolbarView(frame) {
  setBackgroundColor(ui::Color::white(0.86));
}

void Toolbar::insertItemWithItemIdentifier(const std::string& identifier, std::size_t index) {
  std::shared_ptr<ToolbarItem> item;
  if (identifier == ToolbarFlexibleSpaceItemIdentifier || identifier == ToolbarSpaceItemIdentifier ||
      identifier == ToolbarSeparatorItemIdentifier) {
    item = std::make_shared<ToolbarItem>();
    item->itemIdentifier = identifier;
  } else if (delegate_) {
    item = delegate_->toolbarItemForItemIdentifier(*this, identifier, true);
  }
  if (!item) return;
  index = std::min(index, items_.size());
  items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(index), item);
  if (item->view) addSubview(item->view);
  layout();
}

void Toolbar::setFrame(const fnd::Rect& frame) {
  ui::View::setFrame(frame);
  layout();
}

void Toolbar::layout() {
  const double height = bounds().size.height;
  double fixed = 0;
  int flexible = 0;
  for (const auto& item : items_) {
    if (item->itemIdentifier == ToolbarFlexibleSpaceItemIdentifier) ++flexible;
    else if (item->view) fixed += item->maxSize.width;
    else fixed += kSpaceWidth;
  }
  double spare = std::max(0.0, bounds().size.width - fixed);
  double flexWidth = flexible ? spare / flexible : 0;
  double x = 0;
  for (const auto& item : items_) {
    if (item->itemIdentifier == ToolbarFlexibleSpaceItemIdentifier) {
      x += flexWidth;
    } else if (item->view) {
      double h = std::min(height, item->maxSize.height);
      item->view->setFrame(fnd::Rect(x, (height - h) / 2, item->maxSize.width, h));
      x += item->maxSize.width;
    } else {
      x += kSpaceWidth;
    }
  }
}

}  // namespace kesto
