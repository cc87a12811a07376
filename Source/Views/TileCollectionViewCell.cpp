#include "Views/TileCollectionViewCell.h"

#include "Platform/Foundation/Geometry.h"
#include "Views/TileCollectionView.h"
#include "Views/TileCollectionViewCellBackgroundView.h"

#include <cstdio>

namespace kesto {

TileCollectionViewCell::TileCollectionViewCell(const fnd::Rect& frame) : ui::View(frame) {
  setWantsLayer(true);
  backgroundView_ = std::make_shared<TileCollectionViewCellBackgroundView>(fnd::Rect(fnd::Point{}, frame.size));
  backgroundView_->setAutoresizingMask(WidthSizable | HeightSizable);
  addSubview(backgroundView_, Ordering::Below, nullptr);
}

TileCollectionViewCell::~TileCollectionViewCell() = default;

void TileCollectionViewCell::prepareForReuse() { backgroundView_->removeAllAnimations(); }

const std::shared_ptr<ui::View>& TileCollectionViewCell::contentView() {
  if (!contentView_) {
    contentView_ = std::make_shared<ui::View>(bounds());
    configureContentView(contentView_);
  }
  return contentView_;
}

void TileCollectionViewCell::setContentView(std::shared_ptr<ui::View> view) {
  if (contentView_) contentView_->removeFromSuperview();
  contentView_ = std::move(view);
  if (contentView_) configureContentView(contentView_);
}

void TileCollectionViewCell::configureContentView(const std::shared_ptr<ui::View>& view) {
  view->setAutoresizingMask(WidthSizable | HeightSizable);
  view->setWantsLayer(true);
  addSubview(view, Ordering::Above, nullptr);
}

void TileCollectionViewCell::setSelected(bool selected, bool animated) {
  if (animated && selected != selected_) backgroundView_->addFadeTransition("fade", crossfadeDuration_);
  setSelected(selected);
}

void TileCollectionViewCell::setCollectionView(const std::weak_ptr<TileCollectionView>& collectionView) {
  collectionView_ = collectionView;
  backgroundView_->setCollectionView(collectionView);
}

std::optional<ui::Color> TileCollectionViewCell::backgroundColor() const { return backgroundView_->color(); }
void TileCollectionViewCell::setBackgroundColor(std::optional<ui::Color> color) { backgroundView_->setColor(color); }
ui::Image TileCollectionViewCell::backgroundImage() const { return backgroundView_->image(); }
void TileCollectionViewCell::setBackgroundImage(const ui::Image& image) { backgroundView_->setImage(image); }

void TileCollectionViewCell::mouseDown(const ui::Event& event) {
  auto keep = weak_from_this().lock();  // a delegate may reload and drop this cell
  ui::View::mouseDown(event);
  if (auto cv = collectionView_.lock()) cv->mouseDownInCollectionViewCell(*this, event);
}

void TileCollectionViewCell::mouseUp(const ui::Event& event) {
  auto keep = weak_from_this().lock();
  ui::View::mouseUp(event);
  auto cv = collectionView_.lock();
  if (!cv) return;
  cv->mouseUpInCollectionViewCell(*this, event);
  if (event.clickCount == 2) cv->doubleClickInCollectionViewCell(*this, event);
}

void TileCollectionViewCell::rightMouseDown(const ui::Event& event) {
  auto keep = weak_from_this().lock();
  ui::View::rightMouseDown(event);
  if (auto cv = collectionView_.lock()) cv->rightClickInCollectionViewCell(*this, event);
}

std::string TileCollectionViewCell::description() const {
  char buf[256];
  std::snprintf(buf, sizeof buf, "<TileCollectionViewCell: %p; frame = %s; layer = <Layer: %p>>", (const void*)this,
                fnd::toString(frame()).c_str(), (const void*)backgroundView_.get());
  return buf;
}

}  // namespace kesto
