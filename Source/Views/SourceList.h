#pragma once

#include "Platform/UI/OutlineView.h"
#include "Views/SourceListBadgeCell.h"
#include "Views/SourceListDelegateDataSourceProxy.h"
#include "Views/SourceListProtocols.h"

#include <memory>

namespace kesto {

// The sidebar list: an outline whose top-level rows are group headings (never selected, never
// edited, optionally always expanded without a triangle) and whose other rows carry an
// optional icon and count badge drawn by the list. Users implement SourceListDataSource and
// SourceListDelegate; the list's proxy stands between them and the outline view.
class SourceList : public ui::OutlineView {
 public:
  explicit SourceList(const fnd::Rect& frame = fnd::Rect());
  ~SourceList() override;

  // The user's objects; the outline view's own delegate and data source are the proxy.
  void setDelegate(SourceListDelegate* delegate);
  void setDataSource(SourceListDataSource* dataSource);
  SourceListDelegate* sourceListDelegate() const { return proxy_->delegate(); }
  SourceListDataSource* sourceListDataSource() const { return proxy_->dataSource(); }
  SourceListDelegateDataSourceProxy* delegateDataSourceProxy() const { return proxy_.get(); }

  const fnd::Size& iconSize() const { return iconSize_; }
  // Never taller than a row: a taller size is scaled down, keeping its aspect.
  void setIconSize(const fnd::Size& size);
  bool floatsGroupRows() const override { return false; }
  void setFloatsGroupRows(bool) {}
  // True when the delegate gives views per item: the list then leaves each row's text, icon and
  // badge to those views and keeps only the selection, the triangle and the group rules.
  bool isViewBasedSourceList() const;
  // The outline column keeps the list's width.
  void viewDidMoveToSuperview() override;
  const SourceListBadgeCell& reusableBadgeCell() const { return badgeCell_; }

  std::uint64_t numberOfGroups();
  bool isGroupItem(ui::OutlineItem item) override;
  bool isGroupAlwaysExpanded(ui::OutlineItem item);
  bool itemHasBadge(ui::OutlineItem item);
  // The largest 64-bit value when the item shows no badge.
  std::int64_t badgeValueForItem(ui::OutlineItem item);

  // Answered by the list itself for the outline view (through the proxy).
  bool outlineViewShouldCollapseItem(ui::OutlineItem item);
  bool outlineViewShouldSelectItem(ui::OutlineItem item);
  bool outlineViewShouldEditItem(ui::OutlineItem item);
  // The same answers when the view asks itself (also with no delegate set).
  bool shouldSelectItem(ui::OutlineItem item) override;
  bool shouldEditItem(ui::OutlineItem item) override;
  bool shouldCollapseItem(ui::OutlineItem item) override;

  // Reload, then open always-expanded groups and keep the selection off group rows.
  void reloadData() override;
  // Group rows are filtered out; an empty or all-group set changes nothing.
  void selectRowIndexes(const fnd::IndexSet& indexes, bool byExtendingSelection) override;

  fnd::Rect frameOfOutlineCellAtRow(long row) override;
  fnd::Rect frameOfCellAtRow(long row) override;
  // At least 40 wide and 14 high; zero for a row without badge.
  fnd::Size sizeOfBadgeAtRow(long row);
  void drawRow(long row, ui::GraphicsContext& context, const fnd::Rect& clipRect) override;
  void drawBadgeForRow(long row, ui::GraphicsContext& context, const fnd::Rect& rect);

  // Up and Down move a single selection past group rows (and never off the ends); the delete
  // keys post SourceListDeleteKeyPressedOnRowsNotification.
  void keyDown(const ui::Event& event) override;
  bool menuForEvent(const ui::Event& event, ui::OutlineItem item) override;

  // From the proxy: a delegate or data source went away.
  void clientDidDisappear(bool dataSource);

 private:
  void rewire();
  double cellHeight(long row);

  std::unique_ptr<SourceListDelegateDataSourceProxy> proxy_;
  SourceListBadgeCell badgeCell_;
  fnd::Size iconSize_{16.0, 16.0};
};

// Selection by items for any outline view.
namespace brightwren {
std::vector<ui::OutlineItem> selectedItems(const ui::OutlineView& view);
// Selects exactly the rows of the given items (items without a row are skipped).
void setSelectedItems(ui::OutlineView& view, const std::vector<ui::OutlineItem>& items);
void resetSelection(ui::OutlineView& view);
}  // namespace brightwren

}  // namespace kesto
