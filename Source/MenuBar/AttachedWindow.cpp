#include "MenuBar/AttachedWindow.h"

#include "Platform/UI/GraphicsContext.h"
#include "Platform/UI/Screen.h"
#include "Platform/UI/View.h"

#include <algorithm>
#include <cmath>

namespace kesto {

namespace {

bool oneOf(int side, std::initializer_list<int> sides) { return std::find(sides.begin(), sides.end(), side) != sides.end(); }

// A quarter circle from the current point `from` round `corner` to `to`, as one cubic curve.
void cornerArc(ui::Path& path, const fnd::Point& from, const fnd::Point& corner, const fnd::Point& to) {
  constexpr double k = 0.5523;  // the control distance of a quarter circle, per radius
  path.curveTo(to, {from.x + k * (corner.x - from.x), from.y + k * (corner.y - from.y)},
               {to.x + k * (corner.x - to.x), to.y + k * (corner.y - to.y)});
}

}  // namespace

// ---- geometry ----

fnd::Rect AttachedWindowGeometry::viewFrame() const {
  fnd::Rect frame(viewMargin, viewMargin, viewSize.width, viewSize.height);
  if (oneOf(side, {2, 6, 7})) frame.origin.x += arrowHeight;
  if (oneOf(side, {3, 8, 9})) frame.origin.y += arrowHeight;
  return frame;
}

fnd::Rect AttachedWindowGeometry::windowFrame(const fnd::Point& point) const {
  const double H = arrowHeight, inset = arrowInset();
  double w = viewSize.width + 2 * viewMargin, h = viewSize.height + 2 * viewMargin;
  if (oneOf(side, {0, 4, 5, 2, 6, 7})) w += H;
  if (oneOf(side, {1, 10, 11, 3, 8, 9})) h += H;
  double x = point.x, y = point.y;
  switch (side) {
    case 0: x -= w, y -= h / 2; break;
    case 1: x -= w / 2, y -= h; break;
    case 2: y -= h / 2; break;
    case 3: x -= w / 2; break;
    case 4: x -= w, y -= inset; break;
    case 5: x -= w, y -= h - inset; break;
    case 6: y -= inset; break;
    case 7: y -= h - inset; break;
    case 8: x -= w - inset; break;
    case 9: x -= inset; break;
    case 10: x -= w - inset, y -= h; break;
    case 11: x -= inset, y -= h; break;
    default: break;
  }
  if (oneOf(side, {0, 4, 5})) x -= distance;
  if (oneOf(side, {1, 10, 11})) y -= distance;
  if (oneOf(side, {2, 6, 7})) x += distance;
  if (oneOf(side, {3, 8, 9})) y += distance;
  return fnd::Rect(x, y, w, h);
}

int AttachedWindowGeometry::bestSide(const fnd::Point& p, const fnd::Rect& screen, const fnd::Rect& reference) const {
  const double neededW = viewSize.width + 2 * viewMargin, neededH = viewSize.height + 2 * viewMargin;
  const double extra = arrowHeight + distance, inset = arrowInset();
  int best = 1;
  if (p.y - neededH - extra < screen.minY()) {
    if (p.x + neededW + extra < screen.maxX()) best = 2;
    else if (p.x - neededW - extra >= screen.minX()) best = 0;
    else if (p.y + neededH + extra < screen.maxY()) best = 3;
  }
  const double halfW = neededW / 2, halfH = neededH / 2;
  if (best == 0 || best == 2) {
    if (reference.minY() <= p.y - halfH) {
      if (reference.maxY() <= p.y + halfH && screen.minY() <= p.y - neededH + inset) best = best == 2 ? 7 : 5;
    } else if (p.y + neededH - inset < screen.maxY()) {
      best = best == 2 ? 6 : 4;
    }
  } else {
    if (reference.minX() <= p.x - halfW) {
      if (reference.maxX() <= p.x + halfW && screen.minX() <= p.x - neededW + inset) best = best == 1 ? 10 : 8;
    } else if (p.x + neededW - inset < screen.maxX()) {
      best = best == 1 ? 11 : 9;
    }
  }
  return best;
}

ui::Path AttachedWindowGeometry::bubblePath() const {
  const double r = cornerRadius, A = arrowBaseWidth, H = arrowHeight, m = viewMargin;
  const fnd::Rect v = viewFrame();
  const fnd::Rect content(v.minX() - m, v.minY() - m, v.size.width + 2 * m, v.size.height + 2 * m);
  const double minX = std::ceil(content.minX() + 0.5), maxX = std::floor(content.maxX() - 0.5);
  const double minY = std::ceil(content.minY() + 0.5), maxY = std::floor(content.maxY() - 0.5);
  const double midX = content.midX(), midY = content.midY();
  auto rounded = [&](std::initializer_list<int> besideArrow) {
    return r > 0 && (drawsRoundCornerBesideArrow || !oneOf(side, besideArrow));
  };
  const bool topLeft = rounded({11, 7}), topRight = rounded({10, 5}), bottomRight = rounded({8, 4}),
             bottomLeft = rounded({9, 6});
  ui::Path path;
  fnd::Point p{topLeft ? minX + r : minX, maxY};
  path.moveTo(p);
  auto line = [&](double x, double y) {
    p = {x, y};
    path.lineTo(p);
  };
  // The arrow from the current point along the edge: `along` the edge's direction, `out` away
  // from the bubble.
  auto arrow = [&](double alongX, double alongY, double outX, double outY) {
    if (!hasArrow) return;
    path.lineTo({p.x + alongX * A / 2 + outX * H, p.y + alongY * A / 2 + outY * H});
    line(p.x + alongX * A, p.y + alongY * A);
  };

  // Top edge, left to right.
  double end = topRight ? maxX - r : maxX;
  if (side == 11) arrow(1, 0, 0, 1);
  if (side == 1) line(midX - A / 2, maxY), arrow(1, 0, 0, 1);
  if (side == 10) line(end - A, maxY), arrow(1, 0, 0, 1);
  line(end, maxY);
  if (topRight) cornerArc(path, p, {maxX, maxY}, {maxX, maxY - r}), p = {maxX, maxY - r};
  // Right edge, downwards.
  end = bottomRight ? minY + r : minY;
  if (side == 5) arrow(0, -1, 1, 0);
  if (side == 0) line(maxX, midY + A / 2), arrow(0, -1, 1, 0);
  if (side == 4) line(maxX, end + A), arrow(0, -1, 1, 0);
  line(maxX, end);
  if (bottomRight) cornerArc(path, p, {maxX, minY}, {maxX - r, minY}), p = {maxX - r, minY};
  // Bottom edge, right to left.
  end = bottomLeft ? minX + r : minX;
  if (side == 8) arrow(-1, 0, 0, -1);
  if (side == 3) line(midX + A / 2, minY), arrow(-1, 0, 0, -1);
  if (side == 9) line(end + A, minY), arrow(-1, 0, 0, -1);
  line(end, minY);
  if (bottomLeft) cornerArc(path, p, {minX, minY}, {minX, minY + r}), p = {minX, minY + r};
  // Left edge, upwards.
  end = topLeft ? maxY - r : maxY;
  if (side == 6) arrow(0, 1, -1, 0);
  if (side == 2) line(minX, midY - A / 2), arrow(0, 1, -1, 0);
  if (side == 7) line(minX, end - A), arrow(0, 1, -1, 0);
  line(minX, end);
  if (topLeft) cornerArc(path, p, {minX, maxY}, {minX + r, maxY});
  path.close();
  return path;
}

// ---- the window ----

// Fills the bubble and strokes its border; only the inner half of the border shows.
class AttachedWindow::BubbleView : public ui::View {
 public:
  explicit BubbleView(AttachedWindow& owner) : ui::View(fnd::Rect()), owner_(owner) {}
  void drawRect(ui::GraphicsContext& g, const fnd::Rect&) override {
    const ui::Path outline = owner_.geometry_.bubblePath();
    g.saveState();
    g.clipToPath(outline);
    if (owner_.backgroundImage_) {
      g.fillPathWithPattern(outline, *owner_.backgroundImage_);
    } else {
      g.setFillColor(owner_.backgroundColor_);
      g.fillPath(outline);
    }
    if (owner_.borderWidth_ > 0) {
      ui::Path border = outline;
      border.setLineWidth(2 * owner_.borderWidth_);
      g.setStrokeColor(owner_.borderColor_);
      g.strokePath(border);
    }
    g.restoreState();
  }

 private:
  AttachedWindow& owner_;
};

std::shared_ptr<AttachedWindow> AttachedWindow::create(const std::shared_ptr<ui::View>& view, const fnd::Point& point,
                                                       ui::Window* parent, int side, double distance) {
  if (!view) return nullptr;
  return std::shared_ptr<AttachedWindow>(new AttachedWindow(view, point, parent, side, distance));
}

AttachedWindow::AttachedWindow(const std::shared_ptr<ui::View>& view, const fnd::Point& point, ui::Window* parent,
                               int side, double distance)
    : ui::ChildWindow(fnd::Rect(fnd::Point(), view->frame().size)), view_(view), parent_(parent), point_(point) {
  setMovableByWindowBackground(false);
  setAlphaValue(1.0);
  if (parent_) setParentWindow(parent_);
  geometry_.viewSize = view->frame().size;
  geometry_.side = side;
  geometry_.distance = distance;
  if (side == kAttachedSideAutomatic) {
    const ui::Screen screen = parent_ ? parent_->screen() : ui::Screen::main();
    const fnd::Rect visible = screen.visibleFrame();
    geometry_.side = geometry_.bestSide(screenPoint(), visible, parent_ ? parent_->frame() : visible);
  }
  bubble_ = std::make_shared<BubbleView>(*this);
  bubble_->setAutoresizingMask(ui::View::WidthSizable | ui::View::HeightSizable);
  setContentView(bubble_);
  updateGeometry();
  bubble_->addSubview(view_);
  view_->setFrame(geometry_.viewFrame());
  updateBackground();
}

AttachedWindow::~AttachedWindow() {
  if (parent_) setParentWindow(nullptr);
}

fnd::Point AttachedWindow::screenPoint() const { return parent_ ? parent_->convertPointToScreen(point_) : point_; }

void AttachedWindow::updateGeometry() {
  setFrame(geometry_.windowFrame(screenPoint()), false);
  if (view_) view_->setFrame(geometry_.viewFrame());
}

void AttachedWindow::updateBackground() {
  // Where nothing composites the window is cut to the bubble.
  setShape(geometry_.bubblePath());
  if (bubble_) bubble_->setNeedsDisplay();
}

void AttachedWindow::redisplay() {
  if (resizing_) return;
  resizing_ = true;
  updateGeometry();
  updateBackground();
  resizing_ = false;
}

void AttachedWindow::setPoint(const fnd::Point& point, int side) {
  point_ = point;
  geometry_.side = side;
  redisplay();
}

void AttachedWindow::setBackgroundColor(const ui::Color& color) {
  if (color == backgroundColor_ && !backgroundImage_) return;
  backgroundColor_ = color;
  backgroundImage_.reset();
  updateBackground();
}

void AttachedWindow::setBackgroundImage(const ui::Image& image) {
  if (image.isNull()) return;
  backgroundImage_ = image;
  updateBackground();
}

void AttachedWindow::setBorderColor(const ui::Color& color) {
  if (color == borderColor_) return;
  borderColor_ = color;
  updateBackground();
}

void AttachedWindow::setBorderWidth(double width) {
  if (width == borderWidth_) return;
  borderWidth_ = std::min(width, geometry_.viewMargin);
  updateBackground();
}

void AttachedWindow::setViewMargin(double margin) {
  if (margin == geometry_.viewMargin) return;
  geometry_.viewMargin = std::max(margin, 0.0);
  setCornerRadius(geometry_.cornerRadius);
}

void AttachedWindow::setArrowBaseWidth(double width) {
  const fnd::Rect v = geometry_.viewFrame();
  double largest = std::min(v.size.width, v.size.height) + 2 * geometry_.viewMargin - geometry_.cornerRadius;
  if (geometry_.drawsRoundCornerBesideArrow) largest -= geometry_.cornerRadius;
  geometry_.arrowBaseWidth = std::min(width, largest);
  redisplay();
}

void AttachedWindow::setArrowHeight(double height) {
  if (height == geometry_.arrowHeight) return;
  geometry_.arrowHeight = height;
  redisplay();
}

void AttachedWindow::setCornerRadius(double radius) {
  const fnd::Rect v = geometry_.viewFrame();
  const double largest = (std::min(v.size.width, v.size.height) + 2 * geometry_.viewMargin - geometry_.arrowBaseWidth) / 2;
  geometry_.cornerRadius = std::max(0.0, std::min(radius, largest));
  setArrowBaseWidth(geometry_.arrowBaseWidth);
}

void AttachedWindow::setHasArrow(double value) {
  const bool flag = std::trunc(value) != 0;
  if (flag == geometry_.hasArrow) return;
  geometry_.hasArrow = flag;
  updateBackground();
}

void AttachedWindow::setDrawsRoundCornerBesideArrow(double value) {
  const bool flag = std::trunc(value) != 0;
  if (flag == geometry_.drawsRoundCornerBesideArrow) return;
  geometry_.drawsRoundCornerBesideArrow = flag;
  redisplay();
}

}  // namespace kesto
