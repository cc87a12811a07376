#include "Views/TileCollectionViewGridLayout.h"

#include "Views/TileCollectionView.h"

#include <cmath>

namespace kesto {

TileCollectionViewGridLayout::TileCollectionViewGridLayout() = default;

double TileCollectionViewGridLayout::visibleWidth() const {
  auto* cv = collectionView();
  return cv ? cv->visibleSize().width : 0.0;
}

const TileCollectionViewGridLayoutSection* TileCollectionViewGridLayout::sectionAt(std::int64_t index) const {
  if (index < 0 || size_t(index) >= sections_.size()) return nullptr;
  return sections_[size_t(index)].get();
}

void TileCollectionViewGridLayout::prepareLayout() {
  sections_.clear();
  TileCollectionView* cv = collectionView();
  unsigned m = delegate_ ? delegate_->implementedGridLayoutMethods() : 0;
  using D = TileCollectionViewGridLayoutDelegate;
  if (cv && (m & D::SizeForItem)) itemSize_ = delegate_->sizeForItemInCollectionView(*cv);
  double spacing = verticalSpacing_;
  double available = visibleWidth() - itemHorizontalMargin_;
  double quotient = available / (itemSize_.width + itemHorizontalMargin_);
  // A zero item width would give infinitely many columns: clients give positive sizes, and
  // anything else degrades to a bounded count instead of overflowing.
  std::uint64_t columns = quotient >= 1 ? std::uint64_t(std::min(quotient, 1e6)) : 0;
  itemPadding_ = 0;
  if (columns > 0) {
    if (itemHorizontalMargin_ == 0 && itemPaddingEnabled_)
      itemPadding_ = std::floor(float((available - double(columns) * itemSize_.width) / double(columns + 1)));
    else
      itemPadding_ = itemHorizontalMargin_;
  } else {
    columns = 1;
  }
  numberOfColumns_ = columns;
  if (!cv) return;
  double total = 0;
  for (std::int64_t s = 0; s < cv->numberOfSections(); ++s) {
    std::int64_t n = cv->numberOfItemsInSection(s);
    double header = (m & D::HeightForHeader) ? std::trunc(delegate_->collectionViewHeightForHeaderInSection(*cv, s)) : 0;
    double footer = (m & D::HeightForFooter) ? std::trunc(delegate_->collectionViewHeightForFooterInSection(*cv, s)) : 0;
    fnd::EdgeInsets insets = (m & D::InsetForSection) ? delegate_->collectionViewLayoutInsetForSectionAtIndex(*cv, *this, s)
                                                      : fnd::EdgeInsets{};
    auto section = std::make_shared<TileCollectionViewGridLayoutSection>(n);
    section->offset = total + header + insets.top;
    section->height = 0;
    section->index = s;
    section->headerHeight = header;
    section->footerHeight = footer;
    for (std::int64_t i = 0; i < n; ++i) {
      std::uint64_t c = std::uint64_t(i) % columns, r = std::uint64_t(i) / columns;
      section->itemInfo[size_t(i)].origin =
          fnd::Point{insets.left + itemPadding_ + double(c) * (itemSize_.width + itemPadding_),
                     double(r) * itemSize_.height + double(r) * spacing};
    }
    std::int64_t rows = std::int64_t(std::ceil(float(n) / float(columns)));
    section->height = itemSize_.height * double(rows) + spacing * double(std::max<std::int64_t>(rows - 1, 0));
    total = section->height + footer + header + insets.bottom + insets.top + total;
    sections_.push_back(std::move(section));
  }
}

std::optional<TileCollectionViewLayoutAttributes> TileCollectionViewGridLayout::layoutAttributesForItemAtIndexPath(
    const IndexPath& p) {
  const auto* s = sectionAt(p.section);
  // Paths the cache does not know (a stale selection) get no attributes.
  if (!s || p.item < 0 || p.item >= s->numberOfItems) return std::nullopt;
  const auto& info = s->itemInfo[size_t(p.item)];
  TileCollectionViewLayoutAttributes a;
  a.frame = fnd::Rect(info.origin.x, info.origin.y + s->offset, itemSize_.width, itemSize_.height);
  a.alpha = 1.0;
  return a;
}

std::optional<TileCollectionViewLayoutAttributes> TileCollectionViewGridLayout::layoutAttributesForSupplementaryItemInSection(
    std::int64_t section, const std::string& kind) {
  const auto* s = sectionAt(section);
  if (!s) return std::nullopt;
  TileCollectionViewLayoutAttributes a;
  a.alpha = 1.0;
  if (kind == TileCollectionViewGridLayoutHeader)
    a.frame = fnd::Rect(0, s->offset - s->headerHeight, visibleWidth(), s->headerHeight);
  else if (kind == TileCollectionViewGridLayoutFooter)
    a.frame = fnd::Rect(0, s->offset + s->height, visibleWidth(), s->footerHeight);
  return a;
}

fnd::Rect TileCollectionViewGridLayout::rectForSectionAtIndex(std::int64_t section) {
  const auto* s = sectionAt(section);
  if (!s) return fnd::Rect();
  return fnd::Rect(0, s->offset - s->headerHeight, visibleWidth(), s->headerHeight + s->height + s->footerHeight);
}

fnd::Range TileCollectionViewGridLayout::columnsInRect(const fnd::Rect& rect) const {
  fnd::Range range{0, 0};
  bool found = false;
  fnd::Point probe{0, rect.minY()};
  for (std::uint64_t c = 0; c < numberOfColumns_; ++c) {
    probe.x += itemPadding_;
    if (rect.contains(probe)) {
      if (!found) {
        range = fnd::Range{std::int64_t(c), 1};
        found = true;
      } else {
        ++range.length;
      }
    }
    probe.x += itemSize_.width;
  }
  return range;
}

fnd::Range TileCollectionViewGridLayout::rowsInRect(const fnd::Rect& rect,
                                                    const TileCollectionViewGridLayoutSection& section) const {
  if (rect.minY() > section.offset + section.height || section.offset > rect.maxY()) return fnd::Range{0, 0};
  double pitch = itemSize_.height + verticalSpacing_;
  if (pitch <= 0 || section.numberOfItems <= 0) return fnd::Range{0, 0};
  std::int64_t rows = std::int64_t(std::ceil(double(section.numberOfItems) / double(numberOfColumns_ ? numberOfColumns_ : 1)));
  double top = std::max(0.0, rect.minY() - section.offset);
  double bottom = rect.maxY() - section.offset;
  std::int64_t first = std::int64_t(top / pitch);
  std::int64_t last = std::min<std::int64_t>(std::int64_t(std::floor(bottom / pitch)), rows - 1);
  if (last < first) return fnd::Range{first, 0};
  return fnd::Range{first, last + 1 - first};
}

std::optional<std::vector<IndexPath>> TileCollectionViewGridLayout::indexPathsForItemsInRect(const fnd::Rect& rect) {
  std::vector<IndexPath> result;
  fnd::Range columns = columnsInRect(rect);
  for (auto& section : sections_) {
    fnd::Range rows = rowsInRect(rect, *section);
    for (std::int64_t r = rows.location; r < rows.max(); ++r) {
      for (std::int64_t c = columns.location; c < columns.max(); ++c) {
        std::int64_t item = std::int64_t(numberOfColumns_) * r + c;
        if (item >= section->numberOfItems) break;
        result.push_back(IndexPath::forItem(item, section->index));
      }
    }
  }
  return result;
}

std::optional<IndexPath> TileCollectionViewGridLayout::indexPathForNextItemInDirection(
    TileCollectionViewDirection direction, const std::optional<IndexPath>& current) {
  TileCollectionView* cv = collectionView();
  if (!cv) return current;
  switch (direction) {
    case TileCollectionViewDirectionRight: return cv->indexPathForNextSelectableItemAfterIndexPath(current);
    case TileCollectionViewDirectionLeft: return cv->indexPathForNextSelectableItemBeforeIndexPath(current);
    case TileCollectionViewDirectionUp:
    case TileCollectionViewDirectionDown: {
      // Probing from a path that names no item would start at the origin.
      if (!cv->validateIndexPath(current)) return std::nullopt;
      fnd::Rect r = cv->rectForItemAtIndexPath(current);
      bool up = direction == TileCollectionViewDirectionUp;
      fnd::Point near{r.origin.x, up ? r.origin.y - 1.0 : r.origin.y + r.size.height + 1.0};
      if (auto found = cv->indexPathForItemAtPoint(near)) return found;
      fnd::Point far{r.origin.x, up ? r.origin.y - (1.0 + itemSize_.height)
                                    : r.origin.y + itemSize_.height + r.size.height + 1.0};
      return cv->indexPathForItemAtPoint(far);
    }
    default: return current;
  }
}

bool TileCollectionViewGridLayout::shouldInvalidateLayoutForBoundsChange(const fnd::Rect& bounds) {
  if (bounds.size.width == lastInvalidatedBounds_.size.width) return false;
  lastInvalidatedBounds_ = bounds;
  return true;
}

}  // namespace kesto
