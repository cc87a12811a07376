#include "Views/PopoverWindowFrame.h"

#include "Platform/UI/ChildWindow.h"
#include "Platform/UI/GraphicsContext.h"

#include <cmath>
#include <numbers>

namespace kesto {

namespace {

// Appends a circular arc (counter-clockwise, y up) as cubic curves of at most 90 degrees each,
// joined to what comes before by a straight line.
void appendArc(ui::Path& path, const fnd::Point& centre, double radius, double fromDegrees, double toDegrees) {
  auto at = [&](double deg) {
    double r = deg * std::numbers::pi / 180.0;
    return fnd::Point{centre.x + radius * std::cos(r), centre.y + radius * std::sin(r)};
  };
  fnd::Point start = at(fromDegrees);
  if (path.isEmpty()) path.moveTo(start);
  else path.lineTo(start);
  double step = 90.0;
  for (double a = fromDegrees; a < toDegrees - 1e-9; a += step) {
    double b = std::min(a + step, toDegrees);
    double theta = (b - a) * std::numbers::pi / 180.0;
    double k = 4.0 / 3.0 * std::tan(theta / 4.0) * radius;
    double ra = a * std::numbers::pi / 180.0, rb = b * std::numbers::pi / 180.0;
    fnd::Point p0 = at(a), p3 = at(b);
    fnd::Point c1{p0.x - k * std::sin(ra), p0.y + k * std::cos(ra)};
    fnd::Point c2{p3.x + k * std::sin(rb), p3.y - k * std::cos(rb)};
    path.curveTo(p3, c1, c2);
  }
}

}  // namespace

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
    if (w->contentView().get() == this) w->setShape(popoverBezierPath(bounds(), arrowDirection_));
}

ui::Path PopoverWindowFrame::popoverBezierPath(const fnd::Rect& rect, PopoverArrowDirection direction) {
  const double inset = kCornerRadius + kArrowDepth;
  fnd::Rect i = rect.insetBy(inset, inset);
  double minX = i.origin.x, maxX = i.origin.x + i.size.width;
  double minY = i.origin.y, maxY = i.origin.y + i.size.height;
  double midX = i.origin.x + i.size.width * 0.5, midY = i.origin.y + i.size.height * 0.5;
  const double r = kCornerRadius, h = kArrowHalfWidth, tip = kCornerRadius + kArrowDepth;
  ui::Path path;
  appendArc(path, {minX, minY}, r, 180, 270);
  if (direction == PopoverArrow::Above) {
    path.lineTo({std::floor(midX - h), minY - r});
    path.lineTo({std::floor(midX), minY - tip});
    path.lineTo({std::floor(midX + h), minY - r});
  }
  appendArc(path, {maxX, minY}, r, 270, 360);
  if (direction == PopoverArrow::Left) {
    path.lineTo({maxX + r, std::floor(midY - h)});
    path.lineTo({maxX + tip, std::floor(midY)});
    path.lineTo({maxX + r, std::floor(midY + h)});
  }
  appendArc(path, {maxX, maxY}, r, 0, 90);
  if (direction == PopoverArrow::Below) {
    path.lineTo({std::floor(midX + h), maxY + r});
    path.lineTo({std::floor(midX), maxY + tip});
    path.lineTo({std::floor(midX - h), maxY + r});
  }
  appendArc(path, {minX, maxY}, r, 90, 180);
  if (direction == PopoverArrow::Right) {
    path.lineTo({minX - r, std::floor(midY + h)});
    path.lineTo({minX - tip, std::floor(midY)});
    path.lineTo({minX - r, std::floor(midY - h)});
  }
  path.close();
  return path;
}

void PopoverWindowFrame::drawRect(ui::GraphicsContext& context, const fnd::Rect&) {
  fnd::Rect b = bounds();
  // An odd-width border falls on whole pixels.
  if (long(borderWidth_) % 2 == 1) b = b.insetBy(0.5, 0.5);
  ui::Path path = popoverBezierPath(b, arrowDirection_);
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
