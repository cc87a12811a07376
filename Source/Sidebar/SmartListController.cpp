#include "Sidebar/SmartListController.h"

#include "Model/DataManager.h"
#include "Model/ViewUpdater.h"
#include "Platform/Foundation/Assert.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/RunLoop.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/UI/View.h"
#include "Sidebar/ListLifetime.h"
#include "Sidebar/SidebarKeys.h"
#include "Views/ImageNamed.h"
#include "Views/SourceList.h"

namespace kesto {

SmartListController::SmartListController(const std::vector<Entry>& entries,
                                         std::vector<fnd::NotificationName> refreshedBy, const char* selectedView)
    : entryTable_(entries), refreshedBy_(std::move(refreshedBy)), selectedView_(selectedView) {
  KESTO_ASSERT_MAIN_THREAD();
  const double w = 220, h = 568;
  view_ = std::make_shared<ui::View>(fnd::Rect(0, 0, w, h));
  view_->setBackgroundColor(ui::Color::white(0.93));
  list_ = std::make_shared<SourceList>(fnd::Rect(0, 0, w, h));
  list_->setAutoresizingMask(ui::View::WidthSizable | ui::View::HeightSizable);
  // One level below the group: a small step leaves room for the longest titles.
  list_->setIndentationPerLevel(4);
  // No entry is chosen for the user: in these lists choosing can act (Empty Trash, clean-ups).
  list_->setAllowsEmptySelection(true);
  view_->addSubview(list_);
}

SmartListController::~SmartListController() { endListController(this, lifetime_, list_.get()); }

void SmartListController::awakeFromNib() {
  KESTO_ASSERT_MAIN_THREAD();
  if (!observing_) {
    observing_ = true;
    auto& center = fnd::NotificationCenter::defaultCenter();
    for (auto name : refreshedBy_)
      center.addObserver(this, [this](const fnd::Notification&) { updateView(); }, name);
  }
  list_->setDataSource(this);
  list_->setDelegate(this);
  endSearchOnClickInShownRow(*list_, kestoData_, [this] { updateSelection(); });
}

void SmartListController::endSearchForNewRow(const std::string& identifier) {
  // Another row chosen: its list is not the results, so the search ends before it loads. A
  // refresh that chooses the same row again leaves the search to run again over it.
  if (!lastSelectedIdentifier_ || *lastSelectedIdentifier_ != identifier) ViewUpdater::clearSearchField();
}

void SmartListController::updateView() {
  KESTO_ASSERT_MAIN_THREAD();
  if (selectedView_) {
    const std::string shown = fnd::UserDefaults::standard().stringForKey(SelectedView).value_or(SelectedLibraryView);
    if (shown != selectedView_) return;
  }
  if (kestoData_) kestoData_->prepareNonFolderViews();
  loadItems();
  didRefresh();
  if (kestoData_) {
    kestoData_->bookmarks().clear();
    // The browser must not keep drawing rows the list no longer holds.
    ViewUpdater::updateBookmarks();
  }
}

std::optional<std::int64_t> SmartListController::badgeForEntry(const Entry& entry) {
  if (!entry.count || !kestoData_) return std::nullopt;
  return (kestoData_->*entry.count)();
}

void SmartListController::loadItems() {
  KESTO_ASSERT_MAIN_THREAD();
  // A rebuild starts unselected, so that restoring the stored row is a change that loads its
  // bookmarks again (the refresh has emptied the list).
  if (list_->numberOfSelectedRows() > 0) list_->deselectAll();
  sourceListItems_.clear();
  items_.clear();
  container_ = SourceListItem::itemWithTitle("", kContainerID);
  for (const auto& entry : entryTable_) {
    auto item = SourceListItem::itemWithTitle(entry.title, entry.identifier);
    if (entry.icon) item->setIcon(imageNamed(entry.icon));
    if (std::string_view(entry.identifier) != kSeparatorID) item->setBadgeValue(badgeForEntry(entry));
    items_.push_back(item);
  }
  container_->setChildren(items_);
  sourceListItems_.push_back(container_);
  list_->reloadData();
  list_->expandItem(container_.get());
}

SourceListItem* SmartListController::itemWithIdentifier(const std::string& identifier) const {
  for (const auto& item : items_)
    if (item->identifier() == identifier) return item.get();
  return nullptr;
}

bool SmartListController::selectEntry(const std::string& identifier) {
  KESTO_ASSERT_MAIN_THREAD();
  auto* item = itemWithIdentifier(identifier);
  if (!item) return false;
  selectOnly(item);
  return true;
}

SourceListItem* SmartListController::firstSelectedItem() const {
  auto rows = list_->selectedRowIndexes();
  if (rows.isEmpty()) return nullptr;
  return sourcelistitems::itemFrom(list_->itemAtRow(static_cast<long>(rows.firstIndex())));
}

long SmartListController::selectedRowCount() const { return list_->numberOfSelectedRows(); }

void SmartListController::selectOnly(SourceListItem* item) {
  brightwren::setSelectedItems(*list_, {static_cast<ui::OutlineItem>(item)});
}

void SmartListController::selectRowFromDefaults(const char* key) {
  const std::int64_t row = fnd::UserDefaults::standard().integerForKey(key);
  if (row < 1 || row > static_cast<std::int64_t>(items_.size())) return;
  selectOnly(items_[static_cast<size_t>(row - 1)].get());
}

void SmartListController::loadEntryAndUpdate(const std::string& identifier) {
  if (kestoData_)
    for (const auto& entry : entryTable_)
      if (entry.load && identifier == entry.identifier) (kestoData_->*entry.load)();
  isDifferentFolder_ = !lastSelectedIdentifier_ || *lastSelectedIdentifier_ != identifier;
  if (isDifferentFolder_)
    ViewUpdater::updateBookmarksAndResetView();
  else
    ViewUpdater::updateBookmarks();
  lastSelectedIdentifier_ = identifier;
}

void SmartListController::scheduleSelectionUpdate() {
  fnd::RunLoop::main().performAfterDelay(0.1, lifetime_.whileAlive([this] { updateSelection(); }), this);
}

void SmartListController::performEntryAction(std::function<void()> action) {
  fnd::RunLoop::main().perform(lifetime_.whileAlive(std::move(action)));
}

void SmartListController::sourceListSelectionDidChange(const fnd::Notification&) { scheduleSelectionUpdate(); }

// ---- Source-list answers ---------------------------------------------------------------------

unsigned SmartListController::implementedSourceListDelegateMethods() const {
  using M = SourceListDelegate;
  return SourceListItemSource::implementedSourceListDelegateMethods() | M::IsGroupAlwaysExpanded |
         M::SelectionDidChange | M::ShouldEditItem | M::WillDisplayCell;
}

bool SmartListController::sourceListIsGroupAlwaysExpanded(SourceList&, SourceListItemPtr group) {
  auto* i = sourcelistitems::itemFrom(group);
  return groupIsAlwaysExpanded() && i && i->identifier() == kContainerID;
}

bool SmartListController::sourceListShouldEditItem(SourceList&, SourceListItemPtr) { return false; }

void SmartListController::sourceListWillDisplayCellForItem(SourceList&, ui::TextCell& cell, SourceListItemPtr) {
  // The folder tree's size, so the sidebar's tabs read alike; a title too long for the width
  // is shortened in its middle by the list.
  cell.font.pointSize = ui::TextCell().font.pointSize;
}

}  // namespace kesto
