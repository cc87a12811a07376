#include "Views/TileCollectionViewCellBackgroundView.h"

namespace kesto {

TileCollectionViewCellBackgroundView::TileCollectionViewCellBackgroundView(const fnd::Rect& frame) : ui::View(frame) {
  setWantsLayer(true);
}

void TileCollectionViewCellBackgroundView::setColor(std::optional<ui::Color> color) {
  color_ = color;
  setNeedsDisplay(true);
}

void TileCollectionViewCellBackgroundView::setImage(const ui::Image& image) {
  image_ = image;
  setNeedsDisplay(true);
}

void TileCollectionViewCellBackgroundView::setFrame(const fnd::Rect& frame) {
  if (frame == this->frame()) return;
  ui::View::setFrame(frame);
  setNeedsDisplay(true);
}

void TileCollectionViewCellBackgroundView::updateLayer() {
  setLayerContents(image_);
  setBackgroundColor(color_);
  setNeedsDisplayFlag(false);
}

}  // namespace kesto
