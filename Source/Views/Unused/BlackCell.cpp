#include "Views/Unused/BlackCell.h"

#include "Platform/UI/GraphicsContext.h"
#include "Platform/UI/Path.h"

#include <algorithm>

namespace kesto {

void BlackCell::setImage(const ui::Image& image) {
  image_ = image;
  setNeedsDisplay(true);
}
void BlackCell::setAlternateImage(const ui::Image& image) {
  alternateImage_ = image;
  setNeedsDisplay(true);
}
void BlackCell::setState(int state) {
  state_ = state ? 1 : 0;
  setNeedsDisplay(true);
}
void BlackCell::setHighlighted(bool highlighted) {
  highlighted_ = highlighted;
  setNeedsDisplay(true);
}

const ui::Image& BlackCell::displayedImage() const {
  return highlighted_ || state_ == 1 ? image_ : alternateImage_;
}

void BlackCell::drawRect(ui::GraphicsContext& context, const fnd::Rect&) {
  fnd::Rect f = bounds();
  context.setFillColor(ui::Color::black());
  context.fillRect(f);
  const ui::Image& image = displayedImage();
  if (image.isNull()) return;
  context.saveState();
  fnd::Size s = image.size();
  fnd::Rect target(f.origin.x + (f.size.width - s.width) / 2, f.origin.y + (f.size.height - s.height) / 2,
                   s.width, s.height);
  if (highlighted_) {
    // The glow's blue component is above 1 and counts as 1. Shadows fall from filled shapes,
    // so the image's rectangle is filled (black on black) to cast it.
    context.setShadow(fnd::Size{0, 0}, 5.0, ui::Color::rgb(46.0 / 90, 86.0 / 90, std::min(1.0, 98.0 / 90), 1.0));
    context.setFillColor(ui::Color::black());
    context.fillPath(ui::Path::roundedRect(target, 0, 0));
    context.clearShadow();
  }
  context.drawImage(image, target);
  context.restoreState();
}

void BlackCell::mouseDown(const ui::Event&) { setHighlighted(true); }

void BlackCell::mouseUp(const ui::Event& event) {
  if (!highlighted_) return;
  setHighlighted(false);
  // Only a release inside the cell counts as a click.
  if (!bounds().contains(convertPointFromView(event.locationInWindow, nullptr))) return;
  setState(state_ ? 0 : 1);
  if (action_) action_();
}

}  // namespace kesto
