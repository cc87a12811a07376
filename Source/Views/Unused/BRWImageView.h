#pragma once

#include "Platform/UI/Image.h"
#include "Platform/UI/View.h"

namespace kesto {

// A 240 x 180 picture in a two-point light grey frame, drawn at the view's origin whatever the
// view's size.
class BRWImageView : public ui::View {
 public:
  static constexpr double kWidth = 240, kHeight = 180;
  using View::View;
  const ui::Image& image() const { return image_; }
  void setImage(const ui::Image& image) {
    image_ = image;
    setNeedsDisplay();
  }
  void drawRect(ui::GraphicsContext& context, const fnd::Rect& dirtyRect) override;

 private:
  ui::Image image_;
};

// A separator line in light grey.
class KestoLine : public ui::View {
 public:
  using View::View;
  void awakeFromNib() override;
  void drawRect(ui::GraphicsContext& context, const fnd::Rect& dirtyRect) override;
};

}  // namespace kesto
