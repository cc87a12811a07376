#pragma once

#include "Platform/Foundation/Range.h"
#include "Views/TileCollectionViewLayout.h"

#include <memory>
#include <vector>

namespace kesto {

inline constexpr const char* TileCollectionViewGridLayoutHeader = "TileCollectionViewGridLayoutHeader";
inline constexpr const char* TileCollectionViewGridLayoutFooter = "TileCollectionViewGridLayoutFooter";

class TileCollectionViewGridLayout;

class TileCollectionViewGridLayoutDelegate {
 public:
  enum Method : unsigned {
    SizeForItem = 1u << 0,
    HeightForHeader = 1u << 1,
    HeightForFooter = 1u << 2,
    InsetForSection = 1u << 3,
  };
  virtual ~TileCollectionViewGridLayoutDelegate() = default;
  virtual unsigned implementedGridLayoutMethods() const { return 0; }
  virtual fnd::Size sizeForItemInCollectionView(TileCollectionView& view) { return fnd::Size{44, 44}; }
  virtual double collectionViewHeightForHeaderInSection(TileCollectionView& view, std::int64_t section) { return 0; }
  virtual double collectionViewHeightForFooterInSection(TileCollectionView& view, std::int64_t section) { return 0; }
  virtual fnd::EdgeInsets collectionViewLayoutInsetForSectionAtIndex(TileCollectionView& view,
                                                                     TileCollectionViewGridLayout& layout,
                                                                     std::int64_t section) { return {}; }
};

struct TileCollectionViewGridLayoutItemInfo {
  fnd::Point origin;  // x in document coordinates, y relative to the section's offset
};

class TileCollectionViewGridLayoutSection {
 public:
  explicit TileCollectionViewGridLayoutSection(std::int64_t numberOfItems)
      : numberOfItems(numberOfItems), itemInfo(size_t(std::max<std::int64_t>(0, numberOfItems))) {}
  double offset = 0;
  double height = 0;
  double headerHeight = 0;
  double footerHeight = 0;
  std::int64_t index = 0;
  std::int64_t numberOfItems = 0;
  std::vector<TileCollectionViewGridLayoutItemInfo> itemInfo;
};

// Equal-sized items in padded columns filling the visible width, section after section, with
// optional headers, footers and insets. Everything is computed in prepareLayout; queries are
// arithmetic on that cache.
class TileCollectionViewGridLayout : public TileCollectionViewLayout {
 public:
  TileCollectionViewGridLayout();

  void prepareLayout() override;
  std::optional<TileCollectionViewLayoutAttributes> layoutAttributesForItemAtIndexPath(const IndexPath& indexPath) override;
  std::optional<TileCollectionViewLayoutAttributes> layoutAttributesForSupplementaryItemInSection(
      std::int64_t section, const std::string& kind) override;
  fnd::Rect rectForSectionAtIndex(std::int64_t section) override;
  std::optional<std::vector<IndexPath>> indexPathsForItemsInRect(const fnd::Rect& rect) override;
  std::optional<IndexPath> indexPathForNextItemInDirection(TileCollectionViewDirection direction,
                                                           const std::optional<IndexPath>& current) override;
  bool shouldInvalidateLayoutForBoundsChange(const fnd::Rect& bounds) override;

  fnd::Range columnsInRect(const fnd::Rect& rect) const;
  // The rows of the section the rect reaches. The last row divides by the row pitch (item
  // height plus spacing) and is clamped to the section's rows.
  fnd::Range rowsInRect(const fnd::Rect& rect, const TileCollectionViewGridLayoutSection& section) const;

  TileCollectionViewGridLayoutDelegate* delegate() const { return delegate_; }
  void setDelegate(TileCollectionViewGridLayoutDelegate* delegate) { delegate_ = delegate; }
  bool itemPaddingEnabled() const { return itemPaddingEnabled_; }
  void setItemPaddingEnabled(bool on) { itemPaddingEnabled_ = on; }
  double verticalSpacing() const { return verticalSpacing_; }
  void setVerticalSpacing(double s) { verticalSpacing_ = s; }
  double itemHorizontalMargin() const { return itemHorizontalMargin_; }
  void setItemHorizontalMargin(double m) { itemHorizontalMargin_ = m; }
  fnd::Size itemSize() const { return itemSize_; }
  void setItemSize(const fnd::Size& s) { itemSize_ = s; }
  std::uint64_t numberOfColumns() const { return numberOfColumns_; }
  double itemPadding() const { return itemPadding_; }
  fnd::Rect lastInvalidatedBounds() const { return lastInvalidatedBounds_; }
  const std::vector<std::shared_ptr<TileCollectionViewGridLayoutSection>>& sections() const { return sections_; }
  void setSections(std::vector<std::shared_ptr<TileCollectionViewGridLayoutSection>> s) { sections_ = std::move(s); }

 private:
  double visibleWidth() const;
  const TileCollectionViewGridLayoutSection* sectionAt(std::int64_t index) const;

  bool itemPaddingEnabled_ = true;
  TileCollectionViewGridLayoutDelegate* delegate_ = nullptr;
  double verticalSpacing_ = 0.0;
  double itemHorizontalMargin_ = 0.0;
  std::vector<std::shared_ptr<TileCollectionViewGridLayoutSection>> sections_;
  std::uint64_t numberOfColumns_ = 0;
  double itemPadding_ = 0.0;
  fnd::Size itemSize_{44.0, 44.0};
  fnd::Rect lastInvalidatedBounds_;
};

}  // namespace kesto
