#include "Views/TileCollectionViewLayout.h"

#include "Views/TileCollectionView.h"

namespace kesto {

void TileCollectionViewLayout::invalidateLayout() {
  if (auto* cv = collectionView()) cv->collectionViewLayoutWasInvalidated(this);
}

TileCollectionView* TileCollectionViewLayout::collectionView() const { return collectionView_.lock().get(); }

void TileCollectionViewLayout::setCollectionView(TileCollectionView* collectionView) {
  if (!collectionView) {
    collectionView_.reset();
    return;
  }
  collectionView_ = std::static_pointer_cast<TileCollectionView>(collectionView->weak_from_this().lock());
}

}  // namespace kesto
