#include "Views/PopoverWindowFrame.h"

#include "Platform/UI/ChildWindow.h"
#include "Platform/UI/GraphicsContext.h"
#include "Views/BezierPathGeometry.h"

#include <cmath>

namespace kesto {

PopoverWindowFrame::PopoverWindowFrame(const fnd::Rect& frame) : View(frame) {}

void PopoverWindowFrame::setColor(const ui::Color& color) {
  if (color == color_) return;
  color_ = color;
  setNeedsDisplay();
}

void PopoverWindowFrame::setBorderColor(std::optional<ui::Color> color) {
  if (color == borderColor_) return;
  borderColor_ = std::move(color);
  setNeedsDisplay();
}

void PopoverWindowFrame::setBorderWidth(double width) {
  borderWidth_ = width;
  setNeedsDisplay();
  updateWindowShape();
}

fnd::Rect PopoverWindowFrame::drawnRect() const {
  // An odd-width border falls on whole pixels.
  fnd::Rect b = bounds();
  return long(borderWidth_) % 2 == 1 ? b.insetBy(0.5, 0.5) : b;
}

void PopoverWindowFrame::setArrowDirection(PopoverArrowDirection direction) {
  arrowDirection_ = direction;
  setNeedsDisplay();
  updateWindowShape();
}

void PopoverWindowFrame::setFrame(const fnd::Rect& frame) {
  View::setFrame(frame);
  updateWindowShape();
}

void PopoverWindowFrame::updateWindowShape() {
  // Without a compositor the window itself takes the body's outline.
  if (auto* w = dynamic_cast<ui::ChildWindow*>(window()))
    if (w->contentView().get() == this) w->setShape(popoverBezierPath(drawnRect(), arrowDirection_), borderWidth_);
}

ui::Path PopoverWindowFrame::popoverBezierPath(const fnd::Rect& rect, PopoverArrowDirection direction) {
  const double inset = kCornerRadius + kArrowDepth;
  fnd::Rect i = rect.insetBy(inset, inset);
  double minX = i.origin.x, maxX = i.origin.x + i.size.width;
  double minY = i.origin.y, maxY = i.origin.y + i.size.height;
  double midX = i.origin.x + i.size.width * 0.5, midY = i.origin.y + i.size.height * 0.5;
  const double r = kCornerRadius, h = kArrowHalfWidth, tip = kCornerRadius + kArrowDepth;
  ui::Path path;
  geometry::appendArc(path, {minX, minY}, r, 180, 270);
  if (direction == PopoverArrow::Above) {
    path.lineTo({std::floor(midX - h), minY - r});
    path.lineTo({std::floor(midX), minY - tip});
    path.lineTo({std::floor(midX + h), minY - r});
  }
  geometry::appendArc(path, {maxX, minY}, r, 270, 360);
  if (direction == PopoverArrow::Left) {
    path.lineTo({maxX + r, std::floor(midY - h)});
    path.lineTo({maxX + tip, std::floor(midY)});
    path.lineTo({maxX + r, std::floor(midY + h)});
  }
  geometry::appendArc(path, {maxX, maxY}, r, 0, 90);
  if (direction == PopoverArrow::Below) {
    path.lineTo({std::floor(midX + h), maxY + r});
    path.lineTo({std::floor(midX), maxY + tip});
    path.lineTo({std::floor(midX - h), maxY + r});
  }
  geometry::appendArc(path, {minX, maxY}, r, 90, 180);
  if (direction == PopoverArrow::Right) {
    path.lineTo({minX - r, std::floor(midY + h)});
    path.lineTo({minX - tip, std::floor(midY)});
    path.lineTo({minX - r, std::floor(midY - h)});
  }
  path.close();
  return path;
}

void PopoverWindowFrame::drawRect(ui::GraphicsContext& context, const fnd::Rect&) {
  ui::Path path = popoverBezierPath(drawnRect(), arrowDirection_);
  context.setFillColor(color_);
  context.fillPath(path);
  if (borderColor_ && borderWidth_ > 0) {
    path.setLineWidth(borderWidth_);
    context.setStrokeColor(*borderColor_);
    context.strokePath(path);
  }
  if (!topHighlightColor_) return;
  fnd::Rect c = bounds().insetBy(kArrowDepth, kArrowDepth);
  fnd::Rect line(std::floor(c.minX() + 2.0), c.maxY() - borderWidth_ - 1.0, c.width() - 4.0, 1.0);
  context.setFillColor(*topHighlightColor_);
  if (arrowDirection_ == PopoverArrow::Below) {
    // Split around the arrow's base.
    double half = std::floor(line.size.width / 2.0 - kArrowHalfWidth);
    context.fillRect(fnd::Rect(line.origin.x, line.origin.y, half, 1.0));
    context.fillRect(fnd::Rect(std::floor(line.origin.x + line.size.width / 2.0 + kArrowHalfWidth), line.origin.y, half, 1.0));
  } else {
    context.fillRect(line);
  }
}

}  // namespace kesto
