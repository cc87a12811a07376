#include "Views/ImageBox.h"

#include "Platform/UI/GraphicsContext.h"
#include "Views/ImageNamed.h"

namespace kesto {

ImageBox::ImageBox(const fnd::Rect& frame) : ui::View(frame) {}

void ImageBox::setImage(const ui::Image& image) {
  image_ = image;
  imageName_.clear();
  setNeedsDisplay();
}

void ImageBox::setImageNamed(const std::string& name) {
  image_ = name.empty() ? ui::Image() : imageNamed(name);
  imageName_ = name;
  setNeedsDisplay();
}

void ImageBox::drawRect(ui::GraphicsContext& context, const fnd::Rect&) {
  if (!image_.isNull()) context.drawImage(image_, bounds());
}

}  // namespace kesto
