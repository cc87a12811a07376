#include "Views/SourceList.h"

#include <limits>
#include <map>
#include <tuple>

namespace kesto {

using SD = SourceListDelegate;
using SDS = SourceListDataSource;

namespace {
bool isUpKey(const ui::Event& e) { return e.keyCode == ui::KeyCode::UpArrow || e.characters == "\xEF\x9C\x80"; }
bool isDownKey(const ui::Event& e) { return e.keyCode == ui::KeyCode::DownArrow || e.characters == "\xEF\x9C\x81"; }
bool isDeleteKey(const ui::Event& e) {
  if (e.keyCode == ui::KeyCode::Delete || e.keyCode == ui::KeyCode::ForwardDelete) return true;
  const std::string& c = e.characters;
  return c == "\x7f" || c == "\x08" || c == "\xEF\x9C\xA8";
}
}  // namespace

SourceList::SourceList(const fnd::Rect& frame)
    : ui::OutlineView(frame), proxy_(std::make_unique<SourceListDelegateDataSourceProxy>(this)) {
  // Names are cut at their end, so a row still begins as its folder does; the whole name is
  // the row's tool tip.
  setTextTruncation(ui::TextTruncation::End);
}

SourceList::~SourceList() {
  ui::OutlineView::setDataSource(nullptr);
  ui::OutlineView::setDelegate(nullptr);
}

void SourceList::setDelegate(SourceListDelegate* delegate) {
  proxy_->setDelegate(delegate);
  // Cleared first, so the outline view reads the announced hooks afresh.
  ui::OutlineView::setDelegate(nullptr);
  if (delegate) ui::OutlineView::setDelegate(proxy_.get());
}

void SourceList::setDataSource(SourceListDataSource* dataSource) {
  proxy_->setDataSource(dataSource);
  ui::OutlineView::setDataSource(nullptr);
  if (dataSource) ui::OutlineView::setDataSource(proxy_.get());
  reloadData();
}

void SourceList::clientDidDisappear(bool dataSource) {
  if (dataSource) {
    ui::OutlineView::setDataSource(nullptr);
    ui::OutlineView::reloadData();
  } else {
    ui::OutlineView::setDelegate(nullptr);
  }
}

void SourceList::setIconSize(const fnd::Size& size) {
  fnd::Size s = size;
  double h = rowHeight();
  if (s.height > h) {
    s.width = s.width * (h / s.height);
    s.height = h;
  }
  iconSize_ = s;
  setNeedsDisplay();
}

std::uint64_t SourceList::numberOfGroups() {
  auto* ds = proxy_->dataSource();
  return ds ? ds->sourceListNumberOfChildrenOfItem(*this, nullptr) : 0;
}

bool SourceList::isGroupItem(ui::OutlineItem item) { return item && levelForItem(item) == 0; }

bool SourceList::isGroupAlwaysExpanded(ui::OutlineItem item) {
  if (!isGroupItem(item)) return false;
  return (proxy_->delegateMethods() & SD::IsGroupAlwaysExpanded) &&
         proxy_->delegate()->sourceListIsGroupAlwaysExpanded(*this, item);
}

bool SourceList::isViewBasedSourceList() const { return (proxy_->delegateMethods() & SD::ViewForItem) != 0; }

void SourceList::viewDidMoveToSuperview() {
  ui::OutlineView::viewDidMoveToSuperview();
  setAutoresizesOutlineColumn(false);
}

bool SourceList::itemHasBadge(ui::OutlineItem item) {
  if (isViewBasedSourceList()) return false;
  return (proxy_->dataSourceMethods() & SDS::ItemHasBadge) && proxy_->dataSource()->sourceListItemHasBadge(*this, item);
}

std::int64_t SourceList::badgeValueForItem(ui::OutlineItem item) {
  if (itemHasBadge(item) && (proxy_->dataSourceMethods() & SDS::BadgeValueForItem))
    return proxy_->dataSource()->sourceListBadgeValueForItem(*this, item);
  return std::numeric_limits<std::int64_t>::max();
}

bool SourceList::outlineViewShouldCollapseItem(ui::OutlineItem item) {
  if (isGroupAlwaysExpanded(item)) return false;
  if (proxy_->delegateMethods() & SD::ShouldCollapseItem) return proxy_->delegate()->sourceListShouldCollapseItem(*this, item);
  return true;
}

bool SourceList::outlineViewShouldSelectItem(ui::OutlineItem item) {
  if (!isGroupItem(item) && (proxy_->delegateMethods() & SD::ShouldSelectItem))
    return proxy_->delegate()->sourceListShouldSelectItem(*this, item);
  return !isGroupItem(item);
}

bool SourceList::outlineViewShouldEditItem(ui::OutlineItem item) {
  if (!isGroupItem(item) && (proxy_->delegateMethods() & SD::ShouldEditItem))
    return proxy_->delegate()->sourceListShouldEditItem(*this, item);
  return !isGroupItem(item);
}

bool SourceList::shouldSelectItem(ui::OutlineItem item) { return outlineViewShouldSelectItem(item); }
bool SourceList::shouldEditItem(ui::OutlineItem item) { return outlineViewShouldEditItem(item); }
bool SourceList::shouldCollapseItem(ui::OutlineItem item) { return outlineViewShouldCollapseItem(item); }

void SourceList::reloadData() {
  ui::OutlineView::reloadData();
  auto* ds = proxy_->dataSource();
  if (ds && (proxy_->delegateMethods() & SD::IsGroupAlwaysExpanded)) {
    std::uint64_t groups = numberOfGroups();
    for (std::uint64_t i = 0; i < groups; ++i) {
      ui::OutlineItem group = ds->sourceListChildOfItem(*this, i, nullptr);
      if (isGroupAlwaysExpanded(group)) expandItem(group, false);
    }
  }
  fnd::IndexSet selected = selectedRowIndexes();
  long rows = numberOfRows();
  if (selected.isEmpty()) {
    if (allowsEmptySelection()) return;
    for (long r = 0; r < rows; ++r)
      if (!isGroupItem(itemAtRow(r))) {
        selectRowIndexes(fnd::IndexSet(r), false);
        return;
      }
    return;
  }
  long first = long(selected.firstIndex());
  if (!isGroupItem(itemAtRow(first))) return;
  // Up from the group heading to row 1; row 0 is the first heading itself.
  for (long r = first - 1; r >= 1; --r)
    if (!isGroupItem(itemAtRow(r))) {
      selectRowIndexes(fnd::IndexSet(r), false);
      return;
    }
  deselectAll();
}

void SourceList::selectRowIndexes(const fnd::IndexSet& indexes, bool byExtendingSelection) {
  if (indexes.isEmpty() && !allowsEmptySelection()) return;
  fnd::IndexSet kept;
  indexes.forEach([&](std::int64_t r) {
    if (!isGroupItem(itemAtRow(long(r)))) kept.add(r);
    return true;
  });
  if (kept.isEmpty()) return;
  ui::OutlineView::selectRowIndexes(kept, byExtendingSelection);
}

fnd::Rect SourceList::frameOfOutlineCellAtRow(long row) {
  ui::OutlineItem item = itemAtRow(row);
  if (isGroupAlwaysExpanded(item)) return fnd::Rect();
  fnd::Rect f = ui::OutlineView::frameOfOutlineCellAtRow(row);
  long level = levelForRow(row);
  if (level > 0) f.origin.x = double(level) * indentationPerLevel();
  return f;
}

double SourceList::cellHeight(long row) {
  // The height of the row's text in the font the delegate gives it, measured once per font.
  static std::map<std::tuple<std::string, double, bool, bool>, double> heights;
  ui::Font font = preparedCellAtRow(row).font;
  auto key = std::make_tuple(font.family, font.pointSize, font.bold, font.italic);
  auto it = heights.find(key);
  if (it == heights.end()) it = heights.emplace(key, ui::GraphicsContext::sizeOfText("Xg", font).height).first;
  return it->second;
}

fnd::Rect SourceList::frameOfCellAtRow(long row) {
  if (isViewBasedSourceList()) return ui::OutlineView::frameOfCellAtRow(row);
  ui::OutlineItem item = itemAtRow(row);
  fnd::Rect r = rectOfRow(row);
  if (!item) return fnd::Rect();
  double ch = cellHeight(row);
  if (isGroupItem(item)) {
    fnd::Rect s = ui::OutlineView::frameOfCellAtRow(row);
    double x = isGroupAlwaysExpanded(item) ? 7.0 : s.origin.x;
    return fnd::Rect(x, s.origin.y + s.size.height * 0.5 - ch / 2, r.size.width - x, ch);
  }
  double x = double(levelForRow(row)) * indentationPerLevel() + 18.0;
  if ((proxy_->dataSourceMethods() & SDS::ItemHasIcon) && proxy_->dataSource()->sourceListItemHasIcon(*this, item))
    x += iconSize_.width + 4.0;
  double badge = sizeOfBadgeAtRow(row).width;
  return fnd::Rect(x, r.origin.y + r.size.height * 0.5 - ch / 2, r.size.width - (badge + 5.0) - x, ch);
}

fnd::Size SourceList::sizeOfBadgeAtRow(long row) {
  ui::OutlineItem item = itemAtRow(row);
  if (!item || !itemHasBadge(item)) return fnd::Size{};
  badgeCell_.setBadgeValue(std::uint64_t(badgeValueForItem(item)));
  return fnd::Size{std::max(badgeCell_.cellSize().width, 40.0), 14.0};
}

void SourceList::drawRow(long row, ui::GraphicsContext& context, const fnd::Rect& clipRect) {
  ui::OutlineView::drawRow(row, context, clipRect);
  ui::OutlineItem item = itemAtRow(row);
  // View-based rows show their icon and badge in the delegate's views.
  if (!item || isViewBasedSourceList()) return;
  auto* ds = proxy_->dataSource();
  unsigned m = proxy_->dataSourceMethods();
  if (!isGroupItem(item) && (m & SDS::ItemHasIcon) && ds->sourceListItemHasIcon(*this, item)) {
    fnd::Rect c = frameOfCellAtRow(row);
    fnd::Rect iconRect(c.origin.x - iconSize_.width - 2.0, c.origin.y + c.size.height * 0.5 - iconSize_.height / 2,
                       iconSize_.width, iconSize_.height);
    ui::Image icon = (m & SDS::IconForItem) ? ds->sourceListIconForItem(*this, item) : ui::Image();
    if (!icon.isNull()) {
      fnd::Size s = icon.size();
      if (s.width < iconRect.size.width || s.height < iconRect.size.height)
        context.drawImage(icon, fnd::Rect(iconRect.origin.x + (iconRect.size.width - s.width) / 2,
                                          iconRect.origin.y + (iconRect.size.height - s.height) / 2, s.width, s.height));
      else
        context.drawImage(icon, iconRect);
    }
  }
  if (itemHasBadge(item)) {
    fnd::Rect r = rectOfRow(row);
    fnd::Size b = sizeOfBadgeAtRow(row);
    drawBadgeForRow(row, context,
                    fnd::Rect(r.origin.x + r.size.width - b.width - 5.0, r.origin.y + r.size.height * 0.5 - b.height / 2,
                              b.width, b.height));
  }
}

void SourceList::drawBadgeForRow(long row, ui::GraphicsContext& context, const fnd::Rect& rect) {
  ui::OutlineItem item = itemAtRow(row);
  auto* ds = proxy_->dataSource();
  unsigned m = proxy_->dataSourceMethods();
  badgeCell_.setBadgeValue(std::uint64_t(badgeValueForItem(item)));
  // Colours stay on the shared cell for later rows whose data source gives none.
  if (m & SDS::BadgeTextColorForItem) badgeCell_.setTextColor(ds->sourceListBadgeTextColorForItem(*this, item));
  if (m & SDS::BadgeBackgroundColorForItem)
    badgeCell_.setBackgroundColor(ds->sourceListBadgeBackgroundColorForItem(*this, item));
  badgeCell_.setHighlighted(isRowSelected(row));
  badgeCell_.drawWithFrame(context, rect, this);
}

void SourceList::keyDown(const ui::Event& event) {
  // An open name editor takes every key: Backspace there deletes a character, never the row
  // (which asked to delete the folder being renamed), and the arrows move in the text.
  if (numberOfSelectedRows() > 0 && !isEditing()) {
    bool up = isUpKey(event), down = isDownKey(event);
    if ((up || down) && numberOfSelectedRows() == 1 && !event.hasModifier(ui::ModifierFlag::Shift)) {
      long step = up ? -1 : 1, count = numberOfRows();
      long row = selectedRow() + step;
      while (row >= 0 && row < count && isGroupItem(itemAtRow(row))) row += step;
      // Off either end there is nothing to select: the selection stays and the key is used up.
      if (row >= 0 && row < count) {
        selectRowIndexes(fnd::IndexSet(row), false);
        scrollRowToVisible(row);
      }
      return;
    }
    if (isDeleteKey(event)) {
      fnd::Array rows;
      for (auto r : selectedRowIndexes().indexes()) rows.emplace_back(static_cast<long long>(r));
      fnd::NotificationCenter::defaultCenter().postNotificationName(SourceListDeleteKeyPressedOnRowsNotification, this,
                                                                    fnd::Dictionary{{SourceListRowsKey, rows}});
      return;
    }
  }
  ui::OutlineView::keyDown(event);
}

bool SourceList::menuForEvent(const ui::Event& event, ui::OutlineItem item) {
  if ((proxy_->delegateMethods() & SD::MenuForEvent) && proxy_->delegate()->sourceListMenuForEventItem(*this, event, item))
    return true;
  return ui::OutlineView::menuForEvent(event, item);
}

namespace brightwren {

std::vector<ui::OutlineItem> selectedItems(const ui::OutlineView& view) {
  std::vector<ui::OutlineItem> items;
  for (auto r : view.selectedRowIndexes().indexes()) items.push_back(view.itemAtRow(long(r)));
  return items;
}

void setSelectedItems(ui::OutlineView& view, const std::vector<ui::OutlineItem>& items) {
  fnd::IndexSet rows;
  for (auto* item : items) {
    long r = view.rowForItem(item);
    if (r >= 0) rows.add(r);
  }
  view.selectRowIndexes(rows, false);
}

void resetSelection(ui::OutlineView& view) { view.selectRowIndexes(fnd::IndexSet(), false); }

}  // namespace brightwren

}  // namespace kesto
