#pragma once

#include "Platform/Foundation/Geometry.h"

#include <cstdint>
#include <vector>

namespace kesto {

class TileCollectionView;
class TileCollectionViewLayout;

struct TileCollectionViewSection {
  std::int64_t index = 0;
  fnd::Rect frame;
  std::int64_t numberOfItems = 0;
};

// The collection view's cache of its section structure and content size.
class TileCollectionViewData {
 public:
  explicit TileCollectionViewData(TileCollectionView* collectionView) : collectionView_(collectionView) {}

  std::int64_t numberOfSections() const { return numberOfSections_; }
  void setNumberOfSections(std::int64_t n) { numberOfSections_ = n; }
  const std::vector<TileCollectionViewSection>& sections() const { return sections_; }
  fnd::Size encompassingSize() const { return encompassingSize_; }
  void setEncompassingSize(const fnd::Size& size) { encompassingSize_ = size; }

  // The section's item count; 0 outside 0...numberOfSections-1.
  std::int64_t numberOfItemsInSection(std::int64_t section) const;
  // YES: ask the data source again and let the layout prepare; NO: section frames and the
  // encompassing size only. Without a layout nothing changes.
  void recalculateAndPrepareLayout(bool recalculate);
  // The content size, never smaller than the visible size. From the section frames it reaches
  // their far corner, so content that starts below the origin can be scrolled to its end.
  fnd::Size encompassingSizeWithLayout(TileCollectionViewLayout* layout);

 private:
  TileCollectionView* collectionView_;
  std::int64_t numberOfSections_ = 0;
  std::vector<TileCollectionViewSection> sections_;
  fnd::Size encompassingSize_;
};

}  // namespace kesto
