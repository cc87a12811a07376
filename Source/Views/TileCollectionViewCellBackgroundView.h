#pragma once

#include "Platform/UI/View.h"

#include <memory>
#include <optional>

namespace kesto {

class TileCollectionView;

// The cell's background, drawn through its layer: colour and a stretched image.
class TileCollectionViewCellBackgroundView : public ui::View {
 public:
  explicit TileCollectionViewCellBackgroundView(const fnd::Rect& frame = fnd::Rect());

  const std::optional<ui::Color>& color() const { return color_; }
  void setColor(std::optional<ui::Color> color);
  const ui::Image& image() const { return image_; }
  void setImage(const ui::Image& image);
  TileCollectionView* collectionView() const { return collectionView_.lock().get(); }
  void setCollectionView(const std::weak_ptr<TileCollectionView>& cv) { collectionView_ = cv; }

  // An unchanged frame asks for no redisplay.
  void setFrame(const fnd::Rect& frame) override;
  bool wantsUpdateLayer() const override { return true; }
  void updateLayer() override;

 private:
  std::optional<ui::Color> color_;
  ui::Image image_;
  std::weak_ptr<TileCollectionView> collectionView_;
};

}  // namespace kesto
