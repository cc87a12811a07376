#include "Views/TileCollectionViewData.h"

#include "Views/TileCollectionView.h"

#include <algorithm>

namespace kesto {

std::int64_t TileCollectionViewData::numberOfItemsInSection(std::int64_t section) const {
  if (section < 0 || section >= numberOfSections_ || size_t(section) >= sections_.size()) return 0;
  return sections_[size_t(section)].numberOfItems;
}

void TileCollectionViewData::recalculateAndPrepareLayout(bool recalculate) {
  TileCollectionView* cv = collectionView_;
  TileCollectionViewLayout* layout = cv ? cv->collectionViewLayout().get() : nullptr;
  if (!layout) return;
  if (recalculate) {
    TileCollectionViewDataSource* ds = cv->dataSource();
    std::int64_t n = 1;
    if (ds && (ds->implementedDataSourceMethods() & TileCollectionViewDataSource::NumberOfSectionsInCollectionView))
      n = ds->numberOfSectionsInCollectionView(*cv);
    // A negative count would size the section array from garbage: no sections instead.
    n = std::max<std::int64_t>(0, n);
    numberOfSections_ = n;
    sections_.assign(size_t(n), TileCollectionViewSection{});
    for (std::int64_t i = 0; i < n; ++i) {
      sections_[size_t(i)].index = i;
      // Without a data source there is nothing to show.
      sections_[size_t(i)].numberOfItems = ds ? std::int64_t(ds->collectionViewNumberOfItemsInSection(*cv, i)) : 0;
    }
    layout->prepareLayout();
  }
  auto identifiers = cv->allSupplementaryViewIdentifiers();
  for (auto& section : sections_) {
    fnd::Rect r = layout->rectForSectionAtIndex(section.index);
    if (r.isNull()) {
      fnd::Rect u = fnd::Rect::null();
      for (std::int64_t item = 0; item < section.numberOfItems; ++item) {
        auto a = layout->layoutAttributesForItemAtIndexPath(IndexPath::forItem(item, section.index));
        u = u.unionWith(a ? a->frame : fnd::Rect());
      }
      for (auto& id : identifiers) {
        auto a = layout->layoutAttributesForSupplementaryItemInSection(
            section.index, TileCollectionView::kindForSupplementaryViewIdentifier(id));
        u = u.unionWith(a ? a->frame : fnd::Rect());
      }
      r = u;
    }
    section.frame = r;
  }
  encompassingSize_ = encompassingSizeWithLayout(layout);
}

fnd::Size TileCollectionViewData::encompassingSizeWithLayout(TileCollectionViewLayout* layout) {
  fnd::Size size = layout ? layout->contentSize() : fnd::Size{};
  if (size == fnd::Size{}) {
    fnd::Rect u = fnd::Rect::null();
    for (auto& s : sections_) u = u.unionWith(s.frame);
    if (!u.isNull()) size = fnd::Size{std::max(0.0, u.maxX()), std::max(0.0, u.maxY())};
  }
  fnd::Size visible = collectionView_ ? collectionView_->visibleSize() : fnd::Size{};
  return fnd::Size{std::max(size.width, visible.width), std::max(size.height, visible.height)};
}

}  // namespace kesto
