#include "Views/PushButton.h"

#include "Platform/UI/GraphicsContext.h"
#include "Platform/UI/Path.h"
#include "Views/ImageNamed.h"

#include <algorithm>
#include <cmath>

namespace kesto {

namespace {
constexpr double kLargestButtonImageSide = 24.0;
}  // namespace

PushButton::PushButton(const fnd::Rect& frame) : PressableView(frame) {}

std::shared_ptr<PushButton> PushButton::addImageButton(ui::View& parent, const fnd::Rect& frame,
                                                       const std::string& image, const std::string& toolTip) {
  auto button = std::make_shared<PushButton>(frame);
  button->setImageNamed(image);
  button->setToolTip(toolTip);
  parent.addSubview(button);
  return button;
}

void PushButton::setTitle(const std::string& title) {
  title_ = title;
  setNeedsDisplay();
}

void PushButton::setImageNamed(const std::string& name) {
  imageName_ = name;
  image_ = imageNamed(name);
  setNeedsDisplay();
}

void PushButton::setImage(const ui::Image& image) {
  image_ = image;
  setNeedsDisplay();
}

void PushButton::setEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  setNeedsDisplay();
}

void PushButton::performClick() {
  if (!enabled_ || isHiddenOrHasHiddenAncestor() || !action_) return;
  auto action = action_;  // the action may replace itself
  action();
}

void PushButton::drawRect(ui::GraphicsContext& context, const fnd::Rect&) {
  fnd::Rect r = bounds().insetBy(1, 1);
  context.setFillColor(isPressed() ? ui::Color::white(0.55) : ui::Color::white(0.88));
  context.fillPath(ui::Path::roundedRect(r, 4, 4));
  context.setStrokeColor(ui::Color::white(0.6));
  context.strokePath(ui::Path::roundedRect(r, 4, 4));
  double alpha = enabled_ ? 1.0 : 0.35;
  const ui::Image& image = image_;
  fnd::Rect textRect = r;
  if (!image.isNull() && imageFills_) {
    const fnd::Rect inner = r.insetBy(3, 3);
    const fnd::Size size = image.size();
    const double scale = std::min(inner.size.width / size.width, inner.size.height / size.height);
    const double w = size.width * scale, h = size.height * scale;
    context.drawImage(image, fnd::Rect(inner.midX() - w / 2, inner.midY() - h / 2, w, h), alpha);
    return;
  }
  if (!image.isNull()) {
    // Toolbar buttons take their glyphs at the toolbar's icon size (24), smaller buttons at
    // what fits; whole points, so the glyph's pixels fall on the device's.
    double side = std::floor(std::min(r.size.height - 6, kLargestButtonImageSide));
    fnd::Rect imageRect(r.origin.x + 5, std::round(r.midY() - side / 2), side, side);
    if (title_.empty()) imageRect.origin.x = std::round(r.midX() - side / 2);
    context.drawImage(image, imageRect, alpha);
    textRect = fnd::Rect(imageRect.maxX() + 4, r.origin.y, r.maxX() - imageRect.maxX() - 6, r.size.height);
  }
  if (!title_.empty()) {
    ui::Font font;
    font.pointSize = 12;
    // A tall button (a picture button without its picture) keeps its title in the middle.
    if (image.isNull() && textRect.size.height > 30)
      textRect = fnd::Rect(textRect.origin.x, textRect.midY() - 10, textRect.size.width, 20);
    context.drawText(title_, textRect, font, ui::Color::white(0.1, alpha),
                     image.isNull() ? ui::TextAlignment::Center : ui::TextAlignment::Left);
  }
}

}  // namespace kesto
