#include "Views/Unused/TileCollectionViewListLayout.h"

#include "Views/TileCollectionView.h"

#include <cmath>
#include <cstdint>

namespace kesto {

double TileCollectionViewListLayout::visibleWidth() const {
  auto* cv = collectionView();
  return cv ? cv->visibleSize().width : 0.0;
}

void TileCollectionViewListLayout::prepareLayout() {
  sections_.clear();
  TileCollectionView* cv = collectionView();
  if (!cv) return;
  unsigned m = delegate_ ? delegate_->implementedListLayoutMethods() : 0;
  using D = TileCollectionViewListLayoutDelegate;
  double offset = 0;
  double spacing = verticalSpacing_;
  for (std::int64_t s = 0; s < cv->numberOfSections(); ++s) {
    std::int64_t rows = cv->numberOfItemsInSection(s);
    double header = (m & D::HeightForHeader) ? std::trunc(delegate_->collectionViewHeightForHeaderInSection(*cv, s)) : 0;
    double footer = (m & D::HeightForFooter) ? std::trunc(delegate_->collectionViewHeightForFooterInSection(*cv, s)) : 0;
    auto section = std::make_shared<TileCollectionViewListLayoutSection>(rows);
    section->offset = offset;
    section->height = 0;
    section->headerHeight = header;
    section->footerHeight = footer;
    section->index = s;
    section->height += header;
    for (std::int64_t r = 0; r < rows; ++r) {
      double h = rowHeight_;
      if (m & D::HeightForRow) h = delegate_->collectionViewHeightForRowAtIndexPath(*cv, IndexPath::forItem(r, s));
      section->rowInfo[size_t(r)] = TileCollectionViewListLayoutRowInfo{h, section->height};
      section->height += h;
      section->height += spacing;
    }
    if (rows > 0) section->height -= spacing;
    section->height += footer;
    section->frame = fnd::Rect(0, section->offset, visibleWidth(), section->height);
    offset += section->height;
    sections_.push_back(std::move(section));
  }
}

fnd::Rect TileCollectionViewListLayout::rectForItemAtIndex(std::int64_t row, std::int64_t section) const {
  if (section < 0 || size_t(section) >= sections_.size()) return fnd::Rect();
  const auto& s = *sections_[size_t(section)];
  if (row < 0 || row >= s.numberOfRows) return fnd::Rect();
  const auto& info = s.rowInfo[size_t(row)];
  return fnd::Rect(0, s.offset + info.offset, visibleWidth(), info.height);
}

std::optional<TileCollectionViewLayoutAttributes> TileCollectionViewListLayout::layoutAttributesForItemAtIndexPath(
    const IndexPath& p) {
  if (p.section < 0 || size_t(p.section) >= sections_.size()) return std::nullopt;
  if (p.item < 0 || p.item >= sections_[size_t(p.section)]->numberOfRows) return std::nullopt;
  TileCollectionViewLayoutAttributes a;
  a.frame = rectForItemAtIndex(p.item, p.section);
  a.alpha = 1.0;
  return a;
}

std::optional<TileCollectionViewLayoutAttributes> TileCollectionViewListLayout::layoutAttributesForSupplementaryItemInSection(
    std::int64_t section, const std::string& kind) {
  if (section < 0 || size_t(section) >= sections_.size()) return std::nullopt;
  const auto& s = *sections_[size_t(section)];
  TileCollectionViewLayoutAttributes a;
  a.alpha = 1.0;
  a.zIndex = INT64_MAX;
  double width = visibleWidth();
  if (kind == TileCollectionViewListLayoutHeader) {
    fnd::Rect frame(0, s.offset, width, s.headerHeight);
    if (stickyHeaders_) {
      TileCollectionView* cv = collectionView();
      double top = cv ? cv->documentVisibleRect().origin.y : 0;
      // Each header is pinned under the next one's pinned position: walk up from the last.
      double next = 3.4028234663852886e38;
      for (size_t i = sections_.size() - 1; i > size_t(section); --i) {
        const auto& n = *sections_[i];
        next = std::min(std::max(top, n.offset), next - n.headerHeight);
      }
      frame.origin.y = std::min(std::max(top, s.offset), next - s.headerHeight);
    }
    a.frame = frame;
  } else if (kind == TileCollectionViewListLayoutFooter) {
    a.frame = fnd::Rect(0, s.offset + s.height - s.footerHeight, width, s.footerHeight);
  }
  return a;
}

fnd::Rect TileCollectionViewListLayout::rectForSectionAtIndex(std::int64_t section) {
  if (section < 0 || size_t(section) >= sections_.size()) return fnd::Rect();
  return sections_[size_t(section)]->frame;
}

std::int64_t TileCollectionViewListLayout::nearestIntersectingRowInSection(const TileCollectionViewListLayoutSection& s,
                                                                           const fnd::Rect& rect, std::int64_t edge) const {
  double target = (edge == 0 ? rect.minY() : rect.minY() + rect.height()) - s.offset;
  std::int64_t low = 0, high = s.numberOfRows - 1, mid = 0;
  while (low <= high) {
    mid = (low + high) / 2;
    double off = s.rowInfo[size_t(mid)].offset;
    if (off == target) return mid;
    if (off > target) high = mid - 1;
    else low = mid + 1;
  }
  if (edge == 0) {
    while (mid > 0 && s.rowInfo[size_t(mid)].offset > target) --mid;
  } else {
    while (mid < s.numberOfRows - 1 && target > s.rowInfo[size_t(mid)].offset + s.rowInfo[size_t(mid)].height) ++mid;
  }
  return mid;
}

std::optional<std::vector<IndexPath>> TileCollectionViewListLayout::indexPathsForItemsInRect(const fnd::Rect& rect) {
  std::vector<IndexPath> result;
  for (auto& s : sections_) {
    // A section without rows has nothing to report (the search would answer row 0).
    if (s->numberOfRows <= 0 || !s->frame.intersects(rect)) continue;
    std::int64_t first = nearestIntersectingRowInSection(*s, rect, 0);
    std::int64_t last = nearestIntersectingRowInSection(*s, rect, 1);
    for (std::int64_t r = first; r <= last; ++r) result.push_back(IndexPath::forItem(r, s->index));
  }
  return result;
}

std::optional<IndexPath> TileCollectionViewListLayout::indexPathForNextItemInDirection(
    TileCollectionViewDirection direction, const std::optional<IndexPath>& current) {
  TileCollectionView* cv = collectionView();
  if (!cv) return current;
  if (direction == TileCollectionViewDirectionUp) return cv->indexPathForNextSelectableItemBeforeIndexPath(current);
  if (direction == TileCollectionViewDirectionDown) return cv->indexPathForNextSelectableItemAfterIndexPath(current);
  return current;
}

}  // namespace kesto
