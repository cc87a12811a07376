#pragma once

#include "Platform/UI/Image.h"
#include "Platform/UI/View.h"

#include <string>

namespace kesto {

// An image drawn over the whole bounds.
class ImageBox : public ui::View {
 public:
  explicit ImageBox(const fnd::Rect& frame = fnd::Rect());
  const ui::Image& image() const { return image_; }
  void setImage(const ui::Image& image);
  // The name of the image shown (empty for none), as the cells and buttons set it.
  const std::string& imageName() const { return imageName_; }
  void setImageNamed(const std::string& name);
  void drawRect(ui::GraphicsContext& context, const fnd::Rect& dirtyRect) override;

 private:
  ui::Image image_;
  std::string imageName_;
};

}  // namespace kesto
