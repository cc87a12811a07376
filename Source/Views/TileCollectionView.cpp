#include "Views/TileCollectionView.h"

#include "Platform/Foundation/Assert.h"
#include "Platform/Foundation/Log.h"
#include "Platform/UI/TimingMarks.h"
#include "Platform/UI/Window.h"
#include "Views/TileClipView.h"
#include "Views/TileCollectionViewCell.h"
#include "Views/TileCollectionViewDocumentView.h"
#include "Views/TileCollectionViewReusableView.h"
#include "Views/TileCollectionViewReuse.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace kesto {

namespace {
constexpr const char* kModule = "TileCollectionViewFramework";
}  // namespace

TileCollectionView::TileCollectionView(const fnd::Rect& frame) : TileScrollView(frame), data_(this) { commonInit(); }

TileCollectionView::~TileCollectionView() = default;

void TileCollectionView::commonInit() {
  setWantsLayer(true);
  setDocumentView(std::make_shared<TileCollectionViewDocumentView>(fnd::Rect()));
  // Cells, and the parts of cells, scrolled out of sight stay shown at no size: a cell handed back
  // for a row coming into sight only moves, and one scrolling in does not show its parts one by
  // one. Each show would make the toolkit ask the window system for the pointer.
  documentView()->setKeepsClippedSubviewsShown(true);
  flags_.wantsLayout = 0;
  allowsSelection_ = true;
  setBackgroundColor(ui::Color::white());
  setDrawsBackground(true);
  addKeyActions();
}

std::weak_ptr<TileCollectionView> TileCollectionView::weakSelf() {
  return std::static_pointer_cast<TileCollectionView>(weak_from_this().lock());
}

// ---- data source, delegate, layout ----

void TileCollectionView::setDelegate(TileCollectionViewDelegate* delegate) {
  delegate_ = delegate;
  unsigned m = delegate ? delegate->implementedDelegateMethods() : 0;
  using D = TileCollectionViewDelegate;
  flags_.delegateMouseDown = (m & D::MouseDownInItem) != 0;
  flags_.delegateMouseUp = (m & D::MouseUpInItem) != 0;
  flags_.delegateShouldSelect = (m & D::ShouldSelectItem) != 0;
  flags_.delegateDidSelect = (m & D::DidSelectItem) != 0;
  flags_.delegateShouldDeselect = (m & D::ShouldDeselectItem) != 0;
  flags_.delegateDidDeselect = (m & D::DidDeselectItem) != 0;
  flags_.delegateDidScroll = (m & D::DidScrollToItem) != 0;
  flags_.delegateDidDoubleClick = (m & D::DidDoubleClickItem) != 0;
  flags_.delegateDidRightClick = (m & D::DidRightClickItem) != 0;
  flags_.delegateDidEndDisplayingCell = (m & D::DidEndDisplayingCell) != 0;
}

void TileCollectionView::setDataSource(TileCollectionViewDataSource* dataSource) {
  // The two required methods are pure virtual, so every data source answers them.
  dataSource_ = dataSource;
  unsigned m = dataSource ? dataSource->implementedDataSourceMethods() : 0;
  flags_.dataSourceNumberOfSections = (m & TileCollectionViewDataSource::NumberOfSectionsInCollectionView) != 0;
  flags_.dataSourceViewForSupplementaryView = (m & TileCollectionViewDataSource::ViewForSupplementaryViewOfKind) != 0;
  flags_.dataSourceWillShowItems = (m & TileCollectionViewDataSource::WillShowItems) != 0;
}

void TileCollectionView::setCollectionViewLayout(std::shared_ptr<TileCollectionViewLayout> layout) {
  if (layout == layout_) return;
  if (layout && layout->hasCollectionView()) {
    fnd::assertionFailed("Collection view layouts should not be reused between separate collection view instances.",
                         kModule);
    return;
  }
  layout_ = std::move(layout);
  if (layout_) layout_->setCollectionView(this);
  if (flags_.wantsLayout) reloadData();
}

void TileCollectionView::collectionViewLayoutWasInvalidated(TileCollectionViewLayout*) {
  data_.recalculateAndPrepareLayout(true);
  performFullRelayoutForcingSubviewsReset(true);
}

// ---- registration and reuse ----

void TileCollectionView::registerClass(CellClass cellClass, const std::string& identifier) {
  if (!cellClass) return fnd::parameterAssertionFailed("cellClass", kModule);
  if (identifier.empty()) return fnd::parameterAssertionFailed("reuseIdentifier", kModule);
  tile_reuse::registerSource(cellClassMap_, cellNibMap_, identifier, std::move(cellClass));
  registrationsChanged_ = true;
}

void TileCollectionView::registerNib(std::shared_ptr<const ui::Nib> nib, const std::string& identifier) {
  if (!nib) return fnd::parameterAssertionFailed("cellNib", kModule);
  if (identifier.empty()) return fnd::parameterAssertionFailed("reuseIdentifier", kModule);
  tile_reuse::registerSource(cellNibMap_, cellClassMap_, identifier, std::move(nib));
  registrationsChanged_ = true;
}

std::shared_ptr<ui::View> TileCollectionView::firstTopLevelObjectOfClass(const std::function<bool(ui::View*)>& isKind,
                                                                         const ui::Nib& nib) {
  ui::Nib::TopLevelObjects objects;
  if (!nib.instantiateWithOwner(this, objects)) return nullptr;
  for (auto& o : objects)
    if (o && isKind(o.get())) return o;
  return nullptr;
}

std::shared_ptr<TileCollectionViewCell> TileCollectionView::dequeueReusableCellWithIdentifier(const std::string& identifier) {
  if (identifier.empty()) {
    fnd::parameterAssertionFailed("identifier", kModule);
    return nullptr;
  }
  std::shared_ptr<TileCollectionViewCell> cell = tile_reuse::dequeue(reusableCells_, identifier);
  if (!cell) cell = tile_reuse::make<TileCollectionViewCell>(*this, identifier, cellNibMap_, cellClassMap_);
  if (!cell) return nullptr;
  cell->setReuseIdentifier(identifier);
  cell->prepareForReuse();
  return cell;
}

void TileCollectionView::enqueueReusableCell(std::shared_ptr<TileCollectionViewCell> cell, const std::string& identifier) {
  tile_reuse::enqueue(reusableCells_, identifier, std::move(cell));
}

std::size_t TileCollectionView::reusableCellCount(const std::string& identifier) const {
  auto it = reusableCells_.find(identifier);
  return it == reusableCells_.end() ? 0 : it->second.size();
}

// ---- reloading and layout ----

void TileCollectionView::reloadData() { reloadDataAndResetSelection(false); }
void TileCollectionView::reloadDataAndDeselect() { reloadDataAndResetSelection(true); }

void TileCollectionView::reloadDataAndResetSelection(bool reset) {
  flags_.wantsLayout = 1;
  if (reset) selection_.clear();
  data_.recalculateAndPrepareLayout(true);
  // Paths the new data no longer has leave the selection, so no later range or move starts
  // from an item that is gone.
  if (!reset)
    selection_.remap([this](const IndexPath& p) { return validateIndexPath(p) ? std::optional(p) : std::nullopt; });
  if (registrationsChanged_ || !dataSource_) {
    performFullRelayoutForcingSubviewsReset(true);
  } else {
    recycleVisibleCells();
    performFullRelayoutForcingSubviewsReset(false);
    // Recycled cells the new rows did not take stay in the pool, out of sight.
    for (auto& [identifier, pool] : reusableCells_)
      for (auto& cell : pool) cell->setHidden(true);
  }
  // Timed from outside: the next frame of this window shows the reloaded list.
  if (ui::TimingMarks::enabled())
    ui::TimingMarks::mark("list-reload", std::to_string(data_.numberOfItemsInSection(0)) + " " +
                                             (window() ? window()->title() : std::string()));
}

void TileCollectionView::reloadVisibleItems(const std::function<bool(const IndexPath&)>& changed) {
  if (!dataSource_ || !changed || !flags_.wantsLayout) return;
  std::vector<IndexPath> stale;
  for (const auto& [path, cell] : visibleCellsMap_)
    if (changed(path)) stale.push_back(path);
  if (stale.empty()) return;
  for (const IndexPath& path : stale) {
    auto cell = visibleCellsMap_[path];
    visibleCellsMap_.erase(path);
    if (flags_.delegateDidEndDisplayingCell)
      delegate_->collectionViewDidEndDisplayingCellForItemAtIndexPath(*this, *cell, path);
    if (cell->reuseIdentifier().empty()) cell->removeFromSuperview();
    else enqueueReusableCell(cell, cell->reuseIdentifier());
  }
  // The freed paths are made again as a scroll makes them; the rest stay as they are.
  layoutCellsWithRedraw(false);
  for (auto& [identifier, pool] : reusableCells_)
    for (auto& cell : pool) cell->setHidden(true);
}

bool TileCollectionView::itemsChanged(const std::vector<std::int64_t>& removed, const std::vector<std::int64_t>& inserted) {
  if (!dataSource_ || registrationsChanged_ || numberOfSections() != 1) return false;
  const std::int64_t before = numberOfItemsInSection(0);
  const std::int64_t after = std::int64_t(dataSource_->collectionViewNumberOfItemsInSection(*this, 0));
  if (before - std::int64_t(removed.size()) + std::int64_t(inserted.size()) != after) return false;
  if (!std::is_sorted(removed.begin(), removed.end()) || !std::is_sorted(inserted.begin(), inserted.end()) ||
      (!removed.empty() && (removed.front() < 0 || removed.back() >= before)) ||
      (!inserted.empty() && (inserted.front() < 0 || inserted.back() >= after)))
    return false;
  // The kept items keep their order: the j-th of them goes to the j-th place no inserted item
  // took, which is j plus the inserted items with fewer than j+1 free places before them.
  std::vector<std::int64_t> freeBefore(inserted.size());
  for (std::size_t i = 0; i < inserted.size(); ++i) freeBefore[i] = inserted[i] - std::int64_t(i);
  auto moved = [&](const IndexPath& p) -> std::optional<IndexPath> {
    if (p.section != 0 || p.item < 0 || p.item >= before) return std::nullopt;
    auto r = std::lower_bound(removed.begin(), removed.end(), p.item);
    if (r != removed.end() && *r == p.item) return std::nullopt;
    const std::int64_t j = p.item - std::int64_t(r - removed.begin());
    const auto m = std::upper_bound(freeBefore.begin(), freeBefore.end(), j) - freeBefore.begin();
    return IndexPath::forItem(j + std::int64_t(m), 0);
  };
  flags_.wantsLayout = 1;
  data_.recalculateAndPrepareLayout(true);
  selection_.remap(moved);
  // Cells keep their items: only their places change. Those of removed items go to the pool.
  auto cells = std::move(visibleCellsMap_);
  visibleCellsMap_.clear();
  for (auto& [path, cell] : cells) {
    if (auto to = moved(path)) {
      cell->setIndexPath(*to);
      cell->setSelected(isItemSelected(*to));
      visibleCellsMap_[*to] = cell;
      continue;
    }
    if (flags_.delegateDidEndDisplayingCell)
      delegate_->collectionViewDidEndDisplayingCellForItemAtIndexPath(*this, *cell, path);
    if (cell->reuseIdentifier().empty()) cell->removeFromSuperview();
    else enqueueReusableCell(cell, cell->reuseIdentifier());
  }
  layoutDocumentView();
  layoutCellsWithRedraw(true);
  layoutSupplementaryViewsWithRedraw(true);
  lastDrawnSize_ = visibleSize();
  for (auto& [identifier, pool] : reusableCells_)
    for (auto& cell : pool) cell->setHidden(true);
  // Timed from outside as a reload: the next frame shows the list as it is now.
  if (ui::TimingMarks::enabled())
    ui::TimingMarks::mark("list-reload", std::to_string(after) + " " + (window() ? window()->title() : std::string()));
  return true;
}

void TileCollectionView::layout() {
  TileScrollView::layout();
  fnd::Size visible = visibleSize();
  if (visible == lastDrawnSize_) {
    layoutCells();
    layoutSupplementaryViews();
    return;
  }
  bool invalidate = layout_ ? layout_->shouldInvalidateLayoutForBoundsChange(fnd::Rect(fnd::Point{}, visible)) : true;
  data_.recalculateAndPrepareLayout(invalidate);
  performFullRelayoutForcingSubviewsReset(invalidate);
}

void TileCollectionView::performFullRelayoutForcingSubviewsReset(bool force) {
  if (force && flags_.wantsLayout) resetAllCellsAndSupplementaryViews();
  layoutDocumentView();
  layoutCellsWithRedraw(true);
  layoutSupplementaryViewsWithRedraw(true);
  lastDrawnSize_ = visibleSize();
}

void TileCollectionView::layoutDocumentView() {
  if (!flags_.wantsLayout) return;
  updateScrollDirection();
  if (auto& doc = documentView()) doc->setFrameSize(data_.encompassingSize());
}

void TileCollectionView::updateScrollDirection() {
  std::int64_t direction = layout_ ? layout_->scrollDirection() : 0;
  setHasVerticalScroller(direction != 1);
  setHasHorizontalScroller(direction != 0);
}

void TileCollectionView::applyLayoutAttributesToCell(const std::optional<TileCollectionViewLayoutAttributes>& a,
                                                     TileCollectionViewCell& cell) {
  fnd::Rect frame = a ? a->frame : fnd::Rect();
  cell.willLayoutWithFrame(frame);
  cell.setFrame(frame);
  cell.setAlphaValue(a ? a->alpha : 0.0);
  cell.setZPosition(a ? double(a->zIndex) : 0.0);
}

void TileCollectionView::layoutCellsWithRedraw(bool redraw) {
  if (!dataSource_ || !flags_.wantsLayout) return;
  if (layout_ && (redraw || layout_->shouldApplyExistingLayoutAttributesOnLayout())) {
    for (auto& [path, cell] : visibleCellsMap_)
      applyLayoutAttributesToCell(layout_->layoutAttributesForItemAtIndexPath(path), *cell);
  }
  std::vector<IndexPath> now = indexPathsForItemsInRect(documentVisibleRect());
  std::unordered_set<IndexPath, IndexPathHash> nowSet(now.begin(), now.end());
  std::vector<IndexPath> leaving;
  for (auto& [path, cell] : visibleCellsMap_)
    if (!nowSet.count(path)) leaving.push_back(path);
  for (const IndexPath& path : leaving) {
    auto it = visibleCellsMap_.find(path);
    std::shared_ptr<TileCollectionViewCell> cell = it->second;
    visibleCellsMap_.erase(it);
    enqueueReusableCell(cell, cell->reuseIdentifier());
    if (flags_.delegateDidEndDisplayingCell)
      delegate_->collectionViewDidEndDisplayingCellForItemAtIndexPath(*this, *cell, path);
  }
  auto& doc = documentView();
  if (flags_.dataSourceWillShowItems) {
    std::vector<IndexPath> coming;
    for (const IndexPath& path : now)
      if (!visibleCellsMap_.count(path)) coming.push_back(path);
    if (!coming.empty()) dataSource_->collectionViewWillShowItemsAtIndexPaths(*this, coming);
  }
  for (const IndexPath& path : now) {
    if (visibleCellsMap_.count(path)) continue;
    std::shared_ptr<ui::View> answer = dataSource_->collectionViewCellForItemAtIndexPath(*this, path);
    auto cell = std::dynamic_pointer_cast<TileCollectionViewCell>(answer);
    if (!cell) {
      // A broken data source costs this item its view; the others still get theirs.
      if (!answer) fnd::assertionFailed("collectionView:cellForItemAtIndexPath: must return a non-nil cell.", kModule);
      fnd::assertionFailed(
          "collectionView:cellForItemAtIndexPath: must return an instance or subclass of TileCollectionViewCell.",
          kModule);
      continue;
    }
    cell->setIndexPath(path);
    cell->setCollectionView(weakSelf());
    applyLayoutAttributesToCell(layout_ ? layout_->layoutAttributesForItemAtIndexPath(path) : std::nullopt, *cell);
    if (cell->superview()) cell->setHidden(false);
    else if (doc) doc->addSubview(cell);
    cell->setSelected(isItemSelected(path));
    visibleCellsMap_[path] = cell;
  }
  // Cells in the pool are not drawn: those out of sight are so already; one where the list is
  // shown now (scrolled back to its old place) would show a row it no longer holds.
  const fnd::Rect visible = documentVisibleRect();
  for (auto& [identifier, pool] : reusableCells_)
    for (auto& cell : pool)
      if (!cell->isHidden() && cell->frame().intersects(visible)) cell->setHidden(true);
}

void TileCollectionView::recycleVisibleCells() {
  auto cells = std::move(visibleCellsMap_);
  visibleCellsMap_.clear();
  for (auto& [path, cell] : cells) {
    if (flags_.delegateDidEndDisplayingCell)
      delegate_->collectionViewDidEndDisplayingCellForItemAtIndexPath(*this, *cell, cell->indexPath());
    // A cell without an identifier cannot be handed out again: it goes, as before.
    if (cell->reuseIdentifier().empty()) cell->removeFromSuperview();
    else enqueueReusableCell(cell, cell->reuseIdentifier());
  }
  // Supplementary views are few: they are made again.
  for (auto& [key, view] : visibleSupplementaryViewsMap_) view->removeFromSuperview();
  visibleSupplementaryViewsMap_.clear();
  reusableSupplementaryViews_.clear();
}

void TileCollectionView::resetAllCellsAndSupplementaryViews() {
  registrationsChanged_ = false;
  reusableCells_.clear();
  reusableSupplementaryViews_.clear();
  if (flags_.delegateDidEndDisplayingCell) {
    auto cells = visibleCellsMap_;
    for (auto& [path, cell] : cells)
      delegate_->collectionViewDidEndDisplayingCellForItemAtIndexPath(*this, *cell, cell->indexPath());
  }
  visibleCellsMap_.clear();
  visibleSupplementaryViewsMap_.clear();
  if (auto& doc = documentView()) {
    auto subviews = doc->subviews();
    for (auto& v : subviews) v->removeFromSuperview();
  }
}

// ---- queries ----

std::vector<std::shared_ptr<TileCollectionViewCell>> TileCollectionView::visibleCells() const {
  std::vector<std::shared_ptr<TileCollectionViewCell>> cells;
  cells.reserve(visibleCellsMap_.size());
  for (auto& [path, cell] : visibleCellsMap_) cells.push_back(cell);
  return cells;
}

std::shared_ptr<TileCollectionViewCell> TileCollectionView::cellForItemAtIndexPath(const std::optional<IndexPath>& p) const {
  if (!p) return nullptr;
  auto it = visibleCellsMap_.find(*p);
  return it == visibleCellsMap_.end() ? nullptr : it->second;
}

std::optional<IndexPath> TileCollectionView::indexPathForCell(const TileCollectionViewCell& cell) const {
  return cell.indexPath();
}

bool TileCollectionView::validateIndexPath(const std::optional<IndexPath>& p) const {
  if (!p) return false;
  return p->section >= 0 && p->section < numberOfSections() && p->item >= 0 &&
         p->item < numberOfItemsInSection(p->section);
}

std::vector<IndexPath> TileCollectionView::allIndexPaths() const {
  std::vector<IndexPath> all;
  std::int64_t total = 0;
  for (auto& s : data_.sections()) total += s.numberOfItems;
  all.reserve(size_t(std::max<std::int64_t>(0, total)));
  for (auto& s : data_.sections())
    for (std::int64_t i = 0; i < s.numberOfItems; ++i) all.push_back(IndexPath::forItem(i, s.index));
  return all;
}

std::vector<IndexPath> TileCollectionView::indexPathsForItemsInRect(const fnd::Rect& rect) {
  if (rect == fnd::Rect()) return {};
  if (layout_) {
    if (auto answer = layout_->indexPathsForItemsInRect(rect)) return *answer;
  }
  std::vector<IndexPath> result;
  if (!layout_) return result;
  for (auto& s : data_.sections()) {
    if (!s.frame.intersects(rect)) continue;
    for (std::int64_t i = 0; i < s.numberOfItems; ++i) {
      auto a = layout_->layoutAttributesForItemAtIndexPath(IndexPath::forItem(i, s.index));
      if (a && a->frame.intersects(rect)) result.push_back(IndexPath::forItem(i, s.index));
    }
  }
  return result;
}

fnd::IndexSet TileCollectionView::indexesForSectionsInRect(const fnd::Rect& rect) const {
  fnd::IndexSet set;
  if (rect == fnd::Rect()) return set;
  for (auto& s : data_.sections())
    if (s.frame.intersects(rect)) set.add(s.index);
  return set;
}

std::optional<IndexPath> TileCollectionView::indexPathForItemAtPoint(const fnd::Point& point) {
  if (!layout_) return std::nullopt;
  // A one-point-high band across the whole width holds every item that can contain the point;
  // when the layout answers for rects, only those candidates are tested (in item order, as
  // the full scan would meet them).
  fnd::Rect band(-1e12, point.y, 2e12, 1.0);
  if (auto candidates = layout_->indexPathsForItemsInRect(band)) {
    for (const IndexPath& p : *candidates) {
      if (!validateIndexPath(p)) continue;
      auto a = layout_->layoutAttributesForItemAtIndexPath(p);
      if (a && a->frame.contains(point)) {
        // Sections are visited in order, so a section whose frame misses the point is skipped.
        auto& s = data_.sections()[size_t(p.section)];
        if (s.frame.contains(point)) return p;
      }
    }
    return std::nullopt;
  }
  for (auto& s : data_.sections()) {
    if (!s.frame.contains(point)) continue;
    for (std::int64_t i = 0; i < s.numberOfItems; ++i) {
      auto a = layout_->layoutAttributesForItemAtIndexPath(IndexPath::forItem(i, s.index));
      if (a && a->frame.contains(point)) return IndexPath::forItem(i, s.index);
    }
  }
  return std::nullopt;
}

std::vector<IndexPath> TileCollectionView::indexPathsForVisibleItems() {
  return indexPathsForItemsInRect(documentVisibleRect());
}

fnd::Rect TileCollectionView::rectForItemAtIndexPath(const std::optional<IndexPath>& p) {
  // Stale paths (kept in the selection across reloads) must never reach the layout's arrays.
  if (!p || !layout_ || !validateIndexPath(p)) return fnd::Rect();
  auto a = layout_->layoutAttributesForItemAtIndexPath(*p);
  return a ? a->frame : fnd::Rect();
}

fnd::Rect TileCollectionView::rectForSection(std::int64_t section) const {
  if (section < 0 || section >= numberOfSections() || size_t(section) >= data_.sections().size()) return fnd::Rect();
  return data_.sections()[size_t(section)].frame;
}

std::string TileCollectionView::description() const {
  char buf[512];
  fnd::Rect visible = documentVisibleRect();
  std::snprintf(buf, sizeof buf,
                "<TileCollectionView: %p; frame = %s; layer = <Layer: %p>; content offset: %s> collection view layout: %p",
                (const void*)this, fnd::toString(frame()).c_str(), (const void*)this,
                fnd::toString(visible.origin).c_str(), (const void*)layout_.get());
  return buf;
}

// ---- selection ----

std::vector<IndexPath> TileCollectionView::selectedIndexes() const { return selection_.ordered(); }

std::optional<IndexPath> TileCollectionView::indexPathForSelectedItem() const { return selection_.latest(); }

void TileCollectionView::setItemSelected(const IndexPath& p, bool selected) {
  if (!allowsSelection_) return;
  if (selected && flags_.delegateShouldSelect && !delegate_->collectionViewShouldSelectItemAtIndexPath(*this, p)) return;
  if (!selected && flags_.delegateShouldDeselect && !delegate_->collectionViewShouldDeselectItemAtIndexPath(*this, p))
    return;
  if (auto cell = cellForItemAtIndexPath(p)) cell->setSelected(selected, animatesSelection_);
  if (selected) {
    selection_.add(p);
    if (flags_.delegateDidSelect) delegate_->collectionViewDidSelectItemAtIndexPath(*this, p);
  } else {
    selection_.remove(p);
    if (flags_.delegateDidDeselect) delegate_->collectionViewDidDeselectItemAtIndexPath(*this, p);
  }
}

void TileCollectionView::selectItemAtIndexPath(const std::optional<IndexPath>& p, bool) {
  if (p) setItemSelected(*p, true);
}

void TileCollectionView::deselectItemAtIndexPath(const std::optional<IndexPath>& p, bool) {
  if (p) setItemSelected(*p, false);
}

void TileCollectionView::selectItemsAtIndexPaths(const std::vector<IndexPath>& paths, bool animated) {
  selection_.reserve(paths.size());
  for (auto& p : paths) selectItemAtIndexPath(p, animated);
}

void TileCollectionView::deselectItemsAtIndexPaths(const std::vector<IndexPath>& paths, bool animated) {
  for (auto& p : paths) deselectItemAtIndexPath(p, animated);
}

void TileCollectionView::selectItemAtIndexPath(const std::optional<IndexPath>& p, TileCollectionViewScrollPosition position,
                                               bool animated) {
  selectItemAtIndexPath(p, std::int64_t(position), animated, TileCollectionViewSelectionTypeSingle);
}

void TileCollectionView::selectItemAtIndexPath(const std::optional<IndexPath>& p, std::int64_t position, bool animated,
                                               std::int64_t type) {
  if (!p) return;
  // S in a fixed order: the walk (or the kept selection) first and P last, so keyboard moves
  // continue from P.
  std::vector<IndexPath> s;
  std::unordered_set<IndexPath, IndexPathHash> inS;
  auto add = [&](const IndexPath& q) {
    if (inS.insert(q).second) s.push_back(q);
  };
  if (type == TileCollectionViewSelectionTypeSingle) {
    add(*p);
  } else if (type == TileCollectionViewSelectionTypeToggle) {
    bool wasSelected = isItemSelected(*p);
    for (auto& q : selectedIndexes())
      if (!(q == *p)) add(q);
    if (!wasSelected) add(*p);
  } else if (type == TileCollectionViewSelectionTypeRange) {
    std::optional<IndexPath> anchor = selection_.anchor();
    // The data source may have shrunk without a reload: such an anchor starts no walk.
    if (anchor && validateIndexPath(anchor)) {
      add(*anchor);
      if (!(*anchor == *p)) {
        bool forward = *anchor < *p;
        std::optional<IndexPath> current = anchor;
        while (current && !(*current == *p)) {
          add(*current);
          current = forward ? indexPathForNextSelectableItemAfterIndexPath(current)
                            : indexPathForNextSelectableItemBeforeIndexPath(current);
        }
      }
    }
    add(*p);
  }
  std::vector<IndexPath> d;
  for (auto& q : selectedIndexes())
    if (!inS.count(q)) d.push_back(q);
  selectItemsAtIndexPaths(s, animated);
  deselectItemsAtIndexPaths(d, animated);
  scrollToItemAtIndexPath(p, position, animated);
}

void TileCollectionView::selectAll(ui::Responder*) { selectItemsAtIndexPaths(allIndexPaths(), true); }

void TileCollectionView::deselectAllItems() { deselectItemsAtIndexPaths(allIndexPaths(), true); }

std::optional<IndexPath> TileCollectionView::indexPathForNextSelectableItemAfterIndexPath(
    const std::optional<IndexPath>& p) const {
  if (!validateIndexPath(p)) return std::nullopt;
  if (p->item + 1 < numberOfItemsInSection(p->section)) return IndexPath::forItem(p->item + 1, p->section);
  IndexPath next = IndexPath::forItem(0, p->section + 1);
  if (validateIndexPath(next)) return next;
  return std::nullopt;
}

std::optional<IndexPath> TileCollectionView::indexPathForNextSelectableItemBeforeIndexPath(
    const std::optional<IndexPath>& p) const {
  if (!validateIndexPath(p)) return std::nullopt;
  if (p->item - 1 >= 0) return IndexPath::forItem(p->item - 1, p->section);
  if (p->section - 1 >= 0 && numberOfSections() > 0) {
    IndexPath prev = IndexPath::forItem(numberOfItemsInSection(p->section - 1) - 1, p->section - 1);
    if (validateIndexPath(prev)) return prev;
  }
  return std::nullopt;
}

// ---- mouse ----

void TileCollectionView::mouseDownInCollectionViewCell(TileCollectionViewCell& cell, const ui::Event& event) {
  auto keep = weak_from_this().lock();
  if (ui::Window* w = window()) w->makeFirstResponder(this);
  std::optional<IndexPath> p = cell.indexPath();
  if (!p) fnd::log(fnd::LogFlag::Info, "***index path not found for selection.");
  if (flags_.delegateMouseDown) delegate_->collectionViewMouseDownInItemAtIndexPath(*this, p);
  std::int64_t type = TileCollectionViewSelectionTypeSingle;
  if (event.hasModifier(ui::ModifierFlag::Command)) type = TileCollectionViewSelectionTypeToggle;
  else if (event.hasModifier(ui::ModifierFlag::Shift)) type = TileCollectionViewSelectionTypeRange;
  selectItemAtIndexPath(p, TileCollectionViewScrollPositionNearest, true, type);
}

void TileCollectionView::mouseUpInCollectionViewCell(TileCollectionViewCell& cell, const ui::Event&) {
  if (flags_.delegateMouseUp) delegate_->collectionViewMouseUpInItemAtIndexPath(*this, cell.indexPath());
}

void TileCollectionView::doubleClickInCollectionViewCell(TileCollectionViewCell& cell, const ui::Event&) {
  if (flags_.delegateDidDoubleClick) delegate_->collectionViewDidDoubleClickItemAtIndexPath(*this, cell.indexPath());
}

void TileCollectionView::rightClickInCollectionViewCell(TileCollectionViewCell& cell, const ui::Event& event) {
  if (!flags_.delegateDidRightClick) return;
  currentRightClick_ = &event;
  delegate_->collectionViewDidRightClickItemAtIndexPath(*this, cell.indexPath());
  currentRightClick_ = nullptr;
}

// ---- keyboard ----

void TileCollectionView::keyDown(const ui::Event& event) {
  // Arrow keys become move actions; other keys go on to the scroll view's handling.
  ui::Command selector = ui::Responder::selectorForKeyEvent(event);
  if (!selector.empty() && selector.text().starts_with("move") && performAction(selector, this)) return;
  // Home and End go to the first and the last item, as in any list, rather than only scrolling
  // there; Shift extends the selection. An empty view leaves them to the scroll view.
  if (event.keyCode == ui::KeyCode::Home || event.keyCode == ui::KeyCode::End) {
    if (moveToEdge(event.keyCode == ui::KeyCode::Home, event.hasModifier(ui::ModifierFlag::Shift) ? 1 : 0)) return;
  }
  TileScrollView::keyDown(event);
}

bool TileCollectionView::moveToEdge(bool first, std::int64_t type) {
  std::optional<IndexPath> target;
  for (const auto& section : data_.sections()) {
    if (section.numberOfItems <= 0) continue;
    target = IndexPath::forItem(first ? 0 : section.numberOfItems - 1, section.index);
    if (first) break;
  }
  if (!target) return false;
  selectItemAtIndexPath(target, TileCollectionViewScrollPositionNearest, true, type);
  return true;
}

void TileCollectionView::addKeyActions() {
  using Handler = void (TileCollectionView::*)(ui::Responder*);
  static constexpr std::pair<ui::Command, Handler> handlers[] = {
      {ui::cmd::moveLeft, &TileCollectionView::moveLeft},
      {ui::cmd::moveLeftAndModifySelection, &TileCollectionView::moveLeftAndModifySelection},
      {ui::cmd::moveRight, &TileCollectionView::moveRight},
      {ui::cmd::moveRightAndModifySelection, &TileCollectionView::moveRightAndModifySelection},
      {ui::cmd::moveUp, &TileCollectionView::moveUp},
      {ui::cmd::moveUpAndModifySelection, &TileCollectionView::moveUpAndModifySelection},
      {ui::cmd::moveDown, &TileCollectionView::moveDown},
      {ui::cmd::moveDownAndModifySelection, &TileCollectionView::moveDownAndModifySelection},
      {ui::cmd::selectAll, &TileCollectionView::selectAll},
  };
  for (auto [command, handler] : handlers)
    keyActions_.add({.command = command, .perform = [this, handler = handler](ui::Responder* sender) {
                       (this->*handler)(sender);
                       return true;
                     }});
}

bool TileCollectionView::respondsToAction(ui::Command selector) const {
  return keyActions_.contains(selector) || TileScrollView::respondsToAction(selector);
}

bool TileCollectionView::performAction(ui::Command selector, ui::Responder* sender) {
  return keyActions_.perform(selector, sender) || TileScrollView::performAction(selector, sender);
}

void TileCollectionView::moveInDirection(TileCollectionViewDirection direction, std::int64_t type) {
  if (!layout_) return;
  std::optional<IndexPath> current = indexPathForSelectedItem();
  // A selection left pointing past the data by a reload is no place to move from.
  if (current && !validateIndexPath(current)) current.reset();
  std::optional<IndexPath> next = layout_->indexPathForNextItemInDirection(direction, current);
  if (!next || !validateIndexPath(next)) return;
  selectItemAtIndexPath(next, TileCollectionViewScrollPositionNearest, true, type);
}

void TileCollectionView::moveLeft(ui::Responder*) { moveInDirection(TileCollectionViewDirectionLeft, 0); }
void TileCollectionView::moveLeftAndModifySelection(ui::Responder*) { moveInDirection(TileCollectionViewDirectionLeft, 1); }
void TileCollectionView::moveRight(ui::Responder*) { moveInDirection(TileCollectionViewDirectionRight, 0); }
void TileCollectionView::moveRightAndModifySelection(ui::Responder*) { moveInDirection(TileCollectionViewDirectionRight, 1); }
void TileCollectionView::moveUp(ui::Responder*) { moveInDirection(TileCollectionViewDirectionUp, 0); }
void TileCollectionView::moveUpAndModifySelection(ui::Responder*) { moveInDirection(TileCollectionViewDirectionUp, 1); }
void TileCollectionView::moveDown(ui::Responder*) { moveInDirection(TileCollectionViewDirectionDown, 0); }
void TileCollectionView::moveDownAndModifySelection(ui::Responder*) { moveInDirection(TileCollectionViewDirectionDown, 1); }

// ---- scrolling ----

void TileCollectionView::scrollToItemAtIndexPath(const std::optional<IndexPath>& p, std::int64_t position, bool animated) {
  if (position == TileCollectionViewScrollPositionNone) return;
  // An index path that names no item would scroll to the top: do nothing instead.
  if (!validateIndexPath(p)) return;
  fnd::Rect r = rectForItemAtIndexPath(p);
  fnd::Rect v = documentVisibleRect();
  fnd::Rect target = r;
  switch (position) {
    case TileCollectionViewScrollPositionTop: target.size.height = v.size.height; break;
    case TileCollectionViewScrollPositionCenter:
      target.size.height = bounds().size.height;
      target.origin.y = r.origin.y + v.size.height / 2.0 - bounds().size.height;
      break;
    case TileCollectionViewScrollPositionBottom:
      target.size.height = v.size.height;
      target.origin.y = r.origin.y - v.size.height;
      break;
    default: break;
  }
  if (TileClipView* clip = clipView()) clip->scrollRectToVisible(target, animated);
  if (flags_.delegateDidScroll) delegate_->collectionViewDidScrollToItemAtIndexPath(*this, *p);
}

void TileCollectionView::scrollToCurrentRect(const fnd::Rect& rect) {
  if (TileClipView* clip = clipView()) clip->scrollRectToVisible(rect, false);
}

}  // namespace kesto
