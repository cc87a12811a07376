#pragma once

#include "Platform/Foundation/Geometry.h"
#include "Views/IndexPath.h"
#include "Views/TileCollectionViewLayoutAttributes.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kesto {

class TileCollectionView;

// Keyboard directions for the layout's neighbour question.
enum TileCollectionViewDirection : std::int64_t {
  TileCollectionViewDirectionLeft = 0,
  TileCollectionViewDirectionRight = 1,
  TileCollectionViewDirectionUp = 2,
  TileCollectionViewDirectionDown = 3,
};

// The abstract layout: concrete layouts override what they compute; the defaults tell the
// collection view and its section data to work things out themselves.
class TileCollectionViewLayout {
 public:
  TileCollectionViewLayout() = default;
  virtual ~TileCollectionViewLayout() = default;
  TileCollectionViewLayout(const TileCollectionViewLayout&) = delete;
  TileCollectionViewLayout& operator=(const TileCollectionViewLayout&) = delete;

  // Asks the collection view to recalculate its data fully and relay out everything.
  void invalidateLayout();
  virtual void prepareLayout() {}
  virtual std::optional<TileCollectionViewLayoutAttributes> layoutAttributesForItemAtIndexPath(
      const IndexPath& indexPath) { return std::nullopt; }
  virtual std::optional<TileCollectionViewLayoutAttributes> layoutAttributesForSupplementaryItemInSection(
      std::int64_t section, const std::string& kind) { return std::nullopt; }
  // Empty optional: let the collection view compute the items itself.
  virtual std::optional<std::vector<IndexPath>> indexPathsForItemsInRect(const fnd::Rect& rect) {
    return std::nullopt;
  }
  // The null rect lets the section data build the frame as a union.
  virtual fnd::Rect rectForSectionAtIndex(std::int64_t section) { return fnd::Rect::null(); }
  // The zero size lets the section data take the union of the section frames.
  virtual fnd::Size contentSize() { return fnd::Size{}; }
  // 0 vertical, 1 horizontal, anything else both.
  virtual std::int64_t scrollDirection() { return 0; }
  virtual std::optional<IndexPath> indexPathForNextItemInDirection(
      TileCollectionViewDirection direction, const std::optional<IndexPath>& current) { return current; }
  virtual bool shouldInvalidateLayoutForBoundsChange(const fnd::Rect& bounds) { return true; }
  virtual bool shouldApplyExistingLayoutAttributesOnLayout() { return true; }

  // Weak: set by the collection view that installs the layout.
  TileCollectionView* collectionView() const;
  void setCollectionView(TileCollectionView* collectionView);
  bool hasCollectionView() const { return !collectionView_.expired(); }

 private:
  std::weak_ptr<TileCollectionView> collectionView_;
};

}  // namespace kesto
