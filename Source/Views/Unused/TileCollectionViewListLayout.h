#pragma once

#include "Views/TileCollectionViewLayout.h"

#include <memory>
#include <vector>

namespace kesto {

inline constexpr const char* TileCollectionViewListLayoutHeader = "TileCollectionViewListLayoutHeader";
inline constexpr const char* TileCollectionViewListLayoutFooter = "TileCollectionViewListLayoutFooter";

class TileCollectionViewListLayoutDelegate {
 public:
  enum Method : unsigned {
    HeightForRow = 1u << 0,
    HeightForHeader = 1u << 1,
    HeightForFooter = 1u << 2,
  };
  virtual ~TileCollectionViewListLayoutDelegate() = default;
  virtual unsigned implementedListLayoutMethods() const { return 0; }
  virtual double collectionViewHeightForRowAtIndexPath(TileCollectionView& view, const IndexPath& indexPath) { return 0; }
  virtual double collectionViewHeightForHeaderInSection(TileCollectionView& view, std::int64_t section) { return 0; }
  virtual double collectionViewHeightForFooterInSection(TileCollectionView& view, std::int64_t section) { return 0; }
};

struct TileCollectionViewListLayoutRowInfo {
  double height = 0;
  double offset = 0;  // from the section's top, header included
};

class TileCollectionViewListLayoutSection {
 public:
  explicit TileCollectionViewListLayoutSection(std::int64_t numberOfRows)
      : numberOfRows(numberOfRows), rowInfo(size_t(std::max<std::int64_t>(0, numberOfRows))) {}
  std::int64_t index = 0;
  double offset = 0;
  double height = 0;
  double headerHeight = 0;
  double footerHeight = 0;
  std::int64_t numberOfRows = 0;
  std::vector<TileCollectionViewListLayoutRowInfo> rowInfo;
  fnd::Rect frame;
};

// Rows of variable height, sections one after another, optional sticky headers.
class TileCollectionViewListLayout : public TileCollectionViewLayout {
 public:
  TileCollectionViewListLayout() = default;

  void prepareLayout() override;
  std::optional<TileCollectionViewLayoutAttributes> layoutAttributesForItemAtIndexPath(const IndexPath& indexPath) override;
  std::optional<TileCollectionViewLayoutAttributes> layoutAttributesForSupplementaryItemInSection(
      std::int64_t section, const std::string& kind) override;
  fnd::Rect rectForItemAtIndex(std::int64_t row, std::int64_t section) const;
  fnd::Rect rectForSectionAtIndex(std::int64_t section) override;
  std::optional<std::vector<IndexPath>> indexPathsForItemsInRect(const fnd::Rect& rect) override;
  std::int64_t nearestIntersectingRowInSection(const TileCollectionViewListLayoutSection& section, const fnd::Rect& rect,
                                               std::int64_t edge) const;
  std::optional<IndexPath> indexPathForNextItemInDirection(TileCollectionViewDirection direction,
                                                           const std::optional<IndexPath>& current) override;
  bool shouldInvalidateLayoutForBoundsChange(const fnd::Rect&) override { return false; }
  bool shouldApplyExistingLayoutAttributesOnLayout() override { return stickyHeaders_; }

  double rowHeight() const { return rowHeight_; }
  void setRowHeight(double h) { rowHeight_ = h; }
  double verticalSpacing() const { return verticalSpacing_; }
  void setVerticalSpacing(double s) { verticalSpacing_ = s; }
  bool stickyHeaders() const { return stickyHeaders_; }
  void setStickyHeaders(bool on) { stickyHeaders_ = on; }
  TileCollectionViewListLayoutDelegate* delegate() const { return delegate_; }
  void setDelegate(TileCollectionViewListLayoutDelegate* d) { delegate_ = d; }
  const std::vector<std::shared_ptr<TileCollectionViewListLayoutSection>>& sections() const { return sections_; }

 private:
  double visibleWidth() const;
  double rowHeight_ = 44.0;
  double verticalSpacing_ = 0;
  bool stickyHeaders_ = false;
  TileCollectionViewListLayoutDelegate* delegate_ = nullptr;
  std::vector<std::shared_ptr<TileCollectionViewListLayoutSection>> sections_;
};

}  // namespace kesto
